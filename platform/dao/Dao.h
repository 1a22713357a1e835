#pragma once

// The database engine: DAO-style objects over SQLite files (read-write) and Jet/ACE files (read
// through libmdb in a helper process into a working copy; changes written into the file in place by
// the Jet writer; Access 97 files read-only).

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Error.h"
#include "FieldTypes.h"
#include "Variant.h"

namespace dao {

class Connection;  // internal
namespace pg {
class PgConnection;  // internal
}
class Recordset;
class RecordsetImpl;  // internal

enum RecordsetType : int { dbOpenTable = 1, dbOpenDynaset = 2, dbOpenSnapshot = 4 };
// Added to a recordset type or given to Execute: the text goes to SQLite as it is, untranslated
// (SQLite files only; a snapshot).
constexpr int dbSQLPassThrough = 64;
enum EditMode : int { dbEditNone = 0, dbEditInProgress = 1, dbEditAdd = 2 };

// Opening an Access file reads it whole into a working copy first, which takes a while for a large
// file. What an open may be watched and stopped by:
struct OpenWatch {
    // Set from any thread (or a signal handler): the reading stops and the open raises 32755.
    const std::atomic<bool>* cancel = nullptr;
    // Records read so far and the records the file's definitions count, now and then, on the
    // opening thread (not called for SQLite files).
    std::function<void(qint64 done, qint64 total)> progress;
};
// The columns of a table as another database needs them to make the same table.
struct ColumnSchema {
    QString name;
    int type = 12;
    int size = 0;
    bool notNull = false;
};
struct TableSchema {
    std::vector<ColumnSchema> columns;
    QStringList primaryKey;
};

class Database {
public:
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Table names in engine order (SQLite's own sqlite_* tables are not listed).
    QStringList TableDefs() const;
    int TableDefsCount() const { return int(TableDefs().size()); }
    // The system tables: SQLite's sqlite_schema and sqlite_... tables (which TableDefs leaves out),
    // or an Access file's MSys... tables (as its catalog lists them).
    QStringList SystemTableDefs() const;

    // A table name or a Jet SQL text. A select over one table gives an updatable dynaset;
    // anything else a read-only snapshot. type 0 picks the natural kind.
    std::shared_ptr<Recordset> OpenRecordset(const QString& source, int type = 0);
    // The same, abandoned as soon as `cancel` turns true (it may be set from any thread while the
    // open runs): the call then raises 32755 and the database goes on as before. Only this call's
    // statements watch the flag; writes and commits on the same database never do.
    std::shared_ptr<Recordset> OpenRecordset(const QString& source, int type,
                                             const std::atomic<bool>& cancel);

    // An action query (update, delete, insert, create ...): the number of records affected.
    // `options` dbSQLPassThrough hands the text to SQLite untranslated (SQLite files only).
    long long Execute(const QString& sql, int options = 0);

    // Commits the pending changes now; raises the error for changes that could not be saved.
    void Flush();

    // Commits the pending changes; a change that could not be saved is reported here (as by every
    // engine call after such a failure: the error names the record and the reason).
    void Close();
    bool isOpen() const;
    bool isReadOnly() const;
    QString Name() const;  // the file's path

    // Called, on any thread, when a change this connection had accepted could not be saved (a
    // failed commit of the write batch); the next engine call on the connection raises the error.
    // The handler must not call the engine itself: it should only post a notice to its own thread.
    void setFailureHandler(std::function<void()> handler);

    // The columns, types, not-null rules and primary key of a table (3078 for an unknown one).
    TableSchema Schema(const QString& table) const;

private:
    friend std::shared_ptr<Database> OpenDatabase(const QString& path);
    friend std::shared_ptr<Database> OpenDatabase(const QString& path, const OpenWatch& watch);
    friend std::shared_ptr<Database> CreateDatabase(const QString& path);
    friend long long CopyTable(Database& source, const QString& table, Database& dest, const QString& as, bool append);
    explicit Database(std::shared_ptr<Connection> c);
    explicit Database(std::shared_ptr<pg::PgConnection> c);
    std::shared_ptr<Connection> conn_;
    std::shared_ptr<pg::PgConnection> pg_;  // a database on a PostgreSQL server instead of a file
};

// Opens a database file; the format comes from its first bytes. 3024 for a missing file, 3343 for
// a file that is not a database we can read. A postgresql:// (or postgres://) URI opens that
// database on its server (3151 when it cannot be reached).
std::shared_ptr<Database> OpenDatabase(const QString& path);

std::shared_ptr<Database> OpenDatabase(const QString& path, const OpenWatch& watch);

// A flag that every open of the process watches besides its own (a program's Ctrl-C handler sets
// it); nullptr for none.
void setOpenInterruptFlag(const std::atomic<bool>* flag);
// Whether an open is reading an Access file at this moment; safe to call in a signal handler.
bool openIsReading();
// Whether the reader of the next Access file is started ahead, once a file's reading has ended
// (on by default; a program that opens one file and ends turns it off).
void setReaderAhead(bool on);

// After an Access file is opened, the rest of its records are read in the background; anything that
// needs them all (a search, a count, a move past them, a write) waits for that reading to end. Such
// a wait with no watch of its own asks this for one, on the waiting thread, with the file's path, and
// drops it when the wait ends; a watch with neither a flag nor progress waits plainly, as does every
// wait when none is set (nullptr). Its progress callback may keep alive what its flag points to. A
// wait started inside a watched one (from its progress callback) and one made while the thread uses
// a database already are never watched: the callback may run the window's events, which must not
// happen in the middle of an engine call.
using FillWaitWatch = std::function<OpenWatch(const QString& path)>;
void setFillWaitWatch(FillWaitWatch make);

// Changes that could not be saved when no one could be told any more (their connection was dropped
// without Close, or the process is exiting) are written to standard error and handed to this
// handler, on whichever thread dropped the connection. A tool sets it to fail its exit status.
void setUnsavedChangesHandler(std::function<void(const Error&)> handler);

// Whether a database name is a PostgreSQL connection URI rather than a file, and the name as it may
// be shown and remembered (a URI without its password).
bool IsServerUri(const QString& name);
QString ShownDatabaseName(const QString& name);

// Where the password of a protected Access file comes from: called with the file's path when a file
// needs one and no password has been accepted for it yet in this process; nullopt (or an empty text)
// means none is at hand, and opening fails with 3031 saying the file needs a password. Without a
// source every protected file fails so. A wrong password fails with 3031 "Not a valid password.".
using PasswordSource = std::function<std::optional<QString>(const QString& path)>;
void setPasswordSource(PasswordSource source);

// An Access file made readable: a file that needs a password is unlocked as OpenDatabase unlocks it
// (the passwords accepted before in the process, then the password source), raising 3031 as it
// does; an encrypted one is decrypted into a temporary copy, removed with this object. path() is
// the file to read its pages from: the copy, or the file itself.
class UnlockedFile {
public:
    explicit UnlockedFile(const QString& path);
    ~UnlockedFile();
    UnlockedFile(const UnlockedFile&) = delete;
    UnlockedFile& operator=(const UnlockedFile&) = delete;
    const QString& path() const { return plain_.isEmpty() ? path_ : plain_; }
    bool decrypted() const { return !plain_.isEmpty(); }

private:
    QString path_, plain_;
};

// Creates a new, empty SQLite database file (3204 when the file exists already).
std::shared_ptr<Database> CreateDatabase(const QString& path);

// Makes table `table` of `source` in `dest` (named `as` when given) with the same column types,
// primary key and not-null rules, and copies every record; the number copied. A table that exists
// in dest already is refused (3010) unless `append`.
long long CopyTable(Database& source, const QString& table, Database& dest, const QString& as = QString(),
                    bool append = false);

struct DBEngine {
    static std::shared_ptr<Database> OpenDatabase(const QString& path) { return dao::OpenDatabase(path); }
    static std::shared_ptr<Database> CreateDatabase(const QString& path) { return dao::CreateDatabase(path); }
};

// A field of a recordset: a light handle (recordset + position). It shares the recordset's state, so
// a field taken from a recordset that is no longer referenced stays usable.
class Field {
public:
    QString Name() const;
    int Type() const;
    int Size() const;
    int OrdinalPosition() const;
    Variant Value() const;             // of the current record (or the edit buffer while editing)
    void setValue(const Variant& v);   // only between AddNew/Edit and Update (else 3020)
    void setValue(Variant&& v);        // the same, taking the value over

private:
    friend class Recordset;
    friend class Fields;
    Field(std::shared_ptr<RecordsetImpl> rs, int index) : rs_(std::move(rs)), index_(index) {}
    std::shared_ptr<RecordsetImpl> rs_;
    int index_;
};

// Whether two names name the same field: the engine looks field names up without regard to case.
bool sameFieldName(const QString& a, const QString& b);

class Fields {
public:
    int Count() const;
    Field Item(int index) const&;            // 0-based; out of range -> 3265
    Field Item(const QString& name) const&;  // case-insensitive; unknown -> 3265
    Field Item(int index) &&;                // the same, handing this collection's share on
    Field Item(const QString& name) &&;
    Field operator[](int index) const& { return Item(index); }
    Field operator[](const QString& name) const& { return Item(name); }
    Field operator[](int index) && { return std::move(*this).Item(index); }
    Field operator[](const QString& name) && { return std::move(*this).Item(name); }
    int indexOf(const QString& name) const;  // -1 when unknown

private:
    friend class Recordset;
    explicit Fields(std::shared_ptr<RecordsetImpl> rs) : rs_(std::move(rs)) {}
    int checkedIndex(int index) const;
    int checkedIndex(const QString& name) const;
    std::shared_ptr<RecordsetImpl> rs_;
};

class Recordset {
public:
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    dao::Fields Fields() const { return dao::Fields(impl_); }
    long long RecordCount() const;
    long long AbsolutePosition() const;        // 0-based; -1 without a current record
    void setAbsolutePosition(long long pos);   // out of range -> 3001-style error
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();
    void Move(long long rows);
    bool Eof() const;
    bool Bof() const;

    void AddNew();
    void Edit();
    void Update();
    void CancelUpdate();
    void Delete();
    int EditMode() const;

    QString Sort() const;
    void setSort(const QString& sort);
    // A new recordset over the same source, ordered by Sort; this one stays as it is.
    std::shared_ptr<Recordset> OpenRecordset(int type = 0);

    int Type() const;
    bool Updatable() const;
    QString Source() const;      // the text it was opened with
    QString Name() const;        // the table it reads, or the source text for a query

    void FindFirst(const QString& criteria);
    void FindNext(const QString& criteria);
    bool NoMatch() const;

    void Close();
    bool isOpen() const;

    // The value of field `index` of the record at 0-based position `row`, without moving the
    // current record (for grids). Throws 3167 for a record deleted meanwhile.
    Variant valueAt(long long row, int index);
    // Whether valueAt can read the record at `row` without waiting: false only for a table opened
    // while its Access working copy is filled, at a record not copied yet (a grid shows it later).
    bool rowReady(long long row);

    // The database the recordset belongs to (path).
    QString DatabaseName() const;

private:
    friend class Database;
    explicit Recordset(std::shared_ptr<RecordsetImpl> impl);
    std::shared_ptr<RecordsetImpl> impl_;  // shared with the fields taken from it
};

// How many records FindFirst/FindNext have tested in this process (a measure for tests).
long long findRecordsRead();

// Commits every pending write batch of the process now (all connections). Called at exit too.
void flushAllWrites();

}  // namespace dao
