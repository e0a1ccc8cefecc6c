// The picture of the default run: Allan deviation against tau on log-log
// axes, as SVG.
#include "plot.h"

#include <algorithm>
#include <cmath>

#include "plot_frame.h"
#include "result_file.h"

namespace tauspan {
namespace {

bool drawable(const PlotPoint& p) {
  return std::isfinite(p.tau) && std::isfinite(p.adev) && p.tau > 0 && p.adev > 0;
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
  const PlotFrame frame = plot_frame(tmin->tau, tmax->tau, amin->adev, amax->adev);
  auto px = [&](double tau) { return frame_x(frame, tau); };
  auto py = [&](double adev) { return frame_y(frame, adev); };

  std::string& s = plot.svg;
  s = frame_svg(frame, title, "Allan deviation");
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
  s += left_out_note(plot.left_out);
  s += "</svg>\n";
  return plot;
}

}  // namespace tauspan
