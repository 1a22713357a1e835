#include "JetPageJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <QDateTime>
#include <QDir>

#include "Error.h"
#include "JetLocks.h"

namespace dao::jet {

namespace {

constexpr char kMagicV1[8] = {'T', 'B', 'J', 'E', 'T', 'J', 'N', '1'};
constexpr char kMagic[8] = {'T', 'B', 'J', 'E', 'T', 'J', 'N', '2'};
constexpr int kHeaderSizeV1 = 8 + 4 + 8 + 4;  // magic, page size, file size before, page count
// Then the file's size after the batch and the checksum of its header page (0: in the batch).
constexpr int kHeaderSize = kHeaderSizeV1 + 8 + 8;

uint64_t fnv1a(const char* p, size_t n, uint64_t h = 1469598103934665603ull) {
    for (size_t i = 0; i < n; ++i) {
        h ^= uint8_t(p[i]);
        h *= 1099511628211ull;
    }
    return h;
}

void put32(QByteArray& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b += char(v >> (8 * i) & 0xff);
}
void put64(QByteArray& b, uint64_t v) {
    for (int i = 0; i < 8; ++i) b += char(v >> (8 * i) & 0xff);
}
uint64_t get(const char* p, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | uint8_t(p[i]);
    return v;
}

class Fd {
public:
    Fd(const QString& path, int flags, mode_t mode = 0644) { fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode); }
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    int fd = -1;
};

[[noreturn]] void ioFail(const QString& what) {
    raise(err::DiskFull, QString("%1: %2.").arg(what, QString::fromLocal8Bit(std::strerror(errno))));
}

bool writeAll(int fd, const char* p, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
        at += w;
    }
    return true;
}

bool readAll(int fd, char* p, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, at);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
        at += r;
    }
    return true;
}

// Makes the journal's creation or removal itself durable.
void syncFolder(const QString& file) {
    Fd dir(QFileInfo(file).absolutePath(), O_RDONLY | O_DIRECTORY);
    if (dir.fd >= 0) ::fsync(dir.fd);
}

void step(const char* name) {
    if (auto& hook = JetPageJournal::testHook()) hook(name);
}

}  // namespace

std::function<void(const char*)>& JetPageJournal::testHook() {
    static std::function<void(const char*)> hook;
    return hook;
}

QString JetPageJournal::journalPath(const QString& dbPath) { return dbPath + "-tabulon-journal"; }

namespace {

struct Journal {
    bool valid = false;
    bool v1 = false;
    uint32_t pageSize = 0, count = 0;
    uint64_t sizeBefore = 0, sizeAfter = 0, headHash = 0;
    struct Page {
        uint32_t number = 0;
        uint64_t afterHash = 0;
        const char* before = nullptr;
    };
    std::vector<Page> pages;
    QByteArray bytes;
};

// A journal is valid only when it is complete: header, every page, checksum over all of it.
Journal parse(QByteArray all) {
    Journal j;
    j.bytes = std::move(all);
    const QByteArray& b = j.bytes;
    if (b.size() < kHeaderSizeV1 + 8) return j;
    j.v1 = std::memcmp(b.constData(), kMagicV1, 8) == 0;
    if (!j.v1 && std::memcmp(b.constData(), kMagic, 8) != 0) return j;
    const int header = j.v1 ? kHeaderSizeV1 : kHeaderSize;
    const int perPage = j.v1 ? 4 : 4 + 8;
    if (b.size() < header + 8) return j;
    j.pageSize = uint32_t(get(b.constData() + 8, 4));
    j.sizeBefore = get(b.constData() + 12, 8);
    j.count = uint32_t(get(b.constData() + 20, 4));
    if (!j.v1) {
        j.sizeAfter = get(b.constData() + 24, 8);
        j.headHash = get(b.constData() + 32, 8);
    }
    if (j.pageSize != 2048 && j.pageSize != 4096) return j;
    if (qint64(b.size()) != header + qint64(j.count) * (perPage + j.pageSize) + 8) return j;
    if (fnv1a(b.constData(), size_t(b.size()) - 8) != get(b.constData() + b.size() - 8, 8)) return j;
    const char* p = b.constData() + header;
    for (uint32_t i = 0; i < j.count; ++i, p += perPage + j.pageSize) {
        Journal::Page pg;
        pg.number = uint32_t(get(p, 4));
        if (!j.v1) pg.afterHash = get(p + 4, 8);
        pg.before = p + perPage;
        j.pages.push_back(pg);
    }
    j.valid = true;
    return j;
}

bool readJournal(const QString& jpath, Journal& out) {
    QFile f(jpath);
    if (!f.open(QIODevice::ReadOnly)) return false;
    out = parse(f.readAll());
    return true;
}

// Whether the journal was written for the file open as fd; why not in reason.
bool fits(const Journal& j, int fd, QString& reason) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        reason = QStringLiteral("the file cannot be read");
        return false;
    }
    const uint64_t size = uint64_t(st.st_size);
    if (size < j.sizeBefore) {
        reason = QString("the file has %1 bytes, fewer than the %2 the interrupted write started from").arg(size).arg(j.sizeBefore);
        return false;
    }
    if (j.v1) return true;  // an older journal names its file by its length only
    if (size > std::max(j.sizeBefore, j.sizeAfter)) {
        reason = QString("the file has %1 bytes, more than the interrupted write could have left").arg(size);
        return false;
    }
    const size_t ps = j.pageSize;
    QByteArray page(int(ps), '\0');
    if (j.headHash != 0) {
        if (!readAll(fd, page.data(), ps, 0) || fnv1a(page.constData(), ps) != j.headHash) {
            reason = QStringLiteral("its header page is not the one the interrupted write found");
            return false;
        }
    }
    for (const Journal::Page& p : j.pages) {
        const off_t at = off_t(p.number) * off_t(ps);
        if (uint64_t(at) >= j.sizeBefore || uint64_t(at) + ps > size) continue;  // added by the batch
        if (!readAll(fd, page.data(), ps, at)) {
            reason = QString("page %1 cannot be read").arg(p.number);
            return false;
        }
        const uint64_t now = fnv1a(page.constData(), ps);
        if (now != p.afterHash && std::memcmp(page.constData(), p.before, ps) != 0) {
            reason = QString("page %1 holds neither what it held before the interrupted write nor what that write gave it").arg(p.number);
            return false;
        }
    }
    return true;
}

// Puts the before-images back and cuts the file to its old length.
void rollBack(const Journal& j, int fd) {
    for (const Journal::Page& p : j.pages) {
        if (off_t(p.number) * j.pageSize >= off_t(j.sizeBefore)) continue;  // a page the batch added
        if (!writeAll(fd, p.before, j.pageSize, off_t(p.number) * j.pageSize)) ioFail("Cannot undo an interrupted write");
    }
    if (::ftruncate(fd, off_t(j.sizeBefore)) != 0 || ::fsync(fd) != 0) ioFail("Cannot undo an interrupted write");
}

}  // namespace

bool JetPageJournal::recover(const QString& dbPath, QString* note) {
    if (!QFile::exists(journalPath(dbPath))) return false;
    const auto lock = JetWriteLock::forFile(dbPath);
    // A writer of this process holds it: the journal is that writer's, and alive.
    if (lock->held()) return false;
    if (!lock->tryLock(5000)) {
        if (note) *note = QString("The journal '%1' belongs to a write of another process still under way; it is left to it.")
                              .arg(QDir::toNativeSeparators(journalPath(dbPath)));
        return false;
    }
    struct Unlock {
        JetWriteLock& l;
        ~Unlock() { l.unlock(); }
    } unlock{*lock};
    return recoverHeld(dbPath, note);
}

bool JetPageJournal::recoverHeld(const QString& dbPath, QString* note) {
    const QString jpath = journalPath(dbPath);
    if (!QFile::exists(jpath)) return false;
    Journal j;
    if (!readJournal(jpath, j))
        raise(err::ReadOnly, QString("The journal '%1' of an interrupted write cannot be read.").arg(jpath));
    if (!j.valid) {
        // The crash came before the journal was complete, so before any page was written.
        QFile::remove(jpath);
        syncFolder(jpath);
        return false;
    }
    Fd db(dbPath, O_RDWR);
    if (db.fd < 0)
        raise(err::ReadOnly, QString("The file cannot be opened to undo an interrupted write: %1.")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
    QString reason;
    if (!fits(j, db.fd, reason)) {
        const QString aside = jpath + ".orphan-" + QDateTime::currentDateTimeUtc().toString("yyyyMMdd-HHmmss");
        const bool moved = QFile::rename(jpath, aside);
        syncFolder(jpath);
        const QString msg =
            moved ? QString("The journal '%1' of an interrupted write was not applied: it does not belong to the file as it "
                            "is now (%2). It is kept as '%3'; the file is left as it is.")
                        .arg(QDir::toNativeSeparators(jpath), reason, QDir::toNativeSeparators(aside))
                  : QString("The journal '%1' of an interrupted write does not belong to the file as it is now (%2) and cannot be "
                            "set aside; it was not applied.")
                        .arg(QDir::toNativeSeparators(jpath), reason);
        if (note) *note = msg;
        qWarning("%s", qPrintable(msg));
        if (!moved) raise(err::ReadOnly, msg);
        return false;
    }
    const JetFileStamp before = JetFileStamp::of(dbPath);
    rollBack(j, db.fd);
    JetFileStamp::advance(db.fd, before);  // writers that read the file before see it changed
    QFile::remove(jpath);
    syncFolder(jpath);
    return true;
}

JetPageJournal::Pending JetPageJournal::inspect(const QString& dbPath) {
    Pending out;
    const QString jpath = journalPath(dbPath);
    if (!QFile::exists(jpath)) return out;
    Journal j;
    if (!readJournal(jpath, j) || !j.valid) {
        out.state = Pending::Incomplete;
        return out;
    }
    Fd db(dbPath, O_RDONLY);
    if (db.fd < 0) {
        out.state = Pending::Foreign;
        out.reason = QStringLiteral("the file cannot be read");
        return out;
    }
    out.state = fits(j, db.fd, out.reason) ? Pending::Fits : Pending::Foreign;
    return out;
}

bool JetPageJournal::rollBackCopy(const QString& dbPath, const QString& copyPath) {
    Journal j;
    if (!readJournal(journalPath(dbPath), j) || !j.valid) return false;
    Fd db(copyPath, O_RDWR);
    QString reason;
    if (db.fd < 0 || !fits(j, db.fd, reason)) return false;
    rollBack(j, db.fd);
    return true;
}

int64_t JetPageJournal::writeBatch(const QString& dbPath, int pageSize, const std::map<uint32_t, QByteArray>& pages) {
    if (pages.empty()) return 0;
    recoverHeld(dbPath);  // never stack a batch on an unresolved one
    Fd db(dbPath, O_RDWR);
    if (db.fd < 0) ioFail(QString("Cannot open '%1' for writing").arg(dbPath));
    struct stat st;
    if (::fstat(db.fd, &st) != 0) ioFail("Cannot read the file's size");
    const JetFileStamp stampBefore = JetFileStamp::of(dbPath);
    const off_t sizeBefore = st.st_size;
    const off_t sizeAfter = std::max<off_t>(sizeBefore, off_t(pages.rbegin()->first + 1) * pageSize);

    // Pages past the file's end need no before-image: undoing the batch cuts the file back to its
    // length before (an add's batch is mostly new pages).
    const auto added = pages.lower_bound(uint32_t(std::min<off_t>((sizeBefore + pageSize - 1) / pageSize, off_t(UINT32_MAX))));
    const auto kept = std::distance(pages.begin(), added);
    QByteArray journal;
    journal.reserve(kHeaderSize + int(kept) * (12 + pageSize) + 8);
    journal.append(kMagic, 8);
    put32(journal, uint32_t(pageSize));
    put64(journal, uint64_t(sizeBefore));
    put32(journal, uint32_t(kept));
    put64(journal, uint64_t(sizeAfter));
    QByteArray before(pageSize, '\0');
    uint64_t headHash = 0;
    if (!pages.count(0) && sizeBefore >= pageSize) {
        if (!readAll(db.fd, before.data(), size_t(pageSize), 0)) ioFail("Cannot read a page");
        headHash = fnv1a(before.constData(), size_t(pageSize));
    }
    put64(journal, headHash);
    for (const auto& [pageNo, bytes] : pages)
        if (bytes.size() != pageSize) raise(err::InvalidArgument, "A page to write has the wrong size.");
    for (auto it = pages.begin(); it != added; ++it) {
        const auto& [pageNo, bytes] = *it;
        if (!readAll(db.fd, before.data(), size_t(pageSize), off_t(pageNo) * pageSize)) ioFail("Cannot read a page");
        put32(journal, pageNo);
        put64(journal, fnv1a(bytes.constData(), size_t(pageSize)));
        journal += before;
    }
    put64(journal, fnv1a(journal.constData(), size_t(journal.size())));

    const QString jpath = journalPath(dbPath);
    {
        Fd j(jpath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (j.fd < 0) ioFail(QString("Cannot create the journal '%1'").arg(jpath));
        // Written in two halves so that a test can stop between them (a torn journal).
        const size_t half = size_t(journal.size()) / 2;
        if (!writeAll(j.fd, journal.constData(), half, 0)) ioFail("Cannot write the journal");
        step("journal-half");
        if (!writeAll(j.fd, journal.constData() + half, size_t(journal.size()) - half, off_t(half)) || ::fsync(j.fd) != 0)
            ioFail("Cannot write the journal");
    }
    syncFolder(jpath);
    step("journal");

    bool ok = true;
    for (const auto& [pageNo, bytes] : pages) {
        if (!writeAll(db.fd, bytes.constData(), size_t(pageSize), off_t(pageNo) * pageSize)) {
            ok = false;
            break;
        }
        step("page");
    }
    // A time no earlier batch left, so that other writers see the file changed (see JetFileStamp).
    const int64_t mtime = ok ? JetFileStamp::advance(db.fd, stampBefore) : 0;
    if (ok && ::fsync(db.fd) != 0) ok = false;
    if (!ok) {
        const int e = errno;
        recoverHeld(dbPath);
        errno = e;
        ioFail("Cannot write the file");
    }
    step("synced");
    QFile::remove(jpath);
    syncFolder(jpath);
    step("removed");
    return mtime;
}

}  // namespace dao::jet
