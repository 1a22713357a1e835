#pragma once

#include <QByteArray>
#include <QString>

// Reading Jet/ACE files (.mdb/.accdb). libmdb is not hardened against damaged files, so it only ever
// runs in a child process that turns the file into an SQLite copy; the engine then works on that copy.
namespace dao::jet {

// True when the file's first bytes carry a Jet/ACE signature ("Standard Jet DB" or "Standard ACE DB"
// at offset 4).
bool looksLikeJet(const QByteArray& firstBytes);

// Converts the Jet/ACE file into a new SQLite file at sqlitePath (an existing file there is replaced).
// The work runs in a child process with a time limit of 10 s plus 2 s per MB of input. Throws
// Error 3343 naming the file when the child fails, crashes or runs out of time; the partial output is
// removed then.
void convertToSqlite(const QString& jetPath, const QString& sqlitePath);

}  // namespace dao::jet
