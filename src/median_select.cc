// The median of numbers held in memory; see median_select.h for the one
// that walks them.
#include "median_select.h"

#include <cmath>
#include <numeric>

namespace tauspan {

double median_in_place(std::vector<double>& v) {
  if (v.empty()) return std::nan("");
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  if (v.size() % 2 == 1) return *mid;
  return std::midpoint(*std::max_element(v.begin(), mid), *mid);
}

}  // namespace tauspan
