// Log-log axes, grid lines and labels shared by the pictures.
#include "plot_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tauspan {
namespace {

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

PlotFrame plot_frame(double x_lo, double x_hi, double y_lo, double y_hi) {
  PlotFrame f;
  decades(x_lo, x_hi, f.x0, f.x1);
  decades(y_lo, y_hi, f.y0, f.y1);
  return f;
}

double frame_lx(const PlotFrame& f, double log_x) {
  return kPlotLeft + (log_x - f.x0) / (f.x1 - f.x0) * kPlotAreaWidth;
}

double frame_ly(const PlotFrame& f, double log_y) {
  return kPlotTop + kPlotAreaHeight - (log_y - f.y0) / (f.y1 - f.y0) * kPlotAreaHeight;
}

double frame_x(const PlotFrame& f, double x) { return frame_lx(f, std::log10(x)); }

double frame_y(const PlotFrame& f, double y) { return frame_ly(f, std::log10(y)); }

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

std::string left_out_note(size_t left_out) {
  if (left_out == 0) return "";
  return "<text class=\"left-out\" x=\"" + fixed(kPlotLeft + kPlotAreaWidth) + "\" y=\"" +
         fixed(kPlotTop - 8) + "\" text-anchor=\"end\" font-size=\"12\">" +
         std::to_string(left_out) + (left_out == 1 ? " point" : " points") +
         " left out: tau or deviation zero, negative, infinite or NaN</text>\n";
}

std::string frame_svg(const PlotFrame& f, const std::string& title, const std::string& y_title) {
  const int x0 = f.x0, x1 = f.x1, y0 = f.y0, y1 = f.y1;
  const double w = kPlotAreaWidth;
  const double h = kPlotAreaHeight;
  auto lx = [&](double log_x) { return frame_lx(f, log_x); };
  auto ly = [&](double log_y) { return frame_ly(f, log_y); };

  std::string s;
  s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"560\" "
       "viewBox=\"0 0 800 560\" font-family=\"sans-serif\" font-size=\"14\">\n";
  s += "<rect width=\"800\" height=\"560\" fill=\"white\"/>\n";
  s += "<text class=\"title\" x=\"400\" y=\"32\" text-anchor=\"middle\" font-size=\"16\">" +
       xml_text(title) + "</text>\n";

  // Labels on every decade, or on every few when there are many.
  s += "<g class=\"grid\" stroke=\"#d0d0d0\" stroke-width=\"1\">\n";
  for (int k = x0; k <= x1; ++k) {
    s += "<line class=\"x-decade\" x1=\"" + fixed(lx(k)) + "\" y1=\"" + fixed(kPlotTop) +
         "\" x2=\"" + fixed(lx(k)) + "\" y2=\"" + fixed(kPlotTop + h) + "\"/>\n";
  }
  for (int k = y0; k <= y1; ++k) {
    s += "<line class=\"y-decade\" x1=\"" + fixed(kPlotLeft) + "\" y1=\"" + fixed(ly(k)) +
         "\" x2=\"" + fixed(kPlotLeft + w) + "\" y2=\"" + fixed(ly(k)) + "\"/>\n";
  }
  s += "</g>\n";
  // Lighter lines at 2 ... 9 times each decade, where there is room.
  if (x1 - x0 <= 12 && y1 - y0 <= 12) {
    s += "<g class=\"minor\" stroke=\"#eeeeee\" stroke-width=\"1\">\n";
    for (int k = x0; k < x1; ++k) {
      for (int m = 2; m <= 9; ++m) {
        const std::string x = fixed(lx(k + std::log10(m)));
        s += "<line x1=\"" + x + "\" y1=\"" + fixed(kPlotTop) + "\" x2=\"" + x + "\" y2=\"" +
             fixed(kPlotTop + h) + "\"/>\n";
      }
    }
    for (int k = y0; k < y1; ++k) {
      for (int m = 2; m <= 9; ++m) {
        const std::string y = fixed(ly(k + std::log10(m)));
        s += "<line x1=\"" + fixed(kPlotLeft) + "\" y1=\"" + y + "\" x2=\"" +
             fixed(kPlotLeft + w) + "\" y2=\"" + y + "\"/>\n";
      }
    }
    s += "</g>\n";
  }
  const int xstep = std::max(1, (x1 - x0 + 11) / 12);
  const int ystep = std::max(1, (y1 - y0 + 11) / 12);
  s += "<g class=\"labels\" fill=\"black\">\n";
  for (int k = x0; k <= x1; k += xstep) {
    s += "<text class=\"x-label\" x=\"" + fixed(lx(k)) + "\" y=\"" +
         fixed(kPlotTop + h + 24) + "\" text-anchor=\"middle\">" + decade_label(k) + "</text>\n";
  }
  for (int k = y0; k <= y1; k += ystep) {
    s += "<text class=\"y-label\" x=\"" + fixed(kPlotLeft - 10) + "\" y=\"" +
         fixed(ly(k) + 5) + "\" text-anchor=\"end\">" + decade_label(k) + "</text>\n";
  }
  s += "<text class=\"x-title\" x=\"" + fixed(kPlotLeft + w / 2) + "\" y=\"" +
       fixed(kPlotHeight - 20) + "\" text-anchor=\"middle\">tau</text>\n";
  s += "<text class=\"y-title\" transform=\"translate(24 " + fixed(kPlotTop + h / 2) +
       ") rotate(-90)\" text-anchor=\"middle\">" + xml_text(y_title) + "</text>\n";
  s += "</g>\n";
  s += "<rect x=\"" + fixed(kPlotLeft) + "\" y=\"" + fixed(kPlotTop) + "\" width=\"" + fixed(w) +
       "\" height=\"" + fixed(h) + "\" fill=\"none\" stroke=\"black\"/>\n";
  return s;
}

}  // namespace tauspan
