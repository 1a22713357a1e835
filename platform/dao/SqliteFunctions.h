#pragma once

#include <QString>
#include <cstdint>

struct sqlite3;
struct sqlite3_value;

namespace dao {

// Installs Jet's meaning on a connection: like() with * ? # [..] [!..] (case-insensitive, Unicode),
// the JETTEXT collation (case-insensitive, accents after base letters) and a few Jet functions
// (UCase, LCase, Len, Left, Right, Mid, Val, Nz, Year, Month, Day).
void registerJetFunctions(sqlite3* db);

// tabulon_rows(sink, rowid, value...): hands each row it is called for to the sink, bound to the
// statement as a pointer of type kRowSinkType. A recordset reads its blocks so: the values come
// without a call into the statement for each one.
struct RowSink {
    virtual void row(int64_t rowid, sqlite3_value** values, int count) = 0;

protected:
    ~RowSink() = default;
};
constexpr const char* kRowSinkType = "tabulon-row-sink";
constexpr int kRowSinkMaxValues = 120;  // below SQLite's limit of a function's arguments

// The Jet LIKE match on its own (pattern, text), for tests and the windows.
bool jetLike(const QString& pattern, const QString& text);

// The JETTEXT comparison on its own.
int jetCompare(const QString& a, const QString& b);

}  // namespace dao
