#include "Connection.h"
#include "PgBackend.h"

#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QStringList>
#include <QRegularExpression>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "Dao.h"
#include "Error.h"
#include "JetDecrypt.h"
#include "JetPageJournal.h"
#include "JetProtection.h"
#include "JetReader.h"
#include "JetLocks.h"
#include "JetSql.h"
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

    // Whether a connection of the process has the file open as an SQLite file (its state is alive).
    bool inUseBySqlite(const QString& key) {
        std::lock_guard<std::mutex> g(mu_);
        auto it = files_.find(key);
        if (it == files_.end()) return false;
        const auto s = it->second.lock();
        return s && !s->jet;
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
        auto copy = jetCopies_[key].lock();
        // A fill that failed or was stopped is never taken for a whole copy.
        if (copy && copy->fill && copy->fill->failed()) return nullptr;
        return copy;
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

    // Drops a reference; when the flusher holds the connection at that moment, after it lets go, so
    // that the last reference (and the closing of the file) is never the flusher's.
    void release(std::shared_ptr<Connection>& c) {
        std::unique_lock<std::mutex> h(holdMu_);
        heldCv_.wait(h, [&] { return held_ != c.get(); });
        c.reset();
    }

    void flushAll() {
        for (auto& c : live()) c->commit();
    }

    std::mutex opening;  // held from the format sniff until the new connection is registered

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
            std::erase_if(conns_, [](const std::weak_ptr<Connection>& w) { return w.expired(); });
            const std::vector<std::weak_ptr<Connection>> conns = conns_;
            lk.unlock();
            const int64_t now = nowNs();
            for (const auto& w : conns) {
                // One connection at a time, and only while it is committed: a user's last reference
                // dropped meanwhile waits (release()), so the file is closed on the user's thread.
                std::shared_ptr<Connection> c;
                {
                    std::lock_guard<std::mutex> h(holdMu_);
                    c = w.lock();
                    if (!c) continue;
                    if (!c->inBatch() || now - c->batchStartNs() < int64_t(Connection::kBatchAgeMs) * 1000000) {
                        c.reset();  // under the lock: never the last reference (see release())
                        continue;
                    }
                    held_ = c.get();
                }
                try {
                    // Never waits for the connection's lock: its holder may be waiting in
                    // release() for this very round to end (see the lock order in Connection.h).
                    c->commitIfFree();
                } catch (const Error&) {
                    // A busy file: the next round tries again.
                }
                {
                    std::lock_guard<std::mutex> h(holdMu_);
                    c.reset();
                    held_ = nullptr;
                }
                heldCv_.notify_all();
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
        for (auto& c : live()) c->closeQuietly();
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::map<QString, std::weak_ptr<FileState>> files_;
    std::map<QString, std::weak_ptr<JetCopy>> jetCopies_;
    std::vector<std::weak_ptr<Connection>> conns_;
    std::thread flusher_;
    bool started_ = false;
    bool stopping_ = false;
    std::mutex holdMu_;
    std::condition_variable heldCv_;
    const Connection* held_ = nullptr;  // the connection the flusher is committing
    int pauses_ = 0;
    bool joining_ = false;  // a pause is waiting for the flusher to end
    std::condition_variable joined_;
};

QString sqliteMessage(sqlite3* db) { return QString::fromUtf8(sqlite3_errmsg(db)); }

// The folder of the working copies: $XDG_CACHE_HOME/tabulon (~/.cache/tabulon), or the temporary
// folder when that cannot be made.
QString workingCopyFolder() {
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.cache";
    const QString folder = base + "/tabulon";
    if (QDir().mkpath(folder) && QFileInfo(folder).isWritable()) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return folder;
    }
    return QDir::tempPath();
}

// Removes the working copies (and their journals) of processes that are gone; once per process.
void removeStaleWorkingCopies(const QString& folder) {
    static std::once_flag once;
    std::call_once(once, [&] {
        static const QRegularExpression name(QStringLiteral("^tabulon-jet-(\\d+)-\\d+\\.sqlite"));
        const QStringList files = QDir(folder).entryList({QStringLiteral("tabulon-jet-*")}, QDir::Files | QDir::Hidden);
        for (const QString& f : files) {
            const QRegularExpressionMatch m = name.match(f);
            if (!m.hasMatch()) continue;
            const qint64 pid = m.captured(1).toLongLong();
            if (pid <= 0 || pid == qint64(::getpid())) continue;
            if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to judge
            QFile::remove(QDir(folder).filePath(f));
        }
    });
}

// A new working copy's path, named with this process's id.
QString newWorkingCopyPath() {
    static std::atomic<int> next{0};
    const QString folder = workingCopyFolder();
    removeStaleWorkingCopies(folder);
    return QDir(folder).filePath(QStringLiteral("tabulon-jet-%1-%2.sqlite").arg(::getpid()).arg(++next));
}

std::mutex unsavedMu;
std::function<void(const Error&)> unsavedHandler;

}  // namespace

void setUnsavedChangesHandler(std::function<void(const Error&)> handler) {
    std::lock_guard<std::mutex> g(unsavedMu);
    unsavedHandler = std::move(handler);
}

BackgroundPause::BackgroundPause() { Registry::get().pause(); }
BackgroundPause::~BackgroundPause() { Registry::get().resume(); }

void flushAllWrites() {
    Registry::get().flushAll();
    pg::commitAll();
}

void releaseConnection(std::shared_ptr<Connection>& c) {
    if (c) Registry::get().release(c);
}

JetCopy::~JetCopy() {
    // The helper is stopped before its output goes.
    fill.reset();
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) QFile::remove(path + suffix);
}

// ---- Statement, Bound -------------------------------------------------------------------------------

Statement::~Statement() { sqlite3_finalize(st_); }

Statement& Statement::operator=(Statement&& o) noexcept {
    if (this != &o) {
        sqlite3_finalize(st_);
        st_ = o.st_;
        o.st_ = nullptr;
    }
    return *this;
}

void Bound::bind(sqlite3_stmt* st, int col) const {
    switch (kind) {
        case Null: sqlite3_bind_null(st, col); break;
        case Int: sqlite3_bind_int64(st, col, i); break;
        case Real: sqlite3_bind_double(st, col, d); break;
        case Text: sqlite3_bind_text(st, col, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT); break;
        case Blob: sqlite3_bind_blob(st, col, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT); break;
    }
}

void Bound::bindInPlace(sqlite3_stmt* st, int col) const {
    switch (kind) {
        case Text: sqlite3_bind_text(st, col, bytes.constData(), int(bytes.size()), SQLITE_STATIC); break;
        case Blob: sqlite3_bind_blob(st, col, bytes.constData(), int(bytes.size()), SQLITE_STATIC); break;
        default: bind(st, col); break;
    }
}

void WriteBatch::keep(const Bound& b) {
    BatchValue v;
    v.kind = b.kind;
    switch (b.kind) {
        case Bound::Null: break;
        case Bound::Int: v.i = b.i; break;
        case Bound::Real: v.d = b.d; break;
        case Bound::Text:
        case Bound::Blob: {
            const size_t n = size_t(b.bytes.size());
            v.size = uint32_t(n);
            if (n > kBlockBytes / 4) {
                // A large value gets a block of its own, so that no block is left mostly unused.
                blocks_.push_back(std::make_unique_for_overwrite<char[]>(n));
                v.bytes = blocks_.back().get();
                std::memcpy(blocks_.back().get(), b.bytes.constData(), n);
                break;
            }
            if (n > room_) {
                blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
                free_ = blocks_.back().get();
                room_ = kBlockBytes;
            }
            if (n) std::memcpy(free_, b.bytes.constData(), n);
            v.bytes = free_;
            free_ += n;
            room_ -= n;
            break;
        }
    }
    values.push_back(v);
}

void WriteBatch::bind(const BatchValue& v, sqlite3_stmt* st, int col) {
    switch (v.kind) {
        case Bound::Null: sqlite3_bind_null(st, col); break;
        case Bound::Int: sqlite3_bind_int64(st, col, v.i); break;
        case Bound::Real: sqlite3_bind_double(st, col, v.d); break;
        // An empty text is bound as one, not as Null (a null pointer would be).
        case Bound::Text: sqlite3_bind_text(st, col, v.size ? v.bytes : "", int(v.size), SQLITE_STATIC); break;
        case Bound::Blob: sqlite3_bind_blob(st, col, v.size ? v.bytes : "", int(v.size), SQLITE_STATIC); break;
    }
}

Bound Bound::column(sqlite3_stmt* st, int col) {
    Bound b;
    switch (sqlite3_column_type(st, col)) {
        case SQLITE_INTEGER:
            b.kind = Int;
            b.i = sqlite3_column_int64(st, col);
            break;
        case SQLITE_FLOAT:
            b.kind = Real;
            b.d = sqlite3_column_double(st, col);
            break;
        case SQLITE_TEXT:
            b.kind = Text;
            b.bytes = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(st, col)), sqlite3_column_bytes(st, col));
            break;
        case SQLITE_BLOB:
            b.kind = Blob;
            b.bytes = QByteArray(static_cast<const char*>(sqlite3_column_blob(st, col)), sqlite3_column_bytes(st, col));
            break;
        default: break;
    }
    return b;
}

QString Bound::text() const {
    switch (kind) {
        case Null: return QStringLiteral("Null");
        case Int: return QString::number(i);
        case Real: return QString::number(d, 'g', 17);
        case Text: return QString::fromUtf8(bytes);
        case Blob: return QStringLiteral("0x") + QString::fromLatin1(bytes.toHex());
    }
    return {};
}

namespace {

QString withDetail(int number, const QString& detail) {
    QString d = describe(number);
    if (d.endsWith('.')) d.chop(1);
    return QString("%1 (%2).").arg(d, detail);
}

// Why writes through a connection stop once an Access file and its working copy disagree.
const char* const kOutOfStep =
    "The Access file and the engine's working copy of it no longer agree (the file took changes the copy "
    "could not); open the file again.";

// A refusal of the Access file's writer, raised from inside SQLite: its error number and reason.
bool jetError(const QString& msg, int* number, QString* why) {
    if (!msg.startsWith(QLatin1String(jet::JetWriter::kErrorPrefix))) return false;
    const QString rest = msg.mid(int(std::strlen(jet::JetWriter::kErrorPrefix)));
    const int colon = rest.indexOf(':');
    *number = rest.left(colon).toInt();
    *why = rest.mid(colon + 1).trimmed();
    return true;
}

// The engine error number for an SQLite result code (a negative code: the engine's number itself).
int numberFor(int ext, bool deleting) {
    if (ext < 0) return -ext;
    switch (ext) {
        case SQLITE_CONSTRAINT_FOREIGNKEY: return deleting ? err::RelatedRecords : err::RelatedRecordRequired;
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY: return err::DuplicateValue;
        case SQLITE_CONSTRAINT_NOTNULL: return err::NullNotAllowed;
        case SQLITE_CONSTRAINT_CHECK:
        case SQLITE_CONSTRAINT: return err::ValidationRule;
        default: break;
    }
    switch (ext & 0xff) {
        case SQLITE_READONLY: return err::ReadOnly;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return err::Locked;
        case SQLITE_FULL: return err::DiskFull;
        case SQLITE_CONSTRAINT: return err::ValidationRule;
        default: return err::Reserved;
    }
}

// Failures that do not depend on the change: the whole batch shares them.
bool fileLevel(int ext) {
    if (ext < 0) return false;  // the Access file refused this change
    switch (ext & 0xff) {
        case SQLITE_CONSTRAINT:
        case SQLITE_MISMATCH:
        case SQLITE_TOOBIG:
        case SQLITE_RANGE:
        case SQLITE_ERROR: return false;
        default: return true;
    }
}

}  // namespace

// ---- Opening ----------------------------------------------------------------------------------------

namespace {

std::mutex passwordMu;
PasswordSource passwordSource;
QHash<QString, QString> acceptedPasswords;  // canonical path -> the password that opened it

// Where a decrypted copy goes: an empty temporary file, only its owner may read it.
QString newPlainCopyPath() {
    QTemporaryFile tmp(QDir::tempPath() + "/tabulon-plain-XXXXXX.accdb");
    tmp.setAutoRemove(false);
    if (!tmp.open()) raise(err::DiskFull, "Cannot create a temporary file: " + tmp.errorString());
    tmp.close();
    return tmp.fileName();
}

// A protected file opens only with its password. Files whose encryption Tabulon cannot take off are
// refused with the same number, saying so, but never as damaged: nothing is wrong with them. An
// encrypted file that can be decrypted is, into plain (the file to read instead).
void requirePassword(const jet::Protection& p, const QString& path, const QString& canonical, QString& plain) {
    const QString shown = QDir::toNativeSeparators(path);
    if (p.kind == jet::Protection::EncryptedPackage)
        raise(err::NotValidPassword,
              QString("The file '%1' is encrypted with a password (an Office encrypted package); Tabulon "
                      "cannot decrypt it.").arg(shown));
    if (p.kind == jet::Protection::AceEncrypted && !p.decryptable)
        raise(err::NotValidPassword,
              QString("The file '%1' needs a password: it is encrypted with %2, which Tabulon cannot decrypt.")
                  .arg(shown, p.scheme));
    std::unique_lock<std::mutex> g(passwordMu);
    std::optional<QString> given;
    if (acceptedPasswords.contains(canonical)) given = acceptedPasswords.value(canonical);
    PasswordSource source = passwordSource;
    g.unlock();
    if (p.kind == jet::Protection::JetPassword) {
        if (given == p.password) return;
        given.reset();  // the file's password changed since: ask again
    }
    if (!given && source) given = source(path);
    if (!given || given->isEmpty())
        raise(err::NotValidPassword, QString("The file '%1' needs a password.").arg(shown));
    if (p.kind == jet::Protection::JetPassword) {
        // Jet 4 passwords are compared exactly, as the header holds them.
        if (*given != p.password) raise(err::NotValidPassword, QStringLiteral("Not a valid password."));
    } else {
        plain = newPlainCopyPath();
        QString why;
        switch (jet::decryptAceCopy(path, *given, plain, &why)) {
            case jet::DecryptResult::Ok: break;
            case jet::DecryptResult::WrongPassword:
                raise(err::NotValidPassword, QStringLiteral("Not a valid password."));
            case jet::DecryptResult::Unsupported:
                raise(err::NotValidPassword,
                      QString("The file '%1' is encrypted with %2, which Tabulon cannot decrypt (%3).")
                          .arg(shown, p.scheme, why));
        }
    }
    g.lock();
    acceptedPasswords.insert(canonical, *given);
}

}  // namespace

UnlockedFile::UnlockedFile(const QString& path) : path_(path) {
    const QFileInfo fi(path);
    if (const jet::Protection p = jet::protectionOf(path); p.kind != jet::Protection::None) {
        try {
            requirePassword(p, path, fi.canonicalFilePath(), plain_);
        } catch (...) {
            if (!plain_.isEmpty()) QFile::remove(plain_);
            throw;
        }
    }
}

UnlockedFile::~UnlockedFile() {
    if (!plain_.isEmpty()) QFile::remove(plain_);
}

void setPasswordSource(PasswordSource source) {
    std::lock_guard<std::mutex> g(passwordMu);
    passwordSource = std::move(source);
}

std::optional<QString> serverPassword(const QString& shownName, bool ask) {
    std::unique_lock<std::mutex> g(passwordMu);
    const QString key = "server:" + shownName;
    if (!ask) return acceptedPasswords.contains(key) ? std::optional<QString>(acceptedPasswords.value(key)) : std::nullopt;
    PasswordSource source = passwordSource;
    g.unlock();
    if (!source) return std::nullopt;
    return source(shownName);
}

void acceptServerPassword(const QString& shownName, const QString& password) {
    std::lock_guard<std::mutex> g(passwordMu);
    acceptedPasswords.insert("server:" + shownName, password);
}

std::shared_ptr<Connection> Connection::open(const QString& path, bool create, const OpenWatch& watch) {
    // Blanks typed around a path are not part of the file's name (a file named with them still wins).
    const QFileInfo fi(QFileInfo::exists(path) || create ? path : path.trimmed());
    if (create) {
        if (fi.exists()) raise(err::DatabaseExists, QString("Database '%1' already exists.").arg(path));
    } else if (!fi.exists() || !fi.isFile()) {
        raise(err::FileNotFound, QString("Could not find file '%1'.").arg(path));
    }
    std::shared_ptr<Connection> c(new Connection);
    c->path_ = path;
    QString store = fi.absoluteFilePath();
    const QString canonical = create ? store : fi.canonicalFilePath();
    Registry& reg = Registry::get();
    // Sniffing reads the file through a descriptor of its own. Closing it would drop every POSIX
    // lock the process holds on the file, SQLite's included, so it is done only while no
    // connection of the process has the file open; one that has it proves it is SQLite.
    std::lock_guard<std::mutex> opening(reg.opening);
    int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
    if (create) {
        flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    } else if (!reg.inUseBySqlite(canonical)) {
        QByteArray head;
        {
            QFile f(fi.filePath());
            if (!f.open(QIODevice::ReadOnly))
                raise(err::FileNotFound, QString("Could not open file '%1': %2.").arg(path, f.errorString()));
            head = f.read(100);
        }
        if (head.startsWith(QByteArray("SQLite format 3\0", 16))) {
            // nothing more to learn
        } else if (jet::looksLikeJet(head)) {
            const UnlockedFile plain(fi.filePath());
            // Our own pending changes first, then a batch a crash interrupted is undone, before
            // anything reads the file.
            if (auto other = reg.fileState(canonical)->pending.lock()) other->commit();
            jet::JetPageJournal::recover(fi.filePath());
            c->readOnlyReason_ = jet::JetWriteGate::whyReadOnly(fi.filePath());
            c->jetLockEntry_ = jet::JetLockFile::enter(fi.filePath());
            if (c->readOnlyReason_.isEmpty()) {
                try {
                    c->jetWriter_ = jet::JetWriter::forFile(fi.filePath());
                } catch (const jet::FormatError& e) {
                    c->readOnlyReason_ =
                        QString("Part of the file is not understood (%1), so it is not written.").arg(e.what());
                }
            }
            // One temporary SQLite copy per Jet file (and version of it) in the process.
            const QString key = canonical + "|" + QString::number(fi.size()) + "|" +
                                QString::number(fi.lastModified().toMSecsSinceEpoch());
            auto copy = reg.jetCopy(key);
            if (!copy) {
                copy = std::make_shared<JetCopy>();
                copy->path = newWorkingCopyPath();
                // The file is read between other writers' batches, never half-written: their write
                // lock is held until the copy is filled and the writer has mapped its records (a
                // writer that keeps it longer is waited for 5 s, then the file is read as it is; the
                // writer's checks still refuse a change made over stale values).
                auto writeLock = jet::JetWriteLock::forFile(fi.filePath());
                struct Release {
                    std::shared_ptr<jet::JetWriteLock> lock;
                    ~Release() {
                        if (lock) lock->unlock();
                    }
                } release{writeLock->tryLock(5000) ? writeLock : nullptr};
                try {
                    copy->fill = jet::startConversion(plain.path(), copy->path, watch);
                    if (c->jetWriter_ && release.lock) c->jetWriter_->scanAhead();
                    // The fill's end lets the lock go; the damaged tables are set before the copy
                    // is used as a whole, which waits for that end under the fill's own lock.
                    JetCopy* filled = copy.get();
                    copy->fill->waitReady(watch, [filled, lock = std::exchange(release.lock, nullptr),
                                                  writer = c->jetWriter_](const QList<jet::DamagedTable>* damaged) {
                        // Let go before the writer maps the records: it takes the lock itself.
                        if (lock) lock->unlock();
                        if (!damaged) return;
                        filled->damaged = *damaged;
                        if (writer) writer->mapCopy(filled->path);
                    });
                } catch (const Error& e) {
                    // A decrypted copy's failure is told with the name of the file the user opened.
                    if (!plain.decrypted()) throw;
                    raise(e.number(), QString(e.description()).replace(QDir::toNativeSeparators(plain.path()), path));
                }
                reg.keepJetCopy(key, copy);
            }
            c->jetCopy_ = copy;
            store = copy->path;
            // The working copy (our own file) takes the engine's writes when the file is changed in
            // place too; it is opened for writing at once, with the writer's triggers on it.
            if (c->jetWriter_) flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
            c->readOnly_ = !c->jetWriter_;
        } else {
            const UnlockedFile plain(fi.filePath());
            raise(err::UnrecognizedFormat, QString("Unrecognized database format '%1'.").arg(path));
        }
    }
    if (!create && !c->jetCopy_ && !fi.isWritable()) c->readOnly_ = true;
    c->store_ = store;

    // Opened read-only until the first write, so that reading can never change the file.
    c->openHandle(store.toUtf8(), flags);
    c->writable_ = create || c->jetWriter_;
    auto probe = [&] {
        char* errmsg = nullptr;
        const int rc = sqlite3_exec(c->db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &errmsg);
        const QString msg = errmsg ? QString::fromUtf8(errmsg) : sqliteMessage(c->db_);
        sqlite3_free(errmsg);
        return std::make_pair(rc, msg);
    };
    auto reopenWritable = [&] {
        sqlite3_close_v2(c->db_);
        c->db_ = nullptr;
        c->openHandle(store.toUtf8(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
        c->writable_ = true;
    };
    // Reading proves the file is a database we can use.
    auto [rc, msg] = probe();
    if ((rc & 0xff) == SQLITE_READONLY && !c->readOnly_) {
        // A journal left by a crashed writer must be rolled back before the file can be read.
        reopenWritable();
        std::tie(rc, msg) = probe();
    }
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(c->db_);
        c->db_ = nullptr;
        if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
            raise(err::Locked, QString("The file '%1' is locked: %2.").arg(path, msg));
        raise(err::UnrecognizedFormat, QString("Unrecognized database format '%1' (%2).").arg(path, msg));
    }
    if (!c->writable_ && !c->readOnly_) {
        // A reader of a WAL file leaves the -wal and -shm files behind; a writer connection tidies them
        // when the last connection closes. Nothing is written either way.
        sqlite3_stmt* st = nullptr;
        bool wal = false;
        if (sqlite3_prepare_v2(c->db_, "PRAGMA journal_mode", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            wal = qstricmp(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "wal") == 0;
        sqlite3_finalize(st);
        if (wal) reopenWritable();
    }
    // A copy still being filled is read only for what is in it (partialSession); anything else
    // waits for the fill, and the writer is attached and the damaged tables guarded then.
    if (c->jetCopy_ && c->jetCopy_->fill && !c->jetCopy_->fill->finished()) {
        c->fillPending_ = true;
    } else {
        try {
            if (c->jetCopy_ && c->jetCopy_->fill) c->jetCopy_->fill->wait();  // a failed one raises
            if (c->jetWriter_) c->jetWriter_->attach(c->db_, c->jetCopy_->path);
        } catch (...) {
            sqlite3_close_v2(c->db_);
            c->db_ = nullptr;
            throw;
        }
        c->guardDamagedTables();
    }
    // Connections to one Access file share its state, whichever working copy they read.
    c->file_ = reg.fileState(canonical);
    if (c->jetCopy_) c->file_->jet = true;
    reg.add(c);
    return c;
}

// A table the reader could not read whole is in the working copy with the records that could be
// read. Every statement that reads or changes it (a count, an aggregate, a join, a tool's update) is
// refused when it is prepared, and fail() turns the refusal into 3343 naming the table, so that no
// path takes the records read for the whole table.
void Connection::guardDamagedTables() {
    if (!jetCopy_ || jetCopy_->damaged.isEmpty() || !db_) return;
    damagedNames_.clear();
    for (const jet::DamagedTable& d : jetCopy_->damaged) damagedNames_.push_back(d.name.toLower().toUtf8());
    sqlite3_set_authorizer(db_, &Connection::authorizeDamaged, this);
}

int Connection::authorizeDamaged(void* data, int action, const char* a3, const char* a4, const char* dbName,
                                 const char* trigger) {
    auto* c = static_cast<Connection*>(data);
    if (c->jetWriter_) {
        const int design = jet::JetWriter::authorizeDesign(nullptr, action, a3, a4, dbName, trigger);
        if (design != SQLITE_OK) {
            c->deniedTable_.clear();
            return design;
        }
    }
    if (action != SQLITE_READ && action != SQLITE_INSERT && action != SQLITE_UPDATE && action != SQLITE_DELETE)
        return SQLITE_OK;
    if (!a3 || (dbName && std::strcmp(dbName, "main") != 0)) return SQLITE_OK;
    const QByteArray table = QByteArray(a3).toLower();
    for (const QByteArray& d : c->damagedNames_) {
        if (d != table) continue;
        c->deniedTable_ = QString::fromUtf8(a3);
        return SQLITE_DENY;
    }
    return SQLITE_OK;
}

void Connection::openHandle(const QByteArray& file, int flags) {
    const int rc = sqlite3_open_v2(file.constData(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg = db_ ? sqliteMessage(db_) : QString("out of memory");
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
        raise(rc == SQLITE_CANTOPEN ? err::FileNotFound : err::UnrecognizedFormat,
              QString("Cannot open '%1': %2.").arg(path_, msg));
    }
    setUpHandle();
}

void Connection::setUpHandle() {
    sqlite3_extended_result_codes(db_, 1);
    // A bracketed name becomes a double-quoted identifier: an unknown one must be an error, not a
    // string literal.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, static_cast<int*>(nullptr));
    sqlite3_busy_timeout(db_, 5000);
    // A working copy is filled in WAL mode and removed after its last connection: folding the WAL
    // into it at that close would write the whole copy once more for nothing.
    if (jetCopy_) sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, static_cast<int*>(nullptr));
    registerJetFunctions(db_);
    // Per connection, not stored in the file. The file's journal mode is left as it is: with the
    // batched commits the file's own mode writes as fast as WAL (engine benchmark), and switching
    // would change a file the user may only read.
    sqlite3_exec(db_, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
    // In WAL mode a commit need not wait for the disk: a program that dies loses nothing it
    // committed, and the file cannot be damaged by a power loss either (SQLite's NORMAL level).
    // The rollback journal keeps FULL, which it needs to stay whole.
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, "PRAGMA journal_mode", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW &&
        qstricmp(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "wal") == 0)
        sqlite3_exec(db_, "PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=10000", nullptr, nullptr, nullptr);
    sqlite3_finalize(st);
}

void Connection::becomeWritable() {
    if (writable_ || !db_) return;
    sqlite3* old = db_;
    db_ = nullptr;
    try {
        openHandle(store_.toUtf8(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    } catch (...) {
        db_ = old;
        throw;
    }
    guardDamagedTables();
    // Statements of the old handle still held elsewhere keep it alive until they are finalized.
    stmts_.clear();
    sqlite3_close_v2(old);
    writable_ = true;
    ++epoch_;
}

Connection::~Connection() { closeQuietly(); }

void Connection::closeQuietly() {
    try {
        close();
    } catch (const Error& e) {
        // Nobody holds the connection any more: the last place to say that changes were lost.
        const QByteArray line = QStringLiteral("%1: error %2: %3\n")
                                    .arg(QDir::toNativeSeparators(path_))
                                    .arg(e.number())
                                    .arg(e.description())
                                    .toLocal8Bit();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
        std::function<void(const Error&)> handler;
        {
            std::lock_guard<std::mutex> g(unsavedMu);
            handler = unsavedHandler;
        }
        if (handler) handler(e);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", QFile::encodeName(path_).constData(), e.what());
    }
}

void Connection::close() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    if (db_) {
        try {
            commitLocked();
        } catch (const Error& e) {
            // Still locked by another program: the changes are run again one by one, and those
            // that cannot be saved are reported below.
            recover(e.description());
        }
        stmts_.clear();
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    jetLockEntry_.reset();
    throwFailures();
}

void Connection::setFailureHandler(std::function<void()> handler) {
    std::lock_guard<std::recursive_mutex> g(mu_);
    onFailure_ = std::move(handler);
}

void Connection::refuseWrite() const {
    if (jetOutOfStep_.load()) raise(err::ReadOnly, describe(err::ReadOnly) + " " + kOutOfStep);
    if (readOnlyReason_.isEmpty()) raise(err::ReadOnly);
    raise(err::ReadOnly, describe(err::ReadOnly) + " " + readOnlyReason_);
}

void Connection::checkCanAdd(const QString& table) const {
    if (!jetWriter_) return;
    const QString why = jetWriter_->whyCannotAdd(table);
    if (!why.isEmpty()) raise(err::ReadOnly, describe(err::ReadOnly) + " " + why);
}

// ---- Session ----------------------------------------------------------------------------------------

namespace {

// The connection locks this thread's Sessions hold: a wait for a fill made while one is held is never
// watched, since the watch may run the window's events (and so the engine) in the middle of a call.
thread_local int locksHeld = 0;
// This thread is inside a watched wait for a fill: a wait its watch's events lead to is plain.
thread_local bool inWatchedWait = false;

std::mutex fillWaitMu;
FillWaitWatch fillWaitWatch;

}  // namespace

void setFillWaitWatch(FillWaitWatch make) {
    std::lock_guard<std::mutex> g(fillWaitMu);
    fillWaitWatch = std::move(make);
}

Connection::Session::Session(Connection* c) : c_(c), lock_(c->mu_) { ++locksHeld; }

Connection::Session::Session(Connection* c, std::try_to_lock_t) : c_(c), lock_(c->mu_, std::try_to_lock) {
    if (lock_.owns_lock()) ++locksHeld;
}

Connection::Session::~Session() {
    if (lock_.owns_lock()) --locksHeld;
}

void Connection::Session::awaitFill() {
    lock_.unlock();
    --locksHeld;
    {
        struct Relock {
            std::unique_lock<std::recursive_mutex>& lock;
            ~Relock() {
                lock.lock();
                ++locksHeld;
            }
        } relock{lock_};
        c_->awaitFill();
    }
    // Another thread may have closed the connection while the lock was let go.
    if (!c_->db_) raise(err::ObjectClosed);
}

Connection::Session Connection::session() {
    awaitFill();
    return Session(this);
}

Connection::Session Connection::partialSession() { return Session(this); }

std::optional<Connection::Session> Connection::trySession() {
    Session s(this, std::try_to_lock);
    if (!s.lock_.owns_lock()) return std::nullopt;
    return s;
}

bool Connection::filling() const { return fillPending_.load() && !jetCopy_->fill->finished(); }

void Connection::awaitFill(const OpenWatch& watch) {
    if (!fillPending_.load()) return;
    const std::shared_ptr<jet::JetFill>& fill = jetCopy_->fill;
    if (!watch.cancel && !watch.progress && !inWatchedWait && locksHeld == 0 && !fill->finished()) {
        FillWaitWatch make;
        {
            std::lock_guard<std::mutex> g(fillWaitMu);
            make = fillWaitWatch;
        }
        if (make) {
            inWatchedWait = true;
            struct Leave {
                ~Leave() { inWatchedWait = false; }
            } leave;
            const OpenWatch own = make(path_);
            fill->wait(own);
        }
    }
    fill->wait(watch);  // at once when it has ended; raises its error
    std::lock_guard<std::recursive_mutex> g(mu_);
    if (!fillPending_.load()) return;
    if (jetWriter_) jetWriter_->attach(db_, jetCopy_->path);
    guardDamagedTables();
    fillPending_ = false;
}

void Connection::Session::use() {
    commitOthers();
    c_->throwFailures();
}

bool Connection::Session::othersPending() const {
    const Connection* hint = c_->file_->pendingHint.load();
    return hint != nullptr && hint != c_;
}

void Connection::Session::commitOthers() {
    if (othersPending()) {
        std::shared_ptr<Connection> other;
        {
            std::lock_guard<std::mutex> g(c_->file_->mu);
            other = c_->file_->pending.lock();
        }
        if (other && other.get() != c_) other->commit();
    }
}

void Connection::Session::beginWrite() {
    if (c_->readOnly_ || c_->jetOutOfStep_.load()) c_->refuseWrite();
    if (!c_->db_) raise(err::ObjectClosed);
    use();
    c_->becomeWritable();
    // A batch SQLite rolled back by itself runs again before this change, which joins a new one.
    if (c_->batch_ && sqlite3_get_autocommit(c_->db_)) c_->recover(QStringLiteral("the changes were rolled back"));
    if (c_->jetWriter_) c_->jetWriter_->beginStatement();
    if (c_->batch_) return;
    exec("BEGIN IMMEDIATE");
    if (c_->jetWriter_) c_->jetWriter_->discard();  // nothing may be pending outside a batch
    c_->batch_.emplace();
    c_->batch_->records.reserve(1024);
    c_->batch_->values.reserve(4096);
    c_->batch_->startNs = nowNs();
    c_->batchStartNs_ = c_->batch_->startNs;
    c_->inBatch_ = true;
    std::lock_guard<std::mutex> g(c_->file_->mu);
    c_->file_->pending = c_->weak_from_this();
    c_->file_->pendingHint = c_;
}

void Connection::Session::checkStep() {
    if (c_->batch_ && sqlite3_get_autocommit(c_->db_))
        c_->recover(QStringLiteral("the changes were rolled back (%1)").arg(sqliteMessage(c_->db_)));
}

void Connection::Session::endWrite(BatchRecord&& change, const std::vector<Bound>& binds) {
    if (c_->jetWriter_) c_->jetWriter_->endStatement();
    c_->file_->generation.fetch_add(1);
    if (!c_->batch_) return;
    if (sqlite3_get_autocommit(c_->db_)) {
        // This change ran by itself after SQLite had rolled the batch back; the earlier ones run again.
        if (c_->jetWriter_) {
            // The working copy committed it alone, while its pages wait among the rolled back
            // batch's: the file cannot be given this change without the others, so it is not.
            c_->jetWriter_->discard();
            c_->jetOutOfStep_ = true;
            c_->failures_.push_back({change.kind, change.table, change.keyText(), err::Reserved, kOutOfStep});
        }
        c_->recover(QStringLiteral("the changes were rolled back"));
        return;
    }
    WriteBatch& b = *c_->batch_;
    change.firstBind = uint32_t(b.values.size());
    change.bindCount = uint32_t(binds.size());
    for (const Bound& v : binds) b.keep(v);
    b.records.push_back(std::move(change));
    // The background round commits a batch once it is kBatchAgeMs old, but only when it finds the
    // connection free: a writer that keeps it busy commits its own batch at twice that age, so a
    // crash still loses at most a moment of work.
    if (c_->batch_->records.size() >= size_t(kBatchRecords) ||
        nowNs() - c_->batchStartNs() >= int64_t(2 * kBatchAgeMs) * 1000000)
        c_->commitLocked();
}

void Connection::Session::exec(const char* sql) {
    char* errmsg = nullptr;
    if (sqlite3_exec(c_->db_, sql, nullptr, nullptr, &errmsg) != SQLITE_OK) {
        sqlite3_free(errmsg);
        fail(QString::fromUtf8(sql));
    }
}

Statement Connection::Session::prepare(const QString& sql) {
    if (!c_->db_) raise(err::ObjectClosed);
    const QByteArray u = sql.toUtf8();
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(c_->db_, u.constData(), int(u.size()), &st, &tail) != SQLITE_OK || !st) {
        if (st) sqlite3_finalize(st);
        if (!st && sqlite3_errcode(c_->db_) == SQLITE_OK)
            raise(err::SyntaxError, QStringLiteral("The SQL text holds no statement: %1").arg(sql.trimmed()));
        fail(sql);
    }
    Statement owned(st);
    // SQLite compiles the first statement only: a second one must not be dropped without a word.
    if (tail && tail < u.constData() + u.size() &&
        sqlStatementCount(QString::fromUtf8(tail, int(u.constData() + u.size() - tail))) > 0)
        raise(err::CharactersAfterEnd, QStringLiteral("Characters found after end of SQL statement: %1").arg(sql.trimmed()));
    return owned;
}

std::shared_ptr<Statement> Connection::Session::cached(const QString& sql) {
    auto it = c_->stmts_.find(sql);
    if (it != c_->stmts_.end()) {
        sqlite3_reset(it.value()->get());
        sqlite3_clear_bindings(it.value()->get());
        return it.value();
    }
    if (!c_->db_) raise(err::ObjectClosed);
    const QByteArray u = sql.toUtf8();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(c_->db_, u.constData(), int(u.size()), SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
            SQLITE_OK ||
        !st) {
        if (st) sqlite3_finalize(st);
        fail(sql);
    }
    if (c_->stmts_.size() > 200) c_->stmts_.clear();  // bounded: sort and search texts vary
    auto owned = std::make_shared<Statement>(st);
    c_->stmts_.insert(sql, owned);
    return owned;
}

void Connection::Session::fail(const QString& context, bool deleting) {
    sqlite3* db = c_->db_;
    if (!db) raise(err::ObjectClosed);
    const int ext = sqlite3_extended_errcode(db);
    const int rc = ext & 0xff;
    const QString msg = sqliteMessage(db);
    // The failed statement's changes to the file's pages go with it.
    if (c_->jetWriter_) c_->jetWriter_->abortStatement();
    // A failed step may have taken the whole batch with it: its changes run again first.
    checkStep();
    int jetNumber = 0;
    QString why;
    if (jetError(msg, &jetNumber, &why)) {
        if (jetNumber == err::ReadOnly) raise(err::ReadOnly, describe(err::ReadOnly) + " " + why);
        raise(jetNumber > 0 ? jetNumber : err::Reserved, why);
    }
    if (rc == SQLITE_AUTH && !c_->deniedTable_.isEmpty() && c_->jetCopy_) {
        const QString table = std::exchange(c_->deniedTable_, QString());
        jet::checkTableReadable(c_->jetCopy_->damaged, c_->path_, table);
    }
    if (c_->jetWriter_ && rc == SQLITE_AUTH)
        raise(err::ReadOnly, describe(err::ReadOnly) + " Changing the design of Access tables is not available.");
    auto nameIn = [&](const QString& prefix) { return msg.mid(prefix.size()).trimmed(); };
    if (msg.startsWith("no such column:"))
        raise(err::TooFewParameters, QString("Unknown field name '%1'.").arg(nameIn("no such column:")));
    if (msg.startsWith("no such table:"))
        raise(err::TableNotFound,
              QString("The engine cannot find the input table or query '%1'.").arg(nameIn("no such table:")));
    if (msg.contains("syntax error") || msg.startsWith("unrecognized token") || msg.startsWith("incomplete input") ||
        msg.startsWith("near ") || msg.startsWith("no such function") || msg.startsWith("wrong number of arg"))
        raise(err::SyntaxError, QString("Syntax error in query expression (%1).").arg(msg));
    if (rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB)
        raise(err::UnrecognizedFormat, QString("Unrecognized database format '%1' (%2).").arg(c_->path_, msg));
    const int number = numberFor(ext, deleting);
    if (number == err::ReadOnly && !c_->readOnlyReason_.isEmpty()) c_->refuseWrite();
    if (number == err::Reserved) raise(err::Reserved, QString("Engine error: %1.").arg(msg));
    Q_UNUSED(context);
    // SQLite's own words name the constraint and the column.
    raise(number, withDetail(number, msg));
}

// ---- The batch ----------------------------------------------------------------------------------------

void Connection::commit() {
    std::lock_guard<std::recursive_mutex> g(mu_);
    commitLocked();
}

bool Connection::commitIfFree() {
    std::unique_lock<std::recursive_mutex> g(mu_, std::try_to_lock);
    if (!g.owns_lock()) return false;
    commitLocked();
    return true;
}

void Connection::leaveBatch() {
    batch_.reset();
    inBatch_ = false;
    jetWritten_ = false;
    std::lock_guard<std::mutex> g(file_->mu);
    if (file_->pending.lock().get() == this) {
        file_->pending.reset();
        file_->pendingHint = nullptr;
    }
}

void Connection::commitLocked() {
    if (!batch_ || !db_) return;
    if (sqlite3_get_autocommit(db_)) {
        recover(QStringLiteral("the changes were rolled back"));
        return;
    }
    if (jetWriter_ && jetWriter_->hasPending()) {
        // The Access file first: when its pages cannot be written (the file is then unchanged), the
        // batch runs again change by change, each part written to the file before it is committed.
        try {
            jetWriter_->flush();
        } catch (const Error& e) {
            recover(e.description());
            return;
        } catch (const std::exception& e) {
            recover(QString::fromUtf8(e.what()));
            return;
        }
        jetWritten_ = true;
    }
    const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        leaveBatch();
        return;
    }
    const QString msg = sqliteMessage(db_);
    if ((rc & 0xff) == SQLITE_BUSY && !sqlite3_get_autocommit(db_)) {
        // Readers of another program hold the file: the batch stays open and is committed later.
        raise(err::Locked, withDetail(err::Locked, msg));
    }
    recover(msg);
}

// Runs the changes of a batch that could not be committed again: all of them in one transaction,
// and when that fails, halves of them until every change that can be committed is and each one
// that cannot stands alone. A change refused only because one saved later in the batch was missing
// (a deferred foreign key) gets a second chance at the end.
void Connection::recover(const QString& reason) {
    if (!batch_) return;
    if (jetWritten_) {
        outOfStep(reason);
        return;
    }
    WriteBatch b = std::move(*batch_);
    leaveBatch();
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    // The file's pending pages go too: each change that runs again stages its own.
    if (jetWriter_) jetWriter_->discard();
    std::vector<size_t> all;
    for (size_t i = 0; i < b.records.size(); ++i)
        if (!b.records[i].sql.isEmpty()) all.push_back(i);
    batch_.emplace(std::move(b));  // attempt() reads the changes from here
    std::vector<size_t> failed;
    std::vector<QString> reasons;
    std::vector<int> codes;
    isolate(all, failed, reasons, codes);
    for (size_t k = 0; k < failed.size(); ++k) {
        QString r;
        int code = 0;
        if (!fileLevel(codes[k]) && attempt({failed[k]}, &r, &code)) continue;
        const BatchRecord& rec = batch_->records[failed[k]];
        failures_.push_back({rec.kind, rec.table, rec.keyText(),
                             numberFor(codes[k], rec.kind == BatchRecord::Removal),
                             reasons[k].isEmpty() ? reason : reasons[k]});
    }
    batch_.reset();
    hasFailures_ = !failures_.empty();
    file_->generation.fetch_add(1);  // what the recordsets show may be the stored values again
    if (!failures_.empty() && onFailure_) onFailure_();
}

// The batch's pages are in the Access file, but the working copy could not commit the batch: nothing
// runs again (the file has the changes), each change is reported, and the connection writes no more.
void Connection::outOfStep(const QString& reason) {
    WriteBatch b = std::move(*batch_);
    leaveBatch();
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    jetWriter_->discard();
    jetOutOfStep_ = true;
    for (const BatchRecord& rec : b.records)
        failures_.push_back({rec.kind, rec.table, rec.keyText(), err::Reserved, QString("%1 (%2)").arg(kOutOfStep, reason)});
    hasFailures_ = !failures_.empty();
    file_->generation.fetch_add(1);
    if (!failures_.empty() && onFailure_) onFailure_();
}

void Connection::isolate(std::vector<size_t> which, std::vector<size_t>& failed, std::vector<QString>& reasons,
                         std::vector<int>& codes) {
    if (which.empty()) return;
    QString reason;
    int code = 0;
    if (attempt(which, &reason, &code)) return;
    if (fileLevel(code)) {
        // Not the changes' fault (full disk, I/O error, locked): once more, then they all fail.
        if (attempt(which, &reason, &code)) return;
        if (fileLevel(code) || which.size() == 1) {
            for (size_t i : which) {
                failed.push_back(i);
                reasons.push_back(reason);
                codes.push_back(code);
            }
            return;
        }
    }
    if (which.size() == 1) {
        failed.push_back(which[0]);
        reasons.push_back(reason);
        codes.push_back(code);
        return;
    }
    const auto mid = which.begin() + std::ptrdiff_t(which.size() / 2);
    isolate(std::vector<size_t>(which.begin(), mid), failed, reasons, codes);
    isolate(std::vector<size_t>(mid, which.end()), failed, reasons, codes);
}

bool Connection::attempt(const std::vector<size_t>& which, QString* reason, int* code) {
    if (jetOutOfStep_.load()) {
        *reason = kOutOfStep;
        *code = SQLITE_IOERR;
        return false;
    }
    auto failed = [&] {
        *reason = sqliteMessage(db_);
        *code = sqlite3_extended_errcode(db_);
        int number = 0;
        QString why;
        if (jetError(*reason, &number, &why)) {
            // The Access file refused the change: its own reason, its own number.
            *reason = why;
            *code = -(number > 0 ? number : err::Reserved);
        }
        if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        if (jetWriter_) jetWriter_->discard();
        return false;
    };
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return failed();
    if (jetWriter_) jetWriter_->discard();
    QHash<QString, std::shared_ptr<Statement>> prepared;
    for (size_t i : which) {
        const BatchRecord& rec = batch_->records[i];
        auto& st = prepared[rec.sql];
        if (!st) {
            const QByteArray u = rec.sql.toUtf8();
            sqlite3_stmt* raw = nullptr;
            if (sqlite3_prepare_v2(db_, u.constData(), int(u.size()), &raw, nullptr) != SQLITE_OK) {
                sqlite3_finalize(raw);
                return failed();
            }
            st = std::make_shared<Statement>(raw);
        }
        sqlite3_reset(st->get());
        sqlite3_clear_bindings(st->get());
        for (uint32_t k = 0; k < rec.bindCount; ++k)
            WriteBatch::bind(batch_->values[rec.firstBind + k], st->get(), int(k) + 1);
        int rc;
        while ((rc = sqlite3_step(st->get())) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) {
            sqlite3_reset(st->get());
            return failed();
        }
        sqlite3_reset(st->get());
    }
    prepared.clear();
    if (jetWriter_ && jetWriter_->hasPending()) {
        try {
            jetWriter_->flush();
        } catch (const std::exception& e) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            jetWriter_->discard();
            // The file, not the change: the whole part fails.
            const auto* error = dynamic_cast<const Error*>(&e);
            *reason = error ? error->description() : QString::fromUtf8(e.what());
            *code = error && error->number() == err::DiskFull ? SQLITE_FULL : SQLITE_IOERR;
            return false;
        }
        if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            // The file has the changes and the working copy cannot take them: nothing more is
            // written to the file through this connection.
            *reason = kOutOfStep + QString(" (%1)").arg(sqliteMessage(db_));
            *code = SQLITE_IOERR;
            if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            jetOutOfStep_ = true;
            return false;
        }
        return true;
    }
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return failed();
    return true;
}

void Connection::throwFailures() {
    if (failures_.empty()) return;
    const std::vector<FailedChange> all = std::move(failures_);
    failures_.clear();
    hasFailures_ = false;
    auto name = [](const FailedChange& f) {
        return f.kind == BatchRecord::Statement ? QString("the action query \"%1\"").arg(f.table)
                                                : QString("record %1 of %2").arg(f.key, f.table);
    };
    const FailedChange& f = all.front();
    QString text;
    switch (f.kind) {
        case BatchRecord::Change: text = "The change to " + name(f); break;
        case BatchRecord::New: text = "The new " + name(f); break;
        case BatchRecord::Removal: text = "The deletion of " + name(f); break;
        case BatchRecord::Statement: text = "The change made by " + name(f); break;
    }
    text += " could not be saved: " + f.reason;
    if (all.size() > 1) {
        QStringList others;
        for (size_t i = 1; i < all.size() && i <= 10; ++i) others << name(all[i]);
        if (all.size() > 11) others << "...";
        text += QString(" (and %1 more change%2 could not be saved: %3)")
                    .arg(all.size() - 1)
                    .arg(all.size() > 2 ? "s" : "")
                    .arg(others.join(", "));
    }
    raise(f.number, text);
}

}  // namespace dao
