// Units of the noise coefficients, from the data's unit.
#include "noise_units.h"

namespace tauspan {
namespace {

constexpr double kStandardGravity = 9.80665;  // m/s^2 in one g

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() > tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// Seconds in the time unit after the last '/' of a rate, 0 when it is none.
double rate_seconds(std::string_view unit, std::string_view& quantity) {
  const struct {
    std::string_view tail;
    double seconds;
  } kTails[] = {{"/s", 1}, {"/sec", 1}, {"/min", 60}, {"/h", 3600}, {"/hr", 3600}};
  for (const auto& t : kTails) {
    if (ends_with(unit, t.tail)) {
      quantity = unit.substr(0, unit.size() - t.tail.size());
      return t.seconds;
    }
  }
  return 0;
}

bool is_angle(std::string_view x) {
  return x == "deg" || x == "rad" || x == "mrad" || x == "urad" || x == "mdeg" || x == "rev" ||
         x == "arcsec" || x == "arcmin" || x == "\xc2\xb0";
}

}  // namespace

NoiseUnits noise_units(std::string_view unit_view) {
  NoiseUnits u;
  const std::string unit = unit_view.empty() ? "u" : std::string(unit_view);
  u.names = {"quantization", "white noise", "bias instability", "rate random walk", "rate ramp"};
  u.forms[kTermQ] = {{1, unit + "*s"}};
  u.forms[kTermN] = {{1, unit + "/sqrt(Hz)"}};
  u.forms[kTermB] = {{1, unit}};
  u.forms[kTermK] = {{1, unit + "/sqrt(s)"}};
  u.forms[kTermR] = {{1, unit + "/s"}};

  std::string_view quantity;
  std::string velocity;
  double to_velocity = 1;  // the acceleration's unit in `velocity` per second
  if (ends_with(unit, "/s^2") || ends_with(unit, "/s2")) {
    velocity = unit.substr(0, unit.rfind('/')) + "/s";
  } else if (unit == "g") {
    velocity = "m/s";
    to_velocity = kStandardGravity;
  }
  if (!velocity.empty()) {
    u.names[kTermN] = "velocity random walk";
    u.names[kTermK] = "acceleration random walk";
    u.names[kTermR] = "acceleration ramp";
    u.forms[kTermQ] = {{to_velocity, velocity}};
    u.forms[kTermN].push_back({to_velocity * 60, velocity + "/sqrt(h)"});
    u.forms[kTermK].push_back({to_velocity * 3600 * 60, velocity + "/h/sqrt(h)"});
    return u;
  }
  const double seconds = rate_seconds(unit, quantity);
  if (seconds == 0) return u;
  const std::string x(quantity);
  if (is_angle(quantity)) u.names[kTermN] = "angle random walk";
  // A value of 1 X per `seconds` is 1 / seconds X/s.
  const double per_second = 1 / seconds;
  u.forms[kTermQ] = {{per_second, x}};
  u.forms[kTermN].push_back({per_second * 60, x + "/sqrt(h)"});
  if (seconds != 3600) {
    u.forms[kTermB].push_back({per_second * 3600, x + "/h"});
    u.forms[kTermK].push_back({per_second * 3600 * 60, x + "/h/sqrt(h)"});
    u.forms[kTermR].push_back({per_second * 3600 * 3600, x + "/h^2"});
  } else {
    u.forms[kTermK].push_back({per_second * 3600 * 60, x + "/h/sqrt(h)"});
  }
  return u;
}

}  // namespace tauspan
