// The report of the noise coefficients: console block, result-file comment
// lines and the fitted terms for the picture.
#include "noise_report.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "console.h"
#include "intervals.h"
#include "noise_units.h"

namespace tauspan {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr char kLetters[] = "QNBKR";

// Numbers with 4, 3 or 2 significant digits, or 4 decimals.
std::string printed(double x, int digits, bool fixed = false) {
  char buf[32];
  if (fixed) {
    std::snprintf(buf, sizeof buf, "%.*f", digits, x);
  } else {
    std::snprintf(buf, sizeof buf, "%.*g", digits, x);
  }
  return buf;
}
std::string g4(double x) { return printed(x, 4); }
std::string g3(double x) { return printed(x, 3); }
std::string g2(double x) { return printed(x, 2); }
std::string f4(double x) { return printed(x, 4, true); }

std::string value_text(double v) { return g4(v); }

// "1.234e-05 +/- 2.1e-07", or the value alone when it has no uncertainty.
std::string with_uncertainty(double v, double u) {
  if (!std::isfinite(u)) return value_text(v);
  return value_text(v) + " +/- " + g2(u);
}

// The model as the statistic responds to it, for the block's first line.
std::string model_text(Statistic s) {
  const TermArray r = term_response(s, 1, 1);
  switch (s) {
    case Statistic::kMdev:
      return "3 Q^2/(m tau^2) + N^2 (m^2+1)/(2 m^2 tau) + " + f4(r[kTermB]) +
             " B^2 + 11 K^2 tau/40 + R^2 tau^2/2, m = tau/tau0";
    case Statistic::kHdev:
    case Statistic::kOhdev:
      return "10 Q^2/(3 tau^2) + N^2/tau + " + f4(r[kTermB]) + " B^2 + K^2 tau/6";
    default:
      return "3 Q^2/tau^2 + N^2/tau + " + f4(r[kTermB]) + " B^2 + K^2 tau/3 + R^2 tau^2/2";
  }
}

// A coefficient in every form of its unit, each with its uncertainty.
std::string forms_text(double v, double u, const std::vector<UnitForm>& forms) {
  std::string text;
  for (size_t i = 0; i < forms.size(); ++i) {
    if (i > 0) text += " = ";
    text += with_uncertainty(v * forms[i].factor, u * forms[i].factor) + " " + forms[i].unit;
  }
  return text;
}

std::string term_line(Statistic s, const NoiseFit& fit, const NoiseUnits& units, NoiseTerm t,
                      double read_off, const char* read_how) {
  char head[48];
  std::snprintf(head, sizeof head, "  %c %-26s ", kLetters[t], units.names[t].c_str());
  std::string line = head;
  if (!fit.seen[t]) {
    return line + "not seen by " + std::string(statistic_name(s)) +
           " (a third difference removes a steady ramp)";
  }
  if (fit.at_bound[t]) {
    return line + "0 " + units.forms[t].front().unit +
           " (at the bound 0: no such term in these rows)";
  }
  line += forms_text(fit.value[t], fit.uncertainty[t], units.forms[t]);
  if (std::isfinite(read_off)) {
    line += "; read-off " + value_text(read_off) + " " + units.forms[t].front().unit + " (" +
            read_how + ")";
  }
  return line;
}

// h(alpha) = factor * c^2, with its uncertainty, or why there is none.
std::string h_line(const char* name, const char* relation, const NoiseFit& fit, NoiseTerm t,
                   double factor, const char* unit) {
  std::string line = std::string("  ") + name + " = " + relation + " = ";
  if (!fit.seen[t]) return line + "not seen by this statistic";
  if (fit.at_bound[t]) return line + "0 (at the bound)";
  const double c = fit.value[t];
  line += with_uncertainty(factor * c * c, factor * 2 * c * fit.uncertainty[t]);
  return *unit != '\0' ? line + " " + unit : line;
}

}  // namespace

std::vector<NoisePoint> noise_points(Statistic s, const std::vector<StatsRow>& rows) {
  std::vector<NoisePoint> points;
  for (const StatsRow& r : rows) {
    if (r.n <= 0) continue;
    const int64_t phase_points = edf_phase_points(s, r.m, r.n);
    double edf = r.alpha == kNoAlpha ? std::nan("") : equivalent_dof(s, r.alpha, r.m, phase_points);
    if (!(edf > 0)) edf = equivalent_dof(s, 0, r.m, phase_points);
    points.push_back({r.m, r.tau, r.dev * r.dev, edf});
  }
  return points;
}

std::vector<std::string> noise_report_lines(Statistic s, const NoiseFit& fit,
                                            const NoiseReadOffs& read, const std::string& units,
                                            bool clock, double tau0) {
  const std::string name(statistic_name(s));
  std::vector<std::string> lines;
  lines.push_back("Noise coefficients of " + name + " (tau in s): " + name +
                  "^2 = " + model_text(s));
  if (!fit.error.empty()) {
    lines.push_back("  not fitted: " + fit.error);
    return lines;
  }
  const int dof = fit.rows - fit.free_terms;
  lines.push_back("  non-negative least squares on " + std::to_string(fit.rows) +
                  " variances, each weighted by edf/(2 v^2), v the fitted model's value;"
                  " chi-squared " +
                  g3(fit.chi2) + " for " + std::to_string(dof) +
                  " degrees of freedom; +/- one standard uncertainty");
  const NoiseUnits u = noise_units(units);
  lines.push_back(term_line(s, fit, u, kTermQ, std::nan(""), ""));
  lines.push_back(term_line(s, fit, u, kTermN, read.n, "slope -1/2"));
  lines.push_back(term_line(s, fit, u, kTermB, read.b, "flat minimum"));
  lines.push_back(term_line(s, fit, u, kTermK, read.k, "slope +1/2"));
  lines.push_back(term_line(s, fit, u, kTermR, std::nan(""), ""));
  lines.push_back(
      "  read-offs: the row nearest each slope (the -1/2 line at tau = 1, the +1/2"
      " line at tau = 3 and the minimum / 0.664 for Allan) through the term's response");
  if (!clock) return lines;
  const double f_h = 1 / (2 * tau0);
  lines.push_back(
      "  as power-law noise of fractional frequency, S_y(f) = sum of h(a) f^a"
      " (one-sided), white phase up to f_h = 1/(2 tau0) = " +
      value_text(f_h) + " Hz:");
  lines.push_back(h_line("h(2) ", "4 pi^2 Q^2 / f_h", fit, kTermQ, 4 * kPi * kPi / f_h, "s^3"));
  lines.push_back("  h(1)  = not fitted: flicker phase is not a term of the model (in " + name +
                  " its slope is " + (s == Statistic::kMdev ? "N's" : "Q's") + ")");
  lines.push_back(h_line("h(0) ", "2 N^2", fit, kTermN, 2, "s"));
  lines.push_back(h_line("h(-1)", "B^2 / pi", fit, kTermB, 1 / kPi, ""));
  lines.push_back(h_line("h(-2)", "K^2 / (2 pi^2)", fit, kTermK, 1 / (2 * kPi * kPi), "s^-1"));
  std::string drift = "  drift = R (fractional frequency per s) ";
  if (!fit.seen[kTermR]) {
    drift += "not seen by this statistic";
  } else if (fit.at_bound[kTermR]) {
    drift += "0 (at the bound)";
  } else {
    drift += with_uncertainty(fit.value[kTermR], fit.uncertainty[kTermR]) + " s^-1";
  }
  lines.push_back(drift);
  return lines;
}

std::vector<FittedTerm> fitted_terms(Statistic s, const NoiseFit& fit,
                                     const std::vector<StatsRow>& rows, double tau0) {
  std::vector<FittedTerm> terms;
  if (!fit.error.empty() || rows.empty() || !(tau0 > 0)) return terms;
  const double lo = rows.front().tau;
  const double hi = rows.back().tau;
  if (!(lo > 0) || !(hi >= lo)) return terms;
  constexpr int kPoints = 48;
  for (int t = 0; t < kNoiseTerms; ++t) {
    const auto term = static_cast<NoiseTerm>(t);
    if (!fit.seen[term] || fit.at_bound[term]) continue;
    const double c2 = fit.value[term] * fit.value[term];
    FittedTerm f;
    f.label = std::string(1, kLetters[t]) + " " + term_slope(s, term);
    for (int i = 0; i < kPoints; ++i) {
      const double tau = lo * std::pow(hi / lo, static_cast<double>(i) / (kPoints - 1));
      f.tau.push_back(tau);
      f.dev.push_back(std::sqrt(c2 * term_response(s, tau / tau0, tau)[term]));
    }
    // The label where the term makes most of the curve: there it touches it.
    double best_share = -1;
    for (const StatsRow& r : rows) {
      const TermArray g = term_response(s, static_cast<double>(r.m), r.tau);
      double total = 0;
      for (size_t j = 0; j < kNoiseTerms; ++j) {
        if (fit.seen[j] && !fit.at_bound[j]) total += fit.value[j] * fit.value[j] * g[j];
      }
      const double share = total > 0 ? c2 * g[term] / total : 0;
      if (share > best_share) {
        best_share = share;
        f.label_tau = r.tau;
        f.label_dev = std::sqrt(c2 * g[term]);
      }
    }
    terms.push_back(std::move(f));
  }
  return terms;
}

void add_noise_report(Statistic s, const Grid& grid, const StatsSettings& stats, ResultFile& file,
                      StatsCurve& curve) {
  if (!stats.noise || !fits_noise(s) || curve.rows.empty()) return;
  const std::vector<NoisePoint> points = noise_points(s, curve.rows);
  const NoiseFit fit = fit_noise(s, points);
  const bool clock = grid.kind == DataKind::kPhase || stats.units.empty();
  std::string text;
  for (const std::string& line :
       noise_report_lines(s, fit, read_offs(s, points), stats.units, clock, grid.tau0)) {
    say("%s\n", line.c_str());
    text += "#" + line + "\n";
  }
  write_text(file, text);
  curve.terms = fitted_terms(s, fit, curve.rows, grid.tau0);
}

}  // namespace tauspan
