#include "JetLocks.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "Error.h"

namespace dao::jet {

namespace {

// Far past any Jet file's end (they stop at 2 GB), so the lock never covers a page.
constexpr off_t kLockByte = off_t(1) << 40;

QString keyOf(const QString& path) {
    const QFileInfo fi(path);
    const QString canonical = fi.canonicalFilePath();
    return canonical.isEmpty() ? fi.absoluteFilePath() : canonical;
}

int openFile(const QString& path, int flags, mode_t mode = 0644) {
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Whether fd still is the file at path (not removed or replaced since it was opened).
bool stillAt(int fd, const QString& path) {
    struct stat a, b;
    if (::fstat(fd, &a) != 0 || a.st_nlink == 0) return false;
    if (::stat(QFile::encodeName(path).constData(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool ofdLock(int fd, short type, off_t start, off_t len, bool wait) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = len;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

QByteArray hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) std::strcpy(buf, "localhost");
    return QByteArray(buf).left(31);
}

constexpr char kUserMarker[] = "Tabulon#";

QByteArray field(const char* p) {
    int n = 0;
    while (n < 32 && p[n] != 0) ++n;
    return QByteArray(p, n).trimmed();
}

// A free place: all zero bytes (as Tabulon clears its entry). Anything else, blanks included, is
// some program's entry.
bool emptyEntry(const char* p) {
    for (int i = 0; i < JetLockFile::kEntrySize; ++i)
        if (p[i] != 0) return false;
    return true;
}

// A Tabulon entry of this machine whose process is gone (killed with the file open).
bool deadEntry(const char* p, const QByteArray& host) {
    if (!JetLockFile::isTabulonEntry(p) || field(p) != host) return false;
    const long pid = field(p + 32).mid(int(sizeof kUserMarker) - 1).toLong();
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

QByteArray readAllFd(int fd) {
    QByteArray all;
    char buf[4096];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        all.append(buf, int(n));
        at += n;
    }
    return all;
}

}  // namespace

// ---- The write lock ----------------------------------------------------------------------------

std::shared_ptr<JetWriteLock> JetWriteLock::forFile(const QString& path) {
    static std::mutex mu;
    static std::map<QString, std::weak_ptr<JetWriteLock>> locks;
    const QString key = keyOf(path);
    std::lock_guard<std::mutex> g(mu);
    if (auto l = locks[key].lock()) return l;
    std::shared_ptr<JetWriteLock> l(new JetWriteLock(key));
    locks[key] = l;
    return l;
}

JetWriteLock::~JetWriteLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool JetWriteLock::lockFile(bool wait) {
    for (int tries = 0; tries < 100; ++tries) {
        if (fd_ < 0) fd_ = openFile(path_, O_RDWR);
        if (fd_ < 0) fd_ = openFile(path_, O_RDONLY);  // a read-only file: a read lock still excludes writers
        if (fd_ < 0) return false;
        const int mode = ::fcntl(fd_, F_GETFL) & O_ACCMODE;
        if (!ofdLock(fd_, mode == O_RDONLY ? F_RDLCK : F_WRLCK, kLockByte, 1, wait)) return false;
        // The file may have been replaced (renamed over) while we waited: the lock must be the
        // one of the file at the path.
        if (stillAt(fd_, path_)) return true;
        ::close(fd_);
        fd_ = -1;
    }
    return false;
}

void JetWriteLock::lock() {
    std::unique_lock<std::mutex> g(mu_);
    cv_.wait(g, [&] { return !taken_; });
    taken_ = true;
    g.unlock();
    if (!lockFile(true)) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        g.lock();
        taken_ = false;
        cv_.notify_one();
        raise(err::Locked, QString("Could not update; the file cannot be locked for writing (%1).").arg(why));
    }
}

bool JetWriteLock::tryLock(int waitMs) {
    QElapsedTimer t;
    t.start();
    std::unique_lock<std::mutex> g(mu_);
    if (!cv_.wait_for(g, std::chrono::milliseconds(waitMs), [&] { return !taken_; })) return false;
    taken_ = true;
    g.unlock();
    int pause = 1;
    while (!lockFile(false)) {
        if ((errno != EAGAIN && errno != EACCES) || t.elapsed() >= waitMs) {
            g.lock();
            taken_ = false;
            cv_.notify_one();
            return false;
        }
        QThread::msleep(pause);
        pause = std::min(pause * 2, 20);
    }
    return true;
}

void JetWriteLock::unlock() {
    std::lock_guard<std::mutex> g(mu_);
    if (!taken_) return;
    if (fd_ >= 0) ofdLock(fd_, F_UNLCK, kLockByte, 1, false);
    taken_ = false;
    cv_.notify_one();
}

bool JetWriteLock::held() const {
    std::lock_guard<std::mutex> g(mu_);
    return taken_;
}

// ---- The lock file -----------------------------------------------------------------------------

QString JetLockFile::pathFor(const QString& dbPath) {
    const QFileInfo fi(dbPath);
    const bool ace = fi.suffix().compare("accdb", Qt::CaseInsensitive) == 0;
    return fi.absolutePath() + "/" + fi.completeBaseName() + (ace ? ".laccdb" : ".ldb");
}

QString JetLockFile::existing(const QString& dbPath) {
    const QFileInfo fi(dbPath);
    const QString base = fi.absolutePath() + "/" + fi.completeBaseName();
    for (const char* ext : {".ldb", ".laccdb", ".LDB", ".LACCDB"}) {
        const QString lock = base + QLatin1String(ext);
        if (QFileInfo(lock).isFile()) return lock;
    }
    return {};
}

bool JetLockFile::isTabulonEntry(const char* entry) {
    return field(entry + 32).startsWith(kUserMarker);
}

QString JetLockFile::foreignEntry(const QString& dbPath) {
    const QString lock = existing(dbPath);
    if (lock.isEmpty()) return {};
    QFile f(lock);
    if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("(unreadable lock file)");
    const QByteArray all = f.readAll();
    for (int at = 0; at < all.size(); at += kEntrySize) {
        QByteArray e = all.mid(at, kEntrySize);
        if (e.size() < kEntrySize) e.append(kEntrySize - e.size(), '\0');
        if (emptyEntry(e.constData()) || isTabulonEntry(e.constData())) continue;
        const QString machine = QString::fromLatin1(field(e.constData()));
        const QString user = QString::fromLatin1(field(e.constData() + 32));
        if (machine.isEmpty() && user.isEmpty()) return QStringLiteral("an entry without a name");
        return user.isEmpty() ? machine : machine + " / " + user;
    }
    return {};
}

int JetLockFile::openLocked(const QString& lockPath, bool create) {
    for (int tries = 0; tries < 100; ++tries) {
        const int fd = openFile(lockPath, O_RDWR | (create ? O_CREAT : 0), 0644);
        if (fd < 0) return -1;
        if (!ofdLock(fd, F_WRLCK, 0, 0, true)) {
            ::close(fd);
            return -1;
        }
        // Removed by the last process leaving it while we waited: start again.
        if (stillAt(fd, lockPath)) return fd;
        ::close(fd);
    }
    return -1;
}

std::shared_ptr<JetLockFile> JetLockFile::enter(const QString& dbPath) {
    static std::mutex mu;
    static std::map<QString, std::weak_ptr<JetLockFile>> entries;
    const QString key = keyOf(dbPath);
    std::lock_guard<std::mutex> g(mu);
    if (auto e = entries[key].lock()) return e;
    QString lockPath = existing(key);
    if (lockPath.isEmpty()) lockPath = pathFor(key);
    const int fd = openLocked(lockPath, true);
    if (fd < 0) return nullptr;
    const QByteArray host = hostName();
    QByteArray mine(kEntrySize, '\0');
    std::memcpy(mine.data(), host.constData(), size_t(host.size()));
    const QByteArray user = kUserMarker + QByteArray::number(qint64(::getpid()));
    std::memcpy(mine.data() + 32, user.constData(), size_t(std::min<qsizetype>(31, user.size())));
    QByteArray all = readAllFd(fd);
    // Entries of Tabulon processes of this machine that died with the file open go; the first
    // free place takes ours.
    int at = -1;
    for (int i = 0; i + kEntrySize <= all.size(); i += kEntrySize) {
        char* e = all.data() + i;
        if (deadEntry(e, host)) std::memset(e, 0, kEntrySize);
        if (at < 0 && emptyEntry(e)) at = i;
    }
    if (at < 0) at = int(all.size() / kEntrySize * kEntrySize);
    if (all.size() < at + kEntrySize) all.resize(at + kEntrySize);
    std::memcpy(all.data() + at, mine.constData(), kEntrySize);
    bool ok = true;
    for (off_t done = 0; done < all.size();) {
        const ssize_t w = ::pwrite(fd, all.constData() + done, size_t(all.size() - done), done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            ok = false;
            break;
        }
        done += w;
    }
    ::close(fd);  // drops its lock too
    if (!ok) return nullptr;
    std::shared_ptr<JetLockFile> e(new JetLockFile(lockPath));
    e->entry_ = mine;
    entries[key] = e;
    return e;
}

JetLockFile::~JetLockFile() {
    const int fd = openLocked(lockPath_, false);
    if (fd < 0) return;
    QByteArray all = readAllFd(fd);
    const QByteArray host = hostName();
    bool anyLeft = false;
    for (int i = 0; i + kEntrySize <= all.size(); i += kEntrySize) {
        char* e = all.data() + i;
        if (std::memcmp(e, entry_.constData(), kEntrySize) == 0 || deadEntry(e, host)) std::memset(e, 0, kEntrySize);
        if (!emptyEntry(e)) anyLeft = true;
    }
    if (all.size() % kEntrySize != 0) anyLeft = true;  // something we do not understand: left alone
    if (!anyLeft) {
        // Removed while locked: a process waiting for the lock sees the file gone and makes a new one.
        ::unlink(QFile::encodeName(lockPath_).constData());
    } else {
        // Only our entry is cleared; the other users' entries stay where they are.
        for (off_t done = 0; done < all.size();) {
            const ssize_t w = ::pwrite(fd, all.constData() + done, size_t(all.size() - done), done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;
            done += w;
        }
    }
    ::close(fd);
}

}  // namespace dao::jet

namespace dao::jet {

JetFileStamp JetFileStamp::of(const QString& path) {
    JetFileStamp s;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return s;
    s.dev = uint64_t(st.st_dev);
    s.ino = uint64_t(st.st_ino);
    s.size = int64_t(st.st_size);
    s.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.ctimeNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return s;
}

int64_t JetFileStamp::advance(int fd, const JetFileStamp& before) {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const int64_t want = std::max<int64_t>(int64_t(now.tv_sec) * 1000000000 + now.tv_nsec, before.mtimeNs + 1);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(want / 1000000000);
    times[1].tv_nsec = long(want % 1000000000);
    return ::futimens(fd, times) == 0 ? want : 0;
}

}  // namespace dao::jet
