#!/usr/bin/env bash
# Independent readers of cdt export's Parquet files: DuckDB and hyparquet (from
# npm, run with Node.js) read every row of files of awkward recordings
# (Windows-1252 names, a name twice, stages of 3 and 2 blades, a cut last
# record, recorded NaNs) in the wide and long layouts, uncompressed and
# compressed, and of a recording set with a host that drops lines; each value
# must be the CSV's (floats formatted as the CSV formats them, nulls exactly
# where its cells are empty, NaN where they are nan).
# Then DuckDB's view of the footer: the Time and revolution statistics of
# every row group and the metadata, and a revolution filter that reads only
# the row groups it needs (the others' pages are overwritten, and the query
# still answers).
#   check_parquet_clients.sh BUILD_DIR [NODE_MODULES]
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
modules=${2:-${CDT_NODE_MODULES:-$("$here/../../scripts/check-prereqs.sh" --node-modules)}}
if ! command -v node >/dev/null 2>&1 || [ ! -d "$modules/@duckdb/node-api" ] ||
   [ ! -d "$modules/hyparquet-compressors" ]; then
  echo "Node.js with DuckDB and hyparquet is missing: scripts/check-prereqs.sh --clients installs them"
  exit 77
fi
help=$("$build/tools/cdt" export --help)
if [[ $help != *parquet* ]]; then
  echo "this build's cdt export has no Parquet format"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# ES modules find their packages beside the script, not through NODE_PATH.
cp "$here/parquet_read.mjs" .
ln -s "$modules" node_modules
cdt=$build/tools/cdt

"$cdt" synth --revolutions 300 --probes 4 --stages 2 --blades 3,2 --extras 0 --damage \
  --nan-cells 7 --name Odd --probe-names 'Sonde Süd,Same,Same,Other' odd >/dev/null
input=$(ls odd/*.cdt)
odd=$(basename "$input" .cdt)
"$build/driver/cdt2csv" "$input" >/dev/null
"$cdt" config "$input" >"$odd.cfg"
"$cdt" export -o long --layout long "$input" >/dev/null 2>&1
"$cdt" export -o plain --format parquet "$input" >/dev/null 2>&1
"$cdt" export -o plain --format parquet --layout long "$input" -o plainlong >/dev/null 2>&1
"$cdt" export -o gzip --format parquet --codec gzip --compress 6 "$input" >/dev/null 2>&1
codecs="plain gzip"
if "$cdt" export -o zstd --format parquet --codec zstd --compress 3 "$input" >/dev/null 2>&1; then
  codecs="$codecs zstd"
fi
# Row groups of 40 lines, for the statistics and the filter.
"$cdt" export -o groups --format parquet --row-group 40 "$input" >/dev/null 2>&1

"$cdt" synth --hosts 2 --revolutions 60 --probes 2 --blades 3 --extras 0 --drop 2:5 \
  --nan-cells 3 set >/dev/null
"$cdt" export --set -o setout set >/dev/null
"$cdt" export --set -o setout --format parquet set >/dev/null
setname=Rig1.0000.2011-05-06.12-30-00

read_all() {  # MODE FILE [WHERE] > JSON
  node parquet_read.mjs "$@"
}
for c in $codecs; do
  read_all duckdb "$c/$odd.parquet" >"$c.duckdb.json"
  read_all hyparquet "$c/$odd.parquet" >"$c.hyparquet.json"
done
read_all duckdb "plainlong/$odd.parquet" >long.duckdb.json
read_all hyparquet "plainlong/$odd.parquet" >long.hyparquet.json
read_all duckdb "setout/$setname.parquet" >set.duckdb.json
read_all hyparquet "setout/$setname.parquet" >set.hyparquet.json
read_all metadata "groups/$odd.parquet" >groups.meta.json
read_all duckdb "groups/$odd.parquet" >groups.duckdb.json

/usr/bin/python3 - "$odd" "$codecs" "$setname" <<'PY'
import csv
import json
import math
import sys

odd, codecs, setname = sys.argv[1], sys.argv[2].split(), sys.argv[3]


def rows_of(path, encoding):
    with open(path, encoding=encoding, newline="") as f:
        return list(csv.reader(f))


def text(column, v):
    """The CSV cell a Parquet value of the named column stands for."""
    if v is None:
        return ""
    if column == "Time":  # microseconds; the CSV shows hundredths
        return int(v)
    if column == "Sync":
        return "Yes" if v else "No"
    if isinstance(v, bool):
        raise AssertionError(f"{column}: a boolean")
    if isinstance(v, str) and v in ("NaN", "Infinity", "-Infinity"):
        return {"NaN": "nan", "Infinity": "inf", "-Infinity": "-inf"}[v]
    if isinstance(v, float) or (isinstance(v, int) and column in ("Speed",)):
        return "%.6g" % v if column == "Speed" else "%.8g" % v
    return str(v)


def micros(cell):
    day, clock = cell.split(" ")
    import datetime
    t = datetime.datetime.fromisoformat(f"{day}T{clock}0000").replace(tzinfo=datetime.timezone.utc)
    return round(t.timestamp() * 1e6)


def compare(name, found, csv_rows, floats):
    header, body = csv_rows[0], csv_rows[1:]
    columns, rows = found["columns"], found["rows"]
    assert len(columns) == len(header), (name, columns, header)
    assert len(rows) == len(body), (name, len(rows), len(body))
    for i, (row, cells) in enumerate(zip(rows, body)):
        assert len(row) == len(cells), (name, i)
        for column, v, cell in zip(header, row, cells):
            if column == "Time":
                assert (int(v) + 5000) // 10000 * 10000 == micros(cell), (name, i, v, cell)
                continue
            if column not in floats and isinstance(v, float) and v == int(v):
                v = int(v)  # hyparquet gives small integers as numbers
            t = text(column, v if column in floats or not isinstance(v, float) else v)
            if t in ("nan",) and cell in ("nan", "-nan"):
                continue
            assert t == cell, (name, i, column, v, cell)


wide = rows_of(f"{odd}.csv", "cp1252")
assert wide[-1][-1] == "", "the cut record leaves empty cells"
assert sum(c == "nan" for r in wide for c in r) > 50, "recorded NaNs"
floats = {c for c in wide[0][5:]} | {"Speed"}
for c in codecs:
    for reader in ("duckdb", "hyparquet"):
        found = json.load(open(f"{c}.{reader}.json"))
        compare(f"{c} {reader}", found, wide, floats)
        # Names as text; a name two probes share made distinct.
        assert found["columns"][:6] == ["Time", "Speed", "Sync", "Start Rev", "End Rev",
                                        "Sonde Süd RMS"], found["columns"][:6]
        assert len(set(found["columns"])) == len(found["columns"])
long = rows_of(f"long/{odd}.csv", "cp1252")
for reader in ("duckdb", "hyparquet"):
    compare(f"long {reader}", json.load(open(f"long.{reader}.json")), long,
            {"Speed", "RMS", "DNS", "TOA"} | set(long[0][5:]) - {"Probe", "Blade"})
types = json.load(open("plain.duckdb.json"))["types"]
assert types[:5] == ["TIMESTAMP WITH TIME ZONE", "FLOAT", "BOOLEAN", "UBIGINT", "UBIGINT"], types[:5]
setcsv = rows_of(f"setout/{setname}.csv", "cp1252")
statuses = {c for c in setcsv[0] if c.endswith(" Status")}
for reader in ("duckdb", "hyparquet"):
    found = json.load(open(f"set.{reader}.json"))
    compare(f"set {reader}", found, setcsv, set(setcsv[0][5:]) - statuses | {"Speed"})
assert sum(r[-1] == "1" for r in setcsv[1:]) == 12

# The statistics of every row group: those of its rows.
meta = json.load(open("groups.meta.json"))
rows = json.load(open("groups.duckdb.json"))["rows"]
assert len(rows) == len(wide) - 1
groups = sorted({int(s[0]) for s in meta["stats"]})
assert len(groups) == math.ceil(len(rows) / 40) > 5, groups
start = 0
for g in groups:
    stats = {s[2]: s for s in meta["stats"] if int(s[0]) == g}
    n = int(stats["Time"][1])
    part = rows[start:start + n]
    for column, index in (("Start Rev", 3), ("End Rev", 4)):
        values = [int(r[index]) for r in part]
        assert (int(stats[column][4]), int(stats[column][5])) == (min(values), max(values)), (g, column)
    assert stats["Time"][4] is not None and stats["Time"][5] is not None
    start += n
assert start == len(rows)
schema = {s[0]: s for s in meta["schema"]}
time = str(schema["Time"][4])
assert time.startswith("TimestampType(isAdjustedToUTC=1") and "MICROS=MicroSeconds()" in time, time
assert "UINT_64" in str(schema["Start Rev"][3]), schema["Start Rev"]
config = open(f"{odd}.cfg", encoding="cp1252", newline="").read()
assert meta["kv"]["cdt.configuration"] == config
assert meta["kv"]["cdt.source"].endswith(f"{odd}.cdt")
units = json.loads(meta["kv"]["cdt.units"])
assert [units["columns"][c] for c in ("Time", "Speed")] == ["time", "speed"], units["columns"]
assert units["quantities"]["speed"]["unit"] == "rpm" and units["quantities"]["blade_toa"]["unit"] == "us"
print(f"duckdb, hyparquet: {odd}.parquet ({', '.join(codecs)}; wide and long) and the set "
      f"{setname}.parquet hold the CSVs' values; {len(groups)} row groups with their statistics")
PY

# A revolution filter reads only the row groups whose statistics it needs:
# the pages of every other row group are overwritten, so that reading them
# fails, yet the filtered query gives the filter's lines.
cp "groups/$odd.parquet" pruned.parquet
/usr/bin/python3 - pruned.parquet groups.meta.json <<'PY'
import json
import sys

path, meta = sys.argv[1], json.load(open(sys.argv[2]))
skipped = {int(s[0]) for s in meta["stats"]
           if s[2] == "Start Rev" and (int(s[5]) < 100 or int(s[4]) > 139)}
assert len(skipped) >= 4, skipped
with open(path, "r+b") as f:
    for s in meta["stats"]:
        if int(s[0]) in skipped:
            f.seek(int(s[8]))
            f.write(b"\xff" * int(s[9]))
PY
if read_all duckdb pruned.parquet >/dev/null 2>&1; then
  echo "check_parquet_clients: the overwritten row groups read without an error" >&2
  exit 1
fi
read_all duckdb pruned.parquet '"Start Rev" BETWEEN 100 AND 139' >pruned.json
/usr/bin/python3 - pruned.json groups.duckdb.json <<'PY'
import json
import sys

found, whole = (json.load(open(p))["rows"] for p in sys.argv[1:])
assert found == [r for r in whole if 100 <= int(r[3]) <= 139] and len(found) == 40, len(found)
print("duckdb: a Start Rev filter reads only the row groups its statistics admit")
PY
