#include "Connection.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <condition_variable>
#include <cstring>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

#include "Error.h"
#include "JetPageJournal.h"
#include "JetReader.h"
#include "JetWriteGate.h"
#include "JetWriter.h"
#include "SqliteFunctions.h"

namespace dao {

namespace {

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Process-wide bookkeeping: the files in use, the live connections, and the thread that commits
// batches once they are old enough, so a lone edit reaches the disk even when nothing else happens.
class Registry {
public:
    static Registry& get() {
        static Registry* r = [] {
            auto* reg = new Registry;  // never destroyed: connections may outlive static destruction
            std::atexit([] { Registry::get().shutdown(); });
            return reg;
        }();
        return *r;
    }

    std::shared_ptr<FileState> fileState(const QString& key) {
        std::lock_guard<std::mutex> g(mu_);
        auto& w = files_[key];
        auto s = w.lock();
        if (!s) {
            s = std::make_shared<FileState>();
            w = s;
        }
        return s;
    }

    std::shared_ptr<JetCopy> jetCopy(const QString& key) {
        std::lock_guard<std::mutex> g(mu_);
        return jetCopies_[key].lock();
    }
    void keepJetCopy(const QString& key, const std::shared_ptr<JetCopy>& c) {
        std::lock_guard<std::mutex> g(mu_);
        jetCopies_[key] = c;
    }

    void add(const std::shared_ptr<Connection>& c) {
        std::lock_guard<std::mutex> g(mu_);
        conns_.push_back(c);
        startLocked();
    }

    // The flusher thread ends for a while (pauses nest) and comes back when the last pause ends.
    void pause() {
        std::unique_lock<std::mutex> lk(mu_);
        ++pauses_;
        joined_.wait(lk, [this] { return !joining_; });
        if (!started_) return;
        joining_ = true;
        started_ = false;
        std::thread t = std::move(flusher_);
        lk.unlock();
        cv_.notify_all();
        t.join();
        lk.lock();
        joining_ = false;
        joined_.notify_all();
    }
    void resume() {
        std::lock_guard<std::mutex> g(mu_);
        if (--pauses_ == 0 && !conns_.empty()) startLocked();
    }

    void wake() { cv_.notify_one(); }

    std::vector<std::shared_ptr<Connection>> live() {
        std::lock_guard<std::mutex> g(mu_);
        std::vector<std::shared_ptr<Connection>> out;
        std::vector<std::weak_ptr<Connection>> keep;
        for (auto& w : conns_)
            if (auto c = w.lock()) {
                out.push_back(c);
                keep.push_back(w);
            }
        conns_.swap(keep);
        return out;
    }

    void flushAll() {
        for (auto& c : live()) c->commit();
    }

private:
    void startLocked() {
        if (started_ || stopping_ || pauses_ > 0) return;
        started_ = true;
        flusher_ = std::thread([this] { run(); });
    }

    void run() {
        std::unique_lock<std::mutex> lk(mu_);
        while (!stopping_ && pauses_ == 0) {
            cv_.wait_for(lk, std::chrono::milliseconds(25));
            if (stopping_ || pauses_ > 0) break;
            lk.unlock();
            const int64_t now = nowNs();
            for (auto& c : live()) {
                if (!c->inBatch.load()) continue;
                if (now - c->batchStartNs.load() < int64_t(Connection::kBatchAgeMs) * 1000000) continue;
                try {
                    c->commit();
                } catch (const Error&) {
                    // A busy file: the next round tries again.
                }
            }
            lk.lock();
        }
    }

    void shutdown() {
        {
            std::lock_guard<std::mutex> g(mu_);
            stopping_ = true;
        }
        cv_.notify_all();
        if (flusher_.joinable()) flusher_.join();
        try {
            flushAll();
        } catch (...) {
        }
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::map<QString, std::weak_ptr<FileState>> files_;
    std::map<QString, std::weak_ptr<JetCopy>> jetCopies_;
    std::vector<std::weak_ptr<Connection>> conns_;
    std::thread flusher_;
    bool started_ = false;
    bool stopping_ = false;
    int pauses_ = 0;
    bool joining_ = false;  // a pause is waiting for the flusher to end
    std::condition_variable joined_;
};

QString sqliteMessage(sqlite3* db) { return QString::fromUtf8(sqlite3_errmsg(db)); }

}  // namespace

BackgroundPause::BackgroundPause() {
    Registry::get().pause();
}
BackgroundPause::~BackgroundPause() {
    Registry::get().resume();
}

void flushAllWrites() { Registry::get().flushAll(); }

JetCopy::~JetCopy() {
    QFile::remove(path);
    QFile::remove(path + "-journal");
}

std::shared_ptr<Connection> Connection::open(const QString& path, bool create) {
    // Blanks typed around a path are not part of the file's name (a file named with them still wins).
    const QFileInfo fi(QFileInfo::exists(path) || create ? path : path.trimmed());
    if (create) {
        if (fi.exists()) raise(err::DatabaseExists, QString("Database '%1' already exists.").arg(path));
    } else if (!fi.exists() || !fi.isFile()) {
        raise(err::FileNotFound, QString("Could not find file '%1'.").arg(path));
    }
    std::shared_ptr<Connection> c(new Connection);
    c->path = path;
    QString store = fi.absoluteFilePath();
    // Every use of a connection holds its own mutex (the flusher thread included), so SQLite's
    // per-call locking would only be paid twice.
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    const QString canonical = create ? store : fi.canonicalFilePath();

    if (create) {
        flags |= SQLITE_OPEN_CREATE;
    } else {
        QFile f(fi.filePath());
        if (!f.open(QIODevice::ReadOnly))
            raise(err::FileNotFound, QString("Could not open file '%1': %2.").arg(path, f.errorString()));
        const QByteArray head = f.read(100);
        f.close();
        if (head.startsWith(QByteArray("SQLite format 3\0", 16))) {
            if (!fi.isWritable()) {
                flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
                c->readOnly = true;
            }
        } else if (jet::looksLikeJet(head)) {
            // Our own pending changes first, then a batch a crash interrupted is undone, before
            // anything reads the file.
            if (auto other = Registry::get().fileState(canonical)->pending.lock()) other->commit();
            jet::JetPageJournal::recover(fi.filePath());
            c->readOnlyReason = jet::JetWriteGate::whyReadOnly(fi.filePath());
            if (c->readOnlyReason.isEmpty()) {
                try {
                    c->jetWriter = jet::JetWriter::forFile(fi.filePath());
                } catch (const jet::FormatError& e) {
                    c->readOnlyReason = QString("Part of the file is not understood (%1), so it is not written.").arg(e.what());
                }
            }
            // One temporary SQLite copy per Jet file (and version of it) in the process.
            const QString key = canonical + "|" + QString::number(fi.size()) + "|" +
                                QString::number(fi.lastModified().toMSecsSinceEpoch());
            auto copy = Registry::get().jetCopy(key);
            if (!copy) {
                QTemporaryFile tmp(QDir::tempPath() + "/tabulon-jet-XXXXXX.sqlite");
                tmp.setAutoRemove(false);
                if (!tmp.open()) raise(err::DiskFull, "Cannot create a temporary file: " + tmp.errorString());
                const QString tmpPath = tmp.fileName();
                tmp.close();
                QFile::remove(tmpPath);
                copy = std::make_shared<JetCopy>();
                copy->path = tmpPath;
                {
                    BackgroundPause pause;
                    copy->damaged = jet::convertToSqlite(fi.filePath(), tmpPath);
                }
                Registry::get().keepJetCopy(key, copy);
            }
            c->jetCopy = copy;
            store = copy->path;
            // The working copy takes the engine's writes when the file is changed in place too.
            flags = (c->jetWriter ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
            c->readOnly = !c->jetWriter;
        } else {
            raise(err::UnrecognizedFormat, QString("Unrecognized database format '%1'.").arg(path));
        }
    }

    const QByteArray storeUtf8 = store.toUtf8();
    int rc = sqlite3_open_v2(storeUtf8.constData(), &c->db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg = c->db ? sqliteMessage(c->db) : QString("out of memory");
        if (c->db) sqlite3_close_v2(c->db);
        c->db = nullptr;
        raise(rc == SQLITE_CANTOPEN ? err::FileNotFound : err::UnrecognizedFormat,
              QString("Cannot open '%1': %2.").arg(path, msg));
    }
    sqlite3_extended_result_codes(c->db, 1);
    // A bracketed name becomes a double-quoted identifier: an unknown one must be an error, not a
    // string literal.
    sqlite3_db_config(c->db, SQLITE_DBCONFIG_DQS_DML, 0, static_cast<int*>(nullptr));
    sqlite3_busy_timeout(c->db, 5000);
    registerJetFunctions(c->db);
    // Reading the schema proves the file is a database we can use.
    char* errmsg = nullptr;
    rc = sqlite3_exec(c->db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &errmsg);
    if (rc != SQLITE_OK) {
        const QString msg = errmsg ? QString::fromUtf8(errmsg) : sqliteMessage(c->db);
        sqlite3_free(errmsg);
        sqlite3_close_v2(c->db);
        c->db = nullptr;
        if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
            raise(err::Locked, QString("The file '%1' is locked: %2.").arg(path, msg));
        raise(err::UnrecognizedFormat, QString("Unrecognized database format '%1' (%2).").arg(path, msg));
    }
    if (!c->readOnly) {
        sqlite3_exec(c->db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(c->db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    }
    sqlite3_exec(c->db, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    if (c->jetWriter) {
        try {
            c->jetWriter->attach(c->db, c->jetCopy->path);
        } catch (...) {
            sqlite3_close_v2(c->db);
            c->db = nullptr;
            throw;
        }
    }
    // Connections to one Jet file share its state, whichever working copy they read.
    c->file = Registry::get().fileState(canonical);
    Registry::get().add(c);
    return c;
}

Connection::~Connection() {
    try {
        close();
    } catch (...) {
    }
}

void Connection::close() {
    std::lock_guard<std::recursive_mutex> g(mu);
    if (!db) return;
    try {
        commitLocked();
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        if (jetWriter) jetWriter->discard();
    }
    for (sqlite3_stmt* st : std::as_const(stmts_)) sqlite3_finalize(st);
    stmts_.clear();
    sqlite3_close_v2(db);
    db = nullptr;
}

void Connection::use() {
    const Connection* hint = file->pendingHint.load();
    if (hint == nullptr || hint == this) return;
    std::shared_ptr<Connection> other;
    {
        std::lock_guard<std::mutex> g(file->mu);
        other = file->pending.lock();
    }
    if (other && other.get() != this) other->commit();
}

void Connection::beginWrite() {
    if (readOnly) refuseWrite();
    use();
    if (jetWriter) jetWriter->beginStatement();
    if (inBatch.load()) return;
    exec("BEGIN IMMEDIATE");
    if (jetWriter) jetWriter->discard();  // nothing may be pending outside a batch
    batchCount = 0;
    batchStartNs = nowNs();
    inBatch = true;
    {
        std::lock_guard<std::mutex> g(file->mu);
        file->pending = weak_from_this();
        file->pendingHint = this;
    }
}

void Connection::endWrite() {
    if (jetWriter) jetWriter->endStatement();
    file->generation.fetch_add(1);
    if (++batchCount >= kBatchRecords) commitLocked();
}

void Connection::refuseWrite() const {
    if (readOnlyReason.isEmpty()) raise(err::ReadOnly);
    raise(err::ReadOnly, describe(err::ReadOnly) + " " + readOnlyReason);
}

void Connection::checkCanAdd(const QString& table) const {
    if (!jetWriter) return;
    const QString why = jetWriter->whyCannotAdd(table);
    if (!why.isEmpty()) raise(err::ReadOnly, describe(err::ReadOnly) + " " + why);
}

void Connection::commit() {
    std::lock_guard<std::recursive_mutex> g(mu);
    commitLocked();
}

void Connection::commitLocked() {
    if (!inBatch.load() || !db) return;
    if (jetWriter) {
        // The file first: if its pages cannot be written, the working copy forgets the batch too.
        try {
            jetWriter->flush();
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            jetWriter->discard();
            inBatch = false;
            batchCount = 0;
            std::lock_guard<std::mutex> g(file->mu);
            if (file->pending.lock().get() == this) {
                file->pending.reset();
                file->pendingHint = nullptr;
            }
            throw;
        }
    }
    exec("COMMIT");
    inBatch = false;
    batchCount = 0;
    std::lock_guard<std::mutex> g(file->mu);
    if (file->pending.lock().get() == this) {
        file->pending.reset();
        file->pendingHint = nullptr;
    }
}

void Connection::exec(const char* sql) {
    char* errmsg = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &errmsg) != SQLITE_OK) {
        sqlite3_free(errmsg);
        fail(QString::fromUtf8(sql));
    }
}

sqlite3_stmt* Connection::prepare(const QString& sql) {
    if (!db) raise(err::ObjectClosed);
    const QByteArray u = sql.toUtf8();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, u.constData(), int(u.size()), &st, nullptr) != SQLITE_OK || !st) {
        if (st) sqlite3_finalize(st);
        fail(sql);
    }
    return st;
}

sqlite3_stmt* Connection::cached(const QString& sql) {
    auto it = stmts_.find(sql);
    if (it != stmts_.end()) {
        sqlite3_reset(it.value());
        sqlite3_clear_bindings(it.value());
        return it.value();
    }
    if (!db) raise(err::ObjectClosed);
    const QByteArray u = sql.toUtf8();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(db, u.constData(), int(u.size()), SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
            SQLITE_OK ||
        !st) {
        if (st) sqlite3_finalize(st);
        fail(sql);
    }
    if (stmts_.size() > 200) {  // bounded: sort and search texts vary
        for (sqlite3_stmt* p : std::as_const(stmts_)) sqlite3_finalize(p);
        stmts_.clear();
    }
    stmts_.insert(sql, st);
    return st;
}

void Connection::fail(const QString& context, bool deleting) {
    const int ext = sqlite3_extended_errcode(db);
    const int rc = ext & 0xff;
    const QString msg = sqliteMessage(db);
    if (jetWriter) {
        // The failed statement's changes to the file's pages go with it.
        jetWriter->abortStatement();
        if (msg.startsWith(QLatin1String(jet::JetWriter::kErrorPrefix))) {
            const QString rest = msg.mid(int(std::strlen(jet::JetWriter::kErrorPrefix)));
            const int colon = rest.indexOf(':');
            const int number = rest.left(colon).toInt();
            const QString why = rest.mid(colon + 1).trimmed();
            if (number == err::ReadOnly) raise(err::ReadOnly, describe(err::ReadOnly) + " " + why);
            raise(number > 0 ? number : err::Reserved, why);
        }
        if (rc == SQLITE_AUTH)
            raise(err::ReadOnly, describe(err::ReadOnly) + " Changing the design of Access tables is not available.");
    }
    auto nameIn = [&](const QString& prefix) {
        QString n = msg.mid(prefix.size()).trimmed();
        return n;
    };
    if (msg.startsWith("no such column:"))
        raise(err::TooFewParameters, QString("Unknown field name '%1'.").arg(nameIn("no such column:")));
    if (msg.startsWith("no such table:"))
        raise(err::TableNotFound,
              QString("The engine cannot find the input table or query '%1'.").arg(nameIn("no such table:")));
    if (msg.contains("syntax error") || msg.startsWith("unrecognized token") || msg.startsWith("incomplete input") ||
        msg.startsWith("near ") || msg.startsWith("no such function") || msg.startsWith("wrong number of arg"))
        raise(err::SyntaxError, QString("Syntax error in query expression (%1).").arg(msg));
    switch (ext) {
        case SQLITE_CONSTRAINT_FOREIGNKEY: raise(deleting ? err::RelatedRecords : err::RelatedRecordRequired);
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY: raise(err::DuplicateValue);
        case SQLITE_CONSTRAINT_NOTNULL: raise(err::NullNotAllowed, QString("%1 (%2).").arg(describe(err::NullNotAllowed), msg));
        case SQLITE_CONSTRAINT_CHECK: raise(err::ValidationRule);
        default: break;
    }
    switch (rc) {
        case SQLITE_READONLY: refuseWrite();
        case SQLITE_BUSY:
        case SQLITE_LOCKED: raise(err::Locked);
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            raise(err::UnrecognizedFormat, QString("Unrecognized database format '%1' (%2).").arg(path, msg));
        case SQLITE_FULL: raise(err::DiskFull);
        case SQLITE_CONSTRAINT: raise(err::ValidationRule, msg);
        default: break;
    }
    Q_UNUSED(context);
    raise(err::Reserved, QString("Engine error: %1.").arg(msg));
}

}  // namespace dao
