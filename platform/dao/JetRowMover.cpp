#include "JetRowMover.h"
#include "JetFormat.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace dao::jet {

namespace {

constexpr uint8_t kDeletedHigh = 0x80;   // high byte of a row offset
constexpr uint8_t kOverflowHigh = 0x40;
constexpr int kMaxRows = fmt::kMaxRowsPerPage;

QByteArray pointerTo(RowId r) {
    const uint32_t w = r.page << 8 | r.row;
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = char(w >> (8 * i) & 0xff);
    return out;
}

}  // namespace

std::vector<RowId> JetRowMover::readerOrder(const TableDef& t) const {
    const auto& p = a_.pages();
    // A table of a large file is read through in parts, each let go before the next.
    constexpr size_t kPagesHeld = 4096;
    size_t held = 0;
    auto readPage = [&](uint32_t pg) {
        if (++held > kPagesHeld && p.forgetRead) {
            p.forgetRead();
            held = 1;
        }
        return p.read(pg);
    };
    // One look at each of the table's pages: its records in place, and the pointers of its moved
    // records, whose data rows are then given their first places.
    std::vector<uint32_t> pages = a_.pagesOf(t.ownedPagesMap);
    std::sort(pages.begin(), pages.end());
    std::map<RowId, RowId> firstOf;  // row of a moved record's data -> its first place
    std::vector<RowId> out;
    // With room for the adds that follow (the writer's map of the working copy grows by them):
    // moving a large table's map at an add would make that add wait.
    const size_t rows = std::min<size_t>(t.rowCount, pages.size() * kMaxRows);
    out.reserve(rows + rows / 8 + 1024);
    for (uint32_t pg : pages) {
        if (pg >= p.end()) continue;
        const uint8_t* bytes = readPage(pg);
        readerRows(
            bytes, p.pageSize, pg, t.firstPage, [&](int r) { out.push_back({pg, uint8_t(r)}); },
            [&](int r, const RowSlot& s) {
                if (!s.deleted && s.end - s.start >= 4) firstOf[RowId::fromWord(rd32(bytes + s.start))] = {pg, uint8_t(r)};
            });
    }
    if (!firstOf.empty())
        for (RowId& here : out)
            if (const auto it = firstOf.find(here); it != firstOf.end()) here = it->second;
    if (held > 64 && p.forgetRead) p.forgetRead();
    return out;
}

std::vector<int> JetRowMover::movedHere(uint32_t page) const {
    // Rows with the deleted flag alone hold moved records' data (a deleted record's rows carry
    // 0x4000 beside it, as Access leaves them); keeping the bytes of a stray one loses nothing.
    const auto& p = a_.pages();
    const uint8_t* bytes = p.read(page);
    std::vector<int> out;
    for (int r = 0, n = rd16(bytes + fmt::layout(p.pageSize).dataRowCount); r < n; ++r) {
        const RowSlot s = JetFile::slotIn(bytes, p.pageSize, page, r);
        if (s.deleted && !s.overflow) out.push_back(r);
    }
    return out;
}

RowId JetRowMover::place(const TableDef& t, RowId first, RowId at, const QByteArray& row,
                         const std::function<uint32_t()>& newPage) {
    const auto& p = a_.pages();
    const int ps = p.pageSize;
    // Where the bytes are, when packing the page makes room.
    QByteArray trial(reinterpret_cast<const char*>(p.read(at.page)), ps);
    if (JetFile::repackDataPage(reinterpret_cast<uint8_t*>(trial.data()), ps, at.row, row, movedHere(at.page))) {
        std::memcpy(p.write(at.page), trial.constData(), size_t(ps));
        return at;
    }
    if (row.size() + 2 > ps - fmt::layout(ps).dataRowTable)
        throw FormatError("the record is longer than a page holds (" + std::to_string(row.size()) + " bytes)");
    uint32_t target = pageForRow(t, int(row.size()), {first.page, at.page});
    if (target == 0) target = newPage();
    const int r = JetFile::appendRow(p.write(target), ps, row);
    if (r < 0) throw FormatError("page " + std::to_string(target) + " cannot take the moved record");
    p.write(target)[fmt::layout(p.pageSize).dataRowTable + 2 * r + 1] |= kDeletedHigh;
    const RowId to{target, uint8_t(r)};

    if (at == first) {
        // The first place shrinks to the pointer.
        QByteArray page(reinterpret_cast<const char*>(p.read(first.page)), ps);
        auto* bytes = reinterpret_cast<uint8_t*>(page.data());
        if (!JetFile::repackDataPage(bytes, ps, first.row, pointerTo(to), movedHere(first.page)))
            throw FormatError("the record's place cannot take the pointer to its new page");
        bytes[fmt::layout(p.pageSize).dataRowTable + 2 * first.row + 1] |= kOverflowHigh;
        std::memcpy(p.write(first.page), page.constData(), size_t(ps));
        hasRoomAgain(t, first.page);
    } else {
        // Moved once more: the old row of its data is given up, the pointer follows.
        markDeleted(at, kDeletedHigh | kOverflowHigh);
        const RowSlot s = JetFile::slotIn(p.read(first.page), ps, first.page, first.row);
        if (s.end - s.start < 4) throw FormatError("the record's pointer to its data is short");
        std::memcpy(p.write(first.page) + s.start, pointerTo(to).constData(), 4);
        hasRoomAgain(t, at.page);
    }
    return to;
}

uint32_t JetRowMover::pageForRow(const TableDef& t, int rowSize, const std::vector<uint32_t>& avoid) {
    const auto& p = a_.pages();
    uint32_t best = 0, packable = 0;
    int bestFree = -1;
    for (uint32_t pg : a_.pagesOf(t.freePagesMap)) {
        if (pg >= p.end() || std::find(avoid.begin(), avoid.end(), pg) != avoid.end() || !a_.listed(t.ownedPagesMap, pg)) continue;
        const uint8_t* bytes = p.read(pg);
        if (bytes[0] != PageData || rd32(bytes + 4) != t.firstPage) continue;
        const int n = rd16(bytes + fmt::layout(p.pageSize).dataRowCount), free = rd16(bytes + fmt::kDataFreeSpace);
        if (n < kMaxRows && free >= rowSize + 2) {
            if (free > bestFree) {
                best = pg;
                bestFree = free;
            }
            continue;
        }
        // The bytes of deleted rows (not those of moved records) come back when the page is packed.
        int reclaimable = free;
        const std::vector<int> keep = movedHere(pg);
        for (int r = 0; r < n; ++r) {
            const RowSlot s = JetFile::slotIn(bytes, p.pageSize, pg, r);
            if (s.deleted && std::find(keep.begin(), keep.end(), r) == keep.end()) reclaimable += s.end - s.start;
        }
        if (n < kMaxRows && reclaimable >= rowSize + 2) {
            if (!packable) packable = pg;
        } else {
            // Too full for rows like this one: off the map until a delete gives room back.
            a_.setListed(t.freePagesMap, pg, false);
        }
    }
    if (best || !packable) return best;
    QByteArray page(reinterpret_cast<const char*>(p.read(packable)), p.pageSize);
    const std::vector<int> keep = movedHere(packable);
    const RowSlot first = JetFile::slotIn(p.read(packable), p.pageSize, packable, 0);
    const bool dropFirst = first.deleted && std::find(keep.begin(), keep.end(), 0) == keep.end();
    const QByteArray row0 = dropFirst ? QByteArray() : page.mid(first.start, first.end - first.start);
    if (!JetFile::repackDataPage(reinterpret_cast<uint8_t*>(page.data()), p.pageSize, 0, row0, keep)) return 0;
    std::memcpy(p.write(packable), page.constData(), size_t(p.pageSize));
    return packable;
}

void JetRowMover::remove(const TableDef& t, RowId first, RowId at) {
    // 0x4000 beside the deleted flag, as Access often leaves deleted rows: readers that take 0x4000
    // for the mark then agree.
    markDeleted(first, kDeletedHigh | kOverflowHigh);
    if (!(at == first)) markDeleted(at, kDeletedHigh | kOverflowHigh);
    hasRoomAgain(t, first.page);
    if (at.page != first.page) hasRoomAgain(t, at.page);
}

void JetRowMover::markDeleted(RowId r, uint8_t flags) {
    const auto& p = a_.pages();
    JetFile::slotIn(p.read(r.page), p.pageSize, r.page, r.row);  // must exist
    p.write(r.page)[fmt::layout(p.pageSize).dataRowTable + 2 * r.row + 1] |= flags;
}

void JetRowMover::hasRoomAgain(const TableDef& t, uint32_t page) {
    if (a_.listed(t.ownedPagesMap, page)) a_.setListed(t.freePagesMap, page, true);
}

}  // namespace dao::jet
