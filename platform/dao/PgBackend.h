#pragma once

// Internal to the engine: databases on a PostgreSQL server, through libpq. A recordset over one
// table is a keyset of its primary-key values (the row's ctid for a table without one, which then
// opens read-only); values are read in blocks of records by key. Changes go in batches: each runs at
// once (so a refusal names its record) inside a transaction committed when it is full or old, as the
// file batches are. An edit or delete names the row version it read (xmin), so a record another user
// changed meanwhile is refused with 3197 instead of being overwritten.

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Variant.h"

struct pg_conn;
struct pg_result;

namespace dao {
struct FieldMeta;
struct TableSchema;
}

namespace dao::pg {

// Whether a database name is a PostgreSQL connection URI (postgresql:// or postgres://).
bool isUri(const QString& name);
// The URI as it may be shown and remembered: without a password.
QString withoutPassword(const QString& uri);

struct Param {
    QByteArray bytes;
    bool null = false;
    bool binary = false;
};

struct ResultDeleter {
    void operator()(pg_result* r) const;
};
using Result = std::unique_ptr<pg_result, ResultDeleter>;

class PgConnection {
public:
    // Connects; 3151 with the server's words when it cannot. The password comes from libpq's own
    // places (~/.pgpass, PGPASSWORD, PGPASSFILE) or from the URI itself.
    static std::shared_ptr<PgConnection> open(const QString& uri);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs a statement with text (or binary) parameters; a failure raises the engine's number with
    // the server's message. `deleting` tells a foreign-key refusal of a removal (3200) from one of
    // an insert or change (3201). `prepared`: the statement is prepared once per connection and
    // run by name afterwards; `binary`: the values come back in binary form.
    Result exec(const QString& sql, const std::vector<Param>& params = {}, bool deleting = false,
                bool prepared = false, bool binary = false);

    // A change of the write batch. It runs at once inside the batch's transaction; `what` names the
    // record for a report. `mustHit`: the change is refused (false returned) when it touches no row,
    // which is how an optimistic check fails. The batch keeps the change to run it again should a
    // later statement of the transaction fail (the server then drops the whole transaction).
    struct Change {
        QString sql;
        std::vector<Param> params;
        bool deleting = false;
        bool mustHit = false;
        QString what;
        // The parameter holding the row version the change expects, and whether the statement
        // returns the new version last: run again, a version this batch made is the new batch's.
        int xminParam = -1;
        bool returnsXmin = false;
    };
    Result write(Change change);
    // A read sent ahead on a prepared statement (the next run of records of a walk), for the
    // caller to take while it works on the previous one. Any other use of the connection drops it.
    void sendAhead(const QString& sql, const std::vector<Param>& params, bool binary);
    // Its result when it is the same statement with the same parameters; null otherwise.
    Result takeAhead(const QString& sql, const std::vector<Param>& params);
    // The same change as it is run again (an added record with the key it was given).
    void setReplay(const QString& sql, std::vector<Param> params);
    // Commits the pending batch, if any. A commit the server refuses raises its error, naming how
    // many changes were lost.
    void commit();
    bool inBatch() const { return inTxn_.load(); }
    // Bumped when rows this connection read may have another version than it remembers (a batch
    // run again or lost): recordsets read their blocks again.
    uint64_t generation() const { return generation_.load(std::memory_order_relaxed); }
    static constexpr int kBatchRecords = 20000;
    static constexpr int kBatchAgeMs = 100;
    // Data for COPY ... FROM STDIN, already in its text form; ends the copy and gives the row count.
    long long copyIn(const QString& copySql, const std::function<bool(QByteArray&)>& nextChunk);

    QStringList tables();
    long long execute(const QString& jetSql);
    const QString& name() const { return name_; }
    std::recursive_mutex& mutex() { return mu_; }
    void close();
    bool isOpen() const { return conn_ != nullptr; }

    // The table as this connection names it: schema-qualified, quoted; its oid; empty when unknown.
    struct TableRef {
        QString qualified, bare;
        unsigned oid = 0;
    };
    TableRef resolve(const QString& table);
    TableSchema schema(const QString& table);
    // The columns of each unique index of the table besides its primary key.
    std::vector<QStringList> uniqueIndexes(const QString& table);
    // The exact name of a table or column of the search path named in any case; empty when none.
    QString exactName(const QString& name);
    std::function<QString(const QString&)> nameLookup() {
        return [this](const QString& n) { return exactName(n); };
    }

private:
    QHash<QString, QString> names_;  // lower case -> exact, filled on first use
    bool namesRead_ = false;
    PgConnection() = default;
    [[noreturn]] void fail(pg_result* r, bool deleting);
    Result run(const QByteArray& sql, const std::vector<Param>& params, bool prepared, bool binary);
    void session();  // the settings every session of the connection starts with
    // A connection the server dropped is made again for the next statement (3151 when it cannot).
    void reconnectIfLost();
    void begin();
    void commitLocked();
    // After the server dropped the batch's transaction: the changes before the failing one run
    // again in a new transaction; those that no longer apply are described in the text returned.
    QString replay();
    void commitOthers();
    void flusher();
    void throwPending();
    void idle();  // drops a read sent ahead: the connection is free for a statement
    bool ahead_ = false;
    bool writing_ = false;  // a change of the batch is running (for the words of a lost connection)
    QByteArray aheadSql_;
    std::vector<QByteArray> aheadParams_;
    pg_conn* conn_ = nullptr;
    QString name_;
    std::recursive_mutex mu_;
    QHash<QByteArray, QByteArray> prepared_;  // statement text -> the name it was prepared under
    std::vector<Change> batch_;
    QByteArray batchXid_;  // the transaction of the batch, as row versions name it
    std::atomic<bool> inTxn_{false};
    std::atomic<int64_t> batchStartNs_{0};
    std::atomic<uint64_t> generation_{0};
    int pendingNumber_ = 0;      // a background commit that failed, reported by the next call
    QString pendingWords_;
    std::thread flusher_;
    std::mutex flushMu_;
    std::condition_variable flushCv_;
    bool stopping_ = false;
};

// Commits the pending batch of every connection of the process (at exit, or when asked to flush).
void commitAll();

// The engine type and size of a PostgreSQL column (type oid, type modifier).
void engineType(unsigned oid, int typmod, int* type, int* size);
// The PostgreSQL type written for an engine field type.
QString postgresType(int type, int size);
// A value read as text, for a column of the given oid.
Variant fromText(const char* text, int length, unsigned oid, int typmod);
// Whether values of a column of the given oid are read in binary form, and a value in that form.
bool readsBinary(unsigned oid);
Variant fromBinary(const char* data, int length, unsigned oid, int typmod);
// A value as a statement parameter.
Param toParam(const Variant& v);

class PgRecordset {
public:
    static std::shared_ptr<PgRecordset> open(const std::shared_ptr<PgConnection>& conn, const QString& source,
                                             int type, const QString& orderOverride = QString());
    std::vector<FieldMeta>& fields() { return *fields_; }

    long long RecordCount() const;
    long long AbsolutePosition() const;
    void setAbsolutePosition(long long pos);
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
    int EditMode() const { return editMode_; }
    std::shared_ptr<PgRecordset> reopen(const QString& sort, int type);
    int Type() const { return type_; }
    bool Updatable() const { return updatable_; }
    QString Name() const { return name_; }
    void Find(const QString& criteria, bool first);
    bool NoMatch() const { return noMatch_; }
    void Close();
    Variant valueAt(long long row, int index);
    Variant fieldValue(int index);
    void setFieldValue(int index, Variant&& v);
    const QString& databaseName() const { return conn_->name(); }
    const QString& readOnlyReason() const { return readOnlyReason_; }

private:
    std::shared_ptr<PgConnection> conn_;
    std::shared_ptr<std::vector<FieldMeta>> fields_;
    std::vector<unsigned> oids_;
    std::vector<int> typmods_;
    QString source_, name_, where_, selectList_, jetBase_;
    PgConnection::TableRef table_;
    int type_ = 2;
    bool binary_ = false;  // every column reads in binary form: blocks come back binary
    bool updatable_ = false, snapshot_ = false, noMatch_ = false;
    QString readOnlyReason_;
    std::vector<QString> keyCols_;      // primary-key columns, or {"ctid"}
    std::vector<QString> keyTypes_;     // their types with their sizes, for the arrays a block is read with
                                        // (a bare "character" is one character long)
    int keyField_ = -1;                 // the field that is the whole integer key, read in its place
    size_t nk_ = 1;
    // The key list, in order: the numbers of a single integer key, or else nk_ text forms per
    // record. Numbers take no allocation each, which is most of the cost of a long list.
    bool intKeys_ = false;
    std::vector<int64_t> ints_;
    std::vector<QByteArray> keys_;
    bool keyOrdered_ = false;           // the records are in key order up to orderedCount_
    long long orderedCount_ = 0;
    std::vector<std::vector<Variant>> rows_;  // a snapshot's rows
    long long pos_ = -1;
    bool currentDeleted_ = false;
    // Block cache: the values and row versions of runs of records. A block is kBlock records where
    // the grid looks; a walk straight through reads longer runs, up to kMaxRun.
    static constexpr int kBlock = 500;
    static constexpr int kMaxRun = 16000;
    struct Block {
        long long first = -1, n = 0;
        uint64_t generation = 0;
        std::vector<Variant> values;   // n x fields
        std::vector<uint8_t> present;  // 0 for a record deleted meanwhile
        std::vector<uint32_t> xmins;  // row versions (xid)
        bool holds(long long p, uint64_t gen) const { return first >= 0 && p >= first && p < first + n && generation == gen; }
    };
    Block blocks_[2];
    // The current record's values while it is unchanged in its block (the walk's fast path).
    const Variant* current_ = nullptr;
    long long currentPos_ = -1;
    uint64_t currentGen_ = 0;
    long long lastEnd_ = -1;
    long long run_ = kBlock;
    int nextSlot_ = 0;
    int editMode_ = 0;
    std::vector<Variant> buffer_;
    std::vector<uint8_t> dirty_;
    QByteArray editXmin_;
    QString findCriteria_;
    QSet<QByteArray> findKeys_;

    long long count() const {
        return snapshot_ ? (long long)rows_.size() : intKeys_ ? (long long)ints_.size() : (long long)(keys_.size() / nk_);
    }
    // Key column c of record p in its text form (as a statement parameter takes it).
    QByteArray keyAt(long long p, size_t c) const {
        return intKeys_ ? QByteArray::number(qlonglong(ints_[size_t(p)])) : keys_[size_t(p) * nk_ + c];
    }
    void appendKey(const char* text);
    void setKey(long long p, size_t c, const QByteArray& text);
    bool hasCurrent() const { return pos_ >= 0 && pos_ < count() && !currentDeleted_; }
    void checkWritable() const;
    void checkCurrent() const;
    QByteArray joinedKey(long long p) const;
    QString keyText(long long p) const;
    Block& block(long long p);
    const Variant* row(long long p, QByteArray* xmin = nullptr);
    void forget();
    QString keyWhere(int firstParam, std::vector<Param>& params, long long p) const;
    [[noreturn]] void changedMeanwhile(long long p, bool deleting);
    void loadKeys(const QString& orderBy);
};

}  // namespace dao::pg
