#!/usr/bin/env bash
# Converts the bundled sample recording into demo-output/ and shows the start
# of the result.
#   scripts/demo.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case $build in /*) ;; *) build=$root/$build ;; esac
converter=$build/driver/cdt2csv
if [ ! -x "$converter" ]; then
  echo "cdt2csv is not built in $build: run 'make build' first." >&2
  exit 1
fi

mkdir -p "$root/demo-output"
cd "$root/demo-output"
# The converter writes into the current directory and prints its in/out line.
PATH="$build/driver:$PATH" cdt2csv ../examples/sample.cdt

csv=sample.csv
echo
echo "$(($(wc -l <"$csv") - 1)) lines and $(head -n 1 "$csv" | tr ',' '\n' | wc -l) columns" \
  "in demo-output/$csv; the first lines (cut at 120 characters):"
echo
head -n 6 "$csv" | cut -c 1-120
