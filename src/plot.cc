// The picture of a run as SVG: log-log axes, decade grid, the curve.
#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "result_file.h"

namespace tauspan {
namespace {

constexpr double kWidth = 800;
constexpr double kHeight = 560;
constexpr double kLeft = 90;
constexpr double kRight = 30;
constexpr double kTop = 60;
constexpr double kBottom = 70;

bool drawable(const PlotPoint& p) {
  return std::isfinite(p.tau) && std::isfinite(p.adev) && p.tau > 0 && p.adev > 0;
}

// Text as XML character data: markup escaped, control characters and bytes
// that are not UTF-8 (file names may hold any) replaced.
std::string xml_text(const std::string& s) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* e = p + s.size();
  while (p < e) {
    const unsigned char c = *p;
    if (c < 0x80) {
      if (c == '&') out += "&amp;";
      else if (c == '<') out += "&lt;";
      else if (c == '>') out += "&gt;";
      else if (c == '"') out += "&quot;";
      else if (c < 0x20 || c == 0x7f) out += '?';
      else out += static_cast<char>(c);
      ++p;
      continue;
    }
    size_t len = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
    if (c >= 0xf5) len = 0;
    bool ok = len > 0 && static_cast<size_t>(e - p) >= len;
    for (size_t i = 1; ok && i < len; ++i) ok = (p[i] & 0xc0) == 0x80;
    if (ok && len == 3) {
      ok = !(c == 0xe0 && p[1] < 0xa0) && !(c == 0xed && p[1] >= 0xa0);  // overlong, surrogates
    }
    if (ok && len == 4) ok = !(c == 0xf0 && p[1] < 0x90) && !(c == 0xf4 && p[1] >= 0x90);
    if (ok) {
      out.append(reinterpret_cast<const char*>(p), len);
      p += len;
    } else {
      out += "\xef\xbf\xbd";  // U+FFFD
      ++p;
    }
  }
  return out;
}

std::string fixed(double x) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", x);
  return buf;
}

// Whole decades that cover [lo, hi], at least one.
void decades(double lo, double hi, int& first, int& last) {
  first = static_cast<int>(std::floor(std::log10(lo)));
  last = static_cast<int>(std::ceil(std::log10(hi)));
  if (last <= first) last = first + 1;
}

std::string decade_label(int k) {
  return "10<tspan dy=\"-7\" font-size=\"11\">" + std::to_string(k) + "</tspan>";
}

}  // namespace

std::string plot_file_name(const std::string& result_name) {
  const size_t dot = extension_dot(result_name);
  if (dot == std::string::npos) return result_name + ".svg";
  // The result of a data file "a.svg" is itself "a_avar.svg".
  if (result_name.compare(dot, std::string::npos, ".svg") == 0) {
    return result_name.substr(0, dot) + "_plot.svg";
  }
  return result_name.substr(0, dot) + ".svg";
}

Plot make_plot(const std::vector<PlotPoint>& points, const std::string& title) {
  Plot plot;
  std::vector<PlotPoint> shown;
  for (const PlotPoint& p : points) {
    if (drawable(p)) shown.push_back(p);
  }
  plot.drawn = shown.size();
  plot.left_out = points.size() - shown.size();
  if (shown.empty()) return plot;

  auto [tmin, tmax] = std::minmax_element(shown.begin(), shown.end(),
      [](const PlotPoint& a, const PlotPoint& b) { return a.tau < b.tau; });
  auto [amin, amax] = std::minmax_element(shown.begin(), shown.end(),
      [](const PlotPoint& a, const PlotPoint& b) { return a.adev < b.adev; });
  int x0, x1, y0, y1;
  decades(tmin->tau, tmax->tau, x0, x1);
  decades(amin->adev, amax->adev, y0, y1);
  const double w = kWidth - kLeft - kRight;
  const double h = kHeight - kTop - kBottom;
  // Positions from decimal logarithms, so that decades beyond the double
  // range (10^-324) still have one.
  auto lx = [&](double log_tau) { return kLeft + (log_tau - x0) / (x1 - x0) * w; };
  auto ly = [&](double log_adev) { return kTop + h - (log_adev - y0) / (y1 - y0) * h; };
  auto px = [&](double tau) { return lx(std::log10(tau)); };
  auto py = [&](double adev) { return ly(std::log10(adev)); };

  std::string& s = plot.svg;
  s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"560\" "
       "viewBox=\"0 0 800 560\" font-family=\"sans-serif\" font-size=\"14\">\n";
  s += "<rect width=\"800\" height=\"560\" fill=\"white\"/>\n";
  s += "<text class=\"title\" x=\"400\" y=\"32\" text-anchor=\"middle\" font-size=\"16\">" +
       xml_text(title) + "</text>\n";

  // Labels on every decade, or on every few when there are many.
  s += "<g class=\"grid\" stroke=\"#d0d0d0\" stroke-width=\"1\">\n";
  for (int k = x0; k <= x1; ++k) {
    s += "<line class=\"x-decade\" x1=\"" + fixed(lx(k)) + "\" y1=\"" + fixed(kTop) +
         "\" x2=\"" + fixed(lx(k)) + "\" y2=\"" + fixed(kTop + h) + "\"/>\n";
  }
  for (int k = y0; k <= y1; ++k) {
    s += "<line class=\"y-decade\" x1=\"" + fixed(kLeft) + "\" y1=\"" + fixed(ly(k)) +
         "\" x2=\"" + fixed(kLeft + w) + "\" y2=\"" + fixed(ly(k)) + "\"/>\n";
  }
  s += "</g>\n";
  // Lighter lines at 2 ... 9 times each decade, where there is room.
  if (x1 - x0 <= 12 && y1 - y0 <= 12) {
    s += "<g class=\"minor\" stroke=\"#eeeeee\" stroke-width=\"1\">\n";
    for (int k = x0; k < x1; ++k) {
      for (int m = 2; m <= 9; ++m) {
        const std::string x = fixed(lx(k + std::log10(m)));
        s += "<line x1=\"" + x + "\" y1=\"" + fixed(kTop) + "\" x2=\"" + x + "\" y2=\"" +
             fixed(kTop + h) + "\"/>\n";
      }
    }
    for (int k = y0; k < y1; ++k) {
      for (int m = 2; m <= 9; ++m) {
        const std::string y = fixed(ly(k + std::log10(m)));
        s += "<line x1=\"" + fixed(kLeft) + "\" y1=\"" + y + "\" x2=\"" + fixed(kLeft + w) +
             "\" y2=\"" + y + "\"/>\n";
      }
    }
    s += "</g>\n";
  }
  const int xstep = std::max(1, (x1 - x0 + 11) / 12);
  const int ystep = std::max(1, (y1 - y0 + 11) / 12);
  s += "<g class=\"labels\" fill=\"black\">\n";
  for (int k = x0; k <= x1; k += xstep) {
    s += "<text class=\"x-label\" x=\"" + fixed(lx(k)) + "\" y=\"" +
         fixed(kTop + h + 24) + "\" text-anchor=\"middle\">" + decade_label(k) + "</text>\n";
  }
  for (int k = y0; k <= y1; k += ystep) {
    s += "<text class=\"y-label\" x=\"" + fixed(kLeft - 10) + "\" y=\"" +
         fixed(ly(k) + 5) + "\" text-anchor=\"end\">" + decade_label(k) + "</text>\n";
  }
  s += "<text class=\"x-title\" x=\"" + fixed(kLeft + w / 2) + "\" y=\"" + fixed(kHeight - 20) +
       "\" text-anchor=\"middle\">tau</text>\n";
  s += "<text class=\"y-title\" transform=\"translate(24 " + fixed(kTop + h / 2) +
       ") rotate(-90)\" text-anchor=\"middle\">Allan deviation</text>\n";
  s += "</g>\n";
  s += "<rect x=\"" + fixed(kLeft) + "\" y=\"" + fixed(kTop) + "\" width=\"" + fixed(w) +
       "\" height=\"" + fixed(h) + "\" fill=\"none\" stroke=\"black\"/>\n";

  s += "<polyline class=\"curve\" fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\" points=\"";
  for (size_t i = 0; i < shown.size(); ++i) {
    if (i > 0) s += ' ';
    s += fixed(px(shown[i].tau)) + "," + fixed(py(shown[i].adev));
  }
  s += "\"/>\n<g class=\"points\" fill=\"#1f5fbf\">\n";
  for (const PlotPoint& p : shown) {
    s += "<circle cx=\"" + fixed(px(p.tau)) + "\" cy=\"" + fixed(py(p.adev)) + "\" r=\"2.5\"/>\n";
  }
  s += "</g>\n";
  if (plot.left_out > 0) {
    s += "<text class=\"left-out\" x=\"" + fixed(kLeft + w) + "\" y=\"" + fixed(kTop - 8) +
         "\" text-anchor=\"end\" font-size=\"12\">" + std::to_string(plot.left_out) +
         (plot.left_out == 1 ? " point" : " points") +
         " left out: tau or deviation zero, negative, infinite or NaN</text>\n";
  }
  s += "</svg>\n";
  return plot;
}

}  // namespace tauspan
