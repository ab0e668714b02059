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

# The sample's quick-look page (python3 -m cdt report), when this build has
# the Python package and its interpreter has matplotlib.
python=$(sed -n 's/^CDT_PYTHON_EXECUTABLE:FILEPATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
echo
if ! compgen -G "$build/python/cdt/_cdt*.so" >/dev/null || [ -z "$python" ]; then
  echo "No report page: this build has no Python package (scripts/check-prereqs.sh --python, then make demo)."
elif ! "$python" -c "import matplotlib" >/dev/null 2>&1; then
  echo "No report page: $python cannot import matplotlib (scripts/check-prereqs.sh --python installs it)."
else
  page=$(PYTHONPATH=$build/python "$python" -m cdt report ../examples/sample.cdt -o .)
  echo "The sample's report page, pictures included: demo-output/${page#./}"
fi
