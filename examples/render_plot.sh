#!/bin/sh
# Renders the plot of the bundled example to a PNG with headless Chromium
# (Debian's chromium package), to look at the picture as a browser shows it.
#
#   examples/render_plot.sh [tauspan binary] [output.png]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "${1:-build/default/tauspan}")
out=$(realpath "${2:-oscillator_avar.png}")
command -v chromium > /dev/null || { echo "needs chromium (apt-get install chromium)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/oscillator.dat" "$work/"
(cd "$work" && "$bin" -plot -logtau oscillator.dat > /dev/null)
# --no-sandbox: Chromium refuses to run as root otherwise.
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=800,560 \
  --screenshot="$out" "file://$work/oscillator_avar.svg" 2> /dev/null
echo "wrote $out"
