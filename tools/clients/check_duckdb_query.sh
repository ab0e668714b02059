#!/usr/bin/env bash
# The README's DuckDB example as written: the recording of its `cdt synth`
# example exported to Parquet, then scripts/duckdb-query.sh with the query
# the README shows, whose output must be the README's and the CSV's answer.
# Then the script's own refusals: a wrong query and a missing file fail with
# its message and status 1.
#   check_duckdb_query.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
modules=${CDT_NODE_MODULES:-$("$root/scripts/check-prereqs.sh" --node-modules)}
if ! command -v node >/dev/null 2>&1 || [ ! -d "$modules/@duckdb/node-api" ]; then
  echo "Node.js with DuckDB is missing: scripts/check-prereqs.sh --duckdb installs them"
  exit 77
fi
if [[ $("$build/tools/cdt" export --help) != *zstd* ]]; then
  echo "this build's cdt export has no Parquet ZSTD pages"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
ln -s "$root/scripts" scripts
export PATH="$build/tools:$build/driver:$PATH"

# The README's commands ("    $ ..." lines) and the output printed under the query.
readme=$root/README.md
synth=$(grep -m1 -E '^    \$ cdt synth --hosts 2 --revolutions 500 ' "$readme" | sed 's/^    \$ //')
export_line=$(grep -m1 -E '^    \$ cdt export .*--format parquet' "$readme" | sed 's/^    \$ //')
query=$(grep -m1 -E '^    \$ scripts/duckdb-query.sh ' "$readme" | sed 's/^    \$ //')
expected=$(sed -n "/^    \$ scripts\/duckdb-query.sh /,/^\$/p" "$readme" | sed '1d;$d;s/^    //')
[ -n "$synth" ] && [ -n "$export_line" ] && [ -n "$query" ] && [ -n "$expected" ] || {
  echo "check_duckdb_query: the README's example is not where it was" >&2
  exit 1
}
eval "$synth" >/dev/null
eval "$export_line" >/dev/null
got=$(eval "$query")
if [ "$got" != "$expected" ]; then
  printf 'check_duckdb_query: %s printed\n%s\nnot, as the README says,\n%s\n' "$query" "$got" "$expected" >&2
  exit 1
fi

# The same answer from the CSVs, in the CSV's digits.
cdt2csv rec/*.cdt >/dev/null
where=$(sed -n 's/.* where "Start Rev" between \([0-9]*\) and \([0-9]*\).*/\1 \2/p' <<<"$query")
/usr/bin/python3 - "$got" $where rec/*.cdt <<'PY'
import csv
import sys
from pathlib import Path

got, low, high, inputs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:]
speeds = []
for name in inputs:
    with open(Path(name).stem + ".csv", newline="") as f:
        speeds += [float(r["Speed"]) for r in csv.DictReader(f) if low <= int(r["Start Rev"]) <= high]
assert speeds, "no line in the README's revolution range"
header, value = got.splitlines()
assert "%.6g" % float(value) == "%.6g" % max(speeds), (value, max(speeds))
print(f"duckdb-query.sh: the README's query gives {value}, the CSVs' largest speed there")
PY

for args in "rec/none.parquet|select 1 from data" "pq/*.parquet|select nope from data"; do
  if out=$(scripts/duckdb-query.sh "${args%%|*}" "${args#*|}" 2>&1); then
    echo "check_duckdb_query: '${args#*|}' on ${args%%|*} did not fail: $out" >&2
    exit 1
  fi
  [[ $out == duckdb-query:* ]] || { echo "check_duckdb_query: $out" >&2; exit 1; }
done
echo "duckdb-query.sh: a wrong query and a missing file fail with its message"
