// Prints every user table of an Access file as read by the mdb-reader package, as JSON
// on stdout, for comparison with our own reader. Values JSON cannot carry exactly are
// tagged: {"hex"} binary, {"ms"} dates (ms since 1970), {"bigint"}, {"num"} non-finite,
// {"complex"} attachment count, {"unread"} a complex value the reader fails on. A table
// the reader cannot read at all (a damaged file) carries {"error"} in place of its rows.
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

// mdb-reader 3.2.0 throws on an attachment whose file data is empty (its attachment decoder
// reads the length of an undefined value: "Failed to read complex column"), and then
// nothing of the table is read. The other columns are read without the complex ones, which
// are tagged {"unread"} with the reader's error.
function rowsOf(table, columns) {
  try {
    return table.getData().map((row) => columns.map((c) => plain(row[c.name])));
  } catch (error) {
    if (!columns.some((c) => c.type === "complex")) throw error;
    const unread = { unread: String(error.cause ?? error) };
    const simple = columns.filter((c) => c.type !== "complex").map((c) => c.name);
    return table.getData({ columns: simple }).map((row) =>
      columns.map((c) => (c.type === "complex" ? unread : plain(row[c.name]))));
  }
}

function tableOf(reader, name) {
  try {
    const table = reader.getTable(name);
    const columns = table.getColumns().map((c) => ({ name: c.name, type: c.type }));
    return { name, columns, rows: rowsOf(table, columns) };
  } catch (error) {
    return { name, error: String(error) };
  }
}

const reader = new MDBReader(readFileSync(file));
const tables = reader.getTableNames().map((name) => tableOf(reader, name));
process.stdout.write(JSON.stringify({ tables }));
