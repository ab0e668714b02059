#!/usr/bin/env bash
# Converts the bundled sample recording into demo-output/, shows the start of
# the result and the blade resonance the sample holds, and writes its report
# page when the build has the Python package.
#   scripts/demo.sh [BUILD_DIR [OUT_DIR]]   (default build/release, demo-output)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case $build in /*) ;; *) build=$root/$build ;; esac
converter=$build/driver/cdt2csv
if [ ! -x "$converter" ]; then
  echo "cdt2csv is not built in $build: run 'make build' first." >&2
  exit 1
fi

out=${2:-$root/demo-output}
shown=${2:-demo-output}
sample=../examples/sample.cdt
if [ -n "${2:-}" ]; then sample=$root/examples/sample.cdt; fi
mkdir -p "$out"
cd "$out"
# The converter writes into the current directory and prints its in/out line.
PATH="$build/driver:$PATH" cdt2csv "$sample"

csv=sample.csv
echo
echo "$(($(wc -l <"$csv") - 1)) lines and $(head -n 1 "$csv" | tr ',' '\n' | wc -l) columns" \
  "in $shown/$csv; the first lines (cut at 120 characters):"
echo
head -n 6 "$csv" | cut -c 1-120

# The sample is a run-up through a resonance: the analysis finds it.
echo
echo "The blade resonances of the sample (cdt analyse examples/sample.cdt):"
echo
"$build/tools/cdt" analyse "$sample"

# The sample's quick-look page (python3 -m cdt report), when this build has
# the Python package and its interpreter has matplotlib.
python=$(sed -n 's/^CDT_PYTHON_EXECUTABLE:FILEPATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
echo
if ! compgen -G "$build/python/cdt/_cdt*.so" >/dev/null || [ -z "$python" ]; then
  echo "No report page: this build has no Python package (install what scripts/check-prereqs.sh --python names, then make demo)."
elif ! "$python" -c "import matplotlib" >/dev/null 2>&1; then
  echo "No report page: $python cannot import matplotlib (scripts/check-prereqs.sh --python installs it)."
else
  page=$(PYTHONPATH=$build/python "$python" -m cdt report "$sample" -o .)
  echo "The sample's report page, pictures and resonance table included: $shown/${page#./}"
fi
