// Prints one table of an Access file through the mdb-reader package, one JSON array per record
// (column names first), so that tests can compare what an independent reader sees.
// Usage: node mdb-reader-dump.mjs FILE TABLE
//        node mdb-reader-dump.mjs --each FILE TABLE [FILE TABLE ...]
// With --each, many tables in one run (node is slow to start): each table's lines follow a line
// "#table N ok" or "#table N failed: REASON" (N counts the pairs from 0), and the exit status is 0.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

function dump(file, table) {
  const reader = new MDBReader(readFileSync(file));
  const t = reader.getTable(table);
  const names = t.getColumnNames();
  const lines = [JSON.stringify(names)];
  for (const row of t.getData()) {
    lines.push(JSON.stringify(names.map((n) => {
      const v = row[n];
      if (v instanceof Date) return v.toISOString();
      if (Buffer.isBuffer(v)) return "0x" + v.toString("hex");
      if (typeof v === "bigint") return v.toString();
      return v;
    })));
  }
  return lines;
}

const args = process.argv.slice(2);
if (args[0] === "--each") {
  for (let i = 1; i + 1 < args.length; i += 2) {
    const n = (i - 1) / 2;
    let lines;
    try {
      lines = dump(args[i], args[i + 1]);
    } catch (e) {
      console.log(`#table ${n} failed: ${String(e && e.message ? e.message : e).replace(/\n/g, " ")}`);
      continue;
    }
    console.log(`#table ${n} ok`);
    for (const l of lines) console.log(l);
  }
} else {
  for (const l of dump(args[0], args[1])) console.log(l);
}
