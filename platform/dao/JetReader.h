#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reading Jet/ACE files (.mdb/.accdb). libmdb is not hardened against damaged files, so it only ever
// runs in a child process that turns the file into an SQLite copy; the engine then works on that copy.
namespace dao::jet {

// True when the file's first bytes carry a Jet/ACE signature ("Standard Jet DB" or "Standard ACE DB"
// at offset 4).
bool looksLikeJet(const QByteArray& firstBytes);

// A table of the file whose records could not all be read.
struct DamagedTable {
    QString name;
    qint64 read = 0;       // records that could be read
    qint64 expected = -1;  // records its definition counts; -1 when the definition is unreadable
};

// Converts the Jet/ACE file into a new SQLite file at sqlitePath (an existing file there is replaced).
// The work runs in a child process with a time limit of 10 s plus 2 s per MB of input. Throws
// Error 3343 naming the file when the child fails, crashes or runs out of time, or when the catalog
// of tables cannot be read completely; the partial output is removed then. What the file says about
// each table (its record count, the page of its definition) is checked against what was read: the
// tables that fall short are returned (they are in the copy, with the records that could be read).
QList<DamagedTable> convertToSqlite(const QString& jetPath, const QString& sqlitePath);

// Raises 3343 naming the table, the file and how many of its records could be read when `table` is
// one of the damaged ones.
void checkTableReadable(const QList<DamagedTable>& damaged, const QString& jetPath, const QString& table);

}  // namespace dao::jet
