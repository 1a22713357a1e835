#pragma once

// Crash-safe page writes to a Jet file. A batch first copies the current contents (the
// before-images) of every page it changes that the file already had into a journal beside the file
// and makes the journal durable; only then are the pages written and made durable, and the journal
// removed. A journal found later belongs to a batch that may be half written: its before-images are
// put back and the file is cut back to its length before, so the file is as it was before the batch. A journal that is itself incomplete (the crash came while
// writing it) is dropped: the file was not touched yet.
//
// A journal is rolled back only under the file's write lock (see JetWriteLock), which its writer
// holds until the journal is gone: when the lock can be taken, the writer is dead. It is applied
// only to the file it was written for: the file's length must lie between its length before and
// after the batch, its header page must be the one the batch found, and every page of the batch
// must hold either its contents before or after the batch. A journal that does not fit (an older
// copy restored over the file, another file put at its path) is set aside, renamed
// "<journal>.orphan-<UTC time>", never applied and never deleted.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>

namespace dao::jet {

class JetPageJournal {
public:
    // "<file>-tabulon-journal".
    static QString journalPath(const QString& dbPath);

    // Rolls back the batch a crash interrupted, if any, once the write lock shows its writer gone
    // (a live writer's journal is left to it). Returns true when pages were put back; note, when
    // given, says why a journal was left or set aside. Throws dao::Error 3027 when a journal
    // exists but the file cannot be written to restore it.
    static bool recover(const QString& dbPath, QString* note = nullptr);
    // The same for a caller that holds the file's write lock.
    static bool recoverHeld(const QString& dbPath, QString* note = nullptr);

    // Writes the pages (page number -> pageSize bytes) as one batch; pages past the end extend the
    // file. All of them reach the disk or, after a crash, none. The caller holds the write lock.
    // Returns the modification time given to the file (ns since the epoch; 0 when it could not be
    // set). Throws dao::Error 3026 when the journal or the file cannot be written (the file is then
    // rolled back where that is possible).
    static int64_t writeBatch(const QString& dbPath, int pageSize, const std::map<uint32_t, QByteArray>& pages);

    // A journal waiting beside the file, as the next writer would find it.
    struct Pending {
        enum State { None, Incomplete, Fits, Foreign } state = None;
        QString reason;  // Foreign: why it does not belong to the file
    };
    static Pending inspect(const QString& dbPath);
    // Puts the before-images of dbPath's journal into copyPath (a copy of the file), as recovery
    // would; false when the journal does not fit.
    static bool rollBackCopy(const QString& dbPath, const QString& copyPath);

    // For tests: called at each step of writeBatch with its name ("journal", "page", "synced",
    // "removed"); throwing from it stops the batch there as a crash would.
    static std::function<void(const char* step)>& testHook();
};

}  // namespace dao::jet
