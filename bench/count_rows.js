// Rows of every user table as mdb-reader reads them: "tabla<TAB>filas" per line.
// Usage: node bench/count_rows.js FILE (NODE_PATH pointing at build/node/node_modules).
const fs = require("fs");
const MDBReader = require("mdb-reader").default ?? require("mdb-reader");
const reader = new MDBReader(fs.readFileSync(process.argv[2]));
for (const name of reader.getTableNames().sort()) {
  process.stdout.write(`${name}\t${reader.getTable(name).getData().length}\n`);
}
