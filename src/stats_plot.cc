// Curves with error bars and a legend on the shared log-log axes.
#include "stats_plot.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "plot_frame.h"

namespace tauspan {
namespace {

// Colours that stay apart from each other on white and in grey print.
constexpr const char* kColours[] = {"#1f5fbf", "#d62728", "#2ca02c", "#9467bd",
                                    "#ff7f0e", "#8c564b", "#17becf", "#7f7f7f"};
constexpr double kCap = 3;  // half the width of an error bar's ends

bool positive(double x) { return std::isfinite(x) && x > 0; }

bool drawable(const StatsRow& r) { return positive(r.tau) && positive(r.dev); }

bool has_bar(const StatsRow& r) {
  return drawable(r) && positive(r.min_dev) && positive(r.max_dev) && r.min_dev <= r.max_dev;
}

std::string line(double x1, double y1, double x2, double y2) {
  return "<line x1=\"" + fixed(x1) + "\" y1=\"" + fixed(y1) + "\" x2=\"" + fixed(x2) +
         "\" y2=\"" + fixed(y2) + "\"/>\n";
}

// The fitted terms of one curve, dashed, clipped to the plot area (a term
// runs off the axes away from where it dominates).
std::string fitted_terms_svg(const PlotFrame& frame, const std::vector<FittedTerm>& terms,
                             const std::string& colour) {
  if (terms.empty()) return "";
  std::string s =
      "<g class=\"fitted-terms\" clip-path=\"url(#plot-area)\" fill=\"none\" stroke=\"" + colour +
      "\" stroke-width=\"1\" stroke-dasharray=\"6 4\">\n";
  std::string labels;
  for (const FittedTerm& t : terms) {
    std::string points;
    for (size_t i = 0; i < t.tau.size() && i < t.dev.size(); ++i) {
      if (!positive(t.tau[i]) || !positive(t.dev[i])) continue;
      if (!points.empty()) points += ' ';
      points += fixed(frame_x(frame, t.tau[i])) + "," + fixed(frame_y(frame, t.dev[i]));
    }
    if (points.empty()) continue;
    s += "<polyline class=\"fitted-term\" points=\"" + points + "\"/>\n";
    // The label at the visible point nearest to where the term touches the
    // curve, kept inside the plot area.
    double best = -1, bx = 0, by = 0;
    for (size_t i = 0; positive(t.label_tau) && i < t.tau.size() && i < t.dev.size(); ++i) {
      if (!positive(t.tau[i]) || !positive(t.dev[i])) continue;
      const double x = frame_x(frame, t.tau[i]);
      const double y = frame_y(frame, t.dev[i]);
      if (y < kPlotTop || y > kPlotTop + kPlotAreaHeight) continue;
      const double gap = std::fabs(std::log(t.tau[i] / t.label_tau));
      if (best < 0 || gap < best) {
        best = gap;
        bx = x;
        by = y;
      }
    }
    if (best >= 0) {
      bx = std::clamp(bx, kPlotLeft + 30, kPlotLeft + kPlotAreaWidth - 30);
      by = std::clamp(by + 16, kPlotTop + 14, kPlotTop + kPlotAreaHeight - 6);
      labels += "<text class=\"term-label\" x=\"" + fixed(bx) + "\" y=\"" + fixed(by) +
                "\" text-anchor=\"middle\" font-size=\"12\">" + xml_text(t.label) + "</text>\n";
    }
  }
  s += "</g>\n";
  if (!labels.empty()) {
    s += "<g class=\"term-labels\" fill=\"" + colour + "\">\n" + labels + "</g>\n";
  }
  return s;
}

bool has_terms(const std::vector<StatsCurve>& curves) {
  for (const StatsCurve& c : curves) {
    if (!c.terms.empty()) return true;
  }
  return false;
}

}  // namespace

Plot make_stats_plot(const std::vector<StatsCurve>& curves, const std::string& title) {
  Plot plot;
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  double x_lo = kInfinity, x_hi = 0, y_lo = kInfinity, y_hi = 0;
  for (const StatsCurve& c : curves) {
    for (const StatsRow& r : c.rows) {
      if (!drawable(r)) {
        ++plot.left_out;
        continue;
      }
      ++plot.drawn;
      x_lo = std::min(x_lo, r.tau);
      x_hi = std::max(x_hi, r.tau);
      y_lo = std::min(y_lo, has_bar(r) ? std::min(r.dev, r.min_dev) : r.dev);
      y_hi = std::max(y_hi, has_bar(r) ? std::max(r.dev, r.max_dev) : r.dev);
    }
  }
  if (plot.drawn == 0) return plot;

  const PlotFrame frame = plot_frame(x_lo, x_hi, y_lo, y_hi);
  std::string& s = plot.svg;
  s = frame_svg(frame, title, "Deviation");
  if (has_terms(curves)) {
    s += "<clipPath id=\"plot-area\"><rect x=\"" + fixed(kPlotLeft) + "\" y=\"" +
         fixed(kPlotTop) + "\" width=\"" + fixed(kPlotAreaWidth) + "\" height=\"" +
         fixed(kPlotAreaHeight) + "\"/></clipPath>\n";
  }
  for (size_t k = 0; k < curves.size(); ++k) {
    const std::string colour = kColours[k % std::size(kColours)];
    s += "<g class=\"statistic\" id=\"" + xml_text(curves[k].name) + "\">\n";
    s += "<polyline class=\"curve\" fill=\"none\" stroke=\"" + colour +
         "\" stroke-width=\"1.5\" points=\"";
    bool first = true;
    for (const StatsRow& r : curves[k].rows) {
      if (!drawable(r)) continue;
      if (!first) s += ' ';
      first = false;
      s += fixed(frame_x(frame, r.tau)) + "," + fixed(frame_y(frame, r.dev));
    }
    s += "\"/>\n<g class=\"error-bars\" stroke=\"" + colour + "\" stroke-width=\"1\">\n";
    for (const StatsRow& r : curves[k].rows) {
      if (!has_bar(r)) continue;
      const double x = frame_x(frame, r.tau);
      const double lo = frame_y(frame, r.min_dev);
      const double hi = frame_y(frame, r.max_dev);
      s += line(x, lo, x, hi) + line(x - kCap, lo, x + kCap, lo) + line(x - kCap, hi, x + kCap, hi);
    }
    s += "</g>\n<g class=\"points\" fill=\"" + colour + "\">\n";
    for (const StatsRow& r : curves[k].rows) {
      if (!drawable(r)) continue;
      s += "<circle cx=\"" + fixed(frame_x(frame, r.tau)) + "\" cy=\"" +
           fixed(frame_y(frame, r.dev)) + "\" r=\"2.5\"/>\n";
    }
    s += "</g>\n";
    s += fitted_terms_svg(frame, curves[k].terms, colour);
    s += "</g>\n";
  }

  // The legend, in the upper right corner of the plot area.
  const double right = kPlotLeft + kPlotAreaWidth - 10;
  const double left = right - 110;
  const double top = kPlotTop + 10;
  const size_t entries = curves.size() + (has_terms(curves) ? 1 : 0);
  s += "<g class=\"legend\">\n<rect x=\"" + fixed(left) + "\" y=\"" + fixed(top) +
       "\" width=\"110\" height=\"" + fixed(8 + 20 * static_cast<double>(entries)) +
       "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#808080\"/>\n";
  for (size_t k = 0; k < curves.size(); ++k) {
    const std::string colour = kColours[k % std::size(kColours)];
    const double y = top + 14 + 20 * static_cast<double>(k);
    s += "<line x1=\"" + fixed(left + 8) + "\" y1=\"" + fixed(y) + "\" x2=\"" + fixed(left + 36) +
         "\" y2=\"" + fixed(y) + "\" stroke=\"" + colour + "\" stroke-width=\"1.5\"/>\n";
    s += "<circle cx=\"" + fixed(left + 22) + "\" cy=\"" + fixed(y) + "\" r=\"2.5\" fill=\"" +
         colour + "\"/>\n";
    s += "<text class=\"legend-name\" x=\"" + fixed(left + 44) + "\" y=\"" + fixed(y + 5) + "\">" +
         xml_text(curves[k].name) + "</text>\n";
  }
  if (has_terms(curves)) {
    const double y = top + 14 + 20 * static_cast<double>(curves.size());
    s += "<line x1=\"" + fixed(left + 8) + "\" y1=\"" + fixed(y) + "\" x2=\"" + fixed(left + 36) +
         "\" y2=\"" + fixed(y) +
         "\" stroke=\"#404040\" stroke-width=\"1\" stroke-dasharray=\"6 4\"/>\n";
    s += "<text class=\"legend-name\" x=\"" + fixed(left + 44) + "\" y=\"" + fixed(y + 5) +
         "\">fitted</text>\n";
  }
  s += "</g>\n";
  s += left_out_note(plot.left_out);
  s += "</svg>\n";
  return plot;
}

}  // namespace tauspan
