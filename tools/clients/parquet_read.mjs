// Reads a Parquet file with an independent reader and prints what it found
// as JSON, for check_parquet_clients.sh to compare with the CSV:
//   node parquet_read.mjs duckdb FILE [WHERE]   every row (of the WHERE clause)
//   node parquet_read.mjs hyparquet FILE        every row
//   node parquet_read.mjs metadata FILE         DuckDB's view of the footer
// Values: numbers as JSON numbers (a float column's values are exact as
// doubles), "NaN" and "Infinity" as strings, nulls as null, 64-bit integers
// and timestamps (microseconds) as decimal strings, booleans as booleans.
import { DuckDBInstance } from '@duckdb/node-api';
import { asyncBufferFromFile, parquetMetadataAsync, parquetReadObjects, parquetSchema } from 'hyparquet';
import { compressors } from 'hyparquet-compressors';

const [mode, file, where] = process.argv.slice(2);

function value(v) {
  if (v === null || v === undefined) return null;
  if (typeof v === 'bigint') return v.toString();
  if (typeof v === 'number') return Number.isFinite(v) ? v : String(v);
  if (typeof v === 'boolean' || typeof v === 'string') return v;
  if (typeof v === 'object' && 'micros' in v) return v.micros.toString();
  if (v instanceof Uint8Array) return Buffer.from(v).toString('utf8');
  return String(v);
}

async function duckdb(sql, params) {
  const db = await DuckDBInstance.create(':memory:');
  const connection = await db.connect();
  const reader = await connection.runAndReadAll(sql, params);
  return {
    columns: reader.columnNames(),
    types: reader.columnTypes().map((t) => t.toString()),
    rows: reader.getRows().map((row) => row.map(value)),
  };
}

let out;
if (mode === 'duckdb') {
  out = await duckdb(`SELECT * FROM read_parquet($1)${where ? ` WHERE ${where}` : ''}`, [file]);
} else if (mode === 'hyparquet') {
  const buffer = await asyncBufferFromFile(file);
  const metadata = await parquetMetadataAsync(buffer);
  const columns = parquetSchema(metadata).children.map((c) => c.element.name);
  // Timestamps as their microseconds, not as a Date of milliseconds.
  const parsers = { timestampFromMicroseconds: (micros) => BigInt(micros) };
  const rows = await parquetReadObjects({ file: buffer, metadata, compressors, parsers });
  out = { columns, rows: rows.map((row) => columns.map((c) => value(row[c]))) };
} else if (mode === 'metadata') {
  const stats = await duckdb(
    `SELECT row_group_id, row_group_num_rows, path_in_schema, type, stats_min_value,
            stats_max_value, stats_null_count, compression, data_page_offset,
            total_compressed_size
     FROM parquet_metadata($1) ORDER BY row_group_id, column_id`, [file]);
  const schema = await duckdb(
    'SELECT name, type, repetition_type, converted_type, logical_type FROM parquet_schema($1)', [file]);
  const kv = await duckdb('SELECT decode(key) AS key, decode(value) AS value FROM parquet_kv_metadata($1)', [file]);
  out = { stats: stats.rows, schema: schema.rows, kv: Object.fromEntries(kv.rows) };
} else {
  console.error(`parquet_read: unknown mode '${mode}'`);
  process.exit(2);
}
process.stdout.write(JSON.stringify(out));
