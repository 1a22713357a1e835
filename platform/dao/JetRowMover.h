#pragma once

// Records that outgrow their page. A record keeps its first place (the row its indexes and the
// engine's working copy know it by); when its new bytes do not fit on that page even with the
// page's rows packed again, they go to a row on another page of the table and the first place
// holds only a 4-byte pointer to it, with the overflow flag (0x4000) on its offset. The row holding
// the data carries the deleted mark (0x8000) so that a scan of the table's pages meets the record
// once, through its first place; when the data moves again or the record is deleted, that row gets
// the full deleted mark (0xC000) like any deleted row.

#include <QByteArray>
#include <functional>
#include <vector>

#include "JetFile.h"
#include "JetPageAllocator.h"

namespace dao::jet {

class JetRowMover {
public:
    explicit JetRowMover(JetPageAllocator& allocator) : a_(allocator) {}

    // The records of t in the order the engine's reader (libmdb) lists them, each by its first
    // place: pages in map order, rows in page order, rows with 0x4000 left out (libmdb takes that
    // flag for the deleted mark), rows with only 0x8000 read as records (for a moved record, that
    // row holds its data).
    std::vector<RowId> readerOrder(const TableDef& t) const;
    // One page of that order: nothing unless it is a data page of the table whose definition is at
    // owner; else each row read as a record (data(row)) and each moved record's pointer
    // (moved(row, slot)), in page order.
    template <typename Data, typename Moved>
    static void readerRows(const uint8_t* page, int pageSize, uint32_t pageNo, uint32_t owner, Data data, Moved moved) {
        if (page[0] != PageData || rd32(page + 4) != owner) return;
        for (int r = 0, n = rd16(page + fmt::layout(pageSize).dataRowCount); r < n; ++r) {
            const RowSlot s = JetFile::slotIn(page, pageSize, pageNo, r);
            if (!s.overflow)
                data(r);
            else
                moved(r, s);
        }
    }

    // Rows of page holding the data of moved records: they carry the deleted mark but keep their
    // bytes when the page is packed again.
    std::vector<int> movedHere(uint32_t page) const;

    // Puts a record's new bytes (row) in place; first is its first place, at where its bytes are
    // now. On at's page when packing it makes room, else on another page of the table (newPage
    // gives one when none has room). Returns where the bytes went; throws FormatError, the
    // statement's pages then to be given back, when they cannot be placed.
    RowId place(const TableDef& t, RowId first, RowId at, const QByteArray& row,
                const std::function<uint32_t()>& newPage);

    // A page of t for a new row of rowSize bytes: one of its free-space map with room, else one
    // whose deleted rows' bytes make room once the page is packed (it is packed then); 0 when none
    // has room. Pages in avoid are not taken.
    uint32_t pageForRow(const TableDef& t, int rowSize, const std::vector<uint32_t>& avoid = {});

    // Deletes a record: its first place and, for a moved record, the row of its data get the
    // deleted mark; their pages go back into the table's free-space map.
    void remove(const TableDef& t, RowId first, RowId at);

private:
    void markDeleted(RowId r, uint8_t flags);
    void hasRoomAgain(const TableDef& t, uint32_t page);

    JetPageAllocator& a_;
};

}  // namespace dao::jet
