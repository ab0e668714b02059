#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time on a copy of
# its seed corpus.
#
#   scripts/fuzz.sh                 every target in fuzz/*_fuzz.cpp
#   scripts/fuzz.sh tokenizer ...   only these targets (names without _fuzz)
#
# Environment: FUZZ_SECONDS (per target, default 60), FUZZ_DIR (build
# directory, default build/fuzz), JOBS (build jobs, default nproc), WERROR
# (ON to build with -Werror).
#
# The corpus of a target grows in $FUZZ_DIR/corpus/<target>, seeded from
# fuzz/corpus/<target>; the committed seeds never change here. A crash, leak,
# sanitizer report or timeout leaves its input in $FUZZ_DIR/artifacts/<target>/
# and the log in $FUZZ_DIR/logs/<target>.log; the script runs the remaining
# targets and then exits with status 1, naming each input.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
dir=${FUZZ_DIR:-build/fuzz}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# The longest input each target is given: a few tiny recordings, a whole
# configuration text, token lines and quoted strings.
max_len_of() {
  case "$1" in
    datafile_csv | analysis) echo 131072 ;;
    config_text) echo 16384 ;;
    tokenizer) echo 4096 ;;
    unquote) echo 1024 ;;
    *) echo 4096 ;;
  esac
}

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzz}")
  done
fi

# The preset fuzz (CMakePresets.json), in $dir.
cmake --preset fuzz -B "$dir" -DCDT_WERROR="${WERROR:-OFF}" >/dev/null
binaries=()
for target in "${targets[@]}"; do binaries+=("${target}_fuzz"); done
cmake --build "$dir" -j "$jobs" --target "${binaries[@]}"

failed=()
for target in "${targets[@]}"; do
  corpus=$dir/corpus/$target
  artifacts=$dir/artifacts/$target
  log=$dir/logs/$target.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  if [ -d "fuzz/corpus/$target" ]; then cp -R "fuzz/corpus/$target/." "$corpus/"; fi

  echo "== $target: ${seconds} s"
  status=0
  "$dir/fuzz/${target}_fuzz" "$corpus" \
    -max_total_time="$seconds" -max_len="$(max_len_of "$target")" -rss_limit_mb=2048 \
    -timeout=60 -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?
  # libFuzzer's last status line and its final statistics.
  grep -E '^#[0-9]+' "$log" | tail -n 1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" |
    tr '\n' ' ' || true
  echo
  if [ "$status" -ne 0 ]; then
    echo "$target: FAILED (status $status), log in $log" >&2
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -n 5 >&2 || true
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing found failures in: ${failed[*]} (inputs in $dir/artifacts/)" >&2
  exit 1
fi
echo "fuzzing: every target ran ${seconds} s without a failure"
