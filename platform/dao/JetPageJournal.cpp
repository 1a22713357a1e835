#include "JetPageJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <vector>

#include "Error.h"

namespace dao::jet {

namespace {

constexpr char kMagic[8] = {'T', 'B', 'J', 'E', 'T', 'J', 'N', '1'};
constexpr int kHeaderSize = 8 + 4 + 8 + 4;  // magic, page size, file size before, page count

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

bool JetPageJournal::recover(const QString& dbPath) {
    const QString jpath = journalPath(dbPath);
    QFile j(jpath);
    if (!j.exists()) return false;
    if (!j.open(QIODevice::ReadOnly))
        raise(err::ReadOnly, QString("The journal '%1' of an interrupted write cannot be read.").arg(jpath));
    const QByteArray all = j.readAll();
    j.close();
    // A journal is valid only when it is complete: header, every page, checksum over all of it.
    bool valid = all.size() >= kHeaderSize + 8 && std::memcmp(all.constData(), kMagic, 8) == 0;
    uint32_t pageSize = 0, count = 0;
    uint64_t sizeBefore = 0;
    if (valid) {
        pageSize = uint32_t(get(all.constData() + 8, 4));
        sizeBefore = get(all.constData() + 12, 8);
        count = uint32_t(get(all.constData() + 20, 4));
        valid = (pageSize == 2048 || pageSize == 4096) &&
                qint64(all.size()) == kHeaderSize + qint64(count) * (4 + pageSize) + 8 &&
                fnv1a(all.constData(), size_t(all.size()) - 8) == get(all.constData() + all.size() - 8, 8);
    }
    if (!valid) {
        // The crash came before the journal was complete, so before any page was written.
        QFile::remove(jpath);
        syncFolder(jpath);
        return false;
    }
    Fd db(dbPath, O_RDWR);
    if (db.fd < 0)
        raise(err::ReadOnly, QString("The file cannot be opened to undo an interrupted write: %1.")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
    const char* p = all.constData() + kHeaderSize;
    for (uint32_t i = 0; i < count; ++i, p += 4 + pageSize) {
        const uint32_t pageNo = uint32_t(get(p, 4));
        if (off_t(pageNo) * pageSize >= off_t(sizeBefore)) continue;  // a page the batch added
        if (!writeAll(db.fd, p + 4, pageSize, off_t(pageNo) * pageSize)) ioFail("Cannot undo an interrupted write");
    }
    if (::ftruncate(db.fd, off_t(sizeBefore)) != 0 || ::fsync(db.fd) != 0) ioFail("Cannot undo an interrupted write");
    QFile::remove(jpath);
    syncFolder(jpath);
    return true;
}

void JetPageJournal::writeBatch(const QString& dbPath, int pageSize, const std::map<uint32_t, QByteArray>& pages) {
    if (pages.empty()) return;
    recover(dbPath);  // never stack a batch on an unresolved one
    Fd db(dbPath, O_RDWR);
    if (db.fd < 0) ioFail(QString("Cannot open '%1' for writing").arg(dbPath));
    struct stat st;
    if (::fstat(db.fd, &st) != 0) ioFail("Cannot read the file's size");
    const off_t sizeBefore = st.st_size;

    QByteArray journal;
    journal.reserve(kHeaderSize + int(pages.size()) * (4 + pageSize) + 8);
    journal.append(kMagic, 8);
    put32(journal, uint32_t(pageSize));
    put64(journal, uint64_t(sizeBefore));
    put32(journal, uint32_t(pages.size()));
    QByteArray before(pageSize, '\0');
    for (const auto& [pageNo, bytes] : pages) {
        if (bytes.size() != pageSize) raise(err::InvalidArgument, "A page to write has the wrong size.");
        before.fill('\0');
        const off_t at = off_t(pageNo) * pageSize;
        if (at < sizeBefore && !readAll(db.fd, before.data(), size_t(pageSize), at)) ioFail("Cannot read a page");
        put32(journal, pageNo);
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
    if (ok && ::fsync(db.fd) != 0) ok = false;
    if (!ok) {
        const int e = errno;
        recover(dbPath);
        errno = e;
        ioFail("Cannot write the file");
    }
    step("synced");
    QFile::remove(jpath);
    syncFolder(jpath);
    step("removed");
}

}  // namespace dao::jet
