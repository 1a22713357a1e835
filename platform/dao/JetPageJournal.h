#pragma once

// Crash-safe page writes to a Jet file. A batch first copies the current contents (the
// before-images) of every page it changes into a journal beside the file and makes the journal
// durable; only then are the pages written and made durable, and the journal removed. A journal
// found at the next open belongs to a batch that may be half written: its before-images are put
// back, so the file is as it was before the batch. A journal that is itself incomplete (the crash
// came while writing it) is dropped: the file was not touched yet.

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

    // Rolls back the batch a crash interrupted, if any. Returns true when pages were put back.
    // Throws dao::Error 3027 when a journal exists but the file cannot be written to restore it.
    static bool recover(const QString& dbPath);

    // Writes the pages (page number -> pageSize bytes) as one batch; pages past the end extend the
    // file. All of them reach the disk or, after a crash, none. Throws dao::Error 3026 when the
    // journal or the file cannot be written (the file is then rolled back where that is possible).
    static void writeBatch(const QString& dbPath, int pageSize, const std::map<uint32_t, QByteArray>& pages);

    // For tests: called at each step of writeBatch with its name ("journal", "page", "synced",
    // "removed"); throwing from it stops the batch there as a crash would.
    static std::function<void(const char* step)>& testHook();
};

}  // namespace dao::jet
