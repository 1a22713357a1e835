#pragma once

// Internal to the engine: one SQLite connection with its write batch.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "JetReader.h"

struct sqlite3;
struct sqlite3_stmt;

namespace dao {

class Connection;
namespace jet {
class JetWriter;
class JetLockFile;
}

// Owns one prepared statement; move-only, finalized once.
class Statement {
public:
    Statement() = default;
    explicit Statement(sqlite3_stmt* st) : st_(st) {}
    ~Statement();
    Statement(Statement&& o) noexcept : st_(o.st_) { o.st_ = nullptr; }
    Statement& operator=(Statement&& o) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return st_; }
    explicit operator bool() const { return st_ != nullptr; }

private:
    sqlite3_stmt* st_ = nullptr;
};

// A value as it was bound to a statement, kept so that a change can be run again.
struct Bound {
    enum Kind : uint8_t { Null, Int, Real, Text, Blob };
    Kind kind = Null;
    int64_t i = 0;
    double d = 0;
    QByteArray bytes;
    static Bound integer(int64_t v) {
        Bound b;
        b.kind = Int;
        b.i = v;
        return b;
    }
    void bind(sqlite3_stmt* st, int col) const;
    // The same without SQLite's own copy of the bytes: they must stay as they are until the
    // statement has been stepped and reset, and the parameter is bound again or cleared before the
    // statement runs once more.
    void bindInPlace(sqlite3_stmt* st, int col) const;
    static Bound column(sqlite3_stmt* st, int col);
    QString text() const;  // for messages
    bool operator==(const Bound& o) const { return kind == o.kind && i == o.i && d == o.d && bytes == o.bytes; }
};

// One change of a write batch: what to run again when the batch cannot be committed as a whole.
struct BatchRecord {
    enum Kind : uint8_t { Change, New, Removal, Statement };
    Kind kind = Change;
    QString table;     // the table, or the statement's text
    int64_t rowid = 0;
    QString key;       // the record as a message names it, when not by its row id
    QString sql;       // the statement that makes the change again
    uint32_t firstBind = 0, bindCount = 0;  // its values, in the batch's list
    QString keyText() const { return key.isEmpty() ? QString::number(rowid) : key; }
};

// A change the engine accepted and could not commit; reported by the next call on the connection.
struct FailedChange {
    BatchRecord::Kind kind;
    QString table, key;
    int number;
    QString reason;
};

// What the connections of the process share about one file.
struct FileState {
    std::mutex mu;
    std::weak_ptr<Connection> pending;       // the connection with an uncommitted batch, if any
    std::atomic<const Connection*> pendingHint{nullptr};  // the same, for a lock-free look first
    std::atomic<uint64_t> generation{0};     // bumped by every write of the process
    bool jet = false;  // an Access file (set while opening, under the registry's opening lock)
};

// A temporary SQLite copy of a Jet file, shared by the connections that read it. It lives in the
// user's cache folder, named with the process's id (tabulon-jet-PID-N.sqlite), so that a later
// process removes the copies a killed one left behind.
struct JetCopy {
    QString path;
    QList<jet::DamagedTable> damaged;  // tables that could not be read whole; set when the fill ends
    std::shared_ptr<jet::JetFill> fill;  // the helper filling it, running or ended
    ~JetCopy();
};

// A value kept by a write batch; the bytes of a text or blob live in the batch's own blocks.
struct BatchValue {
    Bound::Kind kind = Bound::Null;
    uint32_t size = 0;
    union {
        int64_t i = 0;
        double d;
        const char* bytes;
    };
};

// The open transaction of a connection and the changes made in it, in order. Move-only: one owner
// commits it or hands its changes over to be run again; it is never dropped with changes in it.
// A batch holds tens of thousands of values: their bytes are copied into a few large blocks rather
// than kept one allocation each, which made filling and dropping a batch cost as much as SQLite's
// own work on a bulk insert.
class WriteBatch {
public:
    WriteBatch() = default;
    WriteBatch(WriteBatch&&) = default;
    WriteBatch& operator=(WriteBatch&&) = default;
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;

    std::vector<BatchRecord> records;
    std::vector<BatchValue> values;  // the values of all the changes, one list for the batch
    int64_t startNs = 0;

    void keep(const Bound& b);
    // Binds a kept value without a copy: the batch outlives every run of its changes.
    static void bind(const BatchValue& v, sqlite3_stmt* st, int col);

private:
    static constexpr size_t kBlockBytes = 256 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;  // never moved once allocated: values point into them
    char* free_ = nullptr;
    size_t room_ = 0;
};

// Lock order of the engine (a lock may be taken while holding those above it, never the reverse):
//   1. Registry::opening      - opening a file, from the format sniff until the connection is registered
//   2. Connection::mu_        - a connection's handle and batch (a Session). While one is held, another
//                               connection's mu_ is taken only to commit the file's pending batch
//                               (Session::commitOthers); the pending connection never commits others.
//   3. FileState::mu          - which connection of a file has the open batch; held for a look only
//   4. Registry::mu_, holdMu_ - the registry's lists and the flusher's mark; held for a look only
// Waits that are not locks:
//   - releaseConnection() waits for the flusher to let go of the connection, and may be called with
//     the connection's mu_ held (a recordset that fails to open is dropped inside its Session). So
//     the flusher never waits for a mu_: it commits only a connection whose lock is free
//     (commitIfFree) and tries again on its next round.
//   - SQLite's busy wait (a file lock of another connection) is bounded by its timeout.
//   - The engine never waits for the window's thread, and the window's thread never waits for a
//     worker that may need a lock the window's thread holds: the browser's automatic search runs
//     its worker without blocking the window, and not at all while a tool runs.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    static std::shared_ptr<Connection> open(const QString& path, bool create, const OpenWatch& watch = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Every use of the SQLite handle goes through a Session, which holds the connection's lock.
    class Session {
    public:
        Session(Session&&) = default;
        ~Session();
        sqlite3* db() const { return c_->db_; }
        // Commits another connection's pending batch on the same file, then reports this
        // connection's changes that could not be committed (the error names the record).
        void use();
        // The first half of use() only: for reading values, which must not swallow a report
        // (a grid painting catches what a read raises).
        void commitOthers();
        // Around a write: opens the file for writing and starts the batch when needed. After the
        // step: checkStep (the batch may have been rolled back by SQLite), then endWrite with the
        // change, which counts it and commits a full batch.
        void beginWrite();
        void checkStep();
        // The change's values are copied into the batch.
        void endWrite(BatchRecord&& change, const std::vector<Bound>& binds);
        // A cached prepared statement (reset, bindings cleared), shared with the cache so that a
        // flush of the cache does not pull it from under its user.
        std::shared_ptr<Statement> cached(const QString& sql);
        Statement prepare(const QString& sql);
        [[noreturn]] void fail(const QString& context = QString(), bool deleting = false);
        void exec(const char* sql);
        // Bumped when the handle is replaced (opened again for writing): statements prepared
        // before belong to the old handle and must be prepared again.
        uint64_t epoch() const { return c_->epoch_; }
        // Connection::awaitFill with this session's hold on the lock let go meanwhile, so that the
        // wait may be watched (see setFillWaitWatch). Statements prepared before stay usable.
        void awaitFill();
        // Whether another connection of the file holds changes not yet committed, which
        // commitOthers would commit.
        bool othersPending() const;

    private:
        friend class Connection;
        explicit Session(Connection* c);
        Session(Connection* c, std::try_to_lock_t);
        Connection* c_;
        std::unique_lock<std::recursive_mutex> lock_;
    };
    // Waits first for the fill of an Access file's working copy (awaitFill).
    Session session();
    // Without the wait: for the definitions of a copy being filled, for reading the records it holds
    // already (the first ones of each table; the reader checks that the fill has not failed), and
    // for what never needs the whole copy (finalizing, a commit with nothing to commit).
    Session partialSession();
    // The same when the lock is free now; none otherwise (for a thread that must not wait on it).
    std::optional<Session> trySession();
    // Whether the working copy is still being filled.
    bool filling() const;
    // Waits for the fill of the working copy to end (the watch shows progress and may stop it, which
    // makes the copy unusable), then attaches the writer and guards the damaged tables. Raises the
    // fill's error when it failed or was stopped. Without a watch, the process's fill-wait watch is
    // used when the thread holds no connection's lock (setFillWaitWatch).
    void awaitFill(const OpenWatch& watch = {});

    // Commits the pending batch, if any. A batch that cannot be committed is run again change by
    // change; the changes that still fail are kept for the next call to report.
    void commit();
    // The same only when no one holds the connection's lock; false (nothing done) otherwise. For
    // the background commit, which must never wait for a connection (see the lock order above).
    bool commitIfFree();
    // Commits and closes; throws the error naming the changes that could not be saved.
    void close();
    // The same when no one can be told any more (destruction): the error goes to standard error and
    // to the unsaved-changes handler.
    void closeQuietly();

    const QString& path() const { return path_; }
    bool isReadOnly() const { return readOnly_; }
    // Raises 3027 with the reason a write is refused, if one is known (Access files).
    [[noreturn]] void refuseWrite() const;
    // Raises 3027 when records cannot be added to the table (of an Access file).
    void checkCanAdd(const QString& table) const;
    // The working copy of an Access file, when the connection reads one.
    const std::shared_ptr<JetCopy>& jetCopy() const { return jetCopy_; }
    uint64_t generation() const { return file_->generation.load(); }
    const std::atomic<uint64_t>& generationCounter() const { return file_->generation; }
    bool inBatch() const { return inBatch_.load(); }
    // Whether changes could not be saved and wait to be reported (a look without the lock).
    bool hasFailures() const { return hasFailures_.load(std::memory_order_relaxed); }
    int64_t batchStartNs() const { return batchStartNs_.load(); }
    // Called (on any thread, without the lock) when changes of this connection could not be saved.
    void setFailureHandler(std::function<void()> handler);

    static constexpr int kBatchRecords = 50000;
    static constexpr int kBatchAgeMs = 100;

private:
    Connection() = default;
    void openHandle(const QByteArray& file, int flags);
    void guardDamagedTables();
    static int authorizeDamaged(void* data, int action, const char* a3, const char* a4, const char* dbName,
                                const char* trigger);
    void setUpHandle();
    void becomeWritable();
    void commitLocked();
    void recover(const QString& reason);
    bool attempt(const std::vector<size_t>& which, QString* reason, int* code);
    void isolate(std::vector<size_t> which, std::vector<size_t>& failed, std::vector<QString>& reasons,
                 std::vector<int>& codes);
    void leaveBatch();
    void outOfStep(const QString& reason);
    void throwFailures();

    // Set once by open(), read-only afterwards: no lock.
    QString path_;            // what the user opened
    QString store_;           // the SQLite file behind it
    bool readOnly_ = false;   // the user cannot write (Jet file, file without write permission)
    QString readOnlyReason_;  // why a write is refused, for the 3027 message (Access files)
    std::shared_ptr<FileState> file_;
    std::shared_ptr<JetCopy> jetCopy_;
    std::shared_ptr<jet::JetWriter> jetWriter_;  // an Access file changed in place, when it may be
    std::vector<QByteArray> damagedNames_;  // the damaged tables of the working copy, lower case UTF-8
    std::shared_ptr<jet::JetLockFile> jetLockEntry_;  // Tabulon's entry in Access's lock file while open
    std::atomic<bool> fillPending_{false};  // opened while the copy was filled: awaitFill has work

    // Guarded by mu_: the handle, its statements, the batch and the failures. The atomics beside
    // them are also read without the lock (the flusher's and other connections' quick looks).
    std::recursive_mutex mu_;
    sqlite3* db_ = nullptr;
    QString deniedTable_;  // the damaged table the statement being prepared was refused for
    bool writable_ = false;   // db_ was opened for writing
    uint64_t epoch_ = 0;
    QHash<QString, std::shared_ptr<Statement>> stmts_;
    std::optional<WriteBatch> batch_;
    std::vector<FailedChange> failures_;
    std::function<void()> onFailure_;
    std::atomic<bool> inBatch_{false};
    std::atomic<bool> hasFailures_{false};
    std::atomic<int64_t> batchStartNs_{0};
    bool jetWritten_ = false;                 // the open batch's pages are in the Access file already
    std::atomic<bool> jetOutOfStep_{false};   // the Access file and its working copy disagree
};

// Drops a reference to the connection; when it is the last one, the file is closed before this
// returns, on the caller's thread (the background commit never keeps a closed database open).
void releaseConnection(std::shared_ptr<Connection>& c);

// While alive, the engine's own commit thread is ended, so that nothing commits behind the caller's
// back (the batch is committed by the caller's Flush, Close or a full batch only).
class BackgroundPause {
public:
    BackgroundPause();
    ~BackgroundPause();
    BackgroundPause(const BackgroundPause&) = delete;
    BackgroundPause& operator=(const BackgroundPause&) = delete;
};

// The password of a database server that asked for one: the one it accepted before in this process,
// or (ask) one from the password source. Kept in memory only, never in a setting.
std::optional<QString> serverPassword(const QString& shownName, bool ask);
void acceptServerPassword(const QString& shownName, const QString& password);

}  // namespace dao
