#!/bin/sh
# Whole processes of tauspan -stat for the long-term statistics against the
# Python library allantools on the same white-PM phase files and the same
# taus: CPU time (user + system),
# wall time, peak memory, the ratio of the CPU times, and the largest
# relative difference between the deviations, as a Markdown table. CPU time
# is the measure because this machine is shared: wall time grows with
# whatever else runs, CPU time much less.
#
#   ALLANTOOLS_DIR=/scratch/allantools bench/long_term_vs_allantools.sh [tauspan] [work dir]
#
# ALLANTOOLS_DIR is a checkout of allantools (the directory that holds the
# package directory allantools/); it needs numpy and scipy (Debian's
# python3-numpy, python3-scipy) under PYTHON (default /usr/bin/python3). When
# it cannot be imported, only tauspan is timed.
#
# SIZES (default "10000 100000 1000000") and STATS (default "totdev mtotdev
# ttotdev htotdev theo1 mtie tierms") choose the runs, all at octave taus.
# Each allantools run is cut off after CAP seconds (default 300) and shows
# "> CAP"; a run whose estimate, scaled from the same run at the previous
# size (quadratically: several of the peer's are O(N^2)), exceeds CAP is not
# started and shows its estimate in brackets. tauspan runs are not capped.
set -eu
bin=$(realpath "${1:-build/default/tauspan}")
work=${2:-${TMPDIR:-/tmp}/tauspan-long-term-vs-allantools}
cap=${CAP:-300}
sizes=${SIZES:-10000 100000 1000000}
stats=${STATS:-totdev mtotdev ttotdev htotdev theo1 mtie tierms}
python=${PYTHON:-/usr/bin/python3}
mkdir -p "$work"
cd "$work"

peer=""
if [ -n "${ALLANTOOLS_DIR:-}" ] &&
   PYTHONPATH="$ALLANTOOLS_DIR" "$python" -c "import allantools, numpy" 2> /dev/null; then
  peer=yes
  version=$(cd "$ALLANTOOLS_DIR" && git rev-parse --short HEAD 2> /dev/null || echo unknown)
  echo "allantools: $ALLANTOOLS_DIR (commit $version), $("$python" --version 2>&1)," \
       "numpy $("$python" -c 'import numpy; print(numpy.__version__)')"
else
  echo "allantools: absent (set ALLANTOOLS_DIR to a checkout; needs numpy and scipy)"
fi

# The peer's whole run: read the file, compute at the given averaging
# factors (rate 1, so taus are factors), write the deviations one per line.
cat > peer_run.py << 'EOF'
import sys
import numpy as np
import allantools

data, stat, taus_file, out = sys.argv[1:5]
x = np.loadtxt(data, usecols=1)
taus = np.loadtxt(taus_file, ndmin=1)
t, dev, err, n = getattr(allantools, stat)(x, rate=1.0, data_type="phase", taus=taus)
np.savetxt(out, np.column_stack([t, dev]), fmt="%.17g")
EOF

# Seconds as awk prints them; "" when unknown.
scaled() { awk -v t="$1" -v r="$2" -v p="$3" 'BEGIN { if (t != "") printf "%.0f", t * r ^ p }'; }

rm -f ./*.s  # estimates come from this run's figures only
echo
echo "| N | statistic | rows | tauspan CPU s | wall s | MiB | allantools CPU s | wall s | MiB | ratio | max rel. diff |"
echo "|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
previous=""
for n in $sizes; do
  data="white_$n.dat"
  if [ ! -f "$data" ]; then
    # White phase noise, 1 ns (Box-Muller), fixed seed.
    awk -v n="$n" 'BEGIN { srand(20261208); pi = atan2(0, -1);
      for (i = 0; i < n; i++) {
        u = rand(); if (u < 1e-300) u = 1e-300;
        printf "%d\t%.17g\n", i, 1e-9 * sqrt(-2 * log(u)) * cos(2 * pi * rand()) } }' \
      > "$data.part" && mv "$data.part" "$data"
  fi
  ratio=1
  [ -n "$previous" ] && ratio=$(awk -v a="$n" -v b="$previous" 'BEGIN { print a / b }')
  for stat in $stats; do
    key="$stat"
    peer_before=$(cat "peer_$key.s" 2> /dev/null || true)
    peer_estimate=$(scaled "$peer_before" "$ratio" 2)

    /usr/bin/time -f "%e %U %S %M" -o time.txt "$bin" -stat "$stat" -phase -taus octave "$data" > /dev/null
    read -r ours_wall user sys kib < time.txt
    ours=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    ours_mib=$((kib / 1024))
    # The first column is the AF, which at rate 1 is the peer's tau (for
    # Thêo1 too: allantools takes m tau0 and reports its own tau).
    grep -v '^#' "white_${n}_$stat.dat" | cut -f1 > taus.txt
    grep -v '^#' "white_${n}_$stat.dat" | cut -f6 > ours.txt
    rows=$(wc -l < taus.txt)

    theirs="absent"
    theirs_wall=""
    theirs_mib=""
    shown_ratio=""
    diff=""
    if [ -n "$peer" ]; then
      theirs="[${peer_estimate}]"
      if [ -z "$peer_estimate" ] || [ "$peer_estimate" -le "$cap" ]; then
        status=0
        PYTHONPATH="$ALLANTOOLS_DIR" /usr/bin/time -f "%e %U %S %M" -o time.txt \
          timeout "$cap" "$python" peer_run.py "$data" "$stat" taus.txt theirs.txt || status=$?
        if [ "$status" -eq 0 ]; then
          read -r theirs_wall user sys kib < time.txt
          theirs=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
          theirs_mib=$((kib / 1024))
          echo "$theirs" > "peer_$key.s"
          # Compared by tau: the peer may leave out rows of its own.
          paste taus.txt ours.txt > ours_by_tau.txt
          diff=$(awk 'NR == FNR { ours[$1] = $2; next }
                      ($1 in ours) && $2 != 0 { d = (ours[$1] - $2) / $2; if (d < 0) d = -d;
                                                if (d > m) m = d }
                      END { printf "%.1e", m }' ours_by_tau.txt theirs.txt)
        else
          theirs="> $cap"
          echo "$cap" > "peer_$key.s"
        fi
      else
        echo "$peer_estimate" > "peer_$key.s"
      fi
      shown_ratio=$(awk -v a="$theirs" -v b="$ours" 'BEGIN {
        gsub(/[][> ]/, "", a);
        if (a == "" || a == "absent") exit;
        if (b == 0) printf ">%.0f", a / 0.01; else printf "%.1f", a / b }')
      case "$theirs" in "["*|">"*) [ -n "$shown_ratio" ] && shown_ratio="> $shown_ratio" ;; esac
    fi
    echo "| $n | $stat | $rows | $ours | $ours_wall | $ours_mib | $theirs | $theirs_wall |" \
         "$theirs_mib | $shown_ratio | $diff |"
  done
  previous=$n
done
