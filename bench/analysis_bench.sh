#!/usr/bin/env bash
# The tip-timing analysis against reading the same recording into pandas: a
# 40,000-revolution run-up of 24 blades and 4 probes with two resonances, and
# a recording of about 1 GB with the same resonances. Per recording: the
# seconds of `cdt analyse --json` and of `cdt.open(FILE).to_pandas()` (best
# of three), the true resonances found (blade and engine order right, f_n
# within 0.5 %) and the slowest single-degree-of-freedom fit; then a line saying whether the
# analysis takes at most 2x the read and every fit at most 10 ms.
#
#   bench/analysis_bench.sh BUILD_DIR
#
# Environment: BENCH_DIR (work directory, default build/bench-analysis),
# BENCH_SMALL=1 (10,000 revolutions and 100 MB, for a quick try).
set -euo pipefail
build=$(realpath "$1")
cdt=$build/tools/cdt
python=$(sed -n "s/^CDT_PYTHON_EXECUTABLE:FILEPATH=//p" "$build/CMakeCache.txt")
work=${BENCH_DIR:-build/bench-analysis}
mkdir -p "$work"
work=$(realpath "$work")
rss_file=$work/rss
if [ "${BENCH_SMALL:-0}" = 1 ]; then revolutions=10000 size=100; else revolutions=40000 size=1000; fi

# shellcheck source=bench/timed.sh
source "$(dirname "$0")/timed.sh"

resonances=(--resonance 8:360:0.005:0.5 --resonance 5:200:0.008:0.3)
make_run() {  # DIR OPTIONS...
  local dir=$1
  shift
  [ -d "$dir" ] || "$cdt" synth --blades 24 --probes 4 --extras 0 "${resonances[@]}" "$@" \
    "$dir" >/dev/null
}
make_run "$work/runup" --revolutions "$revolutions"
make_run "$work/large" --size "$size" --profiles 1000

printf '%-10s %8s %10s %10s %7s %9s %12s\n' recording MB "analyse s" "pandas s" ratio found \
  "slowest fit"
verdict=yes
for name in runup large; do
  file=$(ls "$work/$name"/*.cdt)
  truth=$(ls "$work/$name"/*.truth.json)
  mb=$(du -m "$file" | cut -f1)
  out=$work/out
  read -r analyse_s _ < <(best_of 3 "$out" "$cdt" analyse --json "$file")
  "$cdt" analyse --json "$file" >"$work/$name.json"
  read -r pandas_s _ < <(best_of 3 "$out" env PYTHONPATH="$build/python" "$python" -c \
    "import cdt; cdt.open('$file').to_pandas()")
  read -r found slowest < <("$python" - "$work/$name.json" "$truth" <<'PY'
import json
import sys

table = json.load(open(sys.argv[1]))["resonances"]
truth = json.load(open(sys.argv[2]))["resonances"]
found = {(r["stage_number"], r["blade"], r["engine_order"]): r["frequency_hz"] for r in table}
right = sum(1 for t in truth
            if abs(found.get((t["stage_number"], t["blade"], t["engine_order"]), 0.0)
                   - t["frequency_hz"]) <= 0.005 * t["frequency_hz"])
slowest = max((r["fit_ms"] for r in table), default=0.0)
print(f"{right}/{len(truth)}", f"{slowest:.2f}")
PY
)
  ratio=$(awk -v a="$analyse_s" -v p="$pandas_s" 'BEGIN { printf "%.2f", a / p }')
  printf '%-10s %8s %10.2f %10.2f %7s %9s %9s ms\n' "$name" "$mb" "$analyse_s" "$pandas_s" \
    "$ratio" "$found" "$slowest"
  awk -v r="$ratio" -v f="$slowest" 'BEGIN { exit !(r <= 2 && f <= 10) }' || verdict=no
done
rm -rf "$work/out"
echo "targets: analysis <= 2x to_pandas() and every fit <= 10 ms: $verdict"
