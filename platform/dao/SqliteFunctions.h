#pragma once

#include <QString>

struct sqlite3;

namespace dao {

// Installs Jet's meaning on a connection: like() with * ? # [..] [!..] (case-insensitive, Unicode),
// the JETTEXT collation (case-insensitive, accents after base letters) and a few Jet functions
// (UCase, LCase, Len, Left, Right, Mid, Val, Nz, Year, Month, Day).
void registerJetFunctions(sqlite3* db);

// The Jet LIKE match on its own (pattern, text), for tests and the windows.
bool jetLike(const QString& pattern, const QString& text);

// The JETTEXT comparison on its own.
int jetCompare(const QString& a, const QString& b);

}  // namespace dao
