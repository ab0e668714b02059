#!/usr/bin/env bash
# End-to-end throughput of cdt2csv: makes benchmark recordings with `cdt
# synth`, converts each with cdt2csv and with the per-cell fprintf reference
# converter, writes as many bytes as the CSV holds with dd, and prints per
# file the medians of BENCH_RUNS runs, whether both CSVs are byte-identical,
# and whether the throughput and memory targets hold. The runs alternate the
# programs (cdt2csv, reference, dd, cdt2csv, ...), and the two ratios with
# targets are the medians of each run's ratio: cdt2csv against the reference
# in CPU time (user and system), and against dd in elapsed time. On the large
# one-revolution recording it then times a 1 s window exported (cdt export
# --from --to) at 10 % and at 90 % of the recording, best of BENCH_RUNS, and
# the window seeks of cdt_window_seek.
#
# usage: bench/run_bench.sh BUILD_DIR
#   BENCH_DIR   where the recordings and outputs go (default build/bench)
#   BENCH_RUNS  runs per program and file, at least 3 (default 3)
#   BENCH_KEEP  1 keeps the gigabyte files afterwards (default 0)
#   BENCH_SMALL 1 uses 10 MB and 100 MB files instead of 100 MB and 1 GB, to
#               try the script quickly; the targets are then only indicative
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR}
work=${BENCH_DIR:-build/bench}
runs=${BENCH_RUNS:-3}
keep=${BENCH_KEEP:-0}
[ "$runs" -ge 3 ] || runs=3

cdt=$build/tools/cdt
converter=$build/driver/cdt2csv
reference=$build/bench/cdt2csv_reference
window_seek=$build/bench/cdt_window_seek
for program in "$cdt" "$converter" "$reference" "$window_seek"; do
  [ -x "$program" ] || { echo "missing $program: build it first" >&2; exit 2; }
done
# GNU time gives the peak resident memory.
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time: apt-get install time" >&2; exit 2; }
converter=$(realpath "$converter")
reference=$(realpath "$reference")
cdt=$(realpath "$cdt")
window_seek=$(realpath "$window_seek")

# One host, four probes on channels 0 to 3 of one 60-blade stage, a profile
# every 1000 revolutions and nothing else besides the blade records.
common=(--hosts 1 --probes 4 --stages 1 --blades 60 --profiles 1000 --extras 0)
if [ "${BENCH_SMALL:-0}" = 1 ]; then
  small=10 large=100
else
  small=100 large=1000
fi
# name, synth options; the large one-revolution file is the one the targets name.
files=(
  "rev-${small}MB|--size $small"
  "rev-${large}MB|--size $large"
  "range-${large}MB|--size $large --aggregate 10"
)

mkdir -p "$work"
work=$(realpath "$work")
rss_file=$work/rss
# Room for the largest recording, its two CSVs (about 2.1 times the input
# each) and the dd file.
need_mb=$((large * 8 + 500))
free_mb=$(df -Pm "$work" | awk 'NR == 2 { print $4 }')
if [ "$free_mb" -lt "$need_mb" ]; then
  echo "need about $need_mb MB free under $work, have $free_mb MB" >&2
  exit 2
fi

# shellcheck source=bench/timed.sh
source "$(dirname "$0")/timed.sh"

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The best time of `runs` exports of the 1 s window from `percent` % of the
# time range of `input` into `dir`.
window_export() {  # input percent dir -> seconds
  local input=$1 percent=$2 dir=$3 range first last from best="" seconds rss
  range=$("$cdt" info "$input" | sed -n 's/^  time: \(.*\) to \(.*\)$/\1 \2/p')
  first=$(date -u -d "${range% *}" +%s)
  last=$(date -u -d "${range#* }" +%s)
  from=$(date -u -d "@$((first + (last - first) * percent / 100))" +%Y-%m-%dT%H:%M:%S)
  to=$(date -u -d "@$((first + (last - first) * percent / 100 + 1))" +%Y-%m-%dT%H:%M:%S)
  for ((run = 1; run <= runs; run++)); do
    rm -rf "$dir" && mkdir -p "$dir"
    read -r seconds rss < <(timed "$dir" "$cdt" export --from "$from" --to "$to" "$input")
    if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$seconds
    fi
  done
  rm -rf "$dir"
  echo "$best"
}

results=()
window_rows=()
identical=1
for entry in "${files[@]}"; do
  name=${entry%%|*}
  read -r -a options <<<"${entry#*|}"
  dir=$work/$name
  rm -rf "$dir"
  mkdir -p "$dir/fast" "$dir/reference"
  echo "making $name: cdt synth ${common[*]} ${options[*]}" >&2
  input=$("$cdt" synth "${common[@]}" "${options[@]}" "$dir/input" | tail -n 1)
  input=$(realpath "$input")
  csv=$(basename "${input%.*}").csv

  fast_times=() reference_times=() dd_times=() rss_values=() cpu_ratios=() dd_ratios=()
  for ((run = 1; run <= runs; run++)); do
    rm -f "$dir/fast/$csv"
    read -r seconds rss fast_cpu < <(timed_cpu "$dir/fast" "$converter" "$input")
    fast_times+=("$seconds")
    rss_values+=("$rss")
    rm -f "$dir/reference/$csv"
    read -r seconds rss reference_cpu < <(timed_cpu "$dir/reference" "$reference" "$input" "$csv")
    reference_times+=("$seconds")
    # GNU time counts CPU time in hundredths of a second.
    cpu_ratios+=("$(awk -v r="$reference_cpu" -v f="$fast_cpu" 'BEGIN { print r / (f > 0 ? f : 0.01) }')")
    bytes=$(stat -c %s "$dir/fast/$csv")
    rm -f "$dir/dd.out"
    read -r seconds rss < <(timed "$dir" dd if=/dev/zero of=dd.out bs=1M count="$bytes" \
      iflag=count_bytes status=none)
    dd_times+=("$seconds")
    dd_ratios+=("$(awk -v f="${fast_times[-1]}" -v d="$seconds" 'BEGIN { print f / d }')")
    echo "  run $run: cdt2csv ${fast_times[-1]} s (CPU $fast_cpu s), reference" \
      "${reference_times[-1]} s (CPU $reference_cpu s), dd ${dd_times[-1]} s" >&2
  done
  same=yes
  cmp -s "$dir/fast/$csv" "$dir/reference/$csv" || { same=NO; identical=0; }
  results+=("$name $(stat -c %s "$input") $bytes $(median "${fast_times[@]}") \
$(median "${reference_times[@]}") $(median "${dd_times[@]}") $(median "${rss_values[@]}") $same \
$(median "${cpu_ratios[@]}") $(median "${dd_ratios[@]}")")
  rm -f "$dir/dd.out" "$dir/fast/$csv" "$dir/reference/$csv"
  if [ "$name" = "rev-${large}MB" ]; then
    echo "timing 1 s windows of $name" >&2
    early=$(window_export "$input" 10 "$dir/window")
    late=$(window_export "$input" 90 "$dir/window")
    window_rows+=("$(awk -v n="$name" -v a="$early" -v b="$late" 'BEGIN {
      r = b / a
      printf "%s: 1 s window exported at 10 %% %.3f s, at 90 %% %.3f s; target: %.2f x <= 1.3 %s",
        n, a, b, r, r <= 1.3 ? "holds" : "FAILS" }')")
    window_rows+=("$("$window_seek" "$input")")
  fi
  if [ "$keep" != 1 ] && [ "$(stat -c %s "$input")" -gt 500000000 ]; then rm -f "$input"; fi
done

echo
echo "cdt2csv end to end, medians of $runs runs ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%s\n' "${results[@]}" | awk -v large="rev-${large}MB" -v range="range-${large}MB" \
  -v small="rev-${small}MB" '
  BEGIN {
    printf "%-14s %8s %8s %8s %9s %9s %9s %8s %8s %8s %7s %8s %9s\n", "file", "input MB",
      "CSV MB", "time s", "in MB/s", "CSV MB/s", "ref s", "speed-up", "CPU x", "dd s", "x dd",
      "RSS MiB", "identical"
  }
  {
    inMb = $2 / 1e6; csvMb = $3 / 1e6; t = $4; ref = $5; dd = $6; rss = $7 / 1024
    speedup[$1] = ref / t; cpu[$1] = $9; ratio[$1] = $10; mem[$1] = rss
    printf "%-14s %8.0f %8.0f %8.3f %9.1f %9.1f %9.3f %8.1f %8.1f %8.3f %7.2f %8.1f %9s\n", $1,
      inMb, csvMb, t, inMb / t, csvMb / t, ref, ref / t, $9, dd, $10, rss, $8
  }
  END {
    print ""
    for (i = 0; i < 2; ++i) {
      name = i == 0 ? small : large
      c1 = cpu[name] >= 15; c2 = ratio[name] <= 2
      printf "%s: cdt2csv vs reference (CPU) %.1fx, target >= 15x %s; cdt2csv vs dd %.2fx, " \
        "target <= 2x %s%s\n", name, cpu[name], c1 ? "holds" : "FAILS", ratio[name],
        c2 ? "holds" : "FAILS", name == large ? "" : " (indicative)"
    }
    ok = 1
    line = "targets:"
    c = cpu[large] >= 15; ok = ok && c
    line = line sprintf(" %s cdt2csv vs reference (CPU) %.1fx >= 15x %s;", large, cpu[large],
      c ? "holds" : "FAILS")
    c = ratio[large] <= 2; ok = ok && c
    line = line sprintf(" %s cdt2csv vs dd %.2fx <= 2x %s;", large, ratio[large],
      c ? "holds" : "FAILS")
    c = mem[large] <= 16; ok = ok && c
    line = line sprintf(" peak RSS %.1f MiB <= 16 %s;", mem[large], c ? "holds" : "FAILS")
    d = mem[large] - mem[small]; if (d < 0) d = -d
    c = d <= 1; ok = ok && c
    line = line sprintf(" RSS %s vs %s differs by %.2f MiB <= 1 %s;", small, large, d,
      c ? "holds" : "FAILS")
    c = speedup[range] >= 10; ok = ok && c
    line = line sprintf(" %s speed-up %.1f >= 10 %s", range, speedup[range], c ? "holds" : "FAILS")
    print ""
    print line (ok ? "; all targets hold" : "; NOT all targets hold")
  }'
if [ ${#window_rows[@]} -gt 0 ]; then
  echo
  printf '%s\n' "${window_rows[@]}"
fi
if [ "$identical" != 1 ]; then
  echo "cdt2csv and the reference wrote different CSV files" >&2
  exit 1
fi
