#!/usr/bin/env bash
# cdt2csv.exe and cdt.exe under Wine against the Linux build:
#   - a recording named with letters outside ASCII converts to a CSV of the
#     same name, which is the Linux build's CSV with every LF as CR LF;
#   - a wildcard argument is expanded by the program itself;
#   - an output that cannot be written gives "Can not write output file" and
#     status 1;
#   - cdt.exe makes a recording that converts to the same CSV as on Linux,
#     and exports it to the same Parquet file.
# Usage: windows-end-to-end.sh WINDOWS_BUILD_DIR LINUX_CDT2CSV
set -euo pipefail
windows_dir=$(cd "$1" && pwd)
linux_cdt2csv=$(realpath "$2")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
export CDT_WINEPREFIX="$windows_dir/wineprefix"
run() { "$source_dir/scripts/wine-run.sh" "$@"; }
cdt2csv="$windows_dir/driver/cdt2csv.exe"
cdt="$windows_dir/tools/cdt.exe"

work=$(mktemp -d "$windows_dir/end-to-end.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
check() {
  if [ "$2" = "$3" ]; then echo "ok: $1"; else
    echo "FAILED: $1: expected [$3], got [$2]" >&2
    failures=$((failures + 1))
  fi
}
crlf() { sed 's/$/\r/' "$1"; }

mkdir -p "$work/linux" "$work/windows"
name='Prüfstand Läufe-東京'
cp "$source_dir/examples/sample.cdt" "$work/$name.cdt"
(cd "$work/linux" && "$linux_cdt2csv" "../$name.cdt" >/dev/null)

# A name outside ASCII, read as UTF-16 from the command line.
status=0
(cd "$work/windows" && run "$cdt2csv" "../$name.cdt" >out.txt 2>err.txt) || status=$?
check "status of a non-ASCII name" "$status" 0
check "a CSV of the same name" "$(ls "$work/windows" | grep -c "^$name.csv$")" 1
check "the Linux CSV with CR LF" \
  "$(crlf "$work/linux/$name.csv" | cmp -s - "$work/windows/$name.csv" && echo same)" same
check "message names the files" "$(tr -d '\r' <"$work/windows/out.txt" | sed 's/^.*: in=/in=/')" \
  "in=../$name.cdt, out=$name.csv"

# A wildcard the program expands itself (no shell in between under Wine).
cp "$source_dir/examples/sample.cdt" "$work/run1.cdt"
cp "$source_dir/examples/sample.cdt" "$work/run2.cdt"
mkdir "$work/wild"
status=0
(cd "$work/wild" && run "$cdt2csv" '..\run?.cdt' >out.txt 2>err.txt) || status=$?
check "status of a wildcard" "$status" 0
check "wildcard expanded" "$(ls "$work/wild" | grep -c '^run[12]\.csv$')" 2

# An output whose writes fail (the name is a link to /dev/full on the
# POSIX side, which Wine opens as it is).
mkdir "$work/full"
ln -s /dev/full "$work/full/run1.csv"
status=0
(cd "$work/full" && run "$cdt2csv" ../run1.cdt >out.txt 2>err.txt) || status=$?
check "status of an unwritable output" "$status" 1
check "message of an unwritable output" "$(tr -d '\r' <"$work/full/err.txt" | sed 's/^.*: Can not/Can not/')" \
  "Can not write output file 'run1.csv'"

# cdt.exe makes the same recording as cdt does, and it converts the same.
linux_cdt=$(dirname "$(dirname "$linux_cdt2csv")")/tools/cdt
if [ -x "$linux_cdt" ]; then
  (cd "$work/linux" && "$linux_cdt" synth --revolutions 200 --hosts 1 synth >/dev/null)
  (cd "$work/windows" && run "$cdt" synth --revolutions 200 --hosts 1 synth >/dev/null)
  check "cdt synth makes the same bytes" \
    "$(cmp -s "$work/linux/synth/"*.cdt "$work/windows/synth/"*.cdt && echo same)" same
  # Our own Parquet writer, with zlib's GZIP pages, writes the same file on
  # both (its footer names the version, so only when the builds' agree).
  if [ "$("$linux_cdt" --version)" = "$(run "$cdt" --version | tr -d '\r')" ]; then
    for dir in linux windows; do
      mkdir "$work/$dir/in" && cp "$work/linux/synth/"*.cdt "$work/$dir/in/run.cdt"
    done
    (cd "$work/linux" && "$linux_cdt" export -o pq --format parquet --compress 6 in/run.cdt >/dev/null)
    (cd "$work/windows" && run "$cdt" export -o pq --format parquet --compress 6 in/run.cdt >/dev/null)
    check "cdt export --format parquet writes the same bytes" \
      "$(cmp -s "$work/linux/pq/run.parquet" "$work/windows/pq/run.parquet" && echo same)" same
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures end-to-end checks failed" >&2
  exit 1
fi
echo "all end-to-end checks passed"
