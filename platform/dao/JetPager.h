#pragma once

// The one door to a Jet file's pages for writing. The pager owns the file (mapped), the write lock
// shared with other processes, the pages the open batch changed (with each statement's undo) and
// the page journal that takes them to the file. The record codec, the index B-trees, the long-value
// writer, the page allocator and the row mover read and write pages only through it (JetWriter
// hands them its functions), and the table operations of JetWriter sit on top.
//
// A batch starts with enter(): the write lock is taken (waiting for another process's batch) and
// kept until the batch is in the file or dropped; a journal a dead writer left is rolled back; and
// when the file's stamp shows another process wrote since this pager last read it, the file is
// opened again, so no page of the batch is built on a stale read.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "JetFile.h"
#include "JetLocks.h"

namespace dao::jet {

class JetPager {
public:
    explicit JetPager(const QString& path);
    ~JetPager();
    JetPager(const JetPager&) = delete;
    JetPager& operator=(const JetPager&) = delete;

    // Takes the write lock for a batch unless held. True when the file was (re)read: what the
    // caller knows of it (table definitions, maps) must be read again. Throws dao::Error or
    // FormatError, the lock then let go.
    bool enter();
    // Lets the lock go when nothing is pending.
    void leaveIfIdle();
    // Lets it go, and reads the file afresh at the next enter().
    void abandon();

    const JetFile& file() const { return *file_; }
    int pageSize() const { return file_->pageSize(); }

    // A page as the batch leaves it; throws FormatError outside the file.
    const uint8_t* read(uint32_t page) const;
    // The batch's copy of a page, given back if the statement fails.
    uint8_t* write(uint32_t page);
    // A new zeroed page (past the file's end) in the batch.
    uint8_t* create(uint32_t page);
    // Overwrites bytes of a page; a failed statement takes them back.
    void writeRange(uint32_t page, int offset, const QByteArray& bytes);
    bool has(uint32_t page) const { return page < file_->pageCount() || pending_.count(page); }
    // The first page number past the file and the batch's new pages.
    uint32_t end() const;

    void beginStatement();
    void endStatement();
    void abortStatement();
    // The batch to the file through the journal (throws dao::Error on failure, the file then
    // unchanged), or dropped; either way the lock is let go.
    void flush();
    void discard();
    bool hasPending() const { return !pending_.empty(); }

private:
    void release();
    QString path_;
    std::shared_ptr<JetWriteLock> lock_;
    bool locked_ = false;
    JetFileStamp seen_;          // the file as this pager last read or wrote it
    bool alwaysReread_ = false;  // the file system keeps coarse times: every batch reads afresh
    int64_t releasedNs_ = 0;
    std::unique_ptr<JetFile> file_;
    std::map<uint32_t, QByteArray> pending_;
    mutable std::optional<uint32_t> end_;  // end() while pending_ keeps its pages (asked per index per add)
    std::map<uint32_t, std::optional<QByteArray>> statementUndo_;  // page before the statement (none: not pending)
    struct RangeUndo {
        uint32_t page;
        int offset;
        QByteArray before;
    };
    std::vector<RangeUndo> rangeUndo_;  // bytes a statement overwrote in pages already pending
};

}  // namespace dao::jet
