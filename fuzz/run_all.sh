#!/bin/sh
# Builds the fuzzers with clang (libFuzzer, ASan, UBSan) and runs each for
# the given number of seconds (default 60), starting from its seed corpus.
# New inputs go to build/fuzz/corpus/<target>, not into the sources.
#
#   fuzz/run_all.sh [seconds per target]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz > /dev/null
targets="series_reader_fuzz analysis_fuzz result_name_fuzz option_walk_fuzz"
# shellcheck disable=SC2086
cmake --build build/fuzz --target $targets > /dev/null
root=$(pwd)
rm -rf build/fuzz/artifacts
mkdir -p build/fuzz/artifacts
for t in $targets; do
  mkdir -p "build/fuzz/corpus/$t"
  echo "== $t: $seconds s"
  # Absolute paths: the option-walk target runs in a directory of its own.
  "$root/build/fuzz/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$root/build/fuzz/artifacts/$t-" -print_final_stats=1 \
    "$root/build/fuzz/corpus/$t" "$root/fuzz/corpus/$t" 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)|ERROR|SUMMARY|Test unit written' || true
  # libFuzzer leaves crash-, leak-, timeout- or oom- files behind on a failure.
  if ls build/fuzz/artifacts/"$t"-* > /dev/null 2>&1; then
    echo "$t failed; its inputs are in build/fuzz/artifacts" >&2
    exit 1
  fi
done
