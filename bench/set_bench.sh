#!/usr/bin/env bash
# A recording set of three hosts against its three files on their own: the
# set to netCDF (cdt export --set) against the three files exported one after
# another, and the set's to_pandas() against the three files' to_pandas(),
# at 100 MB and 1 GB per host (time, peak RSS), and a line saying whether the
# set costs at most 1.2 times the three and its export's memory stays flat.
#
#   bench/set_bench.sh BUILD_DIR
#
# Environment: BENCH_DIR (work directory, default build/bench-set),
# BENCH_SMALL=1 (10 and 100 MB per host for a quick try).
set -euo pipefail
build=$(realpath "$1")
cdt=$build/tools/cdt
python=$(sed -n "s/^CDT_PYTHON_EXECUTABLE:FILEPATH=//p" "$build/CMakeCache.txt")
work=${BENCH_DIR:-build/bench-set}
mkdir -p "$work"
work=$(realpath "$work")
rss_file=$work/rss
if [ "${BENCH_SMALL:-0}" = 1 ]; then sizes=(10 100); else sizes=(100 1000); fi

# shellcheck source=bench/timed.sh
source "$(dirname "$0")/timed.sh"

printf '%-8s %-22s %9s %11s\n' "per host" "what" "seconds" "peak MiB"
declare -A result
for size in "${sizes[@]}"; do
  dir=$work/set-${size}MB
  if [ ! -d "$dir" ]; then
    "$cdt" synth --hosts 3 --size "$size" --profiles 1000 --extras 0 "$dir" >/dev/null
  fi
  mapfile -t files < <(ls "$dir"/*.cdt)
  out=$work/out
  read -r set_s set_rss < <(best_of 3 "$out" "$cdt" export --set --format netcdf "${files[0]}")
  singles=0 single_rss=0
  for f in "${files[@]}"; do
    read -r s rss < <(best_of 3 "$out" "$cdt" export --format netcdf "$f")
    singles=$(awk -v a="$singles" -v b="$s" 'BEGIN { print a + b }')
    single_rss=$((rss > single_rss ? rss : single_rss))
  done
  read -r pset_s pset_rss < <(best_of 3 "$out" env PYTHONPATH="$build/python" "$python" -c \
    "import cdt; cdt.open_set('${files[0]}').to_pandas()")
  psingles=0 psingle_rss=0
  for f in "${files[@]}"; do
    read -r s rss < <(best_of 3 "$out" env PYTHONPATH="$build/python" "$python" -c "import cdt; cdt.open('$f').to_pandas()")
    psingles=$(awk -v a="$psingles" -v b="$s" 'BEGIN { print a + b }')
    psingle_rss=$((rss > psingle_rss ? rss : psingle_rss))
  done
  for row in "netcdf set|$set_s|$set_rss" "netcdf 3 files|$singles|$single_rss" \
    "pandas set|$pset_s|$pset_rss" "pandas 3 files|$psingles|$psingle_rss"; do
    IFS='|' read -r what s rss <<<"$row"
    printf '%-8s %-22s %9.2f %11.1f\n' "${size}MB" "$what" "$s" "$(awk -v r="$rss" 'BEGIN { print r / 1024 }')"
  done
  result[$size]="$set_s $singles $pset_s $psingles $set_rss $single_rss"
done
rm -rf "$work/out"
read -r ns n1 ps p1 _ <<<"${result[${sizes[1]}]}"
read -r _ _ _ _ small_rss _ <<<"${result[${sizes[0]}]}"
read -r _ _ _ _ large_rss large_single_rss <<<"${result[${sizes[1]}]}"
awk -v ns="$ns" -v n1="$n1" -v ps="$ps" -v p1="$p1" -v a="$small_rss" -v b="$large_rss" \
  -v one="$large_single_rss" 'BEGIN {
  printf "targets: netCDF set %.2fx the three files (<= 1.2: %s), pandas set %.2fx (<= 1.2: %s), export peak RSS %.2fx a file'"'"'s export (<= 1.5: %s) and %+.1f MiB from the small set to the large one (flat within 16 MiB: %s)\n",
    ns / n1, ns <= 1.2 * n1 ? "yes" : "no", ps / p1, ps <= 1.2 * p1 ? "yes" : "no",
    b / one, b <= 1.5 * one ? "yes" : "no", (b - a) / 1024, (b - a) <= 16384 ? "yes" : "no" }'
