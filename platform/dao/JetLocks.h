#pragma once

// Sharing an Access file with other processes: the write lock Tabulon's writers take, and the entry
// Tabulon keeps in Access's lock file beside the database.
//
// The write lock is an advisory OFD lock (fcntl F_OFD_SETLK*) on one byte far past the end of the
// database file. A writer holds it from the first change of a batch until the batch is in the file
// and its journal removed, so a journal whose lock can be taken belongs to a process that died.
// OFD locks belong to an open file description, not to a process: a second descriptor of the same
// process would conflict with the first, so every lock of a file in the process goes through one
// JetWriteLock.
//
// The lock file (.ldb for .mdb, .laccdb for .accdb) holds one 64-byte entry per user: 32 bytes of
// machine name and 32 of user name, NUL-padded. Tabulon's user name is "Tabulon#<pid>", which tells
// its entries from Access's: only an entry that is not Tabulon's keeps the file read-only.

#include <QString>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace dao::jet {

class JetWriteLock {
public:
    // The lock of the file at path (any spelling of it), shared in the process.
    static std::shared_ptr<JetWriteLock> forFile(const QString& path);
    ~JetWriteLock();

    // Takes the lock, waiting for its holder. Throws dao::Error 3260 when the file cannot be locked.
    void lock();
    // Takes the lock when it is free within waitMs; false when another process (or another part
    // of this one) holds it.
    bool tryLock(int waitMs);
    void unlock();
    bool held() const;

private:
    explicit JetWriteLock(const QString& path) : path_(path) {}
    // One attempt at the OFD lock; waits in the kernel when wait is set.
    bool lockFile(bool wait);
    QString path_;
    mutable std::mutex mu_;
    std::condition_variable cv_;
    bool taken_ = false;  // by this process
    int fd_ = -1;
};

class JetLockFile {
public:
    // ".laccdb" beside a .accdb, ".ldb" beside anything else.
    static QString pathFor(const QString& dbPath);
    // The lock file Access or Tabulon keeps beside the database (either spelling), or empty.
    static QString existing(const QString& dbPath);

    // This process's entry in the lock file, created with the first call for the file and shared
    // by the process's connections to it; the last one to let go clears it, and removes the lock
    // file when no entry is left. Never throws: a folder that cannot be written gets no entry.
    static std::shared_ptr<JetLockFile> enter(const QString& dbPath);
    ~JetLockFile();

    // The first entry of the lock file beside dbPath that is not Tabulon's ("machine / user"), or
    // empty when there is none (no lock file, or only Tabulon's entries).
    static QString foreignEntry(const QString& dbPath);
    // Whether one 64-byte entry is Tabulon's.
    static bool isTabulonEntry(const char* entry);
    static constexpr int kEntrySize = 64;

private:
    explicit JetLockFile(const QString& lockPath) : lockPath_(lockPath) {}
    // Opens the lock file and locks it whole (creating it when create is set); -1 when it cannot.
    static int openLocked(const QString& lockPath, bool create);
    QString lockPath_;
    QByteArray entry_;
};

// What tells a writer that another process changed the file since it last read it: the file's
// identity, size and times. Every batch Tabulon writes sets the file's modification time to a value
// no earlier batch left (at least one nanosecond past the one it found), so two batches never leave
// the same stamp even when they keep the file's size and come within one tick of the clock.
struct JetFileStamp {
    uint64_t dev = 0, ino = 0;
    int64_t size = -1, mtimeNs = 0, ctimeNs = 0;
    static JetFileStamp of(const QString& path);
    bool operator==(const JetFileStamp& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtimeNs == o.mtimeNs && ctimeNs == o.ctimeNs;
    }
    bool operator!=(const JetFileStamp& o) const { return !(*this == o); }
    // Sets the modification time of the open file fd (whose stamp was before) past before's and
    // now; returns the time set, or 0 when it could not be set.
    static int64_t advance(int fd, const JetFileStamp& before);
};

}  // namespace dao::jet
