#!/bin/sh
# Whole processes of the Allan sweep against its peers on the same white-noise
# files ("time<TAB>value", times 0, 1, 2, ...): tauspan's default sweep
# (-logtau), tauspan -fast (-logtau and linear), tauspan -stat oadev (octave
# taus), each on all cores and on one (-threads 1), the Python library
# allantools (oadev at tauspan's 100 logarithmic and 100 linear taus, file
# loading included) and SigmaTheta's ADev, when present. Each run's
# wall time and peak memory come from /usr/bin/time (Debian package `time`:
# apt-get install time) and are printed as a Markdown table.
#
#   ALLANTOOLS_DIR=/scratch/allantools ADEV=/scratch/SigmaTheta/ADev \
#     bench/fast_vs_peers.sh [tauspan] [work dir]
#
# ALLANTOOLS_DIR is a checkout of allantools (the directory holding the
# package directory allantools/); it needs numpy under PYTHON (default
# /usr/bin/python3). ADEV is SigmaTheta's ADev program. SIZES (default
# "100000 1000000 10000000") chooses the files. The default sweep is cut off
# after DEFAULT_LIMIT seconds (default 120) at every size, by timeout: a cut
# run shows its limit as ">N" (from 10^6 on it always is: it needs hours).
# REPEAT (default 1) runs every other command that many times, one after
# another, and shows the fastest wall time and the largest peak: on a shared
# machine single runs of a second vary by a fifth.
set -eu
bin=$(realpath "${1:-build/default/tauspan}")
work=${2:-${TMPDIR:-/tmp}/tauspan-fast-vs-peers}
sizes=${SIZES:-100000 1000000 10000000}
limit=${DEFAULT_LIMIT:-120}
repeat=${REPEAT:-1}
python=${PYTHON:-/usr/bin/python3}
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
mkdir -p "$work"
cd "$work"

allantools=""
if [ -n "${ALLANTOOLS_DIR:-}" ] &&
   PYTHONPATH="$ALLANTOOLS_DIR" "$python" -c "import allantools, numpy" 2> /dev/null; then
  allantools=yes
fi
adev=""
if [ -n "${ADEV:-}" ] && [ -x "$ADEV" ]; then adev=$ADEV; fi
threads_option=""
if "$bin" --help | grep -q -- "-threads"; then threads_option=yes; fi

cat > oadev.py << 'EOF'
# oadev of a "time<TAB>value" file at tauspan's logarithmic taus.
import sys
import numpy as np
import allantools
data = np.loadtxt(sys.argv[1], usecols=1)
n = len(data)
lo, hi = 2.0, (n - 1) * 0.25
if sys.argv[2] == "log":
    taus = hi * (lo / hi) ** ((100 - np.arange(1, 101)) / 99.0)
else:
    taus = lo + (hi - lo) * (np.arange(1, 101) - 1) / 99.0
t, ad, ade, ns = allantools.oadev(data, rate=1.0, data_type="freq", taus=taus)
print(len(t), ad[0], ad[-1])
EOF

# Runs "$@" with its output thrown away; prints "seconds kilobytes", or the
# limit as "> seconds" when timeout stopped it.
measure_once() {
  if /usr/bin/time -f "%e %M" -o time.txt "$@" > /dev/null 2> /dev/null; then
    cat time.txt
  else
    status=$?
    if [ "$status" = 124 ]; then echo ">$limit -"; else echo "failed($status) -"; fi
  fi
}

# The same REPEAT times: the fastest wall time and the largest peak.
measure() {
  best=""
  peak=0
  i=0
  while [ "$i" -lt "$repeat" ]; do
    result=$(measure_once "$@")
    case $result in
      [0-9]*) ;;
      *) echo "$result"; return ;;
    esac
    seconds=${result% *}
    kilobytes=${result#* }
    if [ -z "$best" ] || [ "$(echo "$seconds < $best" | bc -l)" = 1 ]; then best=$seconds; fi
    if [ "$kilobytes" -gt "$peak" ]; then peak=$kilobytes; fi
    i=$((i + 1))
  done
  echo "$best $peak"
}

row() {  # label size "seconds kilobytes"
  set -- "$1" "$2" $3
  if [ "${4:--}" = "-" ]; then
    printf '| %s | %s | %s | - |\n' "$1" "$2" "$3"
  else
    printf '| %s | %s | %s | %.0f |\n' "$1" "$2" "$3" "$(echo "$4 / 1024" | bc -l)"
  fi
}

echo "repeat: $repeat (fastest wall, largest peak), the default sweep once"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| run | samples | wall s | peak MB |"
echo "|---|---|---|---|"
for n in $sizes; do
  file=white_$n.dat
  if [ ! -s "$file" ]; then
    awk -v n="$n" 'BEGIN { srand(12345); pi = atan2(0, -1);
      for (i = 0; i < n; i++) { u = rand(); if (u < 1e-300) u = 1e-300;
        printf "%d\t%.9f\n", i, sqrt(-2 * log(u)) * cos(2 * pi * rand()) } }' > "$file"
  fi
  row "tauspan -logtau (timeout $limit s)" "$n" "$(measure_once timeout "$limit" "$bin" -logtau "$file")"
  if [ -n "$threads_option" ]; then
    row "tauspan -logtau -threads 1 (timeout $limit s)" "$n" \
        "$(measure_once timeout "$limit" "$bin" -logtau -threads 1 "$file")"
  fi
  row "tauspan -fast -logtau" "$n" "$(measure "$bin" -fast -logtau "$file")"
  row "tauspan -fast (linear)" "$n" "$(measure "$bin" -fast "$file")"
  if [ -n "$threads_option" ]; then
    row "tauspan -fast -logtau -threads 1" "$n" "$(measure "$bin" -fast -logtau -threads 1 "$file")"
    row "tauspan -fast (linear) -threads 1" "$n" "$(measure "$bin" -fast -threads 1 "$file")"
    row "tauspan -stat oadev -threads 1" "$n" "$(measure "$bin" -stat oadev -threads 1 "$file")"
  fi
  row "tauspan -stat oadev" "$n" "$(measure "$bin" -stat oadev "$file")"
  if [ -n "$allantools" ]; then
    row "allantools oadev (100 log taus)" "$n" \
        "$(measure env PYTHONPATH="$ALLANTOOLS_DIR" "$python" oadev.py "$file" log)"
    row "allantools oadev (100 linear taus)" "$n" \
        "$(measure env PYTHONPATH="$ALLANTOOLS_DIR" "$python" oadev.py "$file" linear)"
  fi
  if [ -n "$adev" ]; then row "SigmaTheta ADev" "$n" "$(measure "$adev" -c "$file")"; fi
done
