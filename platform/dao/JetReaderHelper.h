#pragma once

// What the engine and its reader helper (tabulon-jet-reader) agree on: the helper's name and the
// meaning of its exit status. Anything but HelperExit::Ok, or a signal, means the file could not be
// read.
namespace dao::jet::HelperExit {

constexpr const char* kProgramName = "tabulon-jet-reader";
// Its second argument for a spare, started ahead of the next opening: it reads the three paths
// (each ended by a NUL) from its standard input, up to the end of it.
constexpr const char* kSpare = "--spare";

constexpr int Ok = 0;
constexpr int Usage = 2;
constexpr int CannotOpen = 10;
constexpr int Damaged = 11;
constexpr int WriteFailed = 12;
constexpr int CatalogDamaged = 13;
constexpr int Orphaned = 14;  // the program that started it was gone before it began

}  // namespace dao::jet::HelperExit

// The helper's lines on standard output, besides progress ("RECORDS_COPIED RECORDS_TOTAL").
namespace dao::jet::JetReaderLine {

constexpr char kCounted = 'T';           // "T COUNT NAME": a table's record count by its definition
constexpr const char* kReady = "READY";  // every table is made and holds its first records
// "C COUNT NAME": a table's records copied, once it is done (before READY for a table that is
// whole within its first records)
constexpr char kCopied = 'C';

}  // namespace dao::jet::JetReaderLine
