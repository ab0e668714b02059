#!/usr/bin/env bash
# Runs an SQL query with DuckDB over Parquet files that cdt export wrote, and
# prints the result as CSV (a header, then one line per row).
#   scripts/duckdb-query.sh FILES SQL
# FILES is a file or a quoted glob ('pq/*.parquet'); the query sees it as the
# table `data`:
#   scripts/duckdb-query.sh 'pq/*.parquet' 'select max("Speed") from data'
# DuckDB is the npm package @duckdb/node-api, run with Node.js, at the version
# of tools/clients/node/package-lock.json; scripts/check-prereqs.sh --duckdb
# installs it outside the tree (Node.js and npm with apt-get as root) when it
# is missing. CDT_NODE_MODULES names another node_modules folder.
set -euo pipefail
if [ $# -ne 2 ]; then
  sed -n '2,11s/^# \{0,1\}//p' "$0" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
modules=${CDT_NODE_MODULES:-$("$here/check-prereqs.sh" --node-modules)}
if ! command -v node >/dev/null 2>&1 || [ ! -d "$modules/@duckdb/node-api" ]; then
  "$here/check-prereqs.sh" --duckdb >&2
  if [ ! -d "$modules/@duckdb/node-api" ]; then
    echo "duckdb-query: DuckDB's npm package is not in $modules" >&2
    exit 1
  fi
fi

# Node's require takes the package from the folder named; ES modules would
# look for it beside the script only.
CDT_DUCKDB="$modules/@duckdb/node-api" node - "$1" "$2" <<'JS'
const { DuckDBInstance } = require(process.env.CDT_DUCKDB);
const [files, sql] = process.argv.slice(2);

// A 32-bit float in the fewest digits that give it back (2756.0137, not
// the double 2756.013671875 it widens to).
function float32(v) {
  for (let digits = 1; digits <= 9; ++digits) {
    const text = v.toPrecision(digits);
    if (Math.fround(Number(text)) === v) return String(Number(text));
  }
  return String(v);
}

// A value as a CSV cell: null empty, text quoted when it needs it.
function cell(v, type) {
  if (v === null || v === undefined) return '';
  let text;
  if (typeof v === 'number' && type === 'FLOAT' && Number.isFinite(v)) {
    text = float32(v);
  } else {
    text = typeof v === 'object' ? JSON.stringify(v) : String(v);
  }
  return /[",\n\r]/.test(text) ? `"${text.replace(/"/g, '""')}"` : text;
}

(async () => {
  const db = await DuckDBInstance.create(':memory:');
  const connection = await db.connect();
  // A view takes no parameters: the path as an SQL string literal.
  const literal = `'${files.replace(/'/g, "''")}'`;
  await connection.run(`CREATE VIEW data AS SELECT * FROM read_parquet(${literal})`);
  const reader = await connection.runAndReadAll(sql);
  const types = reader.columnTypes().map((t) => t.toString());
  const lines = [reader.columnNames().map((name) => cell(name)).join(',')];
  for (const row of reader.getRowsJson()) {
    lines.push(row.map((v, i) => cell(v, types[i])).join(','));
  }
  process.stdout.write(lines.join('\n') + '\n');
})().catch((error) => {
  process.stderr.write(`duckdb-query: ${error.message}\n`);
  process.exit(1);
});
JS
