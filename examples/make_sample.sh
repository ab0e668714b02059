#!/usr/bin/env bash
# Remakes examples/sample.cdt with the make_sample program.
#   examples/make_sample.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target make_sample
# UTC, so the header's time-zone bias is 0 whoever remakes the file.
TZ=UTC "$build/examples/make_sample" "$root/examples/sample.cdt"
echo "wrote $root/examples/sample.cdt ($(wc -c <"$root/examples/sample.cdt") bytes)"
