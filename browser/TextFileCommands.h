#pragma once

// The browser side of verify and of the table text file: the panel's inputs read, the tool run over
// the records shown with the working display, the browser left as each tool says.

namespace browser {

class AdvanceViewForm;

// Verify ("Verify" on the "Veriy" panel): renumbers duplicates of the chosen field, then re-queries.
void runVerify(AdvanceViewForm& form);
// Export ("Export"): the records shown to a table text file; the menu panels close afterwards.
void runExport(AdvanceViewForm& form);
// Import ("Import"): the records of a table text file appended to the records shown.
void runImport(AdvanceViewForm& form);
// Copy Table ("Copy Table" on the "Table" panel): the whole table, as tabulon-cli copy-table moves
// it, into a PostgreSQL database or an SQLite file (made when missing) the user names.
void runCopyTable(AdvanceViewForm& form);

}  // namespace browser
