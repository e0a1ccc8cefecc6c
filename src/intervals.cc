// Chi-squared confidence intervals of a deviation.
#include "intervals.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <limits>

namespace tauspan {
namespace {

// Every error gives NaN (or infinity) instead of an exception: the callers
// write NaN for an interval that cannot be had.
using QuietPolicy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::underflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::denorm_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>,
    boost::math::policies::rounding_error<boost::math::policies::ignore_error>,
    boost::math::policies::indeterminate_result_error<boost::math::policies::ignore_error>>;

}  // namespace

Interval confidence_interval(double dev, double edf, double p) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  if (std::isnan(dev) || !(edf > 0) || !std::isfinite(edf) || !(p > 0 && p < 1)) {
    return {kNan, kNan};
  }
  const boost::math::chi_squared_distribution<double, QuietPolicy> chi2(edf);
  const double upper = boost::math::quantile(chi2, 1 - (1 - p) / 2);
  const double lower = boost::math::quantile(chi2, (1 - p) / 2);
  return {dev * std::sqrt(edf / upper), dev * std::sqrt(edf / lower)};
}

}  // namespace tauspan
