#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

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

// Called once when a conversion ends, on the thread that sees the end: with the damaged tables, or
// nullptr when it failed or was stopped. An error it raises makes the fill a failed one.
using FillEnd = std::function<void(const QList<DamagedTable>* damaged)>;

// A conversion whose helper goes on filling the copy in the background once every table is made and
// holds its first records (startConversion, waitReady). The copy is in WAL mode meanwhile, so it can
// be read.
class JetFill {
public:
    struct Run;
    explicit JetFill(std::unique_ptr<Run> run);
    // A fill still running is stopped (the helper killed) and waited for.
    ~JetFill();
    JetFill(const JetFill&) = delete;
    JetFill& operator=(const JetFill&) = delete;

    // Waits until the copy holds every table's definition and first records, or the whole file if
    // that came first, showing progress through the watch; the rest is filled in the background.
    // onEnd is called once when the fill ends, whatever happens. Raises what convertToSqlite raises
    // for a conversion that fails before that point (the partial output is removed then).
    void waitReady(const ConvertWatch& watch, FillEnd onEnd = {});
    // Whether the fill has ended, well or not.
    bool finished() const;
    // Whether it ended in an error (the helper failed, ran out of time or was stopped).
    bool failed() const;
    // Waits for the end, showing progress through the watch, whose flag stops the fill. Raises what
    // convertToSqlite raises when the fill failed or was stopped.
    void wait(const ConvertWatch& watch = {}) const;
    // A count of the helper's reports: it reports after each commit of the copy.
    qint64 news() const;
    // Waits at most `ms` for a report after the `seen` count of news(), or the end (a reader of the
    // copy looks for new records then). Raises nothing.
    void waitFor(qint64 seen, int ms) const;
    // The table's record count by its definition; -1 for a table the helper left out.
    qint64 countedRecords(const QString& table) const;
    // The table's records in the copy once the fill has ended; -1 when unknown.
    qint64 copiedRecords(const QString& table) const;
    // The tables that could not be read whole, once the fill has ended well.
    QList<DamagedTable> damaged() const;

private:
    std::unique_ptr<Run> run_;
};

// Starts the conversion of convertToSqlite in its helper and returns at once (JetFill::waitReady
// waits for the first records). Raises when the helper cannot be started, or when stopped already.
std::shared_ptr<JetFill> startConversion(const QString& jetPath, const QString& sqlitePath,
                                         const ConvertWatch& watch);

// A flag every conversion of the process watches besides its own (a program's Ctrl-C handler sets
// it); nullptr for none.
void setInterruptFlag(const std::atomic<bool>* flag);
// Whether a conversion is running now, a background fill included; safe in a signal handler.
bool convertingNow();
// Whether a spare reader is started for the next opening once a fill has ended.
void setReaderAhead(bool on);

// Raises 3343 naming the table, the file and how many of its records could be read when `table` is
// one of the damaged ones.
void checkTableReadable(const QList<DamagedTable>& damaged, const QString& jetPath, const QString& table);

}  // namespace dao::jet
