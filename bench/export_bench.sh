#!/usr/bin/env bash
# cdt export on the bench recordings: each format on the 100 MB and 1 GB
# recording (time, MB/s of input, output size, peak RSS; MATLAB level 5
# uncompressed and with --compress 1; Parquet uncompressed, with GZIP pages
# and with ZSTD pages where the build has them), then --jobs 1
# against --jobs 2 on four 200 MB recordings into uncompressed netCDF, and a
# line saying which targets hold.
#
#   bench/export_bench.sh BUILD_DIR
#
# Environment: BENCH_DIR (work directory, default build/bench-export),
# BENCH_SMALL=1 (10/100/20 MB recordings for a quick try), BENCH_KEEP=1.
set -euo pipefail
build=$(realpath "$1")
cdt=$build/tools/cdt
work=${BENCH_DIR:-build/bench-export}
mkdir -p "$work"
work=$(realpath "$work")
rss_file=$work/rss
if [ "${BENCH_SMALL:-0}" = 1 ]; then small=10 large=100 part=20; else small=100 large=1000 part=200; fi
common=(--hosts 1 --probes 4 --stages 1 --blades 60 --profiles 1000 --extras 0)

# shellcheck source=bench/timed.sh
source "$(dirname "$0")/timed.sh"

recording() {  # name size-MB [seed] -> path; each seed names its file apart
  local dir=$work/$1
  if [ ! -d "$dir" ]; then
    "$cdt" synth "${common[@]}" --size "$2" --seed "${3:-1}" --name "Rig${3:-1}" "$dir" >/dev/null
  fi
  realpath "$(ls "$dir"/*.cdt | head -n 1)"
}

rows=()
for size in "$small" "$large"; do
  input=$(recording "rev-${size}MB" "$size")
  in_bytes=$(stat -c %s "$input")
  formats=("csv" "netcdf" "netcdf --compress 1" "mat" "mat --compress 1" "mat --mat73" "parquet"
           "parquet --codec gzip --compress 1")
  if [[ $("$cdt" export --help) == *zstd* ]]; then formats+=("parquet --codec zstd --compress 3"); fi
  for format in "${formats[@]}"; do
    out=$work/out
    read -r -a opts <<<"--format $format"
    case $format in csv | netcdf | mat | parquet) runs=3 ;; *) runs=1 ;; esac
    # The default --jobs: a single file's writing runs beside its reading.
    read -r seconds rss < <(best_of "$runs" "$out" "$cdt" export "${opts[@]}" "$input")
    bytes=$(stat -c %s "$(ls "$out"/* | head -n 1)")
    rows+=("${size}MB|$format|$in_bytes|$seconds|$bytes|$rss")
    echo "  ${size} MB, $format: $seconds s" >&2
  done
  rm -rf "$work/out"
done

parts=()
for seed in 1 2 3 4; do parts+=("$(recording "part-$seed" "$part" "$seed")"); done
read -r jobs1 _ < <(best_of 3 "$work/out" "$cdt" export --jobs 1 --format netcdf "${parts[@]}")
read -r jobs2 _ < <(best_of 3 "$work/out" "$cdt" export --jobs 2 --format netcdf "${parts[@]}")
rm -rf "$work/out"

echo
echo "cdt export ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%s\n' "${rows[@]}" | awk -F'|' -v small="${small}MB" -v large="${large}MB" \
  -v jobs1="$jobs1" -v jobs2="$jobs2" -v part="$part" '
  BEGIN { printf "%-8s %-20s %8s %9s %10s %9s\n", "file", "format", "time s", "in MB/s", "out MB", "RSS MiB" }
  {
    printf "%-8s %-20s %8.2f %9.1f %10.1f %9.1f\n", $1, $2, $4, $3 / 1e6 / $4, $5 / 1e6, $6 / 1024
    t[$1 "|" $2] = $4; out[$1 "|" $2] = $5; rss[$1 "|" $2] = $6 / 1024; input[$1] = $3
  }
  END {
    printf "\nfour %d MB recordings to netCDF, best of 3 each: --jobs 1 %.2f s, --jobs 2 %.2f s (%.2f x)\n", part,
      jobs1, jobs2, jobs1 / jobs2
    ok = 1
    c = t[large "|csv"] / t[large "|netcdf"] >= 3; ok = ok && c
    line = sprintf("targets: netCDF %.1f x faster than CSV >= 3 %s;",
      t[large "|csv"] / t[large "|netcdf"], c ? "holds" : "FAILS")
    c = out[large "|netcdf --compress 1"] <= input[large] / 2; ok = ok && c
    line = line sprintf(" --compress 1 output %.2f of the input <= 0.5 %s;",
      out[large "|netcdf --compress 1"] / input[large], c ? "holds" : "FAILS")
    c = t[large "|parquet"] <= t[large "|netcdf"]; ok = ok && c
    line = line sprintf(" Parquet %.2f x netCDF'"'"'s time <= 1 %s;",
      t[large "|parquet"] / t[large "|netcdf"], c ? "holds" : "FAILS")
    c = t[large "|csv"] / t[large "|parquet"] >= 3; ok = ok && c
    line = line sprintf(" Parquet %.1f x faster than CSV >= 3 %s;",
      t[large "|csv"] / t[large "|parquet"], c ? "holds" : "FAILS")
    line = line sprintf(" Parquet GZIP 1 output %.2f of the uncompressed, %.2f x its time;",
      out[large "|parquet --codec gzip --compress 1"] / out[large "|parquet"],
      t[large "|parquet --codec gzip --compress 1"] / t[large "|parquet"])
    if ((large "|parquet --codec zstd --compress 3") in t)
      line = line sprintf(" ZSTD 3 output %.2f, %.2f x its time;",
        out[large "|parquet --codec zstd --compress 3"] / out[large "|parquet"],
        t[large "|parquet --codec zstd --compress 3"] / t[large "|parquet"])
    # The RSS of a format at both sizes, and the most it may differ by.
    n = split("netcdf:1|mat --mat73:1|mat:16|mat --compress 1:16|parquet:1", fixed, "|")
    for (i = 1; i <= n; i++) {
      split(fixed[i], f, ":")
      d = rss[large "|" f[1]] - rss[small "|" f[1]]; if (d < 0) d = -d
      c = d <= f[2]; ok = ok && c
      line = line sprintf(" %s RSS %s vs %s differs by %.2f MiB <= %d %s;", f[1], small, large,
        d, f[2], c ? "holds" : "FAILS")
    }
    line = line sprintf(" mat %.2f x netCDF'"'"'s time;", t[large "|mat"] / t[large "|netcdf"])
    c = jobs1 / jobs2 >= 1.6; ok = ok && c
    line = line sprintf(" --jobs 2 %.2f x >= 1.6 %s", jobs1 / jobs2, c ? "holds" : "FAILS")
    print line (ok ? "; all targets hold" : "; NOT all targets hold")
  }'
if [ "${BENCH_KEEP:-0}" != 1 ]; then rm -rf "$work"; fi
