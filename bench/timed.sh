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
