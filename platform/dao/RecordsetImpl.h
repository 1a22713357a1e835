#pragma once

// Internal to the engine: the state behind a Recordset.

#include <QHash>
#include <QString>
#include <memory>
#include <vector>

#include "Connection.h"
#include "Variant.h"

struct sqlite3_stmt;

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

class RecordsetImpl {
public:
    std::shared_ptr<Connection> conn;
    QString source;  // as given
    QString name;
    int type = 2;
    bool updatable = false;
    bool open = true;
    std::vector<FieldMeta> fields;

    // The parts of a select over one table (dynaset).
    QString table, selectList, whereClause, orderClause, limitClause, jetWithoutOrder;

    // Dynaset: the row ids; snapshot: the rows.
    std::vector<int64_t> keys;
    std::vector<uint8_t> gone;  // records deleted through this recordset
    size_t goneCount = 0;
    LiveIndex live;
    std::vector<std::vector<Variant>> rows;  // snapshot rows
    bool snapshot = false;

    // Current record: a physical index; -1 before the first, size() after the last.
    long long phys = -1;
    bool currentDeleted = false;

    // Block cache of dynaset values.
    static constexpr int kBlock = 512;
    long long cacheBlock = -1;
    uint64_t cacheGen = 0;
    std::vector<Variant> cacheVals;  // kBlock rows x fields
    std::vector<uint8_t> cacheMissing;

    // Table columns behind the fields (a column may stand twice in the select list) and the
    // statements of this recordset, prepared once.
    std::vector<int> colOf;          // field -> index in cols, -1 for an expression
    std::vector<QString> cols;
    QHash<QByteArray, sqlite3_stmt*> writeStmts;
    QByteArray scratchKey;
    std::vector<int> scratchSource, scratchWritten;
    sqlite3_stmt* rangeStmt = nullptr;
    sqlite3_stmt* inStmt = nullptr;
    ~RecordsetImpl();
    sqlite3_stmt* statement(sqlite3_stmt*& slot, const QString& sql);
    void mapColumns();

    int editMode = 0;
    std::vector<Variant> buffer;
    std::vector<uint8_t> dirty;

    QString sort;
    bool noMatch = false;

    // ---
    void checkOpen() const;
    long long physCount() const { return snapshot ? (long long)rows.size() : (long long)keys.size(); }
    long long recordCount() const { return physCount() - (long long)goneCount; }
    bool isGone(long long p) const { return !snapshot && goneCount && gone[size_t(p)]; }
    long long nextLive(long long p) const;  // first live index >= p, or physCount()
    long long prevLive(long long p) const;  // last live index <= p, or -1
    bool hasCurrent() const { return phys >= 0 && phys < physCount() && !currentDeleted; }
    long long logicalOf(long long p) const;
    long long physOf(long long logical) const;

    const Variant& value(long long p, int index);  // 3167 for a record deleted meanwhile
    void loadBlock(long long block);
    void discardEdit() { editMode = 0; }
    int fieldIndex(const QString& name) const;  // -1 when unknown
    Variant fromColumn(sqlite3_stmt* st, int col, const FieldMeta& f) const;
    void bindValue(sqlite3_stmt* st, int col, const Variant& v, const FieldMeta& f) const;
};

}  // namespace dao
