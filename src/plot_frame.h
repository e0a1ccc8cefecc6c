// What every picture shares: log-log axes with decade grid lines and labels,
// a title, and text and numbers written as SVG wants them.
#ifndef TAUSPAN_PLOT_FRAME_H_
#define TAUSPAN_PLOT_FRAME_H_

#include <cstddef>
#include <string>

namespace tauspan {

// The picture and the margins around its plot area, in SVG units.
inline constexpr double kPlotWidth = 800;
inline constexpr double kPlotHeight = 560;
inline constexpr double kPlotLeft = 90;
inline constexpr double kPlotRight = 30;
inline constexpr double kPlotTop = 60;
inline constexpr double kPlotBottom = 70;
inline constexpr double kPlotAreaWidth = kPlotWidth - kPlotLeft - kPlotRight;
inline constexpr double kPlotAreaHeight = kPlotHeight - kPlotTop - kPlotBottom;

// The whole decades 10^x0 ... 10^x1 and 10^y0 ... 10^y1 that the axes span.
struct PlotFrame {
  int x0 = 0;
  int x1 = 1;
  int y0 = 0;
  int y1 = 1;
};

// Axes whose decades cover [x_lo, x_hi] and [y_lo, y_hi], at least one
// decade each. All four must be positive and finite.
PlotFrame plot_frame(double x_lo, double x_hi, double y_lo, double y_hi);

// Positions from decimal logarithms, so that decades beyond the double range
// (10^-324) still have one.
double frame_lx(const PlotFrame& frame, double log_x);
double frame_ly(const PlotFrame& frame, double log_y);
// Positions of positive values.
double frame_x(const PlotFrame& frame, double x);
double frame_y(const PlotFrame& frame, double y);

// The picture up to its plot area: the SVG head, a white background, the
// title, decade and minor grid lines, decade labels, the axis titles ("tau"
// and `y_title`) and the area's border. The caller adds the curves and the
// closing "</svg>\n".
std::string frame_svg(const PlotFrame& frame, const std::string& title, const std::string& y_title);

// A line above the plot area that says how many points were left out; ""
// when none were.
std::string left_out_note(size_t left_out);

// Text as XML character data: markup escaped, control characters and bytes
// that are not UTF-8 (file names may hold any) replaced.
std::string xml_text(const std::string& s);

// A coordinate as %.2f writes it.
std::string fixed(double x);

}  // namespace tauspan

#endif  // TAUSPAN_PLOT_FRAME_H_
