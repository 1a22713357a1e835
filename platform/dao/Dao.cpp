#include "Dao.h"

#include <sqlite3.h>

#include <QDate>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "Connection.h"
#include "Conversions.h"
#include "JetFile.h"
#include "JetSql.h"
#include "RecordsetImpl.h"
#include "SqliteFunctions.h"

namespace dao {

namespace {

using Session = Connection::Session;

QString valueText(sqlite3_value* v) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
}

QString columnText(sqlite3_stmt* st, int col) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, col)),
                             sqlite3_column_bytes(st, col));
}

// The UTF-8 form of a text appended to `out`, whose room is reused. A text with a surrogate goes
// through Qt's converter, which decides how an unpaired one is written.
void appendUtf8(QStringView t, QByteArray& out) {
    const qsizetype start = out.size();
    out.resize(start + t.size() * 3);
    char* o = out.data() + start;
    for (const QChar c : t) {
        const char16_t u = c.unicode();
        if (u < 0x80) {
            *o++ = char(u);
        } else if (u < 0x800) {
            *o++ = char(0xC0 | (u >> 6));
            *o++ = char(0x80 | (u & 0x3F));
        } else if (QChar::isSurrogate(u)) {
            out.resize(start);
            out += t.toUtf8();
            return;
        } else {
            *o++ = char(0xE0 | (u >> 12));
            *o++ = char(0x80 | ((u >> 6) & 0x3F));
            *o++ = char(0x80 | (u & 0x3F));
        }
    }
    out.resize(o - out.constData());
}

// The reused value buffers keep their room for the next record, but not the room of a large text
// or binary value.
void dropLargeBuffers(std::vector<Bound>& binds) {
    for (Bound& b : binds)
        if (b.bytes.capacity() > 256 * 1024) b.bytes = QByteArray();
}

int inferType(int storage, sqlite3_int64 iv) {
    switch (storage) {
        case SQLITE_INTEGER: return (iv >= INT32_MIN && iv <= INT32_MAX) ? dbLong : dbDecimal;
        case SQLITE_FLOAT: return dbDouble;
        case SQLITE_BLOB: return dbLongBinary;
        default: return dbText;
    }
}

bool startsWithSelect(const QString& s) {
    const QString t = s.trimmed();
    return t.startsWith("select", Qt::CaseInsensitive) &&
           (t.size() == 6 || t[6].isSpace() || t[6] == '[' || t[6] == '*');
}

// Statements other than a select that give rows: with … select, pragma, values, explain.
bool givesRows(const QString& s) {
    static const QRegularExpression re(QStringLiteral("^\\s*(with|pragma|values|explain)\\b"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(s).hasMatch();
}

enum class TableKind { Table, WithoutRowid, View };

// A table or view of the database by name, case-insensitively; its exact name, or empty.
QString findTable(Session& s, const QString& name, TableKind* kind = nullptr) {
    const auto owned = s.cached(
        "SELECT name, type, sql FROM sqlite_master WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE");
    sqlite3_stmt* st = owned->get();
    const QByteArray u = name.toUtf8();
    sqlite3_bind_text(st, 1, u.constData(), int(u.size()), SQLITE_TRANSIENT);
    QString found;
    if (sqlite3_step(st) == SQLITE_ROW) {
        found = columnText(st, 0);
        if (kind) {
            static const QRegularExpression withoutRowid(QStringLiteral("\\)[\\s]*WITHOUT\\s+ROWID\\b[^)]*$"),
                                                         QRegularExpression::CaseInsensitiveOption);
            if (columnText(st, 1) != "table") *kind = TableKind::View;
            else if (withoutRowid.match(columnText(st, 2)).hasMatch()) *kind = TableKind::WithoutRowid;
            else *kind = TableKind::Table;
        }
    }
    sqlite3_reset(st);
    return found;
}

// The primary-key columns of a table, in key order.
std::vector<QString> primaryKey(Session& s, const QString& table) {
    Statement st = s.prepare("SELECT name FROM pragma_table_info(?1) WHERE pk > 0 ORDER BY pk");
    const QByteArray u = table.toUtf8();
    sqlite3_bind_text(st.get(), 1, u.constData(), int(u.size()), SQLITE_TRANSIENT);
    std::vector<QString> cols;
    while (sqlite3_step(st.get()) == SQLITE_ROW) cols.push_back(columnText(st.get(), 0));
    return cols;
}

// A row's values as a statement's columns 1...
auto columnValues(sqlite3_stmt* st) {
    return [st](size_t i) { return sqlite3_column_value(st, int(i) + 1); };
}

}  // namespace

void readMeta(sqlite3_stmt* st, RecordsetImpl& r, int firstCol) {
    const int n = sqlite3_column_count(st);
    for (int i = firstCol; i < n; ++i) {
        FieldMeta f;
        f.name = QString::fromUtf8(sqlite3_column_name(st, i));
        const char* decl = sqlite3_column_decltype(st, i);
        const char* origin = sqlite3_column_origin_name(st, i);
        const char* tab = sqlite3_column_table_name(st, i);
        if (decl && *decl) {
            const DeclaredType dt = fieldTypeFromDeclared(QString::fromUtf8(decl));
            f.type = dt.type;
            f.size = dt.size;
        } else {
            f.dynamic = true;
            f.type = origin ? dbMemo : dbText;
            f.size = origin ? 0 : 255;
        }
        if (origin && tab && !r.table.isEmpty() && QString::fromUtf8(tab).compare(r.table, Qt::CaseInsensitive) == 0)
            f.column = QString::fromUtf8(origin);
        r.fields.push_back(f);
    }
}

// A value that needs no conversion to be stored in a field of this type.
bool alreadyOfType(const Variant& v, int type) {
    using T = Variant::Type;
    switch (v.type()) {
        case T::Null: return true;
        case T::Boolean: return type == dbBoolean;
        case T::Byte: return type == dbByte;
        case T::Integer: return type == dbInteger;
        case T::Long: return type == dbLong;
        case T::BigInt: return type == dbBigInt;
        case T::Currency: return type == dbCurrency;
        case T::Single: return type == dbSingle;
        case T::Double: return type == dbDouble || type == dbFloat || type == dbNumeric;
        case T::Date: return type == dbDate;
        case T::String: return type == dbText || type == dbMemo;
        case T::Binary: return type == dbBinary || type == dbLongBinary;
        default: return false;
    }
}

std::vector<QString> splitTopLevel(const QString& s) {
    std::vector<QString> parts;
    int depth = 0;
    bool bracket = false, quote = false;
    QString cur;
    for (QChar c : s) {
        if (c == '[' && !quote) bracket = true;
        if (c == ']' && !quote) bracket = false;
        if (c == '\'' && !bracket) quote = !quote;
        if (!bracket && !quote) {
            if (c == '(') ++depth;
            if (c == ')') --depth;
            if (c == ',' && depth == 0) {
                parts.push_back(cur.trimmed());
                cur.clear();
                continue;
            }
        }
        cur += c;
    }
    if (!cur.trimmed().isEmpty()) parts.push_back(cur.trimmed());
    return parts;
}

// The engine types of a table's columns, by lower-cased name, for typed criteria checks.
FieldTypeLookup columnTypes(Session& s, const QString& table) {
    if (table.isEmpty()) return {};
    auto types = std::make_shared<QHash<QString, int>>();
    Statement st = s.prepare("SELECT * FROM " + quoteIdent(table) + " LIMIT 0");
    for (int i = 0; i < sqlite3_column_count(st.get()); ++i) {
        const char* decl = sqlite3_column_decltype(st.get(), i);
        if (decl && *decl)
            types->insert(QString::fromUtf8(sqlite3_column_name(st.get(), i)).toLower(),
                          fieldTypeFromDeclared(QString::fromUtf8(decl)).type);
    }
    return [types](const QString& name) { return types->value(name.toLower(), 0); };
}

// SQLite's own SQL would reach an Access file's working copy behind the translation's back.
void refuseNativeOnJet(const Connection& conn) {
    if (conn.jetCopy())
        raise(err::InvalidArgument,
              QStringLiteral("SQL is passed to SQLite unchanged for SQLite files only; '%1' is an Access file.")
                  .arg(conn.path()));
}

std::shared_ptr<RecordsetImpl> openImpl(const std::shared_ptr<Connection>& conn, const QString& source, int type) {
    // A table (its name, or a select of its fields with no condition, order or limit) opened while
    // the working copy is filled shows the records there and waits for the rest only when more is
    // asked of it; anything else waits for the fill first.
    const bool mayBePartial = conn->filling() && !(type & dbSQLPassThrough);
    Session s = mayBePartial ? conn->partialSession() : conn->session();
    s.use();
    auto r = std::make_shared<RecordsetImpl>();
    r->conn = conn;
    r->generation = &conn->generationCounter();
    r->source = source;
    const bool native = (type & dbSQLPassThrough) != 0;
    type &= ~dbSQLPassThrough;
    if (native) refuseNativeOnJet(*conn);
    QString jet = source.trimmed();
    bool rowsStatement = native;
    if (!native && !startsWithSelect(jet)) {
        QString bare = jet;
        if (bare.startsWith('[') && bare.endsWith(']')) bare = bare.mid(1, bare.size() - 2);
        const QString t = findTable(s, bare);
        // Comments are no part of a name or a verb (the translation blanks them again).
        const QString text = blankSqlComments(jet).trimmed();
        if (t.isEmpty() && text.isEmpty() && !jet.isEmpty())
            raise(err::SyntaxError, QStringLiteral("The SQL text holds no statement: %1").arg(jet));
        if (!t.isEmpty())
            jet = "SELECT * FROM " + jetName(t);
        else if (startsWithSelect(text))
            jet = text;
        else if (givesRows(text))
            rowsStatement = true;
        else
            raise(err::TableNotFound,
                  QString("The engine cannot find the input table or query '%1'.").arg(bare));
    }
    TranslatedSql ts;
    if (native)
        ts.sql = source;
    else
        ts = translateJetSql(jet);
    TableKind kind = TableKind::Table;
    const QString table = ts.singleTable ? findTable(s, ts.table, &kind) : QString();
    std::shared_ptr<jet::JetFill> filling;
    qint64 counted = -1;
    if (mayBePartial) {
        const auto& fill = conn->jetCopy()->fill;
        if (!table.isEmpty() && kind == TableKind::Table && type != dbOpenSnapshot && ts.whereClause.isEmpty() &&
            ts.orderClause.isEmpty() && ts.limitClause.isEmpty() && !fill->finished())
            counted = fill->countedRecords(table);
        // A table copied whole with its first records is there already: read as a whole, and
        // refused now when it fell short.
        const qint64 copied = counted >= 0 ? fill->copiedRecords(table) : -1;
        if (copied >= 0 && copied < counted)
            jet::checkTableReadable({{table, copied, counted}}, conn->path(), table);
        if (counted >= 0 && copied < 0)
            filling = fill;
        else if (counted < 0)
            s.awaitFill();
    }
    // A damaged table of a Jet file is an error, not the records that happened to be readable.
    if (conn->jetCopy() && !table.isEmpty() && !conn->filling())
        jet::checkTableReadable(conn->jetCopy()->damaged, conn->path(), table);
    if (!table.isEmpty() && !ts.whereClause.isEmpty()) ts = translateJetSql(jet, columnTypes(s, table));
    r->jetWithoutOrder = ts.jetWithoutOrder;
    std::vector<QString> pk;
    if (kind == TableKind::WithoutRowid) pk = primaryKey(s, table);
    if (!table.isEmpty() && kind != TableKind::View && (kind == TableKind::Table || !pk.empty()) &&
        type != dbOpenSnapshot) {
        r->table = table;
        r->name = table;
        r->selectList = ts.selectList;
        r->whereClause = ts.whereClause;
        r->orderClause = ts.orderClause;
        r->limitClause = ts.limitClause;
        r->type = dbOpenDynaset;
        r->updatable = !conn->isReadOnly();
        r->byPrimaryKey = kind == TableKind::WithoutRowid;
        r->pkCols = pk;
        if (!r->byPrimaryKey) {
            const std::vector<QString> key = primaryKey(s, table);
            if (key.size() == 1) r->rowidKey = key[0];
        }
        const QString from = " FROM " + quoteIdent(table);
        {
            Statement meta = s.prepare("SELECT " + r->selectList + from + " LIMIT 0");
            readMeta(meta.get(), *r, 0);
        }
        r->mapColumns();
        QString keyCols = "rowid";
        if (r->byPrimaryKey) {
            keyCols.clear();
            for (const QString& c : pk) keyCols += (keyCols.isEmpty() ? "" : ", ") + quoteIdent(c);
        }
        QString keySql = "SELECT " + keyCols + from;
        if (!r->whereClause.isEmpty()) keySql += " WHERE " + r->whereClause;
        if (!r->orderClause.isEmpty()) keySql += " ORDER BY " + r->orderClause;
        if (!r->limitClause.isEmpty()) keySql += " " + r->limitClause;
        Statement ks = s.prepare(keySql);
        int rc;
        if (r->byPrimaryKey) {
            while ((rc = sqlite3_step(ks.get())) == SQLITE_ROW) {
                std::vector<Bound> key;
                for (int i = 0; i < int(pk.size()); ++i) key.push_back(Bound::column(ks.get(), i));
                r->keys.push_back(int64_t(r->pkKeys.size()));
                r->pkKeys.push_back(std::move(key));
            }
        } else {
            // Row ids mostly run from 1 to about the count: room for that many spares the copies of a
            // growing keyset (untouched room costs no memory, and what is left over is given back).
            Statement top = s.prepare("SELECT max(rowid) FROM " + quoteIdent(table));
            if (sqlite3_step(top.get()) == SQLITE_ROW)
                r->keys.reserve(size_t(std::clamp<sqlite3_int64>(
                    std::max<sqlite3_int64>(sqlite3_column_int64(top.get(), 0), counted), 0, 1LL << 27)));
            while ((rc = sqlite3_step(ks.get())) == SQLITE_ROW) r->keys.push_back(sqlite3_column_int64(ks.get(), 0));
        }
        if (rc != SQLITE_DONE) s.fail(keySql);
        if (filling) {
            r->filling = std::move(filling);
            r->counted = counted;
        } else {
            r->keys.shrink_to_fit();
        }
        // Expression fields take the type of their first value.
        bool anyExpr = false;
        for (auto& f : r->fields) anyExpr |= f.dynamic && f.column.isEmpty();
        if (anyExpr && !r->keys.empty()) {
            Statement one = s.prepare("SELECT " + r->selectList + from + " WHERE " + r->keyWhere(1));
            r->bindKey(one.get(), 1, 0, nullptr);
            if (sqlite3_step(one.get()) == SQLITE_ROW)
                for (size_t i = 0; i < r->fields.size(); ++i)
                    if (r->fields[i].dynamic && r->fields[i].column.isEmpty())
                        r->fields[i].type = inferType(sqlite3_column_type(one.get(), int(i)),
                                                      sqlite3_column_int64(one.get(), int(i)));
        }
    } else {
        if (!ts.isSelect && !rowsStatement)
            raise(err::SyntaxError, "Only a select query gives records: " + source);
        r->snapshot = true;
        r->type = dbOpenSnapshot;
        r->name = ts.table.isEmpty() ? source : ts.table;
        if (kind == TableKind::View && !table.isEmpty())
            r->readOnlyReason = QString("Cannot update. '%1' is a view; its records cannot be changed.").arg(table);
        else if (kind == TableKind::WithoutRowid && !table.isEmpty() && pk.empty())
            r->readOnlyReason = QString("Cannot update. Table '%1' has no primary key to find its records by.").arg(table);
        r->table = table;  // for field metadata only
        r->selectList = ts.sql;
        Statement st = s.prepare(ts.sql);
        // Records are read, never written: a statement that would change the file is refused unrun.
        if (!sqlite3_stmt_readonly(st.get()))
            raise(err::SyntaxError, "Only a statement that reads gives records: " + source);
        readMeta(st.get(), *r, 0);
        r->table.clear();
        for (auto& f : r->fields) f.column.clear();
        r->mapColumns();
        std::vector<uint8_t> typed(r->fields.size(), 0);
        int rc;
        while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
            std::vector<Variant> row;
            row.reserve(r->fields.size());
            for (size_t i = 0; i < r->fields.size(); ++i) {
                auto& f = r->fields[i];
                const int storage = sqlite3_column_type(st.get(), int(i));
                if (f.dynamic && !typed[i] && storage != SQLITE_NULL) {
                    f.type = inferType(storage, sqlite3_column_int64(st.get(), int(i)));
                    typed[i] = 1;
                }
                row.push_back(r->fromColumn(st.get(), int(i), f));
            }
            r->rows.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE) s.fail(ts.sql);
    }
    r->phys = r->physCount() > 0 ? 0 : -1;
    return r;
}

namespace {

}  // namespace

// ---- LiveIndex ----------------------------------------------------------------------------------

void LiveIndex::reset(size_t n) {
    n_ = n;
    tree_.assign(n + 1, 0);
    for (size_t i = 1; i <= n; ++i) {
        tree_[i] += 1;
        const size_t parent = i + (i & (~i + 1));
        if (parent <= n) tree_[parent] += tree_[i];
    }
}
void LiveIndex::add(size_t i, int d) {
    for (size_t k = i + 1; k <= n_; k += k & (~k + 1)) tree_[k] += d;
}
void LiveIndex::append() {
    // Node i of a Fenwick tree covers (i - lowbit(i), i]: the new live record plus what the older
    // nodes already count in that range, so an append costs O(log n).
    ++n_;
    tree_.push_back(0);
    const size_t i = n_;
    const size_t low = i & (~i + 1);
    tree_[i] = 1 + int(rank(i - 1) - rank(i - low));
}
void LiveIndex::remove(size_t phys) { add(phys, -1); }
size_t LiveIndex::rank(size_t phys) const {
    long long s = 0;
    for (size_t k = phys; k > 0; k -= k & (~k + 1)) s += tree_[k];
    return size_t(s);
}
size_t LiveIndex::select(size_t liveIndex) const {
    size_t pos = 0;
    long long rem = (long long)liveIndex;
    size_t step = 1;
    while (step * 2 <= n_) step *= 2;
    for (; step > 0; step /= 2) {
        if (pos + step <= n_ && tree_[pos + step] <= rem) {
            pos += step;
            rem -= tree_[pos];
        }
    }
    return pos;  // 0-based physical index
}

// ---- RecordsetImpl -----------------------------------------------------------------------------

void RecordsetImpl::raiseClosed() { raise(err::ObjectClosed); }

void RecordsetImpl::checkWritable() const {
    if (updatable) return;
    if (!readOnlyReason.isEmpty()) raise(err::ReadOnly, readOnlyReason);
    conn->refuseWrite();
}

RecordsetImpl::~RecordsetImpl() {
    if (!conn) return;
    stopAhead();
    {
        // Statements are finalized under the connection's lock: the flusher may be using the handle.
        Session s = conn->partialSession();
        ahead.reset();
        lastWrite = nullptr;
        writeStmts.clear();
        findIn.clear();
        rangeStmt = StmtSlot();
        inStmt = StmtSlot();
        keyStmt = StmtSlot();
        findRange = StmtSlot();
    }
    releaseConnection(conn);
}

sqlite3_stmt* RecordsetImpl::statement(Session& s, StmtSlot& slot, const QString& sql) {
    if (slot.st && slot.epoch == s.epoch()) {
        sqlite3_reset(slot.st.get());
        sqlite3_clear_bindings(slot.st.get());
        return slot.st.get();
    }
    slot.st = s.prepare(sql);
    slot.epoch = s.epoch();
    slot.sql = sql;
    return slot.st.get();
}

void RecordsetImpl::keyOf(long long p, BatchRecord& change) const {
    if (byPrimaryKey) change.key = keyText(p);
    else change.rowid = keys[size_t(p)];
}

QString RecordsetImpl::keyText(long long p) const {
    if (!byPrimaryKey) return QString::number(keys[size_t(p)]);
    QStringList parts;
    for (const Bound& b : pkKeys[size_t(keys[size_t(p)])]) parts << b.text();
    return parts.join(", ");
}

QString RecordsetImpl::keyWhere(int firstParam) const {
    if (!byPrimaryKey) return QString("rowid=?%1").arg(firstParam);
    QString w;
    for (size_t i = 0; i < pkCols.size(); ++i)
        w += (i ? " AND " : "") + quoteIdent(pkCols[i]) + "=?" + QString::number(firstParam + int(i));
    return w;
}

int RecordsetImpl::bindKey(sqlite3_stmt* st, int firstParam, long long p, std::vector<Bound>* record) const {
    if (!byPrimaryKey) {
        sqlite3_bind_int64(st, firstParam, keys[size_t(p)]);
        if (record) record->push_back(Bound::integer(keys[size_t(p)]));
        return 1;
    }
    const auto& key = pkKeys[size_t(keys[size_t(p)])];
    for (size_t i = 0; i < key.size(); ++i) {
        key[i].bind(st, firstParam + int(i));
        if (record) record->push_back(key[i]);
    }
    return int(key.size());
}

void RecordsetImpl::mapColumns() {
    colOf.assign(fields.size(), -1);
    cols.clear();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].column.isEmpty()) continue;
        int c = -1;
        for (size_t k = 0; k < cols.size(); ++k)
            if (cols[k].compare(fields[i].column, Qt::CaseInsensitive) == 0) c = int(k);
        if (c < 0) {
            c = int(cols.size());
            cols.push_back(fields[i].column);
        }
        colOf[i] = c;
    }
}

long long RecordsetImpl::logicalOf(long long p) const { return goneCount ? (long long)live.rank(size_t(p)) : p; }
long long RecordsetImpl::physOf(long long l) const { return goneCount ? (long long)live.select(size_t(l)) : l; }

long long RecordsetImpl::nextLive(long long p) const {
    if (p < 0) p = 0;
    if (!goneCount || p >= physCount()) return std::min(p, physCount());
    const long long l = (long long)live.rank(size_t(p));
    return l >= recordCount() ? physCount() : (long long)live.select(size_t(l));
}

long long RecordsetImpl::prevLive(long long p) const {
    if (p >= physCount()) p = physCount() - 1;
    if (!goneCount || p < 0) return p;
    const long long l = (long long)live.rank(size_t(p) + 1);  // live records at or before p
    return l == 0 ? -1 : (long long)live.select(size_t(l - 1));
}

bool sameFieldName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

int RecordsetImpl::fieldIndex(const QString& name) const {
    for (size_t i = 0; i < fields.size(); ++i)
        if (sameFieldName(fields[i].name, name)) return int(i);
    return -1;
}

Variant RecordsetImpl::fromColumn(sqlite3_stmt* st, int col, const FieldMeta& f) const {
    // One call into the statement per column; the value is read through the value interface, which
    // is safe here because the connection has no mutex of its own (each Session holds ours).
    sqlite3_value* sv = sqlite3_column_value(st, col);
    const int storage = sqlite3_value_type(sv);
    if (storage == SQLITE_NULL) return Variant::null();
    return fromValue(sv, storage, f);
}

Variant RecordsetImpl::fromValue(sqlite3_value* sv, int storage, const FieldMeta& f) const {
    if (f.dynamic) {
        switch (storage) {
            case SQLITE_INTEGER: {
                return wholeNumber(sqlite3_value_int64(sv));
            }
            case SQLITE_FLOAT: return Variant::fromDouble(sqlite3_value_double(sv));
            case SQLITE_BLOB:
                return Variant::fromBinary(QByteArray(static_cast<const char*>(sqlite3_value_blob(sv)),
                                                      sqlite3_value_bytes(sv)));
            default: return Variant::fromString(valueText(sv));
        }
    }
    const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
    switch (f.type) {
        case dbBoolean:
            if (number) return Variant::fromBool(sqlite3_value_double(sv) != 0);
            {
                const QString s = valueText(sv).trimmed().toLower();
                if (s == "true" || s == "yes" || s == "-1" || s == "1") return Variant::fromBool(true);
                if (s == "false" || s == "no" || s == "0") return Variant::fromBool(false);
                return Variant::fromString(valueText(sv));
            }
        case dbByte:
        case dbInteger:
        case dbLong:
            if (storage == SQLITE_INTEGER) {
                const sqlite3_int64 v = sqlite3_value_int64(sv);
                if (f.type == dbByte && v >= 0 && v <= 255) return Variant::fromByte(uint8_t(v));
                if (f.type == dbInteger && v >= INT16_MIN && v <= INT16_MAX) return Variant::fromInteger(int16_t(v));
                return wholeNumber(v);
            }
            if (storage == SQLITE_FLOAT) return Variant::fromDouble(sqlite3_value_double(sv));
            return Variant::fromString(valueText(sv));
        case dbBigInt:
            if (storage == SQLITE_INTEGER) return Variant::fromBigInt(sqlite3_value_int64(sv));
            if (storage == SQLITE_FLOAT) return Variant::fromDouble(sqlite3_value_double(sv));
            return Variant::fromString(valueText(sv));
        case dbCurrency:
            if (storage == SQLITE_INTEGER) {
                const sqlite3_int64 v = sqlite3_value_int64(sv);
                if (std::llabs(v) <= INT64_MAX / 10000) return Variant::fromCurrency(v * 10000);
                return Variant::fromDouble(double(v));
            }
            if (storage == SQLITE_FLOAT) {
                const double v = sqlite3_value_double(sv) * 10000.0;
                if (std::fabs(v) < 9.2e18) return Variant::fromCurrency(std::llround(v));
                return Variant::fromDouble(v / 10000.0);
            }
            return Variant::fromString(valueText(sv));
        case dbSingle:
            if (number) return Variant::fromSingle(float(sqlite3_value_double(sv)));
            return Variant::fromString(valueText(sv));
        case dbDouble:
        case dbFloat:
        case dbNumeric:
            if (number) return Variant::fromDouble(sqlite3_value_double(sv));
            return Variant::fromString(valueText(sv));
        case dbDecimal:
            if (number || storage == SQLITE_TEXT) return Variant::fromDecimal(valueText(sv));
            break;
        case dbDate: {
            if (number) return Variant::fromDate(sqlite3_value_double(sv));
            double d;
            if (storage == SQLITE_TEXT &&
                parseStoredDate(reinterpret_cast<const char*>(sqlite3_value_text(sv)),
                                sqlite3_value_bytes(sv), &d))
                return Variant::fromDate(d);
            return Variant::fromString(valueText(sv));
        }
        case dbBinary:
        case dbLongBinary:
            if (storage == SQLITE_BLOB)
                return Variant::fromBinary(QByteArray(static_cast<const char*>(sqlite3_value_blob(sv)),
                                                      sqlite3_value_bytes(sv)));
            break;
        default: break;
    }
    if (storage == SQLITE_BLOB)
        return Variant::fromBinary(
            QByteArray(static_cast<const char*>(sqlite3_value_blob(sv)), sqlite3_value_bytes(sv)));
    return Variant::fromString(valueText(sv));
}

void RecordsetImpl::toBound(const Variant& v, Bound& b) {
    // `b` is reused record after record: its byte buffer keeps its room, so text costs no allocation.
    b.i = 0;
    b.d = 0;
    b.bytes.resize(0);
    switch (v.type()) {
        case Variant::Type::Empty:
        case Variant::Type::Null: b.kind = Bound::Null; break;
        case Variant::Type::Boolean:
            b.kind = Bound::Int;
            b.i = v.asBool() ? 1 : 0;
            break;
        case Variant::Type::Byte:
        case Variant::Type::Integer:
        case Variant::Type::Long:
        case Variant::Type::BigInt:
            b.kind = Bound::Int;
            b.i = v.asInt();
            break;
        case Variant::Type::Currency:
            if (v.asCurrency() % 10000 == 0) {
                b.kind = Bound::Int;
                b.i = v.asCurrency() / 10000;
            } else {
                b.kind = Bound::Real;
                b.d = double(v.asCurrency()) / 10000.0;
            }
            break;
        case Variant::Type::Single:
            b.kind = Bound::Real;
            b.d = QString::number(float(v.asDouble()), 'g', 7).toDouble();
            break;
        case Variant::Type::Double:
            b.kind = Bound::Real;
            b.d = v.asDouble();
            break;
        case Variant::Type::Date: {
            b.kind = Bound::Text;
            char text[kStoredDateChars];
            const int n = storedDateChars(v.asDate(), text);
            b.bytes.append(text, n);
            break;
        }
        case Variant::Type::String:
        case Variant::Type::Decimal:
            b.kind = Bound::Text;
            appendUtf8(v.stringRef(), b.bytes);
            break;
        case Variant::Type::Binary:
            b.kind = Bound::Blob;
            b.bytes = v.asBinary();
            break;
    }
}

template <class ValueAt>
void RecordsetImpl::readRow(ValueAt valueAt, size_t j, std::vector<uint32_t>& cells, std::vector<Variant>& vals,
                            std::vector<uint8_t>& missing) const {
    const size_t nf = fields.size();
    uint32_t* row = cells.data() + j * nf;
    for (size_t i = 0; i < nf; ++i) {
        sqlite3_value* sv = valueAt(i);
        const int storage = sqlite3_value_type(sv);
        if (storage == SQLITE_NULL) {
            row[i] = 0;
        } else {
            row[i] = uint32_t(vals.size());
            vals.push_back(fromValue(sv, storage, fields[i]));
        }
    }
    missing[j] = 0;
}

void RecordsetImpl::startBlock(int count, std::vector<uint32_t>& cells, std::vector<Variant>& vals,
                               std::vector<uint8_t>& missing) const {
    // Every cell of a found row is assigned; a row not found is flagged and never read.
    cells.resize(size_t(count) * fields.size());
    vals.clear();
    vals.push_back(Variant::null());
    missing.assign(size_t(count), 1);
}

bool RecordsetImpl::rangeScanned(const int64_t* ids, int count) {
    return count > 0 && std::is_sorted(ids, ids + count) && std::adjacent_find(ids, ids + count) == ids + count &&
           ids[count - 1] - ids[0] < 4LL * count;
}

const QString& RecordsetImpl::rangeSql() {
    if (!rangeText.isEmpty()) return rangeText;
    const QString range = " FROM " + quoteIdent(table) + " WHERE rowid BETWEEN ?1 AND ?2";
    bool columns = !fields.empty() && fields.size() <= size_t(kRowSinkMaxValues);
    QString values;
    for (const FieldMeta& f : fields) {
        columns = columns && !f.column.isEmpty();
        values += ", " + quoteIdent(f.column);
    }
    rangeText = columns ? "SELECT tabulon_rows(?3, rowid" + values + ")" + range : "SELECT rowid, " + selectList + range;
    return rangeText;
}

int RecordsetImpl::readRange(sqlite3_stmt* st, const int64_t* ids, int count, std::vector<uint32_t>& cells,
                             std::vector<Variant>& vals, std::vector<uint8_t>& missing) const {
    startBlock(count, cells, vals, missing);
    // The rows in the order of their ids, as the keys are: each is matched with the next key.
    struct Rows final : RowSink {
        const RecordsetImpl& r;
        const int64_t* ids;
        int count;
        std::vector<uint32_t>& cells;
        std::vector<Variant>& vals;
        std::vector<uint8_t>& missing;
        int j = 0;
        Rows(const RecordsetImpl& r, const int64_t* ids, int count, std::vector<uint32_t>& cells,
             std::vector<Variant>& vals, std::vector<uint8_t>& missing)
            : r(r), ids(ids), count(count), cells(cells), vals(vals), missing(missing) {}
        // The record the row is, or -1.
        int recordOf(int64_t rid) {
            while (j < count && ids[j] < rid) ++j;
            return j < count && ids[j] == rid ? j : -1;
        }
        void row(int64_t rid, sqlite3_value** values, int n) override {
            const int at = n == int(r.fields.size()) ? recordOf(rid) : -1;
            if (at >= 0) r.readRow([values](size_t i) { return values[i]; }, size_t(at), cells, vals, missing);
        }
    } rows(*this, ids, count, cells, vals, missing);
    // A statement of rangeSql() with the sink's parameter hands the rows to it.
    const bool sunk = sqlite3_bind_parameter_count(st) == 3;
    sqlite3_bind_int64(st, 1, ids[0]);
    sqlite3_bind_int64(st, 2, ids[count - 1]);
    if (sunk) sqlite3_bind_pointer(st, 3, static_cast<RowSink*>(&rows), kRowSinkType, nullptr);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (sunk) continue;
        const int at = rows.recordOf(sqlite3_column_int64(st, 0));
        if (at >= 0) readRow(columnValues(st), size_t(at), cells, vals, missing);
    }
    // The sink lives here only.
    if (sunk) sqlite3_bind_null(st, 3);
    return rc;
}

void RecordsetImpl::loadBlock(long long block) {
    const bool walking = block == lastLoaded + 1 && !byPrimaryKey;
    lastLoaded = block;
    if (takeAhead(block)) {
        if (walking) readAhead(block + 1);
        return;
    }
    // The keys are of records the copy holds, filled or not (a failed fill is refused before).
    Session s = conn->partialSession();
    s.commitOthers();
    const uint64_t gen = conn->generation();
    const long long start = block * kBlock;
    const long long end = std::min<long long>(start + kBlock, (long long)keys.size());
    const int count = int(end - start);
    const int64_t* ids = keys.data() + start;
    const QString cols = (byPrimaryKey ? "SELECT 0, " : "SELECT rowid, ") + selectList + " FROM " + quoteIdent(table);
    int rc = SQLITE_DONE;
    sqlite3_stmt* used = nullptr;
    if (byPrimaryKey) {
        // Found one by one by their key.
        startBlock(count, cacheCells, cacheVals, cacheMissing);
        sqlite3_stmt* st = used = statement(s, keyStmt, cols + " WHERE " + keyWhere(1));
        for (int j = 0; j < count && rc == SQLITE_DONE; ++j) {
            sqlite3_reset(st);
            bindKey(st, 1, start + j, nullptr);
            rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) {
                readRow(columnValues(st), size_t(j), cacheCells, cacheVals, cacheMissing);
                rc = SQLITE_DONE;
            }
        }
    } else if (rangeScanned(ids, count)) {
        // Natural order: one range scan.
        used = statement(s, rangeStmt, rangeSql());
        rc = readRange(used, ids, count, cacheCells, cacheVals, cacheMissing);
    } else {
        startBlock(count, cacheCells, cacheVals, cacheMissing);
        if (count > 0) {
            static const QString placeholders = [] {
                QString p;
                for (int i = 0; i < kBlock; ++i) p += i ? ",?" : "?";
                return p;
            }();
            sqlite3_stmt* st = used = statement(s, inStmt, cols + " WHERE rowid IN (" + placeholders + ")");
            std::vector<std::pair<int64_t, int>> order;
            order.reserve(size_t(count));
            for (int j = 0; j < count; ++j) {
                sqlite3_bind_int64(st, j + 1, ids[j]);
                order.emplace_back(ids[j], j);
            }
            std::sort(order.begin(), order.end());
            while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
                const int64_t rid = sqlite3_column_int64(st, 0);
                auto it = std::lower_bound(order.begin(), order.end(), std::make_pair(rid, INT_MIN));
                for (; it != order.end() && it->first == rid; ++it)
                    readRow(columnValues(st), size_t(it->second), cacheCells, cacheVals, cacheMissing);
            }
        }
    }
    if (rc != SQLITE_DONE) {
        cacheBlock = -1;
        s.fail(cols);
    }
    if (used) sqlite3_reset(used);
    cacheBlock = block;
    cacheGen = gen;
    if (walking) readAhead(block + 1);
}

// ---- Reading ahead -----------------------------------------------------------------------------
// A walk in natural order spends about as long in reading a block from SQLite as in taking its
// values: the next block is read meanwhile on a thread of the recordset's own, with a statement of
// its own, under the connection's lock as any reading is. The block read ahead is taken only when
// nothing was written in the process since (the file's generation), no other connection had changes
// to commit first, and the keys it was read for are still those of the block.

struct RecordsetImpl::BlockAhead {
    enum class State { Idle, Queued, Reading, Done };
    std::mutex mu;  // guards state, quit and the job while Queued; Reading belongs to the thread
    std::condition_variable cv;
    State state = State::Idle;
    bool quit = false;
    long long block = -1;
    std::vector<int64_t> ids;
    QString sql;
    bool ok = false;
    uint64_t gen = 0;  // the file's generation the block was read at
    std::vector<uint32_t> cells;
    std::vector<Variant> vals;
    std::vector<uint8_t> missing;
    StmtSlot stmt;  // used and finalized under the connection's lock
    std::thread thread;
};

void RecordsetImpl::readAhead(long long block) {
    const long long start = block * kBlock;
    if (start + kBlock > (long long)keys.size() || !rangeScanned(keys.data() + start, kBlock)) return;
    if (!ahead) ahead = std::make_unique<BlockAhead>();
    BlockAhead& a = *ahead;
    {
        std::lock_guard<std::mutex> g(a.mu);
        if (a.state == BlockAhead::State::Reading) return;
        a.block = block;
        a.ids.assign(keys.begin() + start, keys.begin() + start + kBlock);
        if (a.sql.isEmpty()) a.sql = rangeSql();
        a.state = BlockAhead::State::Queued;
    }
    if (!a.thread.joinable()) a.thread = std::thread([this] { aheadLoop(); });
    a.cv.notify_all();
}

bool RecordsetImpl::takeAhead(long long block) {
    if (!ahead) return false;
    BlockAhead& a = *ahead;
    std::unique_lock<std::mutex> g(a.mu);
    if (a.block != block) return false;
    if (a.state == BlockAhead::State::Queued) {
        // Not begun: read here, at once.
        a.state = BlockAhead::State::Idle;
        return false;
    }
    a.cv.wait(g, [&] { return a.state != BlockAhead::State::Reading; });
    if (a.state != BlockAhead::State::Done) return false;
    a.state = BlockAhead::State::Idle;
    const size_t start = size_t(block) * kBlock;
    if (!a.ok || a.gen != generation->load() || start + a.ids.size() > keys.size() ||
        !std::equal(a.ids.begin(), a.ids.end(), keys.begin() + ptrdiff_t(start)))
        return false;
    cacheCells.swap(a.cells);
    cacheVals.swap(a.vals);
    cacheMissing.swap(a.missing);
    cacheBlock = block;
    cacheGen = a.gen;
    return true;
}

void RecordsetImpl::aheadLoop() {
    BlockAhead& a = *ahead;
    std::unique_lock<std::mutex> g(a.mu);
    for (;;) {
        a.cv.wait(g, [&] { return a.quit || a.state == BlockAhead::State::Queued; });
        if (a.quit) return;
        // Never waits on the connection's lock: its holder may be waiting for this block (takeAhead).
        auto acquire = [&]() -> std::optional<Session> {
            for (;;) {
                if (a.quit || a.state != BlockAhead::State::Queued) return std::nullopt;
                if (std::optional<Session> s = conn->trySession()) return s;
                g.unlock();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                g.lock();
            }
        };
        std::optional<Session> s = acquire();
        if (!s) continue;
        a.state = BlockAhead::State::Reading;
        g.unlock();
        bool ok = false;
        uint64_t gen = 0;
        try {
            if (s->db() && !s->othersPending()) {
                gen = generation->load();
                sqlite3_stmt* st = statement(*s, a.stmt, a.sql);
                ok = readRange(st, a.ids.data(), int(a.ids.size()), a.cells, a.vals, a.missing) == SQLITE_DONE;
                sqlite3_reset(st);
            }
        } catch (...) {
            ok = false;
        }
        s.reset();
        g.lock();
        a.ok = ok;
        a.gen = gen;
        a.state = BlockAhead::State::Done;
        a.cv.notify_all();
    }
}

void RecordsetImpl::stopAhead() {
    if (!ahead) return;
    {
        std::lock_guard<std::mutex> g(ahead->mu);
        ahead->quit = true;
    }
    ahead->cv.notify_all();
    if (ahead->thread.joinable()) ahead->thread.join();
}

const Variant& RecordsetImpl::valueSlow(long long p, int index) {
    if (snapshot) return rows[size_t(p)][size_t(index)];
    const long long block = p / kBlock;
    if (block != cacheBlock || cacheGen != generation->load(std::memory_order_relaxed)) loadBlock(block);
    const size_t j = size_t(p - block * kBlock);
    if (cacheMissing[j]) raise(err::RecordDeleted);
    return cacheVals[cacheCells[j * fields.size() + size_t(index)]];
}

void RecordsetImpl::setCached(uint32_t& cell, const Variant& v) {
    if (v.isNull()) {
        cell = 0;
    } else if (cell) {
        cacheVals[cell] = v;
    } else {
        cell = uint32_t(cacheVals.size());
        cacheVals.push_back(v);
    }
}

bool RecordsetImpl::partialNowSlow() const {
    if (!filling->finished()) return true;
    // Ended: a failed fill raises, a finished one is taken in (the table may be damaged).
    const_cast<RecordsetImpl*>(this)->completeFill();
    return false;
}

void RecordsetImpl::completeFill() {
    // The session waits for the fill (watched, as any wait for it is) and raises its error.
    Session s = conn->session();
    // A damaged table is said now, as it would have been when opened after the fill.
    jet::checkTableReadable(conn->jetCopy()->damaged, conn->path(), table);
    // The records the fill added after those taken at the open; not those added since by anyone.
    const qint64 copied = filling->copiedRecords(table);
    Statement st = s.prepare("SELECT rowid FROM " + quoteIdent(table) + " WHERE rowid > ?1 AND rowid <= ?2");
    sqlite3_bind_int64(st.get(), 1, keys.empty() ? 0 : keys.back());
    sqlite3_bind_int64(st.get(), 2, copied < 0 ? std::numeric_limits<sqlite3_int64>::max() : copied);
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) keys.push_back(sqlite3_column_int64(st.get(), 0));
    if (rc != SQLITE_DONE) s.fail(table);
    keys.shrink_to_fit();
    if (goneCount) live.reset(keys.size());  // none yet: nothing is deleted before the fill ends
    cacheBlock = -1;  // the last block read may have been short
    filling.reset();
}

void RecordsetImpl::takeCopied(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastTaken < std::chrono::milliseconds(50)) return;
    lastTaken = now;
    // Nothing but the fill adds to the table before it ends: every record past the last key is one.
    Session s = conn->partialSession();
    Statement st = s.prepare("SELECT rowid FROM " + quoteIdent(table) + " WHERE rowid > ?1 ORDER BY rowid");
    sqlite3_bind_int64(st.get(), 1, keys.empty() ? 0 : keys.back());
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) keys.push_back(sqlite3_column_int64(st.get(), 0));
    if (rc != SQLITE_DONE) s.fail(table);
    cacheBlock = -1;  // the last block read may have been short
}

bool RecordsetImpl::awaitCopied(long long row) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (partialNow()) {
        if (row < physCount()) return true;
        const qint64 seen = filling->news();
        takeCopied(true);
        if (row < physCount()) return true;
        // The helper commits every hundredth of a second at most, and says so; a longer wait is one
        // for the whole fill, which the program watches (checkOpen).
        if (std::chrono::steady_clock::now() > until) return false;
        filling->waitFor(seen, 10);
    }
    return false;
}

// ---- Database ----------------------------------------------------------------------------------

Database::Database(std::shared_ptr<Connection> c) : conn_(std::move(c)) {}
Database::Database(std::shared_ptr<pg::PgConnection> c) : pg_(std::move(c)) {}
Database::~Database() {
    if (conn_) releaseConnection(conn_);
}

std::shared_ptr<Database> OpenDatabase(const QString& path) { return OpenDatabase(path, OpenWatch{}); }

std::shared_ptr<Database> OpenDatabase(const QString& path, const OpenWatch& watch) {
    if (pg::isUri(path)) return std::shared_ptr<Database>(new Database(pg::PgConnection::open(path)));
    return std::shared_ptr<Database>(new Database(Connection::open(path, false, watch)));
}

void setOpenInterruptFlag(const std::atomic<bool>* flag) { jet::setInterruptFlag(flag); }

bool openIsReading() { return jet::convertingNow(); }

void setReaderAhead(bool on) { jet::setReaderAhead(on); }

bool IsServerUri(const QString& name) { return pg::isUri(name.trimmed()); }
QString ShownDatabaseName(const QString& name) { return IsServerUri(name) ? pg::withoutPassword(name.trimmed()) : name; }

std::shared_ptr<RecordsetImpl> wrapPg(std::shared_ptr<pg::PgRecordset> rs, const QString& source, const QString& sort) {
    auto impl = std::make_shared<RecordsetImpl>();
    impl->source = source;
    impl->sort = sort;
    impl->fields = rs->fields();
    impl->type = rs->Type();
    impl->updatable = rs->Updatable();
    impl->readOnlyReason = rs->readOnlyReason();
    impl->name = rs->Name();
    impl->pg = std::move(rs);
    return impl;
}

std::shared_ptr<Database> CreateDatabase(const QString& path) {
    return std::shared_ptr<Database>(new Database(Connection::open(path, true)));
}

QStringList Database::TableDefs() const {
    if (pg_) return pg_->tables();
    if (!conn_) raise(err::ObjectClosed);
    // Every table is defined before a working copy is handed out: no wait for its records.
    Session s = conn_->partialSession();
    s.use();
    const auto owned = s.cached(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND substr(name, 1, 7) <> 'sqlite_' ORDER BY rowid");
    sqlite3_stmt* st = owned->get();
    QStringList names;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) names << columnText(st, 0);
    if (rc != SQLITE_DONE) s.fail();
    sqlite3_reset(st);
    return names;
}

QStringList Database::SystemTableDefs() const {
    if (pg_) return {};  // a server's catalogs are not tables of the database
    if (!conn_) raise(err::ObjectClosed);
    QStringList names;
    if (conn_->jetCopy()) {
        // The working copy holds the file's MSys tables after its user tables; the catalog says
        // which tables are the system's.
        try {
            const auto f = jet::JetFile::open(conn_->path());
            if (!f->isJet3() && !f->encoded()) {
                for (const jet::CatalogTable& t : f->catalog())
                    if (t.isSystem()) names << t.name;
                return names;
            }
        } catch (const jet::FormatError&) {
        }
        // Pages the page reader cannot read here (Jet 3, encoded or encrypted): the reader copied
        // the system tables by their names.
        for (const QString& t : TableDefs())
            if (t.startsWith(QLatin1String("MSys"))) names << t;
        return names;
    }
    Session s = conn_->session();
    s.use();
    names << QStringLiteral("sqlite_schema");
    const auto owned = s.cached(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND substr(name, 1, 7) = 'sqlite_' ORDER BY rowid");
    sqlite3_stmt* st = owned->get();
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) names << columnText(st, 0);
    if (rc != SQLITE_DONE) s.fail();
    sqlite3_reset(st);
    return names;
}

std::shared_ptr<Recordset> Database::OpenRecordset(const QString& source, int type) {
    if (pg_) {
        return std::shared_ptr<Recordset>(new Recordset(wrapPg(pg::PgRecordset::open(pg_, source, type), source, {})));
    }
    if (!conn_) raise(err::ObjectClosed);
    return std::shared_ptr<Recordset>(new Recordset(openImpl(conn_, source, type)));
}

std::shared_ptr<Recordset> Database::OpenRecordset(const QString& source, int type,
                                                   const std::atomic<bool>& cancel) {
    if (pg_) {
        if (cancel.load()) raise(err::Cancelled);
        return OpenRecordset(source, type);
    }
    if (!conn_) raise(err::ObjectClosed);
    // The connection's lock is held for the whole open, so the handler watches its statements only.
    Session s = conn_->session();
    auto cancelled = [&] {
        raise(err::Cancelled,
              QStringLiteral("The records of '%1' were abandoned before they were all read.").arg(source));
    };
    if (cancel.load()) cancelled();
    struct ProgressWatch {
        sqlite3* db;
        ProgressWatch(sqlite3* d, const std::atomic<bool>* flag) : db(d) {
            // Every thousand virtual machine steps: cheap beside the work, prompt for a person.
            sqlite3_progress_handler(
                db, 1000, [](void* p) { return static_cast<const std::atomic<bool>*>(p)->load() ? 1 : 0; },
                const_cast<std::atomic<bool>*>(flag));
        }
        ~ProgressWatch() { sqlite3_progress_handler(db, 0, nullptr, nullptr); }
    } watch(s.db(), &cancel);
    try {
        return std::shared_ptr<Recordset>(new Recordset(openImpl(conn_, source, type)));
    } catch (const Error&) {
        if (cancel.load()) cancelled();
        throw;
    }
}

long long Database::Execute(const QString& sql, int options) {
    if (pg_) return pg_->execute(sql);
    if (!conn_) raise(err::ObjectClosed);
    Session s = conn_->session();
    TranslatedSql ts;
    if (options & dbSQLPassThrough) {
        refuseNativeOnJet(*conn_);
        ts.sql = sql;
    } else {
        ts = translateJetSql(sql);
    }
    if (ts.isSelect) raise(err::SyntaxError, "A select query cannot be executed: " + sql);
    s.beginWrite();
    Statement st = s.prepare(ts.sql);
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) s.fail(ts.sql, ts.sql.trimmed().startsWith("DELETE", Qt::CaseInsensitive));
    const long long n = sqlite3_changes64(s.db());
    BatchRecord change;
    change.kind = BatchRecord::Statement;
    change.table = sql;
    change.sql = ts.sql;
    std::vector<Bound> none;
    s.endWrite(std::move(change), none);
    return n;
}

void Database::Close() {
    if (pg_) {
        // Commits; changes that cannot be saved are reported here.
        std::shared_ptr<pg::PgConnection> c = std::move(pg_);
        c->close();
        return;
    }
    if (!conn_) return;
    std::shared_ptr<Connection> c = std::move(conn_);
    // The file is closed when this returns (unless recordsets still use it), whatever is thrown.
    struct Release {
        std::shared_ptr<Connection>& c;
        ~Release() { releaseConnection(c); }
    } release{c};
    // Commits; changes that cannot be saved are reported here, never dropped without a word.
    c->commit();
    // Nothing is written before a working copy is filled: no wait for it.
    c->partialSession().use();
}

void Database::Flush() {
    if (pg_) return pg_->commit();
    if (!conn_) raise(err::ObjectClosed);
    conn_->commit();
    conn_->partialSession().use();
}

void Database::setFailureHandler(std::function<void()> handler) {
    if (conn_) conn_->setFailureHandler(std::move(handler));
}

TableSchema Database::Schema(const QString& table) const {
    if (pg_) return pg_->schema(table);
    if (!conn_) raise(err::ObjectClosed);
    Session s = conn_->session();
    s.use();
    const QString name = findTable(s, table);
    if (name.isEmpty()) raise(err::TableNotFound, QString("The engine cannot find the table '%1'.").arg(table));
    TableSchema out;
    Statement st = s.prepare("SELECT name, type, \"notnull\", pk FROM pragma_table_info(?1) ORDER BY cid");
    const QByteArray u = name.toUtf8();
    sqlite3_bind_text(st.get(), 1, u.constData(), int(u.size()), SQLITE_TRANSIENT);
    while (sqlite3_step(st.get()) == SQLITE_ROW) {
        ColumnSchema c;
        c.name = columnText(st.get(), 0);
        const DeclaredType d = fieldTypeFromDeclared(columnText(st.get(), 1));
        c.type = d.type;
        c.size = d.size ? d.size : fixedSizeOf(d.type);
        c.notNull = sqlite3_column_int(st.get(), 2) != 0;
        out.columns.push_back(c);
    }
    for (const QString& k : primaryKey(s, name)) out.primaryKey << k;
    return out;
}

bool Database::isOpen() const { return bool(conn_) || bool(pg_); }
bool Database::isReadOnly() const { return conn_ && conn_->isReadOnly(); }
QString Database::Name() const { return pg_ ? pg_->name() : conn_ ? conn_->path() : QString(); }

// ---- Fields -------------------------------------------------------------------------------------

int Fields::Count() const {
    rs_->checkOpenOnly();
    return int(rs_->fields.size());
}

int Fields::checkedIndex(int index) const {
    rs_->checkOpenOnly();
    if (index < 0 || index >= int(rs_->fields.size()))
        raise(err::ItemNotFound, QString("Item not found in this collection (field %1).").arg(index));
    return index;
}

int Fields::checkedIndex(const QString& name) const {
    rs_->checkOpenOnly();
    const int i = rs_->fieldIndex(name);
    if (i < 0) raise(err::ItemNotFound, QString("Item not found in this collection (field '%1').").arg(name));
    return i;
}

Field Fields::Item(int index) const& { return Field(rs_, checkedIndex(index)); }
Field Fields::Item(const QString& name) const& { return Field(rs_, checkedIndex(name)); }
Field Fields::Item(int index) && {
    const int i = checkedIndex(index);
    return Field(std::move(rs_), i);
}
Field Fields::Item(const QString& name) && {
    const int i = checkedIndex(name);
    return Field(std::move(rs_), i);
}

int Fields::indexOf(const QString& name) const { return rs_->fieldIndex(name); }

QString Field::Name() const { return rs_->fields[size_t(index_)].name; }
int Field::Type() const { return rs_->fields[size_t(index_)].type; }
int Field::Size() const {
    const auto& f = rs_->fields[size_t(index_)];
    return f.size;
}
int Field::OrdinalPosition() const { return index_; }

Variant Field::Value() const {
    // The current record is one the keys hold: read while the copy is filled.
    rs_->checkOpenOnly();
    if (!rs_->partialNow()) rs_->checkOpen();
    if (rs_->pg) return rs_->pg->fieldValue(index_);
    if (rs_->editMode == dbEditAdd || (rs_->editMode && rs_->dirty[size_t(index_)])) return rs_->buffer[size_t(index_)];
    if (rs_->currentDeleted) raise(err::RecordDeleted);
    if (!rs_->hasCurrent()) raise(err::NoCurrentRecord);
    return rs_->value(rs_->phys, index_);
}

void Field::setValue(const Variant& v) { setValue(Variant(v)); }

void Field::setValue(Variant&& v) {
    RecordsetImpl& r = *rs_;
    r.checkOpen();
    if (r.pg) return r.pg->setFieldValue(index_, std::move(v));
    if (!r.editMode) raise(err::UpdateWithoutAddNew);
    const FieldMeta& f = r.fields[size_t(index_)];
    if (f.column.isEmpty()) raise(err::FieldNotUpdatable, QString("Field '%1' cannot be updated.").arg(f.name));
    // Taken over as it is when it needs no conversion: a bulk insert sets every field of every record.
    if (f.dynamic) {
        if (v.isEmpty()) v = Variant::null();
    } else if (!alreadyOfType(v, f.type)) {
        v = coerceToFieldType(v, f.type);
    }
    if (f.type == dbText && f.size > 0 && v.type() == Variant::Type::String && v.stringRef().size() > f.size)
        raise(err::FieldTooSmall);
    r.buffer[size_t(index_)] = std::move(v);
    r.dirty[size_t(index_)] = 1;
}

// ---- Recordset ----------------------------------------------------------------------------------

Recordset::Recordset(std::shared_ptr<RecordsetImpl> impl) : impl_(std::move(impl)) {}
Recordset::~Recordset() = default;



long long Recordset::RecordCount() const {
    impl_->checkOpenOnly();
    if (impl_->pg) return impl_->pg->RecordCount();
    // While the working copy is filled: the count the table's definition gives. One the first
    // records already reach was left stale by Access: the true count waits for the fill.
    if (impl_->partialNow() && impl_->counted > impl_->physCount()) return impl_->counted;
    impl_->checkOpen();
    return impl_->recordCount();
}

long long Recordset::AbsolutePosition() const {
    impl_->checkOpenOnly();
    if (!impl_->partialNow()) impl_->checkOpen();
    if (impl_->pg) return impl_->pg->AbsolutePosition();
    return impl_->hasCurrent() ? impl_->logicalOf(impl_->phys) : -1;
}

void Recordset::setAbsolutePosition(long long pos) {
    impl_->checkOpenOnly();
    if (!impl_->partialNow() || pos < 0 || pos >= impl_->physCount()) impl_->checkOpen();
    if (impl_->pg) return impl_->pg->setAbsolutePosition(pos);
    if (pos < 0 || pos >= impl_->recordCount()) raise(err::InvalidArgument);
    impl_->discardEdit();
    impl_->phys = impl_->physOf(pos);
    impl_->currentDeleted = false;
}

// While the copy is filled the current record is one the keys hold, which is not past the end.
bool Recordset::Eof() const {
    impl_->checkOpenOnly();
    if (!impl_->partialNow()) impl_->checkOpen();
    if (impl_->pg) return impl_->pg->Eof();
    return impl_->recordCount() == 0 || impl_->phys >= impl_->physCount();
}

bool Recordset::Bof() const {
    impl_->checkOpenOnly();
    if (!impl_->partialNow()) impl_->checkOpen();
    if (impl_->pg) return impl_->pg->Bof();
    return impl_->recordCount() == 0 || impl_->phys < 0;
}

void Recordset::MoveFirst() {
    // The first record is among those the copy holds first (an empty table has none).
    impl_->checkOpenOnly();
    if (!impl_->partialNow() || impl_->physCount() == 0) impl_->checkOpen();
    if (impl_->pg) return impl_->pg->MoveFirst();
    if (impl_->recordCount() == 0) raise(err::NoCurrentRecord);
    impl_->discardEdit();
    impl_->phys = impl_->nextLive(0);
    impl_->currentDeleted = false;
}

void Recordset::MoveLast() {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->MoveLast();
    if (impl_->recordCount() == 0) raise(err::NoCurrentRecord);
    impl_->discardEdit();
    impl_->phys = impl_->prevLive(impl_->physCount() - 1);
    impl_->currentDeleted = false;
}

void Recordset::MoveNext() {
    impl_->checkOpenOnly();
    // Reading on in order while the copy is filled waits for the next record only, not for the
    // whole file (nothing is edited or deleted before the fill ends).
    if (!impl_->pg && impl_->partialNow() && impl_->phys < impl_->physCount() &&
        impl_->awaitCopied(impl_->phys + 1)) {
        impl_->phys += 1;
        impl_->currentDeleted = false;
        return;
    }
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->MoveNext();
    if (Eof()) raise(err::NoCurrentRecord);
    impl_->discardEdit();
    impl_->phys = impl_->nextLive(impl_->currentDeleted ? impl_->phys : impl_->phys + 1);
    impl_->currentDeleted = false;
}

void Recordset::MovePrevious() {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->MovePrevious();
    if (Bof()) raise(err::NoCurrentRecord);
    impl_->discardEdit();
    impl_->phys = impl_->prevLive(impl_->phys - 1);
    impl_->currentDeleted = false;
}

void Recordset::Move(long long rows) {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->Move(rows);
    auto& r = *impl_;
    if (rows == 0) {
        if (!r.hasCurrent()) raise(r.currentDeleted ? err::RecordDeleted : err::NoCurrentRecord);
        r.discardEdit();
        return;
    }
    if ((Bof() && rows < 0) || (Eof() && rows > 0)) raise(err::NoCurrentRecord);
    r.discardEdit();
    const long long count = r.recordCount();
    long long cur;
    if (r.phys < 0) cur = -1;
    else if (r.phys >= r.physCount()) cur = count;
    else if (r.currentDeleted) cur = r.logicalOf(r.phys) - (rows > 0 ? 1 : 0);
    else cur = r.logicalOf(r.phys);
    const long long target = cur + rows;
    if (target < 0) r.phys = -1;
    else if (target >= count) r.phys = r.physCount();
    else r.phys = r.physOf(target);
    r.currentDeleted = false;
}

void Recordset::AddNew() {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->AddNew();
    impl_->checkWritable();
    impl_->conn->checkCanAdd(impl_->table);
    if (impl_->conn->hasFailures()) impl_->conn->session().use();
    impl_->editMode = dbEditAdd;
    impl_->buffer.assign(impl_->fields.size(), Variant::null());
    impl_->dirty.assign(impl_->fields.size(), 0);
}

void Recordset::Edit() {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->Edit();
    auto& r = *impl_;
    r.checkWritable();
    if (r.currentDeleted) raise(err::RecordDeleted);
    if (!r.hasCurrent()) raise(err::NoCurrentRecord);
    if (r.conn->hasFailures()) r.conn->session().use();
    if (!r.fields.empty()) (void)r.value(r.phys, 0);  // a record deleted meanwhile fails here, as it should
    // Unassigned fields read through to the record, so the copy buffer holds only assignments.
    r.buffer.resize(r.fields.size());
    r.dirty.assign(r.fields.size(), 0);
    r.editMode = dbEditInProgress;
}

void Recordset::CancelUpdate() {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->CancelUpdate();
    if (!impl_->editMode) raise(err::UpdateWithoutAddNew);
    impl_->editMode = dbEditNone;
}

int Recordset::EditMode() const { return impl_->pg ? impl_->pg->EditMode() : impl_->editMode; }

void Recordset::Update() {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->Update();
    auto& r = *impl_;
    if (!r.editMode) raise(err::UpdateWithoutAddNew);
    Session s = r.conn->session();
    // The columns to write, one value each (the last assignment wins for a column shown twice).
    QByteArray& key = r.scratchKey;
    key.fill('\0', qsizetype(r.cols.size()) + 1);
    key[0] = char(r.editMode);
    std::vector<int>& source = r.scratchSource;
    source.assign(r.cols.size(), -1);
    for (size_t i = 0; i < r.fields.size(); ++i) {
        if (!r.dirty[i] || r.colOf[i] < 0) continue;
        source[size_t(r.colOf[i])] = int(i);
        key[r.colOf[i] + 1] = 1;
    }
    std::vector<int>& written = r.scratchWritten;
    written.clear();
    for (size_t c = 0; c < source.size(); ++c)
        if (source[c] >= 0) written.push_back(int(c));
    if (r.editMode == dbEditInProgress && written.empty()) {
        r.editMode = dbEditNone;
        return;
    }
    const bool adding = r.editMode == dbEditAdd;
    // A record found by its row id moves with a primary-key column written, when that column is the
    // row id itself (INTEGER PRIMARY KEY): the update hands back the new row id for the keyset.
    bool rowidMayMove = false;
    if (!adding && !r.rowidKey.isEmpty())
        for (int c : written)
            if (sameFieldName(r.cols[size_t(c)], r.rowidKey)) rowidMayMove = true;
    s.beginWrite();
    if (!r.lastWrite || r.lastWriteKey != key) {
        r.lastWrite = &r.writeStmts[key];
        r.lastWriteKey = key;
    }
    StmtSlot& slot = *r.lastWrite;
    if (slot.sql.isEmpty()) {
        const QString table = quoteIdent(r.table);
        QString returning;
        if (r.byPrimaryKey) {
            // The key as stored (after the column's affinity), for finding the record again.
            for (size_t k = 0; k < r.pkCols.size(); ++k)
                returning += (k ? ", " : " RETURNING ") + quoteIdent(r.pkCols[k]);
        }
        if (adding) {
            QString names, marks;
            for (size_t k = 0; k < written.size(); ++k) {
                names += (k ? "," : "") + quoteIdent(r.cols[size_t(written[k])]);
                marks += (k ? ",?" : "?");
            }
            slot.sql = written.empty() ? "INSERT INTO " + table + " DEFAULT VALUES" + returning
                                       : "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")" + returning;
            // Run again, a new record keeps the row id the recordset knows it by.
            slot.replaySql = r.byPrimaryKey ? slot.sql
                                            : "INSERT INTO " + table + " (" + names + (names.isEmpty() ? "" : ",") +
                                                  "rowid) VALUES (" + marks + (marks.isEmpty() ? "" : ",") + "?)";
        } else {
            QString sets;
            for (size_t k = 0; k < written.size(); ++k)
                sets += (k ? "," : "") + quoteIdent(r.cols[size_t(written[k])]) + "=?";
            slot.sql = "UPDATE " + table + " SET " + sets + " WHERE " + r.keyWhere(int(written.size()) + 1) + returning;
            slot.replaySql = slot.sql;
            if (rowidMayMove) slot.sql += " RETURNING rowid";
        }
    }
    sqlite3_stmt* st = r.statement(s, slot, slot.sql);
    BatchRecord change;
    change.kind = adding ? BatchRecord::New : BatchRecord::Change;
    change.table = r.table;
    change.sql = slot.replaySql;
    // The values are bound where they stand (they stay until the step is done) and copied into
    // the batch once; the buffers are kept for the next record.
    std::vector<Bound>& binds = r.scratchBinds;
    binds.resize(written.size());
    for (size_t k = 0; k < written.size(); ++k) {
        const int f = source[size_t(written[k])];
        RecordsetImpl::toBound(r.buffer[size_t(f)], binds[k]);
        binds[k].bindInPlace(st, int(k) + 1);
    }
    if (!adding) {
        r.bindKey(st, int(written.size()) + 1, r.phys, &binds);
        r.keyOf(r.phys, change);
    }
    int rc = sqlite3_step(st);
    std::vector<Bound> stored;
    std::optional<int64_t> movedRowid;
    if (rc == SQLITE_ROW && rowidMayMove) movedRowid = sqlite3_column_int64(st, 0);
    if (rc == SQLITE_ROW) {
        if (r.byPrimaryKey)
            for (int i = 0; i < int(r.pkCols.size()); ++i) stored.push_back(Bound::column(st, i));
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        }
    }
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) s.fail(QString(), false);
    if (adding) {
        if (r.byPrimaryKey) {
            r.keys.push_back(int64_t(r.pkKeys.size()));
            r.pkKeys.push_back(std::move(stored));
        } else {
            const int64_t rowid = sqlite3_last_insert_rowid(s.db());
            r.keys.push_back(rowid);
            binds.push_back(Bound::integer(rowid));
        }
        r.keyOf((long long)r.keys.size() - 1, change);
        if (!r.gone.empty()) {
            r.gone.push_back(0);
            r.live.append();
        }
        s.endWrite(std::move(change), binds);
        dropLargeBuffers(binds);
    } else {
        if (sqlite3_changes(s.db()) == 0) raise(err::RecordDeleted);
        if (r.byPrimaryKey && stored.size() == r.pkCols.size()) r.pkKeys[size_t(r.keys[size_t(r.phys)])] = stored;
        if (movedRowid) r.keys[size_t(r.phys)] = *movedRowid;
        const uint64_t before = r.conn->generation();
        s.endWrite(std::move(change), binds);
        dropLargeBuffers(binds);
        // Keep the cached row in step with our own write instead of reading the block again.
        const long long block = r.phys / RecordsetImpl::kBlock;
        if (block == r.cacheBlock && r.cacheGen == before && r.conn->generation() == before + 1) {
            uint32_t* row = r.cacheCells.data() + size_t(r.phys - block * RecordsetImpl::kBlock) * r.fields.size();
            for (size_t i = 0; i < r.fields.size(); ++i)
                if (r.colOf[i] >= 0 && source[size_t(r.colOf[i])] >= 0)
                    r.setCached(row[i], r.buffer[size_t(source[size_t(r.colOf[i])])]);
            r.cacheGen = before + 1;
        }
    }
    r.editMode = dbEditNone;
}

void Recordset::Delete() {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->Delete();
    auto& r = *impl_;
    r.checkWritable();
    if (r.currentDeleted) raise(err::RecordDeleted);
    if (!r.hasCurrent()) raise(err::NoCurrentRecord);
    Session s = r.conn->session();
    r.editMode = dbEditNone;
    s.beginWrite();
    StmtSlot& slot = r.writeStmts[QByteArray("delete")];
    if (slot.sql.isEmpty()) slot.sql = slot.replaySql = "DELETE FROM " + quoteIdent(r.table) + " WHERE " + r.keyWhere(1);
    sqlite3_stmt* st = r.statement(s, slot, slot.sql);
    BatchRecord change;
    change.kind = BatchRecord::Removal;
    change.table = r.table;
    change.sql = slot.replaySql;
    r.keyOf(r.phys, change);
    std::vector<Bound>& binds = r.scratchBinds;
    binds.clear();
    r.bindKey(st, 1, r.phys, &binds);
    const int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc != SQLITE_DONE) s.fail(QString(), true);
    const bool deleted = sqlite3_changes(s.db()) > 0;
    s.endWrite(std::move(change), binds);
    if (!deleted) raise(err::RecordDeleted);
    if (r.gone.empty()) {
        r.gone.assign(r.keys.size(), 0);
        r.live.reset(r.keys.size());
    }
    r.gone[size_t(r.phys)] = 1;
    ++r.goneCount;
    r.live.remove(size_t(r.phys));
    r.currentDeleted = true;
}

QString Recordset::Sort() const { return impl_->sort; }
void Recordset::setSort(const QString& sort) { impl_->sort = sort; }

std::shared_ptr<Recordset> Recordset::OpenRecordset(int type) {
    impl_->checkOpen();
    if (impl_->pg) {
        return std::shared_ptr<Recordset>(
            new Recordset(wrapPg(impl_->pg->reopen(impl_->sort.trimmed(), type), impl_->source, impl_->sort)));
    }
    const QString s = impl_->sort.trimmed();
    QString base = impl_->jetWithoutOrder;
    if (s.isEmpty()) return std::shared_ptr<Recordset>(new Recordset(openImpl(impl_->conn, base, type)));
    for (QString key : splitTopLevel(s)) {
        static const QRegularExpression dir(QStringLiteral("\\s+(ASC|DESC)$"), QRegularExpression::CaseInsensitiveOption);
        key.remove(dir);
        key = key.trimmed();
        if (key.startsWith('[') && key.endsWith(']')) key = key.mid(1, key.size() - 2);
        if (impl_->fieldIndex(key) < 0)
            raise(err::UnknownSortField,
                  QString("The engine does not recognize '%1' as a valid field name or expression.").arg(key));
    }
    return std::shared_ptr<Recordset>(new Recordset(openImpl(impl_->conn, base + " ORDER BY " + s, type)));
}

int Recordset::Type() const { return impl_->type; }
bool Recordset::Updatable() const { return impl_->updatable; }
QString Recordset::Source() const { return impl_->source; }
QString Recordset::Name() const { return impl_->name; }
QString Recordset::DatabaseName() const { return impl_->pg ? impl_->pg->databaseName() : impl_->conn->path(); }

namespace {

std::atomic<long long> findRead{0};

}  // namespace

// Makes the first record at or after physical index `from` that meets the criteria current;
// without one, NoMatch is set and the current record stays. A dynaset is tested in windows of the
// keyset that grow from the starting point, so a search reads about as many records as it passes.
void findFrom(RecordsetImpl& r, const QString& criteria, long long from) {
    Session s = r.conn->session();
    s.use();
    if (criteria != r.findCriteria || r.findSql.isEmpty()) {
        r.findSql = translateJetExpression(criteria, r.snapshot ? FieldTypeLookup() : columnTypes(s, r.table));
        r.findCriteria = criteria;
        r.findRange = StmtSlot();
        r.findIn.clear();
        r.snapshotMatches.clear();
        r.snapshotMatched = false;
    }
    const QString& crit = r.findSql;
    r.discardEdit();
    r.noMatch = true;
    auto found = [&](long long p) {
        r.phys = p;
        r.currentDeleted = false;
        r.noMatch = false;
    };
    if (r.snapshot) {
        // A snapshot's records never change: its matches are found once per criteria.
        if (!r.snapshotMatched) {
            const QString sql = "SELECT n FROM (SELECT row_number() OVER () - 1 AS n, * FROM (" + r.selectList +
                                ")) WHERE (" + crit + ") ORDER BY n";
            Statement st = s.prepare(sql);
            int rc;
            while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) r.snapshotMatches.push_back(sqlite3_column_int64(st.get(), 0));
            if (rc != SQLITE_DONE) s.fail(sql);
            findRead += r.physCount();
            r.snapshotMatched = true;
        }
        const auto it = std::lower_bound(r.snapshotMatches.begin(), r.snapshotMatches.end(), std::max(0LL, from));
        if (it != r.snapshotMatches.end()) found(*it);
        return;
    }
    const QString table = quoteIdent(r.table);
    long long p = std::max(0LL, from);
    int window = 16;
    std::vector<int64_t> hits;
    while (p < r.physCount()) {
        const long long end = std::min<long long>(p + window, r.physCount());
        const int count = int(end - p);
        findRead += count;
        if (r.byPrimaryKey) {
            sqlite3_stmt* st =
                r.statement(s, r.findRange, "SELECT 1 FROM " + table + " WHERE " + r.keyWhere(1) + " AND (" + crit + ")");
            for (long long q = p; q < end; ++q) {
                if (r.isGone(q)) continue;
                sqlite3_reset(st);
                r.bindKey(st, 1, q, nullptr);
                const int rc = sqlite3_step(st);
                sqlite3_reset(st);
                if (rc == SQLITE_ROW) return found(q);
                if (rc != SQLITE_DONE) s.fail(crit);
            }
        } else {
            const int64_t* ids = r.keys.data() + p;
            const bool ascending =
                std::is_sorted(ids, ids + count) && std::adjacent_find(ids, ids + count) == ids + count;
            sqlite3_stmt* st;
            if (ascending && ids[count - 1] - ids[0] < 4LL * count) {
                st = r.statement(s, r.findRange,
                                 "SELECT rowid FROM " + table + " WHERE rowid BETWEEN ?1 AND ?2 AND (" + crit + ")");
                sqlite3_bind_int64(st, 1, ids[0]);
                sqlite3_bind_int64(st, 2, ids[count - 1]);
            } else {
                QString marks;
                for (int i = 0; i < window; ++i) marks += i ? ",?" : "?";
                st = r.statement(s, r.findIn[window],
                                 "SELECT rowid FROM " + table + " WHERE rowid IN (" + marks + ") AND (" + crit + ")");
                for (int j = 0; j < count; ++j) sqlite3_bind_int64(st, j + 1, ids[j]);
            }
            hits.clear();
            int rc;
            while ((rc = sqlite3_step(st)) == SQLITE_ROW) hits.push_back(sqlite3_column_int64(st, 0));
            sqlite3_reset(st);
            if (rc != SQLITE_DONE) s.fail(crit);
            if (!hits.empty()) {
                std::sort(hits.begin(), hits.end());
                for (long long q = p; q < end; ++q)
                    if (!r.isGone(q) && std::binary_search(hits.begin(), hits.end(), r.keys[size_t(q)])) return found(q);
            }
        }
        p = end;
        window = std::min(window * 2, int(RecordsetImpl::kBlock));
    }
}

long long findRecordsRead() { return findRead.load(); }

void Recordset::FindFirst(const QString& criteria) {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->Find(criteria, true);
    findFrom(*impl_, criteria, 0);
}

void Recordset::FindNext(const QString& criteria) {
    impl_->checkOpen();
    if (impl_->pg) return impl_->pg->Find(criteria, false);
    findFrom(*impl_, criteria, impl_->phys + 1);
}

bool Recordset::NoMatch() const { return impl_->pg ? impl_->pg->NoMatch() : impl_->noMatch; }

void Recordset::Close() {
    impl_->open = false;
    if (impl_->pg) impl_->pg->Close();
    if (impl_->ahead) {
        impl_->stopAhead();
        Session s = impl_->conn->partialSession();
        impl_->ahead.reset();
    }
    impl_->cacheVals.clear();
    impl_->cacheCells.clear();
    impl_->rows.clear();
    impl_->keys.clear();
}

bool Recordset::isOpen() const { return impl_->open; }

bool Recordset::rowReady(long long row) {
    if (!impl_->open || impl_->pg || !impl_->filling || row < impl_->physCount()) return true;
    // An ended fill is taken in whole (a failed one raises, as valueAt would).
    if (!impl_->partialNow()) return true;
    impl_->takeCopied();
    return row < impl_->physCount();
}

Variant Recordset::valueAt(long long row, int index) {
    impl_->checkOpenOnly();
    if (impl_->pg) return impl_->pg->valueAt(row, index);
    // A record the working copy holds already is read while it is filled; one past them waits
    // (watched) for the whole fill.
    if (!impl_->partialNow() || row < 0 || row >= impl_->physCount()) impl_->checkOpen();
    if (row < 0 || row >= impl_->recordCount()) raise(err::NoCurrentRecord);
    if (index < 0 || index >= int(impl_->fields.size())) raise(err::ItemNotFound);
    return impl_->value(impl_->physOf(row), index);
}

}  // namespace dao
