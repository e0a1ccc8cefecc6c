// The units that noise coefficients are written in, from the data's unit
// given with -units: rates (deg/s, rad/h), accelerations (m/s^2, g) or any
// other word.
#ifndef TAUSPAN_NOISE_UNITS_H_
#define TAUSPAN_NOISE_UNITS_H_

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "noise_fit.h"

namespace tauspan {

// One way to write a coefficient: its value times `factor`, in `unit`.
struct UnitForm {
  double factor = 1;
  std::string unit;
};

// How each term (Q, N, B, K, R) is named and written. The first form is the
// data's own unit with tau in seconds; later ones are the per-hour forms of a
// rate or an acceleration.
struct NoiseUnits {
  std::array<std::string, kNoiseTerms> names;
  std::array<std::vector<UnitForm>, kNoiseTerms> forms;
};

// The forms for data in `unit`. A unit ending in "/s", "/sec", "/min", "/h"
// or "/hr" is a rate X per that time: Q in X, N also in X/sqrt(h), B also in
// X/h, K also in X/h/sqrt(h), R also in X/h^2. One ending in "/s^2" or
// "/s2", and "g" (taken as 9.80665 m/s^2 for the velocity forms), is an
// acceleration: N also in velocity per sqrt(h), K also in velocity per hour
// per sqrt(h). Any other word only gets the forms in that unit, and an empty
// unit is written "u" (the data's unit).
NoiseUnits noise_units(std::string_view unit);

}  // namespace tauspan

#endif  // TAUSPAN_NOISE_UNITS_H_
