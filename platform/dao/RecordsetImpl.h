#pragma once

// Internal to the engine: the state behind a Recordset.

#include <QHash>
#include <QString>
#include <chrono>
#include <memory>
#include <unordered_map>
#include <vector>

#include "Connection.h"
#include "PgBackend.h"
#include "Variant.h"

struct sqlite3_stmt;
struct sqlite3_value;

namespace dao {

struct FieldMeta {
    QString name;
    int type = 12;
    int size = 0;
    QString column;        // the table column it comes from; empty for an expression
    bool dynamic = false;  // no declared type: values read as stored
};

// Counts of live records over the keyset, for positions once records have been deleted.
class LiveIndex {
public:
    void reset(size_t n);
    void append();
    void remove(size_t phys);
    size_t rank(size_t phys) const;       // live records before phys
    size_t select(size_t liveIndex) const;  // physical index of the liveIndex-th live record

private:
    std::vector<int> tree_;  // Fenwick tree of live flags
    size_t n_ = 0;
    void add(size_t i, int d);
};

// A statement of a recordset, prepared on first use and again after the connection replaced its
// handle.
struct StmtSlot {
    Statement st;
    uint64_t epoch = 0;
    QString sql;        // as prepared
    QString replaySql;  // the same change for a batch run again (an insert names its row id)
};

struct QByteArrayHasher {
    size_t operator()(const QByteArray& b) const { return qHash(b); }
};

class RecordsetImpl;
void readMeta(sqlite3_stmt* st, RecordsetImpl& r, int firstCol);
std::shared_ptr<RecordsetImpl> openImpl(const std::shared_ptr<Connection>& conn, const QString& source, int type);
void findFrom(RecordsetImpl& r, const QString& criteria, long long from);
std::shared_ptr<RecordsetImpl> wrapPg(std::shared_ptr<pg::PgRecordset> pg, const QString& source,
                                                  const QString& sort);

// The state behind a Recordset and the fields taken from it. It has no lock of its own: a recordset
// is used by one thread at a time, and everything it asks of SQLite goes through a
// Connection::Session, which holds the connection's lock for that call. Only the engine's own
// recordset code reaches the state.
class RecordsetImpl {
public:
    RecordsetImpl() = default;
    ~RecordsetImpl();
    RecordsetImpl(const RecordsetImpl&) = delete;
    RecordsetImpl& operator=(const RecordsetImpl&) = delete;

private:
    friend class Recordset;
    friend class Field;
    friend class Fields;
    friend void readMeta(sqlite3_stmt* st, RecordsetImpl& r, int firstCol);
    friend std::shared_ptr<RecordsetImpl> openImpl(const std::shared_ptr<Connection>& conn, const QString& source,
                                                   int type);
    friend void findFrom(RecordsetImpl& r, const QString& criteria, long long from);
    friend std::shared_ptr<RecordsetImpl> wrapPg(std::shared_ptr<pg::PgRecordset> pg, const QString& source,
                                                  const QString& sort);

    std::shared_ptr<Connection> conn;
    std::shared_ptr<pg::PgRecordset> pg;  // a recordset on a PostgreSQL server: everything goes to it
    const std::atomic<uint64_t>* generation = nullptr;  // the file's write count, owned by conn
    QString source;  // as given
    QString name;
    int type = 2;
    bool updatable = false;
    QString readOnlyReason;  // why a read-only recordset cannot be changed, when it is not the file
    bool open = true;
    std::vector<FieldMeta> fields;

    // The parts of a select over one table (dynaset).
    QString table, selectList, whereClause, orderClause, limitClause, jetWithoutOrder;

    // Dynaset: the row ids (for a table without row ids, indexes into pkKeys); snapshot: the rows.
    std::vector<int64_t> keys;
    // Set while the keys are those of the records a working copy being filled held at the open
    // (see partialNow); counted is the table's record count by its definition.
    std::shared_ptr<jet::JetFill> filling;
    long long counted = -1;
    bool byPrimaryKey = false;                 // a table WITHOUT ROWID: records are found by their key
    std::vector<QString> pkCols;               // its primary-key columns
    QString rowidKey;                          // a row-id table's one primary-key column (it may be the row id)
    std::vector<std::vector<Bound>> pkKeys;    // the key values of each record
    std::vector<uint8_t> gone;  // records deleted through this recordset
    size_t goneCount = 0;
    LiveIndex live;
    std::vector<std::vector<Variant>> rows;  // snapshot rows
    bool snapshot = false;

    // Current record: a physical index; -1 before the first, size() after the last.
    long long phys = -1;
    bool currentDeleted = false;

    // Block cache of dynaset values. Each cell of the block's rows x fields names its value in
    // cacheVals, whose first value is NULL: most cells of a wide table are, and they cost an index.
    static constexpr int kBlock = 512;
    long long cacheBlock = -1;
    uint64_t cacheGen = 0;  // the connection's generation the block was read at
    std::vector<uint32_t> cacheCells;
    std::vector<Variant> cacheVals;
    std::vector<uint8_t> cacheMissing;
    void setCached(uint32_t& cell, const Variant& v);
    // A walk through the records in their natural order has the block after the one it reads read
    // on a thread of its own meanwhile (see loadBlock).
    struct BlockAhead;
    std::unique_ptr<BlockAhead> ahead;
    long long lastLoaded = -2;  // the block loadBlock read last
    void readAhead(long long block);
    bool takeAhead(long long block);
    void aheadLoop();
    // Ends the thread (it never waits on the connection's lock); its statement is let go after,
    // under that lock, with `ahead`.
    void stopAhead();

    // Table columns behind the fields (a column may stand twice in the select list) and the
    // statements of this recordset, prepared once.
    std::vector<int> colOf;          // field -> index in cols, -1 for an expression
    std::vector<QString> cols;
    std::unordered_map<QByteArray, StmtSlot, QByteArrayHasher> writeStmts;
    QByteArray scratchKey;
    // The write statement used last and its key: records added one after another use the same one.
    QByteArray lastWriteKey;
    StmtSlot* lastWrite = nullptr;
    std::vector<int> scratchSource, scratchWritten;
    StmtSlot rangeStmt, inStmt, keyStmt;
    // FindFirst/FindNext: the criteria last translated and the statements that test a window of records.
    QString findCriteria, findSql;
    StmtSlot findRange;
    std::unordered_map<int, StmtSlot> findIn;
    std::vector<int64_t> snapshotMatches;  // a snapshot's matching records for findCriteria
    bool snapshotMatched = false;
    sqlite3_stmt* statement(Connection::Session& s, StmtSlot& slot, const QString& sql);
    void mapColumns();
    QString keyText(long long p) const;      // the record as messages name it
    void keyOf(long long p, BatchRecord& change) const;
    std::vector<Bound> scratchBinds;
    QString keyWhere(int firstParam) const;  // "pk1=?n AND pk2=?n+1", or "rowid=?n"
    int bindKey(sqlite3_stmt* st, int firstParam, long long p, std::vector<Bound>* record) const;

    int editMode = 0;
    std::vector<Variant> buffer;
    std::vector<uint8_t> dirty;

    QString sort;
    bool noMatch = false;

    // ---
    // Also waits for the working copy's fill when the recordset was opened during it.
    void checkOpen() const {
        if (!open) raiseClosed();
        if (filling) const_cast<RecordsetImpl*>(this)->completeFill();
    }
    // Without the wait: for reading the records the keys hold (partialNow) and the fields' names.
    void checkOpenOnly() const {
        if (!open) raiseClosed();
    }
    // Opened while the working copy was filled, and it still is: the keys are those of the records
    // there at the open. Takes the rest in when the fill has ended; raises when it failed.
    bool partialNow() const { return filling && partialNowSlow(); }
    bool partialNowSlow() const;
    // Waits for the fill, checks the table is whole and adds the keys of the records it added.
    void completeFill();
    // Without waiting, adds the keys of the records the fill has committed since (looked for at
    // most every 50 ms, or now when asked).
    void takeCopied(bool force = false);
    // While the copy is filled: waits a moment at most until it holds the record at physical
    // position `row`. Whether it is there while the fill goes on; false when the fill has ended
    // (and was taken in) or the record did not come in time.
    bool awaitCopied(long long row);
    std::chrono::steady_clock::time_point lastTaken{};
    [[noreturn]] static void raiseClosed();
    void checkWritable() const;  // 3027, with the reason when there is one
    long long physCount() const { return snapshot ? (long long)rows.size() : (long long)keys.size(); }
    long long recordCount() const { return physCount() - (long long)goneCount; }
    bool isGone(long long p) const { return !snapshot && goneCount && gone[size_t(p)]; }
    long long nextLive(long long p) const;  // first live index >= p, or physCount()
    long long prevLive(long long p) const;  // last live index <= p, or -1
    bool hasCurrent() const { return phys >= 0 && phys < physCount() && !currentDeleted; }
    long long logicalOf(long long p) const;
    long long physOf(long long logical) const;

    // The value of a field of the record at physical index p; 3167 for a record deleted meanwhile.
    // Read for every cell a grid shows: the cached block is looked at here, the rest is out of line.
    const Variant& value(long long p, int index) {
        const long long block = p / kBlock;
        if (!snapshot && block == cacheBlock && cacheGen == generation->load(std::memory_order_relaxed)) {
            const size_t j = size_t(p - block * kBlock);
            if (!cacheMissing[j]) return cacheVals[cacheCells[j * fields.size() + size_t(index)]];
        }
        return valueSlow(p, index);
    }
    const Variant& valueSlow(long long p, int index);
    void loadBlock(long long block);
    // The records of ids[0..count) read in one range scan with st (its two ends bound here) into
    // cells, vals and missing, laid out as the block cache is.
    int readRange(sqlite3_stmt* st, const int64_t* ids, int count, std::vector<uint32_t>& cells,
                  std::vector<Variant>& vals, std::vector<uint8_t>& missing) const;
    // Whether the records of ids[0..count) are read best by one range scan (readRange).
    static bool rangeScanned(const int64_t* ids, int count);
    // An empty block of count records; then the values of the found record j, one for each field
    // from valueAt(field).
    void startBlock(int count, std::vector<uint32_t>& cells, std::vector<Variant>& vals,
                    std::vector<uint8_t>& missing) const;
    template <class ValueAt>
    void readRow(ValueAt valueAt, size_t j, std::vector<uint32_t>& cells, std::vector<Variant>& vals,
                 std::vector<uint8_t>& missing) const;
    // The range scan's statement: the rows handed to readRange through tabulon_rows when every
    // field is a column of the table (no call into the statement for each value), else the columns.
    const QString& rangeSql();
    QString rangeText;
    void discardEdit() { editMode = 0; }
    int fieldIndex(const QString& name) const;  // -1 when unknown
    Variant fromColumn(sqlite3_stmt* st, int col, const FieldMeta& f) const;
    // The same for a column's value that is not NULL; storage is its SQLite type.
    Variant fromValue(sqlite3_value* sv, int storage, const FieldMeta& f) const;
    static void toBound(const Variant& v, Bound& out);
};

}  // namespace dao
