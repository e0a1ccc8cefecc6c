// -sep, -timefmt and -outdir: their values, echoes and refusals.
#include "input_options.h"

#include <cstring>

#include "console.h"
#include "field_split.h"
#include "output_place.h"
#include "time_format.h"

namespace tauspan {

bool is_input_option(const char* arg) {
  return std::strcmp(arg, "-sep") == 0 || std::strcmp(arg, "-timefmt") == 0 ||
         std::strcmp(arg, "-outdir") == 0;
}

InputOption apply_input_option(const char* arg, const char* value, RunSettings& settings) {
  InputOption o;
  o.taken = is_input_option(arg);
  if (!o.taken) return o;
  if (std::strcmp(arg, "-sep") == 0) {
    SeparatorChoice choice = choose_separators(value);
    if (!choice.error.empty()) {
      o.error = choice.error;
      o.status = kBadCommand;
      return o;
    }
    settings.separators = std::move(choice.separators);
    o.echo = describe_separators(settings.separators);
  } else if (std::strcmp(arg, "-timefmt") == 0) {
    if (!choose_time_format(value, settings.time_format)) {
      o.error = std::string("-timefmt takes number, iso or mjd, not '") + value + "'";
      o.status = kBadCommand;
      return o;
    }
    o.echo = describe_time_format(settings.time_format);
  } else {
    settings.output_dir = value;
    o.echo = describe_output_dir(settings.output_dir);
    // Checked now rather than at the first result, which may come only
    // after a long read and sweep.
    o.error = check_output_dir(settings.output_dir);
    if (!o.error.empty()) o.status = kFailed;
  }
  return o;
}

}  // namespace tauspan
