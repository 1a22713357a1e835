#pragma once

// Internal to the engine: one SQLite connection with its write batch.

#include <QHash>
#include <QString>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "JetReader.h"

struct sqlite3;
struct sqlite3_stmt;

namespace dao {

class Connection;
namespace jet {
class JetWriter;
}

// What the connections of the process share about one file.
struct FileState {
    std::mutex mu;
    std::weak_ptr<Connection> pending;       // the connection with an uncommitted batch, if any
    std::atomic<const Connection*> pendingHint{nullptr};  // the same, for a lock-free look first
    std::atomic<uint64_t> generation{0};     // bumped by every write of the process
};

// A temporary SQLite copy of a Jet file, shared by the connections that read it.
struct JetCopy {
    QString path;
    QList<jet::DamagedTable> damaged;  // tables that could not be read whole
    ~JetCopy();
};

class Connection : public std::enable_shared_from_this<Connection> {
public:
    static std::shared_ptr<Connection> open(const QString& path, bool create);
    ~Connection();

    // Before any use of the file: commits another connection's pending batch on the same file.
    void use();
    // Around a write: starts the batch when needed; after it, counts it and commits a full batch.
    void beginWrite();
    void endWrite();
    // Commits the pending batch, if any.
    void commit();
    void close();

    // A cached prepared statement (reset, bindings cleared). Throws the mapped engine error.
    sqlite3_stmt* cached(const QString& sql);
    // A one-off prepared statement; the caller finalizes it.
    sqlite3_stmt* prepare(const QString& sql);
    // Throws the engine error that matches the connection's last SQLite error.
    [[noreturn]] void fail(const QString& context = QString(), bool deleting = false);
    // Runs statements without results.
    void exec(const char* sql);

    sqlite3* db = nullptr;
    QString path;        // what the user opened
    bool readOnly = false;
    QString readOnlyReason;  // why a write is refused, for the 3027 message (Jet files)
    // Raises 3027 with the reason, if any.
    [[noreturn]] void refuseWrite() const;
    // Raises 3027 when records cannot be added to the table (of an Access file).
    void checkCanAdd(const QString& table) const;
    std::recursive_mutex mu;
    std::shared_ptr<FileState> file;
    std::shared_ptr<JetCopy> jetCopy;
    std::shared_ptr<jet::JetWriter> jetWriter;  // a Jet file changed in place, when it may be

    std::atomic<bool> inBatch{false};
    std::atomic<int64_t> batchStartNs{0};
    int batchCount = 0;

    static constexpr int kBatchRecords = 50000;
    static constexpr int kBatchAgeMs = 100;

private:
    Connection() = default;
    void commitLocked();
    QHash<QString, sqlite3_stmt*> stmts_;
};

// Held while the process forks a reader child: the engine's own thread is ended meanwhile, so the
// child inherits no lock (SQLite's or an allocator's) held by a thread that does not exist in it.
class BackgroundPause {
public:
    BackgroundPause();
    ~BackgroundPause();
    BackgroundPause(const BackgroundPause&) = delete;
    BackgroundPause& operator=(const BackgroundPause&) = delete;
};

}  // namespace dao
