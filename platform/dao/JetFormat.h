#pragma once

// Where things are in a Jet 4 / ACE file (4096-byte pages): the one home of the format's offsets for
// the page reader, the writer's parts and the check. Jet 3 (2048-byte pages) is read through libmdb
// only and never written.

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

// Data pages (and long-value pages): free space at 2, owner at 4, row count, then the row offsets.
constexpr int kDataFreeSpace = 2;
constexpr int kDataRowCount = 12;
constexpr int kDataRowTable = 14;
constexpr uint16_t kRowDeleted = 0x8000;
constexpr uint16_t kRowOverflow = 0x4000;
constexpr uint16_t kRowOffsetMask = 0x1fff;

// Table definitions.
constexpr int kTdefNextPage = 4;
constexpr int kTdefContinuationStart = 8;  // continuation pages carry an 8-byte header
constexpr int kTdefLength = 8;
constexpr int kTdefRowCount = 16;
constexpr int kTdefAutoNumber = 20;
constexpr int kTdefTableType = 40;
constexpr int kTdefMaxCols = 41;
constexpr int kTdefVarCols = 43;
constexpr int kTdefColumns = 45;
constexpr int kTdefLogicalIndexes = 47;
constexpr int kTdefIndexData = 51;
constexpr int kTdefOwnedPages = 55;
constexpr int kTdefFreePages = 59;
constexpr int kTdefBlocks = 63;
constexpr int kIndexCountSize = 12;
constexpr int kColumnSize = 25;
constexpr int kIndexDataSize = 52;
constexpr int kLogicalIndexSize = 28;
constexpr int kMaxIndexColumns = 10;
constexpr int kMaxRowsPerPage = 255;

// Index pages (leaf 0x04, node 0x03): free space at 2, then the links and the entry mask.
constexpr int kIndexFreeSpace = 2;
constexpr int kIndexPrev = 12;
constexpr int kIndexNext = 16;
constexpr int kIndexTail = 20;
constexpr int kIndexPrefix = 24;
constexpr int kIndexMask = 27;
constexpr int kIndexMaskSize = 453;
constexpr int kIndexEntries = kIndexMask + kIndexMaskSize;  // 0x1e0

// The catalog (MSysObjects).
constexpr uint32_t kCatalogPage = 2;
constexpr int kCatalogTypeTable = 1;

}  // namespace dao::jet::fmt
