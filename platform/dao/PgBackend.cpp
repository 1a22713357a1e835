#include "PgBackend.h"

#include <libpq-fe.h>

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

#include "Conversions.h"
#include "Dao.h"
#include "Error.h"
#include "FieldTypes.h"
#include "JetSql.h"
#include "RecordsetImpl.h"

namespace dao::pg {

namespace {

// Type oids of the built-in types (fixed by the server's catalog).
enum : unsigned {
    kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kFloat4 = 700, kFloat8 = 701,
    kMoney = 790, kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTime = 1083, kTimestamp = 1114,
    kTimestamptz = 1184, kNumeric = 1700, kUuid = 2950
};

constexpr int kConnectionLost = 3151;

QByteArray utf8(const QString& s) { return s.toUtf8(); }

QString serverWords(const PGresult* r, PGconn* c) {
    QString m = r ? QString::fromUtf8(PQresultErrorMessage(r)) : QString();
    if (m.trimmed().isEmpty() && c) m = QString::fromUtf8(PQerrorMessage(c));
    return m.trimmed();
}

QString arrayLiteral(const std::vector<QByteArray>& vals) {
    QString s = "{";
    for (size_t i = 0; i < vals.size(); ++i) {
        if (i) s += ',';
        QString v = QString::fromUtf8(vals[i]);
        v.replace('\\', "\\\\").replace('"', "\\\"");
        s += '"' + v + '"';
    }
    return s + '}';
}

}  // namespace

void ResultDeleter::operator()(pg_result* r) const { PQclear(r); }

bool isUri(const QString& name) {
    return name.startsWith("postgresql://", Qt::CaseInsensitive) || name.startsWith("postgres://", Qt::CaseInsensitive);
}

QString withoutPassword(const QString& uri) {
    QUrl u(uri);
    if (!u.isValid() || u.password().isEmpty()) {
        // A password given as a parameter is dropped as well.
        QString s = uri;
        s.replace(QRegularExpression(QStringLiteral("([?&])password=[^&]*(&|$)")), QStringLiteral("\\1"));
        return s.endsWith('?') || s.endsWith('&') ? s.chopped(1) : s;
    }
    u.setPassword(QString());
    return withoutPassword(u.toString());
}

// ---- connection ---------------------------------------------------------------------------------

std::shared_ptr<PgConnection> PgConnection::open(const QString& uri) {
    std::shared_ptr<PgConnection> c(new PgConnection);
    c->name_ = withoutPassword(uri);
    c->conn_ = PQconnectdb(uri.toUtf8().constData());
    if (!c->conn_ || PQstatus(c->conn_) != CONNECTION_OK) {
        const QString why = c->conn_ ? QString::fromUtf8(PQerrorMessage(c->conn_)).trimmed() : "out of memory";
        raise(kConnectionLost, QString("Could not connect to '%1': %2").arg(c->name_, why));
    }
    PQsetClientEncoding(c->conn_, "UTF8");
    Result r(PQexec(c->conn_, "SET datestyle = ISO; SET intervalstyle = iso_8601; SET bytea_output = hex; "
                              "SET extra_float_digits = 3"));
    return c;
}

PgConnection::~PgConnection() { close(); }

void PgConnection::close() {
    std::lock_guard lock(mu_);
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
}

void PgConnection::fail(pg_result* r, bool deleting) {
    const QString words = serverWords(r, conn_);
    const char* st = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const QString state = st ? QString::fromLatin1(st) : QString();
    if (PQstatus(conn_) != CONNECTION_OK || state.startsWith("08"))
        raise(kConnectionLost,
              QString("The connection to the database server '%1' was lost; the change was not saved. %2")
                  .arg(name_, words));
    int number = 3146;  // a call the server refused, for anything not mapped below
    if (state == "23505") number = err::DuplicateValue;
    else if (state == "23503") number = deleting || words.contains("still referenced") ? err::RelatedRecords : err::RelatedRecordRequired;
    else if (state == "23502") number = err::NullNotAllowed;
    else if (state == "22001") number = err::FieldTooSmall;
    else if (state == "23514") number = err::ValidationRule;
    else if (state == "42P01") number = err::TableNotFound;
    else if (state == "42703") number = err::TooFewParameters;
    else if (state.startsWith("42")) number = err::SyntaxError;
    else if (state.startsWith("22")) number = err::DataTypeMismatch;
    else if (state == "55P03" || state == "40P01") number = err::Locked;
    raise(number, words);
}

Result PgConnection::exec(const QString& sql, const std::vector<Param>& params, bool deleting) {
    std::lock_guard lock(mu_);
    if (!conn_) raise(err::ObjectClosed);
    static const QRegularExpression ddl(QStringLiteral("^\\s*(CREATE|ALTER|DROP)\\b"), QRegularExpression::CaseInsensitiveOption);
    if (namesRead_ && ddl.match(sql).hasMatch()) namesRead_ = false;  // names may have come or gone
    const QByteArray text = utf8(sql);
    std::vector<const char*> values(params.size());
    std::vector<int> lengths(params.size()), formats(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        values[i] = params[i].null ? nullptr : params[i].bytes.constData();
        lengths[i] = int(params[i].bytes.size());
        formats[i] = params[i].binary ? 1 : 0;
    }
    Result r(PQexecParams(conn_, text.constData(), int(params.size()), nullptr, values.data(), lengths.data(),
                          formats.data(), 0));
    const auto status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(r.get(), deleting);
    return r;
}

long long PgConnection::copyIn(const QString& copySql, const std::function<bool(QByteArray&)>& nextChunk) {
    std::lock_guard lock(mu_);
    if (!conn_) raise(err::ObjectClosed);
    Result start(PQexec(conn_, utf8(copySql).constData()));
    if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) fail(start.get(), false);
    QByteArray chunk;
    QString error;
    try {
        while (nextChunk(chunk)) {
            if (!chunk.isEmpty() && PQputCopyData(conn_, chunk.constData(), int(chunk.size())) != 1) break;
            chunk.clear();
        }
    } catch (const Error& e) {
        error = e.description();
    }
    PQputCopyEnd(conn_, error.isEmpty() ? nullptr : error.toUtf8().constData());
    long long rows = 0;
    Result last;
    while (PGresult* r = PQgetResult(conn_)) {
        Result res(r);
        if (PQresultStatus(r) != PGRES_COMMAND_OK) last = std::move(res);
        else rows = QByteArray(PQcmdTuples(r)).toLongLong();
    }
    if (last) fail(last.get(), false);
    return rows;
}

PgConnection::TableRef PgConnection::resolve(const QString& table) {
    // The tables of the search path by name (any case), the others as schema.table.
    Result r = exec(
        "SELECT n.nspname, c.relname, c.oid FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r','p','v','m','f') AND ((n.nspname = ANY(current_schemas(false)) AND "
        "(c.relname = $1 OR lower(c.relname) = lower($1))) OR n.nspname || '.' || c.relname = $1) "
        "ORDER BY (c.relname = $1) DESC, array_position(current_schemas(false), n.nspname) NULLS LAST LIMIT 1",
        {Param{utf8(table)}});
    TableRef t;
    if (PQntuples(r.get()) == 0) return t;
    const QString nsp = QString::fromUtf8(PQgetvalue(r.get(), 0, 0));
    t.bare = QString::fromUtf8(PQgetvalue(r.get(), 0, 1));
    t.qualified = quoteIdent(nsp) + '.' + quoteIdent(t.bare);
    t.oid = QByteArray(PQgetvalue(r.get(), 0, 2)).toUInt();
    return t;
}

QStringList PgConnection::tables() {
    Result r = exec(
        "SELECT CASE WHEN n.nspname = ANY(current_schemas(false)) THEN c.relname ELSE n.nspname || '.' || c.relname END "
        "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE c.relkind IN ('r','p') "
        "AND n.nspname NOT IN ('pg_catalog','information_schema') AND n.nspname NOT LIKE 'pg_toast%' "
        "ORDER BY n.nspname <> ALL(current_schemas(false)), n.nspname, c.relname");
    QStringList out;
    for (int i = 0; i < PQntuples(r.get()); ++i) out << QString::fromUtf8(PQgetvalue(r.get(), i, 0));
    return out;
}

TableSchema PgConnection::schema(const QString& table) {
    const TableRef t = resolve(table);
    if (!t.oid) raise(err::TableNotFound, QString("The engine cannot find the table '%1'.").arg(table));
    TableSchema s;
    Result r = exec("SELECT attname, atttypid, atttypmod, attnotnull FROM pg_attribute WHERE attrelid = $1 "
                    "AND attnum > 0 AND NOT attisdropped ORDER BY attnum",
                    {Param{QByteArray::number(t.oid)}});
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        ColumnSchema c;
        c.name = QString::fromUtf8(PQgetvalue(r.get(), i, 0));
        engineType(QByteArray(PQgetvalue(r.get(), i, 1)).toUInt(), QByteArray(PQgetvalue(r.get(), i, 2)).toInt(),
                   &c.type, &c.size);
        c.notNull = PQgetvalue(r.get(), i, 3)[0] == 't';
        s.columns.push_back(c);
    }
    Result k = exec("SELECT a.attname FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid "
                    "AND a.attnum = ANY(i.indkey) WHERE i.indrelid = $1 AND i.indisprimary "
                    "ORDER BY array_position(i.indkey::int2[], a.attnum)",
                    {Param{QByteArray::number(t.oid)}});
    for (int i = 0; i < PQntuples(k.get()); ++i) s.primaryKey << QString::fromUtf8(PQgetvalue(k.get(), i, 0));
    return s;
}

QString PgConnection::exactName(const QString& name) {
    std::lock_guard lock(mu_);
    if (!namesRead_) {
        names_.clear();
        Result r = exec("SELECT c.relname, a.attname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                        "LEFT JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
                        "WHERE c.relkind IN ('r','p','v','m','f') AND n.nspname = ANY(current_schemas(false))");
        for (int i = 0; i < PQntuples(r.get()); ++i)
            for (int c = 0; c < 2; ++c) {
                if (PQgetisnull(r.get(), i, c)) continue;
                const QString exact = QString::fromUtf8(PQgetvalue(r.get(), i, c));
                const QString lower = exact.toLower();
                // A name that exists in its lower-case form wins: that is what a bare name means.
                if (!names_.contains(lower) || exact == lower) names_.insert(lower, exact);
            }
        namesRead_ = true;
    }
    const auto it = names_.constFind(name.toLower());
    if (it == names_.constEnd()) return {};
    return it.value();
}

long long PgConnection::execute(const QString& jetSql) {
    const TranslatedSql ts = translateJetSql(jetSql, {}, SqlDialect::Postgres, nameLookup());
    if (ts.isSelect) raise(err::SyntaxError, "A select query cannot be executed: " + jetSql);
    Result r = exec(ts.sql, {}, ts.sql.trimmed().startsWith("DELETE", Qt::CaseInsensitive));
    return QByteArray(PQcmdTuples(r.get())).toLongLong();
}

// ---- types --------------------------------------------------------------------------------------

void engineType(unsigned oid, int typmod, int* type, int* size) {
    *size = 0;
    switch (oid) {
        case kBool: *type = dbBoolean; break;
        case kInt2: *type = dbInteger; break;
        case kInt4: *type = dbLong; break;
        case kInt8: *type = dbDecimal; break;  // no 64-bit integer among the variant's types: exact digits
        case kMoney: *type = dbCurrency; break;
        case kNumeric:
            // numeric(19,4) is how Currency is stored; other precisions keep their digits.
            *type = typmod == ((19 << 16) | 4) + 4 ? dbCurrency : dbDecimal;
            break;
        case kFloat4: *type = dbSingle; break;
        case kFloat8: *type = dbDouble; break;
        case kDate: case kTimestamp: case kTimestamptz: case kTime: *type = dbDate; break;
        case kVarchar: case kBpchar:
            *type = typmod > 4 ? dbText : dbMemo;
            if (typmod > 4) *size = typmod - 4;
            break;
        case kBytea: *type = dbLongBinary; break;
        case kUuid: *type = dbGUID; break;
        default: *type = dbMemo; break;
    }
    if (!*size) *size = fixedSizeOf(*type);
}

QString postgresType(int type, int size) {
    switch (type) {
        case dbBoolean: return "boolean";
        case dbByte: case dbInteger: return "smallint";
        case dbLong: return "integer";
        case dbCurrency: return "numeric(19,4)";
        case dbSingle: return "real";
        case dbDouble: case dbFloat: case dbNumeric: return "double precision";
        case dbDate: return "timestamp(0)";
        case dbText: return size > 0 ? QString("varchar(%1)").arg(size) : "text";
        case dbBinary: case dbLongBinary: return "bytea";
        case dbGUID: return "uuid";
        case dbDecimal: return "numeric";
        default: return "text";
    }
}

Variant fromText(const char* text, int length, unsigned oid, int typmod) {
    const QByteArray b = QByteArray::fromRawData(text, length);
    switch (oid) {
        case kBool: return Variant::fromBool(length && text[0] == 't');
        case kInt2: return Variant::fromInteger(int16_t(b.toInt()));
        case kInt4: return Variant::fromLong(int32_t(b.toLong()));
        case kFloat4: return Variant::fromSingle(b.toFloat());
        case kFloat8: return Variant::fromDouble(b.toDouble());
        case kMoney: {
            QByteArray digits;
            for (char c : b)
                if ((c >= '0' && c <= '9') || c == '.' || c == '-') digits += c;
            return coerceToFieldType(Variant::fromString(QString::fromLatin1(digits)), dbCurrency);
        }
        case kNumeric:
            if (typmod == ((19 << 16) | 4) + 4) {
                // numeric(19,4) text is "-123.4500": ten-thousandths read straight off the digits.
                int64_t v = 0;
                int decimals = -1;
                bool ok = length > 0;
                for (int i = text[0] == '-' ? 1 : 0; i < length && ok; ++i) {
                    if (text[i] == '.' && decimals < 0) decimals = 0;
                    else if (text[i] >= '0' && text[i] <= '9') {
                        v = v * 10 + (text[i] - '0');
                        if (decimals >= 0) ++decimals;
                    } else ok = false;
                }
                if (ok && decimals <= 4) {
                    for (int d = std::max(decimals, 0); d < 4; ++d) v *= 10;
                    return Variant::fromCurrency(text[0] == '-' ? -v : v);
                }
            }
            [[fallthrough]];
        case kInt8: {
            int type, size;
            engineType(oid, typmod, &type, &size);
            return coerceToFieldType(Variant::fromString(QString::fromLatin1(b)), type);
        }
        case kDate: case kTimestamp: case kTimestamptz: {
            QByteArray t = b;
            if (oid == kTimestamptz)  // the zone after the time of day is dropped: dates are local
                for (qsizetype i = 19; i < t.size(); ++i)
                    if (t[i] == '+' || t[i] == '-') {
                        t.truncate(i);
                        break;
                    }
            double day = 0;
            if (parseStoredDate(t.constData(), int(t.size()), &day)) return Variant::fromDate(day);
            return Variant::fromString(QString::fromLatin1(b));
        }
        case kTime: {
            double day = 0;
            const QByteArray t = "1899-12-30 " + b;
            if (parseStoredDate(t.constData(), int(t.size()), &day)) return Variant::fromDate(day);
            return Variant::fromString(QString::fromLatin1(b));
        }
        case kBytea:
            if (b.startsWith("\\x")) return Variant::fromBinary(QByteArray::fromHex(b.mid(2)));
            return Variant::fromBinary(b);
        case kUuid: return Variant::fromString('{' + QString::fromLatin1(b).toUpper() + '}');
        default: return Variant::fromString(QString::fromUtf8(text, length));
    }
}

Param toParam(const Variant& v) {
    using T = Variant::Type;
    Param p;
    switch (v.type()) {
        case T::Empty: case T::Null: p.null = true; break;
        case T::Boolean: p.bytes = v.asBool() ? "true" : "false"; break;
        case T::Byte: case T::Integer: case T::Long: case T::BigInt: p.bytes = QByteArray::number(qlonglong(v.asInt())); break;
        case T::Currency: {
            const int64_t c = v.asCurrency();
            const uint64_t a = c < 0 ? uint64_t(0) - uint64_t(c) : uint64_t(c);
            p.bytes = (c < 0 ? "-" : "") + QByteArray::number(qulonglong(a / 10000)) + '.' +
                      QByteArray::number(qulonglong(a % 10000)).rightJustified(4, '0');
            break;
        }
        case T::Single: case T::Double: p.bytes = QByteArray::number(v.asDouble(), 'g', 17); break;
        case T::Date: p.bytes = storedDateText(v.asDate()).toLatin1(); break;
        case T::String: case T::Decimal: p.bytes = v.stringRef().toUtf8(); break;
        case T::Binary: p.bytes = v.asBinary(); p.binary = true; break;
    }
    return p;
}

// ---- recordset ----------------------------------------------------------------------------------

std::shared_ptr<PgRecordset> PgRecordset::open(const std::shared_ptr<PgConnection>& conn, const QString& source,
                                               int type, const QString& orderOverride) {
    auto rs = std::make_shared<PgRecordset>();
    PgRecordset& r = *rs;
    r.conn_ = conn;
    r.source_ = source;
    r.fields_ = std::make_shared<std::vector<FieldMeta>>();
    const QString trimmed = source.trimmed();
    const bool isSql = trimmed.startsWith("SELECT", Qt::CaseInsensitive) || trimmed.startsWith("TRANSFORM", Qt::CaseInsensitive) ||
                       (trimmed.contains(' ') && conn->resolve(trimmed).oid == 0);
    TranslatedSql ts;
    if (isSql) {
        ts = translateJetSql(source, {}, SqlDialect::Postgres, conn->nameLookup());
        if (!ts.isSelect) raise(err::SyntaxError, "Not a select query: " + source);
        r.jetBase_ = ts.jetWithoutOrder;
    } else {
        r.jetBase_ = "SELECT * FROM " + jetName(trimmed);
    }
    const bool single = !isSql || ts.singleTable;
    if (single) {
        r.table_ = conn->resolve(isSql ? ts.table : trimmed);
        if (!r.table_.oid)
            raise(err::TableNotFound, QString("The engine cannot find the input table or query '%1'.")
                                          .arg(isSql ? ts.table : trimmed));
        r.name_ = isSql ? ts.table : trimmed;
    } else {
        r.name_ = source;
    }
    r.type_ = type ? type : (single ? 2 : 4);
    r.snapshot_ = !single || r.type_ == 4 || !ts.limitClause.isEmpty();

    if (r.snapshot_) {
        QString sql = isSql ? ts.sql : "SELECT * FROM " + r.table_.qualified;
        if (!orderOverride.isEmpty()) {
            const TranslatedSql base = translateJetSql(r.jetBase_, {}, SqlDialect::Postgres, conn->nameLookup());
            sql = base.sql + " ORDER BY " + translateJetExpression(orderOverride, {}, SqlDialect::Postgres, conn->nameLookup());
        }
        Result res = conn->exec(sql);
        const int nf = PQnfields(res.get()), nr = PQntuples(res.get());
        for (int c = 0; c < nf; ++c) {
            FieldMeta f;
            f.name = QString::fromUtf8(PQfname(res.get(), c));
            engineType(PQftype(res.get(), c), PQfmod(res.get(), c), &f.type, &f.size);
            r.oids_.push_back(PQftype(res.get(), c));
            r.typmods_.push_back(PQfmod(res.get(), c));
            r.fields_->push_back(f);
        }
        r.rows_.resize(size_t(nr));
        for (int i = 0; i < nr; ++i) {
            auto& row = r.rows_[size_t(i)];
            row.reserve(size_t(nf));
            for (int c = 0; c < nf; ++c)
                row.push_back(PQgetisnull(res.get(), i, c) ? Variant::null()
                                                           : fromText(PQgetvalue(res.get(), i, c), PQgetlength(res.get(), i, c),
                                                                      r.oids_[size_t(c)], r.typmods_[size_t(c)]));
        }
        r.readOnlyReason_ = QString("The records of '%1' are a snapshot and cannot be changed.").arg(r.name_);
        r.pos_ = 0;  // on the first record, as every recordset opens
        return rs;
    }

    r.selectList_ = isSql ? ts.selectList : "*";
    r.where_ = isSql ? ts.whereClause : QString();
    // The fields and the table columns behind them, from the statement's own description.
    Result meta = conn->exec("SELECT " + r.selectList_ + " FROM " + r.table_.qualified + " LIMIT 0");
    for (int c = 0; c < PQnfields(meta.get()); ++c) {
        FieldMeta f;
        f.name = QString::fromUtf8(PQfname(meta.get(), c));
        engineType(PQftype(meta.get(), c), PQfmod(meta.get(), c), &f.type, &f.size);
        if (PQftable(meta.get(), c) == r.table_.oid && PQftablecol(meta.get(), c) > 0) {
            Result a = conn->exec("SELECT attname FROM pg_attribute WHERE attrelid = $1 AND attnum = $2",
                                  {Param{QByteArray::number(r.table_.oid)}, Param{QByteArray::number(PQftablecol(meta.get(), c))}});
            if (PQntuples(a.get())) f.column = QString::fromUtf8(PQgetvalue(a.get(), 0, 0));
        }
        r.oids_.push_back(PQftype(meta.get(), c));
        r.typmods_.push_back(PQfmod(meta.get(), c));
        r.fields_->push_back(f);
    }
    Result k = conn->exec("SELECT a.attname, format_type(a.atttypid, NULL) FROM pg_index i JOIN pg_attribute a "
                          "ON a.attrelid = i.indrelid AND a.attnum = ANY(i.indkey) WHERE i.indrelid = $1 AND "
                          "i.indisprimary ORDER BY array_position(i.indkey::int2[], a.attnum)",
                          {Param{QByteArray::number(r.table_.oid)}});
    for (int i = 0; i < PQntuples(k.get()); ++i) {
        r.keyCols_.push_back(QString::fromUtf8(PQgetvalue(k.get(), i, 0)));
        r.keyTypes_.push_back(QString::fromUtf8(PQgetvalue(k.get(), i, 1)));
    }
    if (r.keyCols_.empty()) {
        r.keyCols_ = {"ctid"};
        r.keyTypes_ = {"tid"};
        r.readOnlyReason_ = QString("The table '%1' has no primary key: its records cannot be told apart safely, "
                                    "so it opens read-only.").arg(r.name_);
    } else {
        r.updatable_ = true;
    }
    r.nk_ = r.keyCols_.size();
    QString order = orderOverride.isEmpty() ? ts.orderClause : translateJetExpression(orderOverride, {}, SqlDialect::Postgres, conn->nameLookup());
    r.loadKeys(order);
    r.pos_ = 0;
    return rs;
}

void PgRecordset::loadKeys(const QString& orderBy) {
    QString cols;
    QString keyOrder;
    // The text forms get names of their own: ORDER BY "id" would otherwise sort by the text.
    for (size_t i = 0; i < nk_; ++i) {
        const QString col = keyCols_[i] == "ctid" ? QString("ctid") : quoteIdent(keyCols_[i]);
        cols += QString(i ? ", " : "") + col + QString("::text AS \"tabulon key %1\"").arg(i);
        keyOrder += QString(i ? ", " : "") + table_.qualified + '.' + col;
    }
    QString sql = "SELECT " + cols + " FROM " + table_.qualified;
    if (!where_.isEmpty()) sql += " WHERE " + where_;
    sql += " ORDER BY " + (orderBy.isEmpty() ? keyOrder : orderBy + ", " + keyOrder);
    keyOrdered_ = orderBy.isEmpty() && keyCols_[0] != "ctid";
    Result r = conn_->exec(sql);
    const int n = PQntuples(r.get());
    keys_.clear();
    keys_.reserve(size_t(n) * nk_);
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < int(nk_); ++c) keys_.emplace_back(PQgetvalue(r.get(), i, c), PQgetlength(r.get(), i, c));
    orderedCount_ = n;
    forget();
}

void PgRecordset::forget() {
    for (auto& b : blocks_) b.index = -1;
}

QByteArray PgRecordset::joinedKey(long long p) const {
    QByteArray k;
    for (size_t c = 0; c < nk_; ++c) {
        if (c) k += '\x1f';
        k += keys_[size_t(p) * nk_ + c];
    }
    return k;
}

QString PgRecordset::keyText(long long p) const {
    QStringList parts;
    for (size_t c = 0; c < nk_; ++c) parts << QString::fromUtf8(keys_[size_t(p) * nk_ + c]);
    return parts.join(", ");
}

PgRecordset::Block& PgRecordset::block(long long p) {
    const long long bi = p / kBlock;
    for (auto& b : blocks_)
        if (b.index == bi) return b;
    Block& b = blocks_[nextSlot_];
    nextSlot_ = (nextSlot_ + 1) % 2;
    b.index = -1;
    const long long first = bi * kBlock, last = std::min(count(), first + kBlock);
    // The block's keys as arrays of their column types; the rows come back in any order and are
    // put in place by their key.
    std::vector<Param> params;
    QString keyExpr, keyText, unnest;
    for (size_t c = 0; c < nk_; ++c) {
        std::vector<QByteArray> vals;
        for (long long p2 = first; p2 < last; ++p2) vals.push_back(keys_[size_t(p2) * nk_ + c]);
        params.push_back(Param{arrayLiteral(vals).toUtf8()});
        const QString col = keyCols_[c] == "ctid" ? "ctid" : quoteIdent(keyCols_[c]);
        keyExpr += QString(c ? ", " : "") + col;
        keyText += ", " + col + "::text";
        unnest += QString(c ? ", " : "") + QString("$%1::%2[]").arg(c + 1).arg(keyTypes_[c]);
    }
    QString sql = "SELECT " + selectList_ + keyText + ", xmin::text FROM " + table_.qualified + " WHERE (" +
                  keyExpr + ") IN (SELECT * FROM unnest(" + unnest + "))";
    if (nk_ == 1 && keyOrdered_ && last <= orderedCount_) {
        // Records in key order: the block is the range between its first and last key, one index
        // range scan instead of a look-up per record. Rows other users added inside it are left out
        // below; rows they deleted are missing as they would be anyway.
        const QString col = quoteIdent(keyCols_[0]);
        sql = "SELECT " + selectList_ + keyText + ", xmin::text FROM " + table_.qualified + " WHERE " + col +
              " >= $1 AND " + col + " <= $2";
        params = {Param{keys_[size_t(first)]}, Param{keys_[size_t(last - 1)]}};
    }
    Result r = conn_->exec(sql, params);
    const int nf = int(fields_->size());
    QHash<QByteArray, int> at;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        QByteArray k;
        for (size_t c = 0; c < nk_; ++c) {
            if (c) k += '\x1f';
            k += QByteArray(PQgetvalue(r.get(), i, nf + int(c)), PQgetlength(r.get(), i, nf + int(c)));
        }
        at.insert(k, i);
    }
    b.rows.assign(size_t(last - first), {});
    b.xmins.assign(size_t(last - first), {});
    for (long long p2 = first; p2 < last; ++p2) {
        const auto it = at.find(joinedKey(p2));
        if (it == at.end()) continue;
        const int i = it.value();
        auto& row = b.rows[size_t(p2 - first)];
        row.reserve(size_t(nf));
        for (int c = 0; c < nf; ++c)
            row.push_back(PQgetisnull(r.get(), i, c)
                              ? Variant::null()
                              : fromText(PQgetvalue(r.get(), i, c), PQgetlength(r.get(), i, c), oids_[size_t(c)], typmods_[size_t(c)]));
        b.xmins[size_t(p2 - first)] = PQgetvalue(r.get(), i, nf + int(nk_));
    }
    b.index = bi;
    return b;
}

const std::vector<Variant>& PgRecordset::row(long long p, QByteArray* xmin) {
    if (snapshot_) return rows_[size_t(p)];
    Block& b = block(p);
    const size_t j = size_t(p - b.index * kBlock);
    if (b.rows[j].empty() && !fields_->empty())
        raise(err::RecordDeleted, QString("The record %1 of '%2' was deleted by another user.").arg(keyText(p), name_));
    if (xmin) *xmin = b.xmins[j];
    return b.rows[j];
}

long long PgRecordset::RecordCount() const { return count(); }
long long PgRecordset::AbsolutePosition() const { return hasCurrent() ? pos_ : -1; }
void PgRecordset::setAbsolutePosition(long long pos) {
    if (pos < 0 || pos >= count()) raise(err::InvalidArgument);
    editMode_ = 0;
    pos_ = pos;
    currentDeleted_ = false;
}
bool PgRecordset::Eof() const { return count() == 0 || pos_ >= count(); }
bool PgRecordset::Bof() const { return count() == 0 || pos_ < 0; }
void PgRecordset::MoveFirst() {
    if (!count()) raise(err::NoCurrentRecord);
    editMode_ = 0, pos_ = 0, currentDeleted_ = false;
}
void PgRecordset::MoveLast() {
    if (!count()) raise(err::NoCurrentRecord);
    editMode_ = 0, pos_ = count() - 1, currentDeleted_ = false;
}
void PgRecordset::MoveNext() {
    if (Eof()) raise(err::NoCurrentRecord);
    editMode_ = 0;
    // After a delete the next record has moved into the deleted one's place.
    if (!currentDeleted_) ++pos_;
    currentDeleted_ = false;
}
void PgRecordset::MovePrevious() {
    if (Bof()) raise(err::NoCurrentRecord);
    editMode_ = 0;
    --pos_;
    currentDeleted_ = false;
}
void PgRecordset::Move(long long rows) {
    if (rows == 0) {
        if (!hasCurrent()) raise(currentDeleted_ ? err::RecordDeleted : err::NoCurrentRecord);
        editMode_ = 0;
        return;
    }
    if ((Bof() && rows < 0) || (Eof() && rows > 0)) raise(err::NoCurrentRecord);
    editMode_ = 0;
    long long cur = pos_;
    if (currentDeleted_ && rows > 0) --cur;
    pos_ = std::clamp(cur + rows, -1LL, count());
    currentDeleted_ = false;
}

void PgRecordset::checkWritable() const {
    if (!updatable_) raise(err::ReadOnly, readOnlyReason_.isEmpty() ? describe(err::ReadOnly) : readOnlyReason_);
}

void PgRecordset::checkCurrent() const {
    if (currentDeleted_) raise(err::RecordDeleted);
    if (!hasCurrent()) raise(err::NoCurrentRecord);
}

void PgRecordset::AddNew() {
    checkWritable();
    editMode_ = dbEditAdd;
    buffer_.assign(fields_->size(), Variant::null());
    dirty_.assign(fields_->size(), 0);
}

void PgRecordset::Edit() {
    checkWritable();
    checkCurrent();
    // The row version the user saw: the update is refused when the record holds another one.
    const auto& r = row(pos_, &editXmin_);
    buffer_ = r;
    dirty_.assign(fields_->size(), 0);
    editMode_ = dbEditInProgress;
}

void PgRecordset::CancelUpdate() {
    if (!editMode_) raise(err::UpdateWithoutAddNew);
    editMode_ = 0;
}

Variant PgRecordset::fieldValue(int index) {
    if (editMode_) return buffer_[size_t(index)];
    checkCurrent();
    return row(pos_)[size_t(index)];
}

void PgRecordset::setFieldValue(int index, Variant&& v) {
    if (!editMode_) raise(err::UpdateWithoutAddNew);
    const FieldMeta& f = (*fields_)[size_t(index)];
    if (f.column.isEmpty()) raise(err::FieldNotUpdatable, QString("Field '%1' cannot be updated.").arg(f.name));
    v = v.isEmpty() ? Variant::null() : coerceToFieldType(v, f.type);
    if (f.type == dbText && f.size > 0 && v.type() == Variant::Type::String && v.stringRef().size() > f.size)
        raise(err::FieldTooSmall);
    buffer_[size_t(index)] = std::move(v);
    dirty_[size_t(index)] = 1;
}

QString PgRecordset::keyWhere(int firstParam, std::vector<Param>& params, long long p) const {
    QString w;
    for (size_t c = 0; c < nk_; ++c) {
        w += QString(c ? " AND " : "") + quoteIdent(keyCols_[c]) + QString(" = $%1").arg(firstParam + int(c));
        params.push_back(Param{keys_[size_t(p) * nk_ + c]});
    }
    return w;
}

void PgRecordset::changedMeanwhile(long long p, bool deleting) {
    const QString key = keyText(p);
    forget();  // the grid shows the other user's values from now on
    editMode_ = 0;
    raise(3197, QString("The record %1 of '%2' was changed or deleted by another user after you read it; "
                        "your %3 was not saved. Its current values are shown now.")
                    .arg(key, name_, deleting ? "deletion" : "change"));
}

void PgRecordset::Update() {
    if (!editMode_) raise(err::UpdateWithoutAddNew);
    std::vector<Param> params;
    QStringList cols, vals;
    for (size_t i = 0; i < fields_->size(); ++i) {
        if (!dirty_[i] || (*fields_)[i].column.isEmpty()) continue;
        const QString col = quoteIdent((*fields_)[i].column);
        params.push_back(toParam(buffer_[i]));
        cols << col;
        vals << QString("$%1").arg(params.size());
    }
    QString returning = " RETURNING ";
    for (size_t c = 0; c < nk_; ++c) returning += quoteIdent(keyCols_[c]) + "::text, ";
    returning += "xmin::text";
    if (editMode_ == dbEditAdd) {
        const QString sql = cols.isEmpty() ? "INSERT INTO " + table_.qualified + " DEFAULT VALUES" + returning
                                           : "INSERT INTO " + table_.qualified + " (" + cols.join(", ") + ") VALUES (" +
                                                 vals.join(", ") + ")" + returning;
        Result r = conn_->exec(sql, params);
        for (size_t c = 0; c < nk_; ++c) keys_.emplace_back(PQgetvalue(r.get(), 0, int(c)));
        editMode_ = 0;
        return;
    }
    if (cols.isEmpty()) {
        editMode_ = 0;
        return;
    }
    QStringList sets;
    for (int i = 0; i < cols.size(); ++i) sets << cols[i] + " = " + vals[i];
    const QString where = keyWhere(int(params.size()) + 1, params, pos_);
    params.push_back(Param{editXmin_});
    const QString sql = "UPDATE " + table_.qualified + " SET " + sets.join(", ") + " WHERE " + where +
                        QString(" AND xmin::text = $%1").arg(params.size()) + returning;
    Result r = conn_->exec(sql, params);
    if (PQntuples(r.get()) == 0) changedMeanwhile(pos_, false);
    bool keyChanged = false;
    for (size_t c = 0; c < nk_; ++c) {
        QByteArray k = PQgetvalue(r.get(), 0, int(c));
        keyChanged |= k != keys_[size_t(pos_) * nk_ + c];
        if (keyChanged) keyOrdered_ = false;  // the record now stands out of key order
        keys_[size_t(pos_) * nk_ + c] = std::move(k);
    }
    // The cached record takes the saved values and its new version, so that edits one after
    // another do not read their block again.
    Block* cached = nullptr;
    for (auto& b : blocks_)
        if (b.index == pos_ / kBlock) cached = &b;
    const size_t j = size_t(pos_ % kBlock);
    if (cached && !keyChanged && !cached->rows[j].empty()) {
        for (size_t i = 0; i < fields_->size(); ++i)
            if (dirty_[i]) cached->rows[j][i] = buffer_[i];
        cached->xmins[j] = PQgetvalue(r.get(), 0, int(nk_));
    } else {
        forget();
    }
    editMode_ = 0;
}

void PgRecordset::Delete() {
    checkWritable();
    checkCurrent();
    editMode_ = 0;
    QByteArray xmin;
    (void)row(pos_, &xmin);
    std::vector<Param> params;
    const QString where = keyWhere(1, params, pos_);
    params.push_back(Param{xmin});
    Result r = conn_->exec("DELETE FROM " + table_.qualified + " WHERE " + where +
                               QString(" AND xmin::text = $%1").arg(params.size()),
                           params, true);
    if (QByteArray(PQcmdTuples(r.get())).toLongLong() == 0) changedMeanwhile(pos_, true);
    keys_.erase(keys_.begin() + qsizetype(size_t(pos_) * nk_), keys_.begin() + qsizetype(size_t(pos_ + 1) * nk_));
    if (pos_ < orderedCount_) --orderedCount_;
    forget();
    currentDeleted_ = true;
}

std::shared_ptr<PgRecordset> PgRecordset::reopen(const QString& sort, int type) {
    return open(conn_, jetBase_, type ? type : type_, sort);
}

void PgRecordset::Find(const QString& criteria, bool first) {
    const long long from = first ? 0 : (currentDeleted_ ? pos_ : pos_ + 1);
    noMatch_ = true;
    if (snapshot_) raise(3251, "Searching is not available on this kind of recordset yet.");
    if (criteria != findCriteria_) {
        // One query for the keys that meet the criteria; records are then tested by key.
        QString cols;
        for (size_t c = 0; c < nk_; ++c) cols += QString(c ? " || chr(31) || " : "") + (keyCols_[c] == "ctid" ? QString("ctid") : quoteIdent(keyCols_[c])) + "::text";
        QString sql = "SELECT " + cols + " FROM " + table_.qualified + " WHERE (" +
                      translateJetExpression(criteria, {}, SqlDialect::Postgres, conn_->nameLookup()) + ")";
        if (!where_.isEmpty()) sql += " AND (" + where_ + ")";
        Result r = conn_->exec(sql);
        findKeys_.clear();
        for (int i = 0; i < PQntuples(r.get()); ++i) findKeys_.insert(QByteArray(PQgetvalue(r.get(), i, 0)));
        findCriteria_ = criteria;
    }
    for (long long p = std::max(0LL, from); p < count(); ++p) {
        if (findKeys_.contains(joinedKey(p))) {
            pos_ = p;
            currentDeleted_ = false;
            editMode_ = 0;
            noMatch_ = false;
            return;
        }
    }
}

void PgRecordset::Close() {
    keys_.clear();
    rows_.clear();
    forget();
}

Variant PgRecordset::valueAt(long long row_, int index) {
    if (row_ < 0 || row_ >= count()) raise(err::NoCurrentRecord);
    if (index < 0 || index >= int(fields_->size())) raise(err::ItemNotFound);
    return row(row_)[size_t(index)];
}

}  // namespace dao::pg
