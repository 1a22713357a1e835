#include "JetPager.h"

#include <QThread>
#include <chrono>
#include <cstring>

#include "JetPageJournal.h"

namespace dao::jet {

namespace {

int64_t monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

JetPager::JetPager(const QString& path) : path_(path), lock_(JetWriteLock::forFile(path)) {}

JetPager::~JetPager() { release(); }

bool JetPager::enter() {
    if (locked_) return false;
    // Just let go: a writer of another process woken by that gets its turn before this one takes
    // the lock again.
    if (monotonicNs() - releasedNs_ < 1000000) QThread::usleep(1000);
    lock_->lock();
    locked_ = true;
    try {
        // A batch of a writer that died is rolled back first (its lock went with it).
        JetPageJournal::recoverHeld(path_);
        const JetFileStamp now = JetFileStamp::of(path_);
        if (file_ && !alwaysReread_ && now == seen_) return false;
        // Only between batches: nothing pending was built on what is dropped here.
        pending_.clear();
        end_.reset();
        statementUndo_.clear();
        rangeUndo_.clear();
        seen_ = now;
        file_ = JetFile::open(path_);
        return true;
    } catch (...) {
        abandon();
        throw;
    }
}

void JetPager::leaveIfIdle() {
    if (pending_.empty()) release();
}

void JetPager::abandon() {
    seen_ = JetFileStamp();
    release();
}

void JetPager::release() {
    if (!locked_) return;
    locked_ = false;
    releasedNs_ = monotonicNs();
    lock_->unlock();
}

const uint8_t* JetPager::read(uint32_t page) const {
    const auto it = pending_.find(page);
    if (it != pending_.end()) return reinterpret_cast<const uint8_t*>(it->second.constData());
    return file_->page(page);
}

uint8_t* JetPager::write(uint32_t page) {
    auto it = pending_.find(page);
    if (it == pending_.end()) {
        end_.reset();
        statementUndo_.emplace(page, std::nullopt);
        it = pending_.emplace(page, QByteArray(reinterpret_cast<const char*>(file_->page(page)), file_->pageSize())).first;
    } else {
        statementUndo_.emplace(page, it->second);  // keeps the first copy of the statement
    }
    return reinterpret_cast<uint8_t*>(it->second.data());
}

uint8_t* JetPager::create(uint32_t page) {
    end_.reset();
    statementUndo_.emplace(page, std::nullopt);
    auto& bytes = pending_[page];
    bytes = QByteArray(file_->pageSize(), '\0');
    return reinterpret_cast<uint8_t*>(bytes.data());
}

uint32_t JetPager::end() const {
    if (end_) return *end_;
    uint32_t n = file_->pageCount();
    for (auto it = pending_.lower_bound(n); it != pending_.end() && it->first == n; ++it) ++n;
    end_ = n;
    return n;
}

void JetPager::writeRange(uint32_t page, int offset, const QByteArray& bytes) {
    auto it = pending_.find(page);
    if (it == pending_.end() || statementUndo_.count(page)) {
        // Not pending yet (undone by dropping it), or already saved whole for this statement.
        std::memcpy(write(page) + offset, bytes.constData(), size_t(bytes.size()));
        return;
    }
    rangeUndo_.push_back({page, offset, it->second.mid(offset, bytes.size())});
    std::memcpy(it->second.data() + offset, bytes.constData(), size_t(bytes.size()));
}

void JetPager::beginStatement() {
    statementUndo_.clear();
    rangeUndo_.clear();
}

void JetPager::endStatement() {
    beginStatement();
    leaveIfIdle();
}

void JetPager::abortStatement() {
    // Whole pages first (a page saved whole after one of its ranges was written holds that range's
    // new bytes), then the ranges, newest first.
    end_.reset();
    for (auto& [page, before] : statementUndo_) {
        if (before)
            pending_[page] = *before;
        else
            pending_.erase(page);
    }
    statementUndo_.clear();
    for (auto r = rangeUndo_.rbegin(); r != rangeUndo_.rend(); ++r) {
        auto it = pending_.find(r->page);
        if (it != pending_.end()) std::memcpy(it->second.data() + r->offset, r->before.constData(), size_t(r->before.size()));
    }
    rangeUndo_.clear();
    leaveIfIdle();
}

void JetPager::flush() {
    statementUndo_.clear();
    rangeUndo_.clear();
    if (pending_.empty()) {
        release();
        return;
    }
    std::map<uint32_t, QByteArray> pages;
    pages.swap(pending_);
    end_.reset();
    int64_t mtime = 0;
    try {
        mtime = JetPageJournal::writeBatch(path_, file_->pageSize(), pages);
    } catch (...) {
        // Whatever stopped the batch, the file is put back as it was before it (its length too)
        // before anything is read from it again.
        try {
            JetPageJournal::recoverHeld(path_);
        } catch (...) {
        }
        abandon();
        throw;
    }
    // The file as this batch left it, under the lock still: nobody else wrote in between.
    seen_ = JetFileStamp::of(path_);
    // A file system that does not keep the time to the nanosecond cannot tell batches apart.
    if (mtime == 0 || seen_.mtimeNs != mtime) alwaysReread_ = true;
    try {
        if (pages.rbegin()->first >= file_->pageCount()) {
            file_ = JetFile::open(path_);  // the file grew
            end_.reset();
        }
    } catch (...) {
        abandon();
        throw;
    }
    release();
}

void JetPager::discard() {
    pending_.clear();
    end_.reset();
    statementUndo_.clear();
    rangeUndo_.clear();
    release();
}

}  // namespace dao::jet
