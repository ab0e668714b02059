#!/usr/bin/env bash
# Remakes examples/sample.cdt with `cdt synth`: one host with four probes on
# channels 0 to 3 watching one stage of 8 blades, 2000 revolutions of a run-up
# through a resonance at engine order 8 (360 Hz, damping 0.5 %, 0.5 mm), with
# a profile every 500 revolutions and a few status records. The same
# options give the same file; UTC keeps the header's time-zone bias at 0
# whoever remakes it.
#   examples/make_sample.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset release -B "$build")
fi
cmake --build "$build" --target cdt

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
written=$(TZ=UTC "$build/tools/cdt" synth --name Sample --hosts 1 --probes 4 --stages 1 \
  --blades 8 --revolutions 2000 --rpm 3000 --profiles 500 --extras 50 \
  --resonance 8:360:0.005:0.5 --start 2011-03-15T14:07:09Z --seed 20110315 "$scratch")
mv "$written" "$root/examples/sample.cdt"
echo "wrote $root/examples/sample.cdt ($(wc -c <"$root/examples/sample.cdt") bytes)"
