#pragma once

// Where things are in a Jet file: the one home of the format's offsets for the page reader, the
// writer's parts and the check. Jet 3 (Access 97, 2048-byte pages) and Jet 4 / ACE (4096-byte pages)
// share the structures but not their places; the page size tells which layout a file has.

#include <cstdint>

namespace dao::jet::fmt {

// The header page (from kHeaderMaskStart masked with the header mask).
constexpr int kHeaderMaskStart = 0x18;
constexpr int kHeaderMaskLength = 128;
constexpr int kVersionOffset = 0x14;
constexpr int kEncodingKeyOffset = 0x3e;
constexpr int kPasswordOffset = 0x42;
constexpr int kPasswordLength = 40;
constexpr int kSortOrderOffset = 0x6e;
constexpr int kCreationDateOffset = 0x72;
// Jet 3: a shorter mask, a 20-byte password without the date mask, the sort order and the code page
// the file's text is stored in.
constexpr int kJet3HeaderMaskLength = 126;
constexpr int kJet3PasswordLength = 20;
constexpr int kJet3SortOrderOffset = 0x3a;
constexpr int kJet3CodePageOffset = 0x3c;

constexpr uint16_t kRowDeleted = 0x8000;
constexpr uint16_t kRowOverflow = 0x4000;
constexpr uint16_t kRowOffsetMask = 0x1fff;
constexpr int kMaxRowsPerPage = 255;
constexpr int kMaxIndexColumns = 10;
constexpr int kDataFreeSpace = 2;
constexpr int kIndexFreeSpace = 2;

struct Layout {
    int pageSize;
    // Data pages (and long-value pages): free space at 2, owner at 4, row count, then the row offsets.
    int dataRowCount;
    int dataRowTable;
    // Rows: the column count, the entries of the variable-length offset table and its count take
    // this many bytes (Jet 3 rows reach past 255 bytes through a jump table).
    int rowFieldSize;

    // Table definitions.
    int tdefNextPage;
    int tdefContinuationStart;  // continuation pages carry an 8-byte header
    int tdefLength;
    int tdefRowCount;
    int tdefAutoNumber;  // the highest AutoNumber handed out
    int tdefTableType;
    int tdefMaxCols;
    int tdefVarCols;
    int tdefColumns;
    int tdefLogicalIndexes;
    int tdefIndexData;
    int tdefOwnedPages;
    int tdefFreePages;
    int tdefBlocks;
    int indexCountSize;  // per stored index: its count of unique entries at +4
    int nameLengthSize;  // names: a length of this many bytes, then the name
    // A column's block.
    int columnSize;
    int colNumber, colVarIndex, colSortOrder, colPrecision, colScale, colCodePage, colSortVersion, colFlags,
        colExtFlags, colFixedOffset, colLength;  // -1: not in this layout
    // A stored index's block: ten (column number, order) slots, its page map, root and flags.
    int indexDataSize;
    int idxColumns, idxUsageMap, idxRoot, idxFlags;
    // A logical index's block.
    int logicalIndexSize;
    int liNumber, liDataNumber, liKind;

    // Index pages (leaf 0x04, node 0x03): free space at 2, then the links and the entry mask.
    int indexPrev;
    int indexNext;
    int indexTail;
    int indexPrefix;
    int indexPrefixSize;  // bytes of the shared prefix's length
    int indexMask;
    int indexMaskSize;
    constexpr int indexEntries() const { return indexMask + indexMaskSize; }
};

inline constexpr Layout kJet4{
    4096, 12, 14, 2,
    4, 8, 8, 16, 20, 40, 41, 43, 45, 47, 51, 55, 59, 63, 12, 2,
    25, 5, 7, 11, 11, 12, -1, 14, 15, 16, 21, 23,
    52, 4, 34, 38, 46,
    28, 4, 8, 23,
    12, 16, 20, 24, 2, 27, 453,
};

inline constexpr Layout kJet3{
    2048, 8, 10, 1,
    4, 8, 8, 12, 16, 20, 21, 23, 25, 27, 31, 35, 39, 43, 8, 1,
    18, 1, 3, 9, 11, 12, 11, -1, 13, -1, 14, 16,
    39, 0, 30, 34, 38,
    20, 0, 4, 19,
    8, 12, 16, 20, 1, 22, 226,
};

constexpr const Layout& layout(int pageSize) { return pageSize == kJet3.pageSize ? kJet3 : kJet4; }

// The catalog (MSysObjects).
constexpr uint32_t kCatalogPage = 2;
constexpr int kCatalogTypeTable = 1;

}  // namespace dao::jet::fmt
