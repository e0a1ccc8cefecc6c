#!/bin/sh
# Whole runs of tauspan on generated series of 10^4 ... 10^7 samples: wall
# time and peak memory per mode, as a Markdown table.
#
#   bench/end_to_end.sh [tauspan binary] [work directory]
#
# Runs whose estimated time exceeds MAX_SECONDS (default 180) are skipped and
# listed as such. The estimate counts the additions of the overlapped sweep
# (each bin sums its window) at ADDS_PER_SECOND (default 3e10, this project's
# measured rate with AVX-512 rounded down).
set -eu
bin=$(realpath "${1:-build/default/tauspan}")
work=${2:-${TMPDIR:-/tmp}/tauspan-e2e}
max_seconds=${MAX_SECONDS:-180}
rate=${ADDS_PER_SECOND:-3e10}
mkdir -p "$work"
cd "$work"

echo "| samples | options | wall s | peak MiB | rows |"
echo "|---:|---|---:|---:|---:|"
for n in 10000 100000 1000000 10000000; do
  data="series_$n.dat"
  if [ ! -f "$data" ]; then
    awk -v n="$n" 'BEGIN { srand(12345); w = 0;
      for (i = 0; i < n; i++) { w += rand() - 0.5; printf "%d\t%.9f\n", i, 1e7 + w + 2 * (rand() - 0.5) } }' \
      > "$data.part" && mv "$data.part" "$data"
  fi
  for opts in "" "-logtau" "-nooverlap" "-nooverlap -logtau"; do
    # Additions of the overlapped sweep: 2 n times the sum of the window
    # lengths (tau in samples) over the 100 taus from 2 to n/4.
    estimate=$(awk -v n="$n" -v o="$opts" -v rate="$rate" 'BEGIN {
      lo = 2; hi = (n - 1) / 4; sum = 0;
      for (k = 1; k <= 100; k++) {
        if (o ~ /logtau/) tau = exp(log(lo / hi) * (100 - k) / 99) * hi;
        else tau = (k - 1) / 99 * (hi - lo) + lo;
        sum += (o ~ /nooverlap/) ? 1 : tau;
      }
      printf "%.0f", 2 * n * sum / rate }')
    if [ "$estimate" -gt "$max_seconds" ]; then
      echo "| $n | ${opts:-(default)} | skipped: about $estimate s | | |"
      continue
    fi
    # shellcheck disable=SC2086
    /usr/bin/time -f "%e %M" -o time.txt "$bin" $opts "$data" > out.txt
    read -r wall kib < time.txt
    rows=$(awk 'f { r++ } /^tau\tAVAR/ { f = 1 } END { print r + 0 }' out.txt)
    echo "| $n | ${opts:-(default)} | $wall | $((kib / 1024)) | $rows |"
  done
done
