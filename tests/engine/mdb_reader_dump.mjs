// Prints every user table of an Access file as read by the mdb-reader package, as JSON
// on stdout, for comparison with our own reader. Values JSON cannot carry exactly are
// tagged: {"hex"} binary, {"ms"} dates (ms since 1970), {"bigint"}, {"num"} non-finite,
// {"complex"} attachment count.
//   node mdb_reader_dump.mjs NODE_MODULES_DIR FILE
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { pathToFileURL } from "node:url";
import path from "node:path";

const [modules, file] = process.argv.slice(2);
const entry = createRequire(path.join(path.resolve(modules), "noop.js")).resolve("mdb-reader");
const { default: MDBReader } = await import(pathToFileURL(entry).href);

function plain(value) {
  if (value === null || value === undefined) return null;
  if (Buffer.isBuffer(value)) return { hex: value.toString("hex") };
  if (value instanceof Date) return { ms: value.getTime() };
  if (typeof value === "bigint") return { bigint: value.toString() };
  if (typeof value === "number" && !Number.isFinite(value)) return { num: String(value) };
  if (Array.isArray(value)) return { complex: value.length };
  return value;
}

const reader = new MDBReader(readFileSync(file));
const tables = reader.getTableNames().map((name) => {
  const table = reader.getTable(name);
  const columns = table.getColumns().map((c) => ({ name: c.name, type: c.type }));
  const rows = table.getData().map((row) => columns.map((c) => plain(row[c.name])));
  return { name, columns, rows };
});
process.stdout.write(JSON.stringify({ tables }));
