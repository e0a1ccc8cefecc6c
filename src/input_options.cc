// -sep, -timefmt, -outdir and -threads: their values, echoes and refusals.
#include "input_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "field_split.h"
#include "output_place.h"
#include "time_format.h"

namespace tauspan {
namespace {

// A whole number of 0 or more, all of the text; false for anything else.
bool parse_thread_count(const char* text, int32_t& threads) {
  if (text[0] < '0' || text[0] > '9') return false;  // no sign, no blank
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || v > INT32_MAX) return false;
  threads = static_cast<int32_t>(v);
  return true;
}

std::string describe_threads(int32_t threads) {
  if (threads == 0) return "Using one worker thread per core.";
  if (threads == 1) return "Using 1 worker thread.";
  return "Using " + std::to_string(threads) + " worker threads.";
}

}  // namespace

bool is_input_option(const char* arg) {
  return std::strcmp(arg, "-sep") == 0 || std::strcmp(arg, "-timefmt") == 0 ||
         std::strcmp(arg, "-outdir") == 0 || std::strcmp(arg, "-threads") == 0;
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
  } else if (std::strcmp(arg, "-threads") == 0) {
    if (!parse_thread_count(value, settings.threads)) {
      o.error = std::string("-threads takes a whole number of 0 (one per core) or more, not '") +
                value + "'";
      o.status = kBadCommand;
      return o;
    }
    o.echo = describe_threads(settings.threads);
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
