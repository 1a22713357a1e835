#include "PgBackend.h"

#include <libpq-fe.h>

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "Connection.h"
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
constexpr int kPasswordNeeded = err::NotValidPassword;


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

namespace {

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The open connections of the process: a statement first commits the pending batches of the others,
// so that records this process changed on one connection are seen, and not waited for, on another
// (as the file batches of one process are).
std::mutex registryMu;
struct Registered {
    PgConnection* c;
    std::weak_ptr<PgConnection> owner;
};
std::vector<Registered>& registry() {
    // Never destroyed: a connection held by another static object closes after it would be.
    static auto* r = new std::vector<Registered>;
    return *r;
}

const QRegularExpression& ddlPattern() {
    static const QRegularExpression ddl(QStringLiteral("^\\s*(CREATE|ALTER|DROP|TRUNCATE|GRANT|REVOKE|COMMENT)\\b"),
                                        QRegularExpression::CaseInsensitiveOption);
    return ddl;
}

bool lostConnection(PGconn* c, const QString& state) { return PQstatus(c) != CONNECTION_OK || state.startsWith("08"); }

QString sqlState(const PGresult* r) {
    const char* st = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    return st ? QString::fromLatin1(st) : QString();
}

int numberFor(const QString& state, const QString& words, bool deleting) {
    if (state == "23505") return err::DuplicateValue;
    if (state == "23503") return deleting || words.contains("still referenced") ? err::RelatedRecords : err::RelatedRecordRequired;
    if (state == "23502") return err::NullNotAllowed;
    if (state == "22001") return err::FieldTooSmall;
    if (state == "23514") return err::ValidationRule;
    if (state == "42P01") return err::TableNotFound;
    if (state == "42703") return err::TooFewParameters;
    if (state.startsWith("42")) return err::SyntaxError;
    if (state.startsWith("22")) return err::DataTypeMismatch;
    if (state == "55P03" || state == "40P01") return err::Locked;
    return 3146;  // a call the server refused, for anything not mapped above
}

bool touchedRows(const PGresult* r) {
    return PQntuples(r) > 0 || QByteArray(PQcmdTuples(const_cast<PGresult*>(r))).toLongLong() > 0;
}

}  // namespace

std::shared_ptr<PgConnection> PgConnection::open(const QString& uri) {
    std::shared_ptr<PgConnection> c(new PgConnection);
    c->name_ = withoutPassword(uri);
    c->conn_ = PQconnectdb(uri.toUtf8().constData());
    // A server that asks for a password none of libpq's places (~/.pgpass, PGPASSWORD) gave: the
    // one it took before in this process, else the password source (the window's password box).
    std::optional<QString> password;
    for (int attempt = 0; c->conn_ && PQstatus(c->conn_) != CONNECTION_OK && uri == c->name_ && attempt < 2; ++attempt) {
        const bool needs = PQconnectionNeedsPassword(c->conn_);
        const bool refused = password && QString::fromUtf8(PQerrorMessage(c->conn_)).contains("password authentication failed");
        if (!needs && !refused) break;
        if (refused && attempt == 1 && !serverPassword(c->name_, false)) raise(kPasswordNeeded, QStringLiteral("Not a valid password."));
        // First the one taken before (if any), then the user's; a remembered one refused is asked again.
        password = attempt == 0 ? serverPassword(c->name_, false) : std::nullopt;
        if (!password) password = serverPassword(c->name_, true);
        if (!password || password->isEmpty())
            raise(kPasswordNeeded, QString("The database server '%1' needs a password.").arg(c->name_));
        PQfinish(c->conn_);
        const QByteArray dbname = uri.toUtf8(), pw = password->toUtf8();
        const char* keys[] = {"dbname", "password", nullptr};
        const char* values[] = {dbname.constData(), pw.constData(), nullptr};
        c->conn_ = PQconnectdbParams(keys, values, 1);
    }
    if (password && c->conn_ && PQstatus(c->conn_) != CONNECTION_OK &&
        QString::fromUtf8(PQerrorMessage(c->conn_)).contains("password authentication failed"))
        raise(kPasswordNeeded, QStringLiteral("Not a valid password."));
    if (!c->conn_ || PQstatus(c->conn_) != CONNECTION_OK) {
        const QString why = c->conn_ ? QString::fromUtf8(PQerrorMessage(c->conn_)).trimmed() : "out of memory";
        const bool wantsPassword = c->conn_ && PQconnectionNeedsPassword(c->conn_);
        raise(wantsPassword ? kPasswordNeeded : kConnectionLost, QString("Could not connect to '%1': %2").arg(c->name_, why));
    }
    if (password) acceptServerPassword(c->name_, *password);
    c->session();
    std::lock_guard g(registryMu);
    registry().push_back({c.get(), c});
    return c;
}

void PgConnection::session() {
    PQsetClientEncoding(conn_, "UTF8");
    Result r(PQexec(conn_, "SET datestyle = ISO; SET intervalstyle = iso_8601; SET bytea_output = hex; "
                           "SET extra_float_digits = 3"));
}

void PgConnection::reconnectIfLost() {
    if (PQstatus(conn_) == CONNECTION_OK) return;
    // A loss a statement found was reported then, with the changes it took, and the transaction
    // closed. One found by no statement of ours (a read sent ahead, say) is reported here: the open
    // transaction's changes went with it. Statements prepared on the old session are gone too.
    const size_t unreported = inTxn_ ? batch_.size() : 0;
    const QString lost = unreported == 1 ? QString("; the change since the last save was not saved")
                         : unreported    ? QString("; the %1 changes since the last save were not saved").arg(unreported)
                                         : QString();
    PQreset(conn_);
    prepared_.clear();
    ahead_ = false;
    inTxn_ = false;
    batch_.clear();
    batchXid_.clear();
    ++generation_;
    if (PQstatus(conn_) != CONNECTION_OK)
        raise(kConnectionLost, QString("The connection to the database server '%1' was lost%2, and it cannot be made again: %3")
                                   .arg(name_, lost, QString::fromUtf8(PQerrorMessage(conn_)).trimmed()));
    session();
    if (unreported)
        raise(kConnectionLost, QString("The connection to the database server '%1' was lost%2. It is connected again.").arg(name_, lost));
}

PgConnection::~PgConnection() {
    try {
        close();
    } catch (const Error& e) {
        // No one left to tell but the terminal.
        std::fprintf(stderr, "tabulon: %s\n", qPrintable(e.description()));
    }
}

void PgConnection::close() {
    {
        std::lock_guard g(flushMu_);
        stopping_ = true;
    }
    flushCv_.notify_all();
    if (flusher_.joinable()) flusher_.join();
    {
        std::lock_guard g(registryMu);
        auto& r = registry();
        std::erase_if(r, [this](const Registered& e) { return e.c == this; });
    }
    std::lock_guard lock(mu_);
    if (!conn_) return;
    struct Finish {
        PgConnection* c;
        ~Finish() {
            PQfinish(c->conn_);
            c->conn_ = nullptr;
        }
    } finish{this};
    idle();
    // Changes that cannot be saved are reported here, never dropped without a word.
    throwPending();
    commitLocked();
}

void PgConnection::fail(pg_result* r, bool deleting) {
    const QString words = serverWords(r, conn_);
    const QString state = sqlState(r);
    if (lostConnection(conn_, state)) {
        const size_t lost = inTxn_ ? batch_.size() : 0;
        batch_.clear();
        inTxn_ = false;
        ++generation_;
        const QString what = writing_ ? (lost ? QString("this change was not saved, nor the %1 before it since the last save").arg(lost)
                                              : QString("this change was not saved"))
                                      : (lost == 1 ? QString("the change since the last save was not saved")
                                         : lost     ? QString("the %1 changes since the last save were not saved").arg(lost)
                                                    : QString("nothing was pending"));
        raise(kConnectionLost, QString("The connection to the database server '%1' was lost; %2. %3").arg(name_, what, words));
    }
    QString more;
    // The server drops the whole transaction on an error: the batch's earlier changes run again.
    if (inTxn_) more = replay();
    QString said = words;
    // A missing value names its field as table.field, as the file engines do, so that a form can
    // point at the input that needs one.
    const char* table = r && state == "23502" ? PQresultErrorField(r, PG_DIAG_TABLE_NAME) : nullptr;
    const char* column = r && state == "23502" ? PQresultErrorField(r, PG_DIAG_COLUMN_NAME) : nullptr;
    if (table && column)
        said = QString("The field %1.%2 needs a value: %3").arg(QString::fromUtf8(table), QString::fromUtf8(column), words);
    raise(numberFor(state, words, deleting), more.isEmpty() ? said : said + "\n" + more);
}

void PgConnection::idle() {
    if (!ahead_) return;
    while (PGresult* r = PQgetResult(conn_)) PQclear(r);
    ahead_ = false;
}

void PgConnection::sendAhead(const QString& sql, const std::vector<Param>& params, bool binary) {
    std::lock_guard lock(mu_);
    if (!conn_ || ahead_ || !pendingWords_.isEmpty() || PQstatus(conn_) != CONNECTION_OK) return;
    const QByteArray text = utf8(sql);
    const auto it = prepared_.constFind(text);
    if (it == prepared_.constEnd()) return;
    std::vector<const char*> v(params.size());
    std::vector<int> l(params.size()), f(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        v[i] = params[i].null ? nullptr : params[i].bytes.constData();
        l[i] = int(params[i].bytes.size());
        f[i] = params[i].binary ? 1 : 0;
    }
    if (!PQsendQueryPrepared(conn_, it.value().constData(), int(params.size()), v.data(), l.data(), f.data(), binary ? 1 : 0))
        return;
    ahead_ = true;
    aheadSql_ = text;
    aheadParams_.clear();
    for (const Param& p : params) aheadParams_.push_back(p.bytes);
}

Result PgConnection::takeAhead(const QString& sql, const std::vector<Param>& params) {
    std::lock_guard lock(mu_);
    if (!conn_ || !ahead_) return {};
    bool same = aheadSql_ == utf8(sql) && aheadParams_.size() == params.size();
    for (size_t i = 0; same && i < params.size(); ++i) same = aheadParams_[i] == params[i].bytes;
    if (!same) return {};
    Result first(PQgetResult(conn_));
    idle();
    if (!first || PQresultStatus(first.get()) != PGRES_TUPLES_OK) return {};  // run again, for its error
    return first;
}

Result PgConnection::run(const QByteArray& text, const std::vector<Param>& params, bool prepared, bool binary) {
    idle();
    const int n = int(params.size());
    const char* values[64];
    int lengths[64], formats[64];
    std::vector<const char*> bigValues;
    std::vector<int> bigLengths, bigFormats;
    const char** v = values;
    int *l = lengths, *f = formats;
    if (n > 64) {
        bigValues.resize(size_t(n)), bigLengths.resize(size_t(n)), bigFormats.resize(size_t(n));
        v = bigValues.data(), l = bigLengths.data(), f = bigFormats.data();
    }
    for (int i = 0; i < n; ++i) {
        v[i] = params[size_t(i)].null ? nullptr : params[size_t(i)].bytes.constData();
        l[i] = int(params[size_t(i)].bytes.size());
        f[i] = params[size_t(i)].binary ? 1 : 0;
    }
    if (!prepared) return Result(PQexecParams(conn_, text.constData(), n, nullptr, v, l, f, binary ? 1 : 0));
    auto it = prepared_.constFind(text);
    if (it == prepared_.constEnd()) {
        const QByteArray name = "tabulon_" + QByteArray::number(prepared_.size() + 1);
        Result p(PQprepare(conn_, name.constData(), text.constData(), n, nullptr));
        if (!p || PQresultStatus(p.get()) != PGRES_COMMAND_OK) return p;
        it = prepared_.insert(text, name);
    }
    return Result(PQexecPrepared(conn_, it.value().constData(), n, v, l, f, binary ? 1 : 0));
}

Result PgConnection::exec(const QString& sql, const std::vector<Param>& params, bool deleting, bool prepared, bool binary) {
    std::lock_guard lock(mu_);
    if (!conn_) raise(err::ObjectClosed);
    throwPending();
    reconnectIfLost();
    commitOthers();
    idle();
    if (ddlPattern().match(sql).hasMatch()) {
        // Definitions change outside the batch; names may have come or gone, and statements
        // prepared over the old definitions are dropped.
        commitLocked();
        namesRead_ = false;
        if (!prepared_.isEmpty()) {
            Result d(PQexec(conn_, "DEALLOCATE ALL"));
            prepared_.clear();
        }
    }
    // Only a read is run again: a change the server may have made before it went could twice.
    const bool alone = !inTxn_ && sql.trimmed().startsWith("SELECT", Qt::CaseInsensitive);
    Result r = run(utf8(sql), params, prepared, binary);
    auto status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && alone && PQstatus(conn_) != CONNECTION_OK) {
        // The server went away since the last statement, with no change of ours pending: on a
        // new session the read runs once more (a Refresh after a server restart just works).
        reconnectIfLost();
        r = run(utf8(sql), params, prepared, binary);
        status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    }
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(r.get(), deleting);
    return r;
}

Result PgConnection::write(Change change) {
    std::lock_guard lock(mu_);
    if (!conn_) raise(err::ObjectClosed);
    throwPending();
    reconnectIfLost();
    commitOthers();
    writing_ = true;
    struct Writing {
        bool& w;
        ~Writing() { w = false; }
    } writing{writing_};
    if (!inTxn_) begin();
    Result r = run(utf8(change.sql), change.params, true, false);
    const auto status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(r.get(), change.deleting);
    if (change.mustHit && !touchedRows(r.get())) return r;  // refused: nothing to keep
    if (change.returnsXmin && batchXid_.isEmpty() && PQntuples(r.get()) > 0)
        batchXid_ = PQgetvalue(r.get(), 0, PQnfields(r.get()) - 1);
    batch_.push_back(std::move(change));
    if (batch_.size() >= size_t(kBatchRecords)) commitLocked();
    return r;
}

void PgConnection::setReplay(const QString& sql, std::vector<Param> params) {
    std::lock_guard lock(mu_);
    if (batch_.empty()) return;  // committed already: nothing will run it again
    batch_.back().sql = sql;
    batch_.back().params = std::move(params);
}

void PgConnection::begin() {
    idle();
    Result r(PQexec(conn_, "BEGIN"));
    if ((!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) && batch_.empty() && PQstatus(conn_) != CONNECTION_OK) {
        // Lost between batches: nothing of ours went with it, so the batch starts on a new session.
        reconnectIfLost();
        r = Result(PQexec(conn_, "BEGIN"));
    }
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) fail(r.get(), false);
    inTxn_ = true;
    batchStartNs_ = nowNs();
    std::lock_guard g(flushMu_);
    if (!flusher_.joinable() && !stopping_) flusher_ = std::thread([this] { flusher(); });
}

void PgConnection::commit() {
    std::lock_guard lock(mu_);
    if (!conn_) return;
    throwPending();
    commitLocked();
}

void PgConnection::commitLocked() {
    if (!inTxn_ || !conn_) return;
    idle();
    Result r(PQexec(conn_, "COMMIT"));
    const size_t n = batch_.size();
    batch_.clear();
    batchXid_.clear();
    inTxn_ = false;
    if (r && PQresultStatus(r.get()) == PGRES_COMMAND_OK) return;
    ++generation_;
    const QString words = serverWords(r.get(), conn_), state = sqlState(r.get());
    if (PQtransactionStatus(conn_) != PQTRANS_IDLE) Result(PQexec(conn_, "ROLLBACK"));
    raise(lostConnection(conn_, state) ? kConnectionLost : numberFor(state, words, false),
          QString("The last %1 changes to '%2' could not be saved: %3").arg(n).arg(name_, words));
}

QString PgConnection::replay() {
    idle();
    Result(PQexec(conn_, "ROLLBACK"));
    inTxn_ = false;
    ++generation_;
    std::vector<Change> todo = std::move(batch_);
    batch_.clear();
    QStringList lost;
    while (!todo.empty()) {
        begin();
        size_t failedAt = todo.size();
        std::vector<Change> kept;
        const QByteArray oldXid = std::exchange(batchXid_, QByteArray());
        for (size_t i = 0; i < todo.size(); ++i) {
            // A record changed twice in the batch: the second change expects the version the first
            // one makes now.
            const int xp = todo[i].xminParam;
            if (xp >= 0 && !oldXid.isEmpty() && todo[i].params[size_t(xp)].bytes == oldXid && !batchXid_.isEmpty())
                todo[i].params[size_t(xp)].bytes = batchXid_;
            Result r = run(utf8(todo[i].sql), todo[i].params, true, false);
            const auto status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
                if (lostConnection(conn_, sqlState(r.get()))) {
                    inTxn_ = false;
                    return QString("The connection was lost: the %1 changes before it since the last save were not saved either.")
                        .arg(todo.size());
                }
                lost << todo[i].what + ": " + serverWords(r.get(), conn_);
                failedAt = i;
                break;
            }
            if (todo[i].mustHit && !touchedRows(r.get())) {
                lost << todo[i].what + ": changed or deleted by another user meanwhile";
                continue;
            }
            if (todo[i].returnsXmin && batchXid_.isEmpty() && PQntuples(r.get()) > 0)
                batchXid_ = PQgetvalue(r.get(), 0, PQnfields(r.get()) - 1);
            kept.push_back(todo[i]);
        }
        if (failedAt == todo.size()) {
            batch_ = std::move(kept);
            break;
        }
        // That change dropped the transaction in its turn: the others once more without it, the
        // versions they expect named as this round named them.
        for (size_t j = failedAt + 1; j < todo.size(); ++j) {
            const int xp = todo[j].xminParam;
            if (xp >= 0 && !oldXid.isEmpty() && todo[j].params[size_t(xp)].bytes == oldXid && !batchXid_.isEmpty())
                todo[j].params[size_t(xp)].bytes = batchXid_;
        }
        Result(PQexec(conn_, "ROLLBACK"));
        inTxn_ = false;
        kept.insert(kept.end(), std::make_move_iterator(todo.begin() + qsizetype(failedAt) + 1), std::make_move_iterator(todo.end()));
        todo = std::move(kept);
    }
    if (lost.isEmpty()) return {};
    return "Earlier changes of the same batch that could not be saved again: " + lost.join("; ");
}

void PgConnection::commitOthers() {
    std::lock_guard g(registryMu);
    for (const Registered& e : registry()) {
        PgConnection* o = e.c;
        if (o == this || !o->inTxn_) continue;
        std::unique_lock l(o->mu_, std::try_to_lock);
        if (!l.owns_lock()) continue;  // busy on another thread: its own round commits it
        try {
            o->commitLocked();
        } catch (const Error& e) {
            o->pendingNumber_ = e.number();
            o->pendingWords_ = e.description();
        }
    }
}

void commitAll() {
    std::vector<std::shared_ptr<PgConnection>> open;
    {
        std::lock_guard g(registryMu);
        for (const Registered& e : registry())
            if (auto c = e.owner.lock()) open.push_back(std::move(c));
    }
    for (const auto& c : open) c->commit();
}

void PgConnection::throwPending() {
    if (!pendingNumber_) return;
    const int n = pendingNumber_;
    pendingNumber_ = 0;
    raise(n, std::exchange(pendingWords_, QString()));
}

void PgConnection::flusher() {
    std::unique_lock l(flushMu_);
    while (!stopping_) {
        flushCv_.wait_for(l, std::chrono::milliseconds(kBatchAgeMs / 2));
        if (stopping_ || !inTxn_ || nowNs() - batchStartNs_ < int64_t(kBatchAgeMs) * 1000000) continue;
        l.unlock();
        {
            // Never waits for the connection: a busy one is tried again on the next round.
            std::unique_lock c(mu_, std::try_to_lock);
            if (c.owns_lock()) {
                try {
                    commitLocked();
                } catch (const Error& e) {
                    pendingNumber_ = e.number();
                    pendingWords_ = e.description();
                }
            }
        }
        l.lock();
    }
}

long long PgConnection::copyIn(const QString& copySql, const std::function<bool(QByteArray&)>& nextChunk) {
    std::lock_guard lock(mu_);
    if (!conn_) raise(err::ObjectClosed);
    throwPending();
    reconnectIfLost();
    commitOthers();
    idle();
    commitLocked();
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

std::vector<QStringList> PgConnection::uniqueIndexes(const QString& table) {
    const TableRef t = resolve(table);
    std::vector<QStringList> out;
    if (!t.oid) return out;
    // Unique indexes over plain columns (not over expressions, not partial).
    Result u = exec("SELECT i.indexrelid, a.attname FROM pg_index i CROSS JOIN LATERAL unnest(i.indkey::int2[]) "
                    "WITH ORDINALITY AS k(attnum, n) JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
                    "WHERE i.indrelid = $1 AND i.indisunique AND NOT i.indisprimary AND i.indexprs IS NULL "
                    "AND i.indpred IS NULL ORDER BY i.indexrelid, k.n",
                    {Param{QByteArray::number(t.oid)}});
    QByteArray current;
    for (int i = 0; i < PQntuples(u.get()); ++i) {
        const QByteArray index = PQgetvalue(u.get(), i, 0);
        if (index != current) out.emplace_back();
        current = index;
        out.back() << QString::fromUtf8(PQgetvalue(u.get(), i, 1));
    }
    return out;
}

long long PgConnection::execute(const QString& jetSql) {
    const TranslatedSql ts = translateJetSql(jetSql, {}, SqlDialect::Postgres, nameLookup());
    if (ts.isSelect) raise(err::SyntaxError, "A select query cannot be executed: " + jetSql);
    const bool deleting = ts.sql.trimmed().startsWith("DELETE", Qt::CaseInsensitive);
    // A statement runs on its own, after the pending batch: run again it could draw other serial
    // keys, which the records read since would not know.
    std::lock_guard lock(mu_);
    if (conn_) {
        throwPending();
        commitLocked();
    }
    Result r = exec(ts.sql, {}, deleting);
    return QByteArray(PQcmdTuples(r.get())).toLongLong();
}

// ---- types --------------------------------------------------------------------------------------

void engineType(unsigned oid, int typmod, int* type, int* size) {
    *size = 0;
    switch (oid) {
        case kBool: *type = dbBoolean; break;
        case kInt2: *type = dbInteger; break;
        case kInt4: *type = dbLong; break;
        case kInt8: *type = dbBigInt; break;
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
        case dbBigInt: return "bigint";
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
            {
                int type, size;
            engineType(oid, typmod, &type, &size);
                return coerceToFieldType(Variant::fromString(QString::fromLatin1(b)), type);
            }
        case kInt8: return Variant::fromBigInt(b.toLongLong());
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

namespace {

template <typename T>
T bigEndian(const char* p) {
    std::make_unsigned_t<T> v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v = decltype(v)((v << 8) | uint8_t(p[i]));
    return T(v);
}

constexpr long long k20000101 = 36526;  // the day number of 2000-01-01, where the server counts from

// numeric's binary form: digit count, weight (of the first digit, in powers of 10000), sign, scale,
// then the base-10000 digits.
struct NumericParts {
    int ndigits = 0, weight = 0, scale = 0;
    bool negative = false, nan = false;
    const char* digits = nullptr;
    int digit(int i) const { return i >= 0 && i < ndigits ? bigEndian<int16_t>(digits + 2 * i) : 0; }
};

bool numericParts(const char* p, int n, NumericParts* out) {
    if (n < 8) return false;
    out->ndigits = bigEndian<int16_t>(p);
    out->weight = bigEndian<int16_t>(p + 2);
    const uint16_t sign = bigEndian<uint16_t>(p + 4);
    out->scale = bigEndian<int16_t>(p + 6);
    out->negative = sign == 0x4000;
    out->nan = sign != 0 && sign != 0x4000;
    out->digits = p + 8;
    return n >= 8 + 2 * out->ndigits;
}

QString numericText(const NumericParts& v) {
    if (v.nan) return QStringLiteral("NaN");
    QString s;
    if (v.negative) s += '-';
    if (v.weight < 0) {
        s += '0';
    } else {
        for (int e = v.weight; e >= 0; --e) {
            const int d = v.digit(v.weight - e);
            s += e == v.weight ? QString::number(d) : QString::number(d).rightJustified(4, '0');
        }
    }
    if (v.scale > 0) {
        QString frac;
        for (int e = -1; frac.size() < v.scale; --e) frac += QString::number(v.digit(v.weight - e)).rightJustified(4, '0');
        s += '.' + frac.left(v.scale);
    }
    return s;
}

}  // namespace

bool readsBinary(unsigned oid) {
    switch (oid) {
        case kBool: case kInt2: case kInt4: case kInt8: case kFloat4: case kFloat8: case kNumeric: case kDate:
        case kTime: case kTimestamp: case kVarchar: case kBpchar: case kText: case kBytea: case kUuid: return true;
        default: return false;  // money's scale and a zone's time of day depend on the session: as text
    }
}

Variant fromBinary(const char* p, int n, unsigned oid, int typmod) {
    switch (oid) {
        case kBool: return Variant::fromBool(n && p[0]);
        case kInt2: return Variant::fromInteger(bigEndian<int16_t>(p));
        case kInt4: return Variant::fromLong(bigEndian<int32_t>(p));
        case kInt8: return Variant::fromBigInt(bigEndian<int64_t>(p));
        case kFloat4: {
            const uint32_t u = bigEndian<uint32_t>(p);
            float f;
            std::memcpy(&f, &u, 4);
            return Variant::fromSingle(f);
        }
        case kFloat8: {
            const uint64_t u = bigEndian<uint64_t>(p);
            double d;
            std::memcpy(&d, &u, 8);
            return Variant::fromDouble(d);
        }
        case kNumeric: {
            NumericParts v;
            if (!numericParts(p, n, &v)) return Variant::null();
            if (typmod == ((19 << 16) | 4) + 4 && !v.nan && v.weight < 4) {
                // Ten-thousandths straight off the base-10000 digits.
                int64_t t = 0;
                for (int e = v.weight; e >= -1; --e) t = t * 10000 + v.digit(v.weight - e);
                return Variant::fromCurrency(v.negative ? -t : t);
            }
            int type, size;
            engineType(oid, typmod, &type, &size);
            return coerceToFieldType(Variant::fromString(numericText(v)), type);
        }
        case kDate: {
            const int32_t d = bigEndian<int32_t>(p);
            if (d == INT32_MAX || d == INT32_MIN) return Variant::fromString(d > 0 ? "infinity" : "-infinity");
            return Variant::fromDate(dayNumberFromParts(d + k20000101, 0));
        }
        case kTime: return Variant::fromDate(double(bigEndian<int64_t>(p) / 1000000) / 86400.0);
        case kTimestamp: {
            const int64_t us = bigEndian<int64_t>(p);
            if (us == INT64_MAX || us == INT64_MIN) return Variant::fromString(us > 0 ? "infinity" : "-infinity");
            constexpr int64_t kDay = 86400LL * 1000000;
            int64_t day = us / kDay, rest = us % kDay;
            if (rest < 0) rest += kDay, --day;
            // The fraction of a second is dropped, as the stored form has none.
            return Variant::fromDate(dayNumberFromParts(day + k20000101, double(rest / 1000000)));
        }
        case kBytea: return Variant::fromBinary(QByteArray(p, n));
        case kUuid: {
            const QByteArray h = QByteArray(p, n).toHex().toUpper();
            return Variant::fromString('{' + QString::fromLatin1(h.mid(0, 8) + '-' + h.mid(8, 4) + '-' + h.mid(12, 4) + '-' +
                                                                 h.mid(16, 4) + '-' + h.mid(20)) + '}');
        }
        default: return Variant::fromString(QString::fromUtf8(p, n));
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
    QHash<int, QString> columnAt;
    {
        Result a = conn->exec("SELECT attnum, attname FROM pg_attribute WHERE attrelid = $1 AND attnum > 0 AND NOT attisdropped",
                              {Param{QByteArray::number(r.table_.oid)}});
        for (int i = 0; i < PQntuples(a.get()); ++i)
            columnAt.insert(QByteArray(PQgetvalue(a.get(), i, 0)).toInt(), QString::fromUtf8(PQgetvalue(a.get(), i, 1)));
    }
    for (int c = 0; c < PQnfields(meta.get()); ++c) {
        FieldMeta f;
        f.name = QString::fromUtf8(PQfname(meta.get(), c));
        engineType(PQftype(meta.get(), c), PQfmod(meta.get(), c), &f.type, &f.size);
        if (PQftable(meta.get(), c) == r.table_.oid && PQftablecol(meta.get(), c) > 0)
            f.column = columnAt.value(PQftablecol(meta.get(), c));
        r.oids_.push_back(PQftype(meta.get(), c));
        r.typmods_.push_back(PQfmod(meta.get(), c));
        r.fields_->push_back(f);
    }
    r.binary_ = std::all_of(r.oids_.begin(), r.oids_.end(), [](unsigned o) { return readsBinary(o); });
    Result k = conn->exec("SELECT a.attname, format_type(a.atttypid, a.atttypmod) FROM pg_index i JOIN pg_attribute a "
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
    r.intKeys_ = r.nk_ == 1 && (r.keyTypes_[0] == "smallint" || r.keyTypes_[0] == "integer" || r.keyTypes_[0] == "bigint");
    // A single integer key is read back through its own field: no second copy of it per row.
    if (r.nk_ == 1 && r.updatable_)
        for (size_t c = 0; c < r.fields_->size(); ++c)
            if ((*r.fields_)[c].column == r.keyCols_[0] && (r.oids_[c] == 20 || r.oids_[c] == 21 || r.oids_[c] == 23)) {
                r.keyField_ = int(c);
                break;
            }
    QString order = orderOverride.isEmpty() ? ts.orderClause : translateJetExpression(orderOverride, {}, SqlDialect::Postgres, conn->nameLookup());
    r.loadKeys(order);
    r.pos_ = 0;
    return rs;
}

void PgRecordset::loadKeys(const QString& orderBy) {
    QString cols;
    QString keyOrder;
    // Other keys come in the text forms the blocks and searches compare them in (a cast, not the
    // column's output: char(n) differs), under names of their own: ORDER BY "id" would otherwise
    // sort by the text. An integer key comes as it is, in binary form, straight into the list:
    // a cast of every key costs the server as much as the list itself.
    for (size_t i = 0; i < nk_; ++i) {
        const QString col = keyCols_[i] == "ctid" ? QString("ctid") : quoteIdent(keyCols_[i]);
        cols += QString(i ? ", " : "") + table_.qualified + '.' + col;
        if (!intKeys_) cols += QString("::text AS \"tabulon key %1\"").arg(i);
        keyOrder += QString(i ? ", " : "") + table_.qualified + '.' + col;
    }
    QString sql = "SELECT " + cols + " FROM " + table_.qualified;
    if (!where_.isEmpty()) sql += " WHERE " + where_;
    keyOrdered_ = orderBy.isEmpty() && keyCols_[0] != "ctid";
    // Numbers in key order are sorted here: the server then reads the table straight through
    // instead of walking the key's index and visiting the rows it cannot vouch for from there.
    const bool sortHere = intKeys_ && keyOrdered_;
    if (!sortHere) sql += " ORDER BY " + (orderBy.isEmpty() ? keyOrder : orderBy + ", " + keyOrder);
    Result r = conn_->exec(sql, {}, false, false, intKeys_);
    const int n = PQntuples(r.get());
    keys_.clear();
    ints_.clear();
    if (intKeys_) {
        ints_.resize(size_t(n));
        for (int i = 0; i < n; ++i) {
            const char* v = PQgetvalue(r.get(), i, 0);
            const int len = PQgetlength(r.get(), i, 0);
            ints_[size_t(i)] = len == 8   ? qint64(bigEndian<uint64_t>(v))
                               : len == 4 ? qint64(int32_t(bigEndian<uint32_t>(v)))
                                          : qint64(int16_t(bigEndian<uint16_t>(v)));
        }
        if (sortHere && !std::is_sorted(ints_.begin(), ints_.end())) std::sort(ints_.begin(), ints_.end());
    } else {
        keys_.reserve(size_t(n) * nk_);
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < int(nk_); ++c) keys_.emplace_back(PQgetvalue(r.get(), i, c), PQgetlength(r.get(), i, c));
    }
    orderedCount_ = n;
    forget();
}

void PgRecordset::appendKey(const char* text) {
    if (intKeys_) ints_.push_back(std::strtoll(text, nullptr, 10));
    else keys_.emplace_back(text);
}

void PgRecordset::setKey(long long p, size_t c, const QByteArray& text) {
    if (intKeys_) ints_[size_t(p)] = text.toLongLong();
    else keys_[size_t(p) * nk_ + c] = text;
}

void PgRecordset::forget() {
    for (auto& b : blocks_) b.first = -1;
    lastEnd_ = -1;
    current_ = nullptr;
}

QByteArray PgRecordset::joinedKey(long long p) const {
    QByteArray k;
    for (size_t c = 0; c < nk_; ++c) {
        if (c) k += '\x1f';
        k += keyAt(p, c);
    }
    return k;
}

QString PgRecordset::keyText(long long p) const {
    QStringList parts;
    for (size_t c = 0; c < nk_; ++c) parts << QString::fromUtf8(keyAt(p, c));
    return parts.join(", ");
}

PgRecordset::Block& PgRecordset::block(long long p) {
    const uint64_t gen = conn_->generation();
    for (auto& b : blocks_)
        if (b.holds(p, gen)) return b;
    Block& b = blocks_[nextSlot_];
    nextSlot_ = (nextSlot_ + 1) % 2;
    b.first = -1;
    current_ = nullptr;  // it may point into this slot
    // Straight on from the last block read: a walk, read in growing runs; elsewhere the block of
    // the grid's page.
    long long first;
    if (p == lastEnd_) {
        run_ = std::min<long long>(run_ * 2, kMaxRun);
        first = p;
    } else {
        run_ = kBlock;
        first = p / kBlock * kBlock;
    }
    const long long last = std::min(count(), first + run_);
    lastEnd_ = last;
    // The block's keys as arrays of their column types; the rows come back in any order and are
    // put in place by their key.
    std::vector<Param> params;
    QString keyExpr, keyText, unnest;
    const bool ranged = nk_ == 1 && keyOrdered_ && last <= orderedCount_;
    for (size_t c = 0; c < nk_; ++c) {
        const QString col = keyCols_[c] == "ctid" ? "ctid" : quoteIdent(keyCols_[c]);
        keyExpr += QString(c ? ", " : "") + col;
        if (keyField_ < 0) keyText += ", " + col + "::text";
        unnest += QString(c ? ", " : "") + QString("$%1::%2[]").arg(c + 1).arg(keyTypes_[c]);
        if (ranged) continue;  // two keys are enough, below
        std::vector<QByteArray> vals;
        for (long long p2 = first; p2 < last; ++p2) vals.push_back(keyAt(p2, c));
        params.push_back(Param{arrayLiteral(vals).toUtf8()});
    }
    QString sql = "SELECT " + selectList_ + keyText + ", xmin FROM " + table_.qualified + " WHERE (" +
                  keyExpr + ") IN (SELECT * FROM unnest(" + unnest + "))";
    if (ranged) {
        // Records in key order: the block is the range between its first and last key, one index
        // range scan instead of a look-up per record, in key order. Rows other users added inside
        // it are left out below; rows they deleted are missing as they would be anyway.
        const QString col = quoteIdent(keyCols_[0]);
        sql = "SELECT " + selectList_ + keyText + ", xmin FROM " + table_.qualified + " WHERE " + col +
              " >= $1 AND " + col + " <= $2 ORDER BY " + table_.qualified + '.' + col;
        params = {Param{keyAt(first, 0)}, Param{keyAt(last - 1, 0)}};
    }
    Result r = conn_->takeAhead(sql, params);
    if (!r) r = conn_->exec(sql, params, false, true, binary_);
    if (ranged && p == first && first > 0 && last < count() && run_ >= 2 * kBlock) {
        // A walk: the next run is read while this one is taken apart.
        const long long nextLast = std::min(count(), last + std::min<long long>(run_ * 2, kMaxRun));
        if (nextLast <= orderedCount_)
            conn_->sendAhead(sql, {Param{keyAt(last, 0)}, Param{keyAt(nextLast - 1, 0)}}, binary_);
    }
    const int nf = int(fields_->size()), nr = PQntuples(r.get());
    PGresult* res = r.get();
    // Emptied and grown rather than assigned: a copy of an empty value into each is work too.
    b.values.clear();
    b.values.resize(size_t(last - first) * size_t(nf));
    b.present.assign(size_t(last - first), 0);
    b.xmins.assign(size_t(last - first), {});
    const int keyAt = keyField_ >= 0 ? -1 : nf;  // where the keys' text forms are, when sent
    const int xminAt = keyField_ >= 0 ? nf : nf + int(nk_);
    // The key of result row i in the text form the key list holds.
    auto keyNumber = [&](int i) {
        const char* v = PQgetvalue(res, i, keyField_);
        const int n = PQgetlength(res, i, keyField_);
        return n == 8 ? qint64(bigEndian<uint64_t>(v)) : n == 4 ? qint64(int32_t(bigEndian<uint32_t>(v))) : qint64(int16_t(bigEndian<uint16_t>(v)));
    };
    auto keyOf = [&](int i, size_t c) -> QByteArray {
        if (keyAt >= 0) return QByteArray(PQgetvalue(res, i, keyAt + int(c)), PQgetlength(res, i, keyAt + int(c)));
        if (!binary_) return QByteArray(PQgetvalue(res, i, keyField_), PQgetlength(res, i, keyField_));
        return QByteArray::number(keyNumber(i));
    };
    auto take = [&](long long p2, int i) {
        Variant* row = b.values.data() + size_t(p2 - first) * size_t(nf);
        for (int c = 0; c < nf; ++c) {
            if (PQgetisnull(res, i, c)) {
                row[c] = Variant::null();
                continue;
            }
            const char* v = PQgetvalue(res, i, c);
            const int n = PQgetlength(res, i, c);
            row[c] = binary_ ? fromBinary(v, n, oids_[size_t(c)], typmods_[size_t(c)])
                             : fromText(v, n, oids_[size_t(c)], typmods_[size_t(c)]);
        }
        b.present[size_t(p2 - first)] = 1;
        const char* x = PQgetvalue(res, i, xminAt);
        b.xmins[size_t(p2 - first)] = binary_ ? bigEndian<uint32_t>(x) : uint32_t(std::strtoul(x, nullptr, 10));
    };
    auto keyIs = [&](int i, long long p2) {
        if (intKeys_ && keyAt < 0 && binary_) return ints_[size_t(p2)] == keyNumber(i);
        for (size_t c = 0; c < nk_; ++c) {
            const QByteArray k = this->keyAt(p2, c);
            if (keyAt < 0 && binary_) {
                bool ok = false;
                if (k.toLongLong(&ok) != keyNumber(i) || !ok) return false;
                continue;
            }
            if (keyAt < 0) {
                if (keyOf(i, c) != k) return false;
                continue;
            }
            const int n = PQgetlength(res, i, keyAt + int(c));
            if (n != k.size() || std::memcmp(PQgetvalue(res, i, keyAt + int(c)), k.constData(), size_t(n)) != 0) return false;
        }
        return true;
    };
    // Usually the rows are exactly the block's records in its order; otherwise each is found by key.
    bool inOrder = ranged && nr == last - first;
    for (long long p2 = first; inOrder && p2 < last; ++p2) inOrder = keyIs(int(p2 - first), p2);
    if (inOrder) {
        for (long long p2 = first; p2 < last; ++p2) take(p2, int(p2 - first));
    } else {
        QHash<QByteArray, int> at;
        for (int i = 0; i < nr; ++i) {
            QByteArray k;
            for (size_t c = 0; c < nk_; ++c) {
                if (c) k += '\x1f';
                k += keyOf(i, c);
            }
            at.insert(k, i);
        }
        for (long long p2 = first; p2 < last; ++p2) {
            const auto it = at.find(joinedKey(p2));
            if (it != at.end()) take(p2, it.value());
        }
    }
    b.first = first;
    b.n = last - first;
    b.generation = gen;
    return b;
}

const Variant* PgRecordset::row(long long p, QByteArray* xmin) {
    if (snapshot_) return rows_[size_t(p)].data();
    Block& b = block(p);
    const size_t j = size_t(p - b.first);
    if (!b.present[j])
        raise(err::RecordDeleted, QString("The record %1 of '%2' was deleted by another user.").arg(keyText(p), name_));
    if (xmin) *xmin = QByteArray::number(b.xmins[j]);
    return b.values.data() + j * fields_->size();
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
    const Variant* r = row(pos_, &editXmin_);
    buffer_.assign(r, r + fields_->size());
    dirty_.assign(fields_->size(), 0);
    editMode_ = dbEditInProgress;
}

void PgRecordset::CancelUpdate() {
    if (!editMode_) raise(err::UpdateWithoutAddNew);
    editMode_ = 0;
}

Variant PgRecordset::fieldValue(int index) {
    if (editMode_) return buffer_[size_t(index)];
    if (current_ && currentPos_ == pos_ && !currentDeleted_ && currentGen_ == conn_->generation())
        return current_[index];
    checkCurrent();
    const Variant* r = row(pos_);
    current_ = r;
    currentPos_ = pos_;
    currentGen_ = conn_->generation();
    return r[index];
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
        params.push_back(Param{keyAt(p, c)});
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
        PgConnection::Change change;
        change.sql = sql;
        change.params = params;
        change.what = QString("a record added to '%1'").arg(name_);
        change.returnsXmin = true;
        Result r = conn_->write(std::move(change));
        QStringList newKey;
        for (size_t c = 0; c < nk_; ++c) {
            appendKey(PQgetvalue(r.get(), 0, int(c)));
            newKey << QString::fromUtf8(PQgetvalue(r.get(), 0, int(c)));
        }
        // Run again after a failure of the batch, the record must get the key it was given (a
        // serial key would draw another).
        bool keyWritten = true;
        for (const QString& k : keyCols_) keyWritten &= cols.contains(quoteIdent(k));
        if (!keyWritten) {
            for (size_t c = 0; c < nk_; ++c) {
                if (cols.contains(quoteIdent(keyCols_[c]))) continue;
                params.push_back(Param{keyAt(count() - 1, c)});
                cols << quoteIdent(keyCols_[c]);
                vals << QString("$%1").arg(params.size());
            }
            conn_->setReplay("INSERT INTO " + table_.qualified + " (" + cols.join(", ") + ") VALUES (" + vals.join(", ") +
                                 ") RETURNING xmin::text",
                             std::move(params));
        }
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
    PgConnection::Change change;
    change.sql = "UPDATE " + table_.qualified + " SET " + sets.join(", ") + " WHERE " + where +
                 QString(" AND xmin::text = $%1").arg(params.size()) + returning;
    change.params = std::move(params);
    change.mustHit = true;
    change.what = QString("the record %1 of '%2'").arg(keyText(pos_), name_);
    change.xminParam = int(change.params.size()) - 1;
    change.returnsXmin = true;
    Result r = conn_->write(std::move(change));
    if (PQntuples(r.get()) == 0) changedMeanwhile(pos_, false);
    bool keyChanged = false;
    for (size_t c = 0; c < nk_; ++c) {
        QByteArray k = PQgetvalue(r.get(), 0, int(c));
        keyChanged |= k != keyAt(pos_, c);
        if (keyChanged) keyOrdered_ = false;  // the record now stands out of key order
        setKey(pos_, c, k);
    }
    // The cached record takes the saved values and its new version, so that edits one after
    // another do not read their block again.
    Block* cached = nullptr;
    for (auto& b : blocks_)
        if (b.holds(pos_, conn_->generation())) cached = &b;
    const size_t j = cached ? size_t(pos_ - cached->first) : 0;
    if (cached && !keyChanged && cached->present[j]) {
        for (size_t i = 0; i < fields_->size(); ++i)
            if (dirty_[i]) cached->values[j * fields_->size() + i] = buffer_[i];
        cached->xmins[j] = uint32_t(std::strtoul(PQgetvalue(r.get(), 0, int(nk_)), nullptr, 10));
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
    PgConnection::Change change;
    change.sql = "DELETE FROM " + table_.qualified + " WHERE " + where + QString(" AND xmin::text = $%1").arg(params.size());
    change.params = std::move(params);
    change.deleting = true;
    change.mustHit = true;
    change.what = QString("the deletion of record %1 of '%2'").arg(keyText(pos_), name_);
    change.xminParam = int(change.params.size()) - 1;
    Result r = conn_->write(std::move(change));
    if (QByteArray(PQcmdTuples(r.get())).toLongLong() == 0) changedMeanwhile(pos_, true);
    if (intKeys_) ints_.erase(ints_.begin() + qsizetype(pos_));
    else keys_.erase(keys_.begin() + qsizetype(size_t(pos_) * nk_), keys_.begin() + qsizetype(size_t(pos_ + 1) * nk_));
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
    ints_.clear();
    rows_.clear();
    forget();
}

Variant PgRecordset::valueAt(long long row_, int index) {
    if (row_ < 0 || row_ >= count()) raise(err::NoCurrentRecord);
    if (index < 0 || index >= int(fields_->size())) raise(err::ItemNotFound);
    return row(row_)[size_t(index)];
}

}  // namespace dao::pg
