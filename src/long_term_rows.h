// The rows of the total, Thêo1 and time-error statistics in a -stat run:
// the deviation, its noise type, bias and confidence interval.
#ifndef TAUSPAN_LONG_TERM_ROWS_H_
#define TAUSPAN_LONG_TERM_ROWS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "deviations.h"
#include "grid.h"
#include "long_term_series.h"
#include "stats_file.h"
#include "stats_settings.h"

namespace tauspan {

// Long-term statistic `s` (is_long_term) at each of `factors`, one row per
// factor in the same order (n 0 where no term can be formed). The noise is
// identified as for the classical statistic that each extends: oadev's for
// totdev and for Thêo1 (at the factor nearest 0.75 m), mdev's for mtotdev
// and ttotdev, ohdev's for htotdev; MTIE and TIE rms have none and no
// interval. totdev is always freed of its flicker and random-walk FM bias;
// with settings.bias_correction mtotdev, ttotdev and htotdev are freed of
// theirs; Thêo1 never. `series` is prepare_long_term of the prepared grid's
// grid.
std::vector<StatsRow> long_term_rows(const LongTermSeries& series, const PreparedGrid& prepared,
                                     Statistic s, const std::vector<int64_t>& factors,
                                     const StatsSettings& settings);

// The same, one factor at a time, for callers that spread the rows over
// threads: the deviation of s at m (any statistic but Thêo1, whose factors
// come all at once from theo1_factors), then its row. Both are safe to call
// from several threads on the same series and prepared grid.
Deviation long_term_deviation(const LongTermSeries& series, Statistic s, int64_t m);
StatsRow long_term_row(const LongTermSeries& series, const PreparedGrid& prepared, Statistic s,
                       const Deviation& d, const StatsSettings& settings);

// The result file's comment line (without '#' and line end) that says what
// bias the rows carry; empty for a statistic without one (MTIE, TIE rms and
// the classical statistics).
std::string bias_note(Statistic s, bool bias_correction);

}  // namespace tauspan

#endif  // TAUSPAN_LONG_TERM_ROWS_H_
