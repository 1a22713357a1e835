#include "NativeRows.h"

#include <QFile>
#include <QString>
#include <algorithm>

#include "platform/dao/JetDecrypt.h"

#include "platform/dao/JetPageAllocator.h"
#include "platform/dao/JetRowMover.h"

namespace dao::jet {

namespace {
// A scan lets the pages it has read go now and then, so that a large file is never all resident.
constexpr uint32_t kPagesHeld = 4096;
// Decoding holds the whole file in memory once; larger encoded files are left to libmdb, which
// decodes a page at a time.
constexpr qint64 kLargestDecoded = qint64(256) << 20;
}  // namespace

std::unique_ptr<NativeRows> NativeRows::open(const char* path, const char* scratch) {
    std::unique_ptr<NativeRows> r(new NativeRows);
    const QString file = QFile::decodeName(path), plain = QFile::decodeName(scratch);
    try {
        r->file_ = JetFile::open(file);
        if (!r->file_->encoded()) return r;
        r->file_.reset();
        if (QFile(file).size() > kLargestDecoded || decodeJetCopy(file, plain, nullptr) != DecryptResult::Ok) {
            QFile::remove(plain);
            return nullptr;
        }
        // The mapping outlives the name.
        r->file_ = JetFile::open(plain);
        QFile::remove(plain);
        if (r->file_->encoded()) return nullptr;
    } catch (const FormatError&) {
        QFile::remove(plain);
        return nullptr;
    }
    return r;
}

NativeRows::~NativeRows() = default;

std::unique_ptr<NativeRows::Table> NativeRows::table(uint32_t tdefPage, const std::vector<Column>& columns) const {
    auto t = std::make_unique<Table>();
    t->file_ = file_.get();
    try {
        t->def_ = file_->readTableDef(tdefPage, QString());
    } catch (const FormatError&) {
        return nullptr;
    }
    for (const Column& c : columns) {
        int at = -1;
        for (size_t k = 0; k < t->def_.columns.size(); ++k) {
            const ColumnDef& d = t->def_.columns[k];
            // libmdb gives Yes/No no size.
            if (d.type == c.type && d.isFixed() == c.fixed && (d.isFixed() ? d.fixedOffset : d.varIndex) == c.place &&
                (d.length == c.size || d.type == ColBoolean) && d.name.toUtf8() == c.name.c_str())
                at = int(k);
        }
        if (at < 0) return nullptr;
        t->columnAt_.push_back(at);
    }
    // Read-only: the allocator only lists the pages of the table's map.
    const JetFile& f = *file_;
    JetPageAllocator::Pages pages;
    pages.pageSize = f.pageSize();
    pages.read = [&f](uint32_t n) { return f.page(n); };
    pages.end = [&f] { return f.pageCount(); };
    JetPageAllocator maps(std::move(pages));
    t->pages_ = maps.pagesOf(t->def_.ownedPagesMap);
    std::sort(t->pages_.begin(), t->pages_.end());
    return t;
}

// The rows of the next page of the table read as records, as JetRowMover::readerOrder lists them (a
// moved record's data where it lies, not through its pointer). A page whose row table is damaged
// throws before any of its records is given.
void NativeRows::Table::nextPage() {
    const uint32_t pg = pages_[pageAt_++];
    rowsHere_.clear();
    rowAt_ = 0;
    if (pg >= file_->pageCount()) return;
    if (++pagesRead_ % kPagesHeld == 0) file_->forgetReadPages();
    page_ = file_->page(pg);
    JetRowMover::readerRows(
        page_, file_->pageSize(), pg, def_.firstPage, [&](int r) { rowsHere_.push_back(r); }, [](int, const RowSlot&) {});
}

bool NativeRows::Table::next() {
    while (rowAt_ >= rowsHere_.size()) {
        if (pageAt_ >= pages_.size()) return false;
        nextPage();
    }
    const int pageSize = file_->pageSize();
    const RowSlot s = JetFile::slotIn(page_, pageSize, pages_[pageAt_ - 1], rowsHere_[rowAt_++]);
    row_ = page_ + s.start;
    pageEnd_ = page_ + pageSize;
    JetFile::crackRow(def_, row_, s.end - s.start, fields_, layout_);
    return true;
}

std::string NativeRows::Table::longValue(const FieldRef& f) const {
    const QByteArray v = file_->readLongValue(bytes(f), f.size);
    return std::string(v.constData(), size_t(v.size()));
}

}  // namespace dao::jet
