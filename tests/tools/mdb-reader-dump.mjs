// Prints one table of an Access file through the mdb-reader package, one JSON array per record
// (column names first), so that tests can compare what an independent reader sees.
// Usage: node mdb-reader-dump.mjs FILE TABLE
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, table] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
const t = reader.getTable(table);
const names = t.getColumnNames();
console.log(JSON.stringify(names));
for (const row of t.getData()) {
  console.log(JSON.stringify(names.map((n) => {
    const v = row[n];
    if (v instanceof Date) return v.toISOString();
    if (Buffer.isBuffer(v)) return "0x" + v.toString("hex");
    if (typeof v === "bigint") return v.toString();
    return v;
  })));
}
