#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "Dao.h"

// Reading Jet/ACE files (.mdb/.accdb). libmdb is not hardened against damaged files, so it only ever
// runs in a helper program (tabulon-jet-reader) that turns the file into an SQLite copy; the engine
// then works on that copy.
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

// What the caller of a conversion may watch and stop (the engine's OpenWatch).
using ConvertWatch = OpenWatch;

// Converts the Jet/ACE file into a new SQLite file at sqlitePath (an existing file there is replaced).
// The work runs in the helper process, which dies with this process, with a time limit of 10 s plus
// 2 s per MB of input. Throws Error 3343 naming the file when the helper fails, crashes or runs out of
// time, or when the catalog of tables cannot be read completely; 32755 when stopped (the watch's flag
// or the process's interrupt flag); the partial output is removed then. What the file says about each
// table (its record count, the page of its definition) is checked against what was read: the tables
// that fall short are returned (they are in the copy, with the records that could be read).
QList<DamagedTable> convertToSqlite(const QString& jetPath, const QString& sqlitePath,
                                    const ConvertWatch& watch = {});

// A flag every conversion of the process watches besides its own (a program's Ctrl-C handler sets
// it); nullptr for none.
void setInterruptFlag(const std::atomic<bool>* flag);
// Whether a conversion is running now; safe in a signal handler.
bool convertingNow();

// Raises 3343 naming the table, the file and how many of its records could be read when `table` is
// one of the damaged ones.
void checkTableReadable(const QList<DamagedTable>& damaged, const QString& jetPath, const QString& table);

}  // namespace dao::jet
