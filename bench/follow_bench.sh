#!/usr/bin/env bash
# Following a recording while it is written against exporting it once it is
# finished: the CPU seconds (user + system) of `cdt export --follow` on a
# recording that `cdt synth --live max` writes meanwhile, of the same follow
# on the finished file, and of `cdt export` of the finished file, then a line
# saying whether following costs at most 1.1 times the export; and the
# latency of the lines (from the record that completes a line reaching the
# file to the line reaching the output), as the follow test of an optimized
# build measures it at a pace of a revolution every 10 ms.
#
#   bench/follow_bench.sh BUILD_DIR
#
# Environment: BENCH_DIR (work directory, default build/bench-follow),
# BENCH_MB (size of the recording, default 200).
set -euo pipefail
build=$(realpath "$1")
cdt=$build/tools/cdt
work=${BENCH_DIR:-build/bench-follow}
size=${BENCH_MB:-200}
mkdir -p "$work"
work=$(realpath "$work")
name=Rig1.0000.Daq1.2011-05-06.12-30-00

# CPU seconds of COMMAND... (user + system of it and its threads).
cpu() {
  /usr/bin/time -f '%U %S' -o "$work/cpu" "$@" >/dev/null
  awk '{ printf "%.2f\n", $1 + $2 }' "$work/cpu"
}

best_cpu() {  # RUNS COMMAND... -> the least CPU seconds of RUNS runs
  local runs=$1 best="" s
  shift
  for ((run = 0; run < runs; run++)); do
    s=$(cpu "$@")
    if [ -z "$best" ] || awk -v a="$s" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$s; fi
  done
  echo "$best"
}

rec=$work/finished
if [ ! -f "$rec/$name.cdt" ]; then
  rm -rf "$rec"
  "$cdt" synth --size "$size" --profiles 1000 "$rec" >/dev/null
fi
export_s=$(best_cpu 3 "$cdt" export -o "$work/out" "$rec/$name.cdt")
finished_s=$(best_cpu 3 "$cdt" export --follow -o "$work/out" "$rec/$name.cdt")

live_best=""
for run in 1 2 3; do
  rm -rf "$work/live"
  "$cdt" synth --live max --size "$size" --profiles 1000 "$work/live" >/dev/null &
  writer=$!
  s=$(cpu "$cdt" export --follow --idle 30 -o "$work/out" "$work/live/$name.cdt")
  wait "$writer"
  cmp -s "$work/out/$name.csv" <(cd "$work" && "$cdt" export -o out-check "live/$name.cdt" >/dev/null && cat "out-check/$name.csv") ||
    { echo "follow_bench.sh: the followed CSV differs from the finished file's" >&2; exit 1; }
  if [ -z "$live_best" ] || awk -v a="$s" -v b="$live_best" 'BEGIN { exit !(a < b) }'; then live_best=$s; fi
done

printf '%-44s %8s\n' "${size} MB recording, CPU seconds" "seconds"
printf '%-44s %8s\n' "cdt export (finished file)" "$export_s"
printf '%-44s %8s\n' "cdt export --follow (finished file)" "$finished_s"
printf '%-44s %8s\n' "cdt export --follow (while synth --live max)" "$live_best"
awk -v f="$live_best" -v e="$export_s" 'BEGIN {
  printf "following costs %.2fx the CPU of the export: %s (target at most 1.1x)\n", f / e,
    (f <= 1.1 * e ? "met" : "NOT met") }'

test=$build/tools/tools_export_follow_test
if [ -x "$test" ]; then
  "$test" --gtest_filter='*SoonAfter*' | grep 'line latency' || true
fi
