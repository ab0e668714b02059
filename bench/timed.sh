# Sourced by the bench scripts. timed DIR COMMAND...: runs COMMAND in DIR and
# prints its wall seconds and its peak resident memory in KiB (GNU time's %M
# into $rss_file, which the caller sets). Earlier output is flushed to disk
# first, so that every run starts with the same amount of dirty page cache.
timed() {
  local dir=$1 start end
  shift
  sync
  start=$(date +%s%N)
  (cd "$dir" && /usr/bin/time -f %M -o "$rss_file" "$@" >/dev/null)
  end=$(date +%s%N)
  awk -v s="$start" -v e="$end" -v r="$(tail -n 1 "$rss_file")" \
    'BEGIN { printf "%.3f %d\n", (e - s) / 1e9, r }'
}

# timed_cpu DIR COMMAND...: as timed, then the command's CPU seconds (user
# and system) as a third figure.
timed_cpu() {
  local dir=$1 start end
  shift
  sync
  start=$(date +%s%N)
  (cd "$dir" && /usr/bin/time -f '%M %U %S' -o "$rss_file" "$@" >/dev/null)
  end=$(date +%s%N)
  tail -n 1 "$rss_file" | awk -v s="$start" -v e="$end" \
    '{ printf "%.3f %d %.3f\n", (e - s) / 1e9, $1, $2 + $3 }'
}

# Write-back on a shared machine makes single runs of a second or so vary by a
# third, so the runs that enter a speed target keep the best of three.
best_of() {  # RUNS OUT_DIR COMMAND... -> best seconds and the peak RSS of that run
  local runs=$1 out=$2 best="" seconds rss
  shift 2
  for ((run = 0; run < runs; run++)); do
    rm -rf "$out" && mkdir -p "$out"
    read -r seconds rss < <(timed "$out" "$@")
    if [ -z "$best" ] || awk -v a="$seconds" -v b="${best% *}" 'BEGIN { exit !(a < b) }'; then
      best="$seconds $rss"
    fi
  done
  echo "$best"
}
