#pragma once

// A page-level view of a Jet file (.mdb/.accdb), independent of libmdb: header, table
// definitions, rows, usage maps and index pages, every read bounds-checked. The consistency check
// and the in-place writer are built on it; neither may trust a byte they have not checked.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "JetFormat.h"

namespace dao::jet {

// A file (or a part of it) that does not follow the format as we know it.
class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class JetVersion { Jet3, Jet4, Ace12, Ace14, Newer };

// Page types (the first byte of every page).
enum PageType : uint8_t {
    PageHeader = 0x00,
    PageData = 0x01,
    PageTableDef = 0x02,
    PageIndexNode = 0x03,
    PageIndexLeaf = 0x04,
    PageUsageMap = 0x05,
};

// Column types as stored in a table definition.
enum ColumnType : uint8_t {
    ColBoolean = 0x01,
    ColByte = 0x02,
    ColInteger = 0x03,
    ColLong = 0x04,
    ColCurrency = 0x05,
    ColSingle = 0x06,
    ColDouble = 0x07,
    ColDateTime = 0x08,
    ColBinary = 0x09,
    ColText = 0x0A,
    ColOle = 0x0B,
    ColMemo = 0x0C,
    ColGuid = 0x0F,
    ColNumeric = 0x10,
    ColComplex = 0x12,
    ColBigInt = 0x13,  // Large Number (Access 2016 and later): a signed 64-bit integer
    ColExtDate = 0x14, // Date/Time Extended (Access 2019 and later): 42 bytes of digits as text
};

// A row's place: page number and row number on that page. Stored as one 32-bit word in table
// definitions and long-value headers (row in the low byte).
struct RowId {
    uint32_t page = 0;
    uint8_t row = 0;
    static RowId fromWord(uint32_t w) { return {w >> 8, uint8_t(w & 0xff)}; }
    bool operator==(const RowId& o) const { return page == o.page && row == o.row; }
    bool operator<(const RowId& o) const { return page != o.page ? page < o.page : row < o.row; }
};

struct ColumnDef {
    uint8_t type = 0;
    int number = 0;       // the column's number in rows (null mask bit); counts deleted columns
    int varIndex = 0;     // entry in a row's variable-length offset table
    int fixedOffset = 0;  // offset in a row's fixed-length area
    int length = 0;       // declared size in bytes (0 for Memo/OLE)
    uint8_t flags = 0;
    uint8_t extFlags = 0;
    uint16_t sortOrder = 0;   // text columns: the collation (0x409 General)
    uint8_t sortVersion = 0;  // text columns: 0 legacy, 1 the newer General order
    uint8_t precision = 0;    // Decimal
    uint8_t scale = 0;        // Decimal
    uint16_t codePage = 0;    // Jet 3 text: the code page its bytes are in; 0: UCS-2 (Jet 4 / ACE)
    QString name;
    bool isFixed() const { return (flags & 0x01) != 0; }
    bool isAutoNumber() const { return (flags & 0x04) != 0; }
    bool isLongValue() const { return type == ColMemo || type == ColOle; }
};

struct IndexColumn {
    int columnNumber = 0;
    bool ascending = true;
};

// An index's stored entries (several logical indexes may share one).
struct IndexData {
    int number = 0;
    std::vector<IndexColumn> columns;
    uint32_t usageMap = 0;  // row holding the map of the index's pages
    uint32_t rootPage = 0;
    uint8_t flags = 0;      // 0x01 unique, 0x02 ignore nulls, 0x08 required
    uint32_t uniqueEntryCount = 0;
    bool ignoresNulls() const { return (flags & 0x02) != 0; }
    bool unique() const { return (flags & 0x01) != 0; }
};

struct LogicalIndex {
    int number = 0;
    int dataNumber = 0;  // which IndexData backs it
    uint8_t kind = 0;    // 1 primary key, 2 foreign key
    QString name;
};

struct TableDef {
    QString name;
    uint32_t firstPage = 0;
    int pageSize = 4096;          // of its file: which layout its definition and rows have
    std::vector<uint32_t> pages;  // the definition's pages, in order
    uint32_t rowCount = 0;
    uint32_t nextAutoNumber = 0;
    uint8_t tableType = 0;  // 0x4e user, 0x53 system
    int maxColumns = 0;
    int varColumns = 0;
    std::vector<ColumnDef> columns;  // in definition order
    std::vector<IndexData> indexData;
    std::vector<LogicalIndex> indexes;
    uint32_t ownedPagesMap = 0;  // row holding the map of the table's data pages
    uint32_t freePagesMap = 0;   // row holding the map of its pages with free space
    struct LongValueMaps {
        int column = 0;          // column number
        uint32_t owned = 0, free = 0;
    };
    std::vector<LongValueMaps> longValueMaps;  // the long-value pages of each Memo/OLE column
    // The row holding the map of a Memo/OLE column's long-value pages; 0 when it has none.
    uint32_t longValuePagesMap(int column) const {
        for (const LongValueMaps& m : longValueMaps)
            if (m.column == column) return m.owned;
        return 0;
    }
    int definitionLength = 0;    // bytes the definition says it has
    int parsedLength = 0;        // bytes we understood

    const ColumnDef* columnByNumber(int number) const;
    // "name" or "name (index of col1, col2)" for messages.
    QString indexName(const IndexData& d) const;
};

// One catalog row of MSysObjects that describes a table.
struct CatalogTable {
    QString name;
    uint32_t tdefPage = 0;
    int32_t flags = 0;
    bool isSystem() const { return (uint32_t(flags) & 0x80000002u) != 0 || name.startsWith("MSys"); }
};

// A cracked row: for each column of the table definition (same order), where its bytes are.
struct FieldRef {
    bool present = false;  // not null (for Yes/No: the value)
    int offset = 0;        // from the row's start
    int size = 0;
};

// The parts of a row (offsets from its start).
struct RowLayout {
    int dataStart = 2;     // where the fixed-length area begins (after the column count)
    int columns = 0;       // columns the row was written with (size of its null mask in bits)
    int maskLength = 0;
    int varCount = 0;      // entries in its variable-length offset table
    std::vector<int> varOffsets;
    int eod = 0;           // end of the variable-length data
    int fixedEnd = 0;      // end of the fixed-length area
    bool hasVarTable = false;
};

// Where a row lives on its page.
struct RowSlot {
    int start = 0;   // offset on the page
    int end = 0;     // one past its last byte
    bool deleted = false;
    bool overflow = false;  // the row holds only a pointer to where the data moved
};

// One index entry: the key bytes (flag bytes included, any shared prefix restored) and the row.
struct IndexEntry {
    QByteArray key;
    RowId row;
    uint32_t child = 0;  // node entries: the page below
};

struct IndexPage {
    uint8_t type = 0;
    uint32_t prev = 0, next = 0, tail = 0;
    int prefixLength = 0;
    int freeSpace = 0;
    int usedBytes = 0;  // entry bytes as stored (after prefix compression)
    std::vector<IndexEntry> entries;
};

class JetFile {
public:
    // Pages as someone else holds them (a writer's pending copies over the file).
    using PageSource = std::function<const uint8_t*(uint32_t)>;

    // Opens the file read-only (mapped). Throws FormatError when it is not a Jet/ACE file we can
    // read at page level (too short, unknown version, encoded pages).
    static std::unique_ptr<JetFile> open(const QString& path);
    ~JetFile();

    JetVersion version() const { return version_; }
    bool isJet3() const { return version_ == JetVersion::Jet3; }
    int pageSize() const { return pageSize_; }
    uint32_t pageCount() const { return pageCount_; }
    uint16_t sortOrder() const { return sortOrder_; }
    // Jet 3: the code page its text is stored in (0 for Jet 4 / ACE: UCS-2).
    uint16_t codePage() const { return codePage_; }
    // The database password is set / the pages are RC4-encoded.
    bool hasPassword() const { return hasPassword_; }
    bool encoded() const { return encoded_; }

    // A whole page; throws FormatError for a page number outside the file.
    const uint8_t* page(uint32_t n) const;
    // Lets the process's view of the pages read so far go (the system keeps them cached; a later
    // read maps them again): a scan of a large file would otherwise keep all of it resident.
    void forgetReadPages() const;
    uint8_t pageType(uint32_t n) const { return page(n)[0]; }
    // The type of every page, in order, read through the system a megabyte at a time. With stop (a
    // scan in the background) it throws FormatError once stop is set or a page cannot be read,
    // instead of reading that page through the mapping.
    std::vector<uint8_t> pageTypes(const std::atomic<bool>* stop = nullptr) const;
    // Up to count pages from first read into buf (count * pageSize() bytes): how many whole pages
    // were read, 0 when none could be. Throws as page() does for first.
    uint32_t readPages(uint32_t first, uint32_t count, uint8_t* buf) const;
    // Page n copied into buf (pageSize() bytes), which is returned; throws as page() does. For walks
    // that visit pages here and there: mapping a page costs a fault, on some systems ten times a
    // read of it, and a scan of every page of a large file pays that for each.
    const uint8_t* pageCopy(uint32_t n, uint8_t* buf) const;

    // Rows of a data page.
    int rowCount(uint32_t pageNo) const;
    RowSlot slot(uint32_t pageNo, int row) const;
    // The same from a data page's bytes (for pages not written yet). Inline: a scan asks for every
    // row of every page, and the checks rarely fail.
    static RowSlot slotIn(const uint8_t* page, int pageSize, uint32_t pageNo, int row);
    // Throws the FormatError that says why slotIn refused the row.
    [[noreturn]] static void badSlot(const uint8_t* page, int pageSize, uint32_t pageNo, int row);

    // The tables of MSysObjects (local tables only), system ones included.
    std::vector<CatalogTable> catalog() const;
    TableDef readTableDef(uint32_t firstPage, const QString& name) const;

    // The row's layout; throws FormatError when it does not hold together.
    static RowLayout rowLayout(const TableDef& t, const uint8_t* row, int len);
    // The same into out, reusing its storage (a scan of many rows).
    static void rowLayout(const TableDef& t, const uint8_t* row, int len, RowLayout& out);
    // A row from its parts: the column count, the fixed-length area, the variable-length values
    // (in offset-table order) and the null mask; length 0 for no unused bytes, else exactly that
    // long. False when the parts do not fit.
    static bool buildRow(const TableDef& t, int columns, const QByteArray& fixed, const std::vector<QByteArray>& var,
                         const QByteArray& mask, int length, QByteArray& out);
    // Splits a row into its fields; throws FormatError when the row cannot be cracked.
    std::vector<FieldRef> crackRow(const TableDef& t, const uint8_t* row, int len) const;
    // The same into out (one entry per column of t), with layout as the row's layout's storage.
    static void crackRow(const TableDef& t, const uint8_t* row, int len, std::vector<FieldRef>& out, RowLayout& layout);
    // The row behind an overflow pointer, followed once; throws FormatError when it is missing.
    RowId overflowTarget(uint32_t pageNo, int row) const;

    // The pages a usage map (the row a table definition points to) marks; pages from pages when
    // given (see readLongValue).
    std::vector<uint32_t> usageMapPages(uint32_t mapRow, const PageSource& pages = {}) const;

    // withKeys false is for walks that follow the tree's pointers only: a node's entries carry
    // their row and child but no key, and a leaf's entries are not read (its links are).
    IndexPage readIndexPage(uint32_t pageNo, bool withKeys = true) const;
    // The same from a page's bytes (for pages not written yet).
    static IndexPage parseIndexPage(const uint8_t* p, int pageSize, uint32_t pageNo, bool withKeys = true);
    // Writes a leaf page's entries (sorted) into p, keeping its header links, without a shared
    // prefix (as Access writes them). False when they do not fit on one page.
    static bool encodeLeafPage(uint8_t* p, int pageSize, const std::vector<IndexEntry>& entries);
    // Puts newRow in place of a data page's row and packs the rows again from the page's end, in
    // row order (deleted rows keep their mark and take no bytes, except the rows in keep: data of
    // records moved there, which carry the mark too); row numbers stay. False, with the page
    // untouched, when the rows do not fit.
    static bool repackDataPage(uint8_t* page, int pageSize, int row, const QByteArray& newRow,
                               const std::vector<int>& keep = {});
    // Adds a row at the end of a data page's rows; its row number, or -1 when the page has no room
    // (or already 255 rows).
    static int appendRow(uint8_t* page, int pageSize, const QByteArray& row);
    // Index order: key bytes (unsigned; a key that is a prefix of another first), then the row.
    static int compareEntries(const IndexEntry& a, const IndexEntry& b);

    // Text stored in the file's Unicode form (UCS-2, possibly compressed) to a QString.
    static QString decodeText(const uint8_t* p, int n);
    // A text field's bytes as its column stores them (UCS-2, or a Jet 3 code page).
    static QString decodeText(const ColumnDef& c, const uint8_t* p, int n);
    // A long value's bytes (Memo/OLE) from its 12-byte header in a row; throws FormatError for
    // a broken chain. Pages visited are appended to visited when given. Pages come from pages when
    // given (a writer's pending pages), else from the file.
    QByteArray readLongValue(const uint8_t* header, int fieldSize, std::vector<RowId>* visited = nullptr,
                             const PageSource& pages = {}) const;

private:
    JetFile() = default;
    QFile file_;
    const uint8_t* data_ = nullptr;
    qint64 size_ = 0;
    JetVersion version_ = JetVersion::Jet4;
    int pageSize_ = 4096;
    uint32_t pageCount_ = 0;
    uint16_t sortOrder_ = 0;
    uint16_t codePage_ = 0;
    bool hasPassword_ = false;
    bool encoded_ = false;
};

// Little-endian readers over checked ranges.
inline uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t rd24(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }
inline uint32_t rd32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

inline RowSlot JetFile::slotIn(const uint8_t* p, int pageSize, uint32_t pageNo, int row) {
    const fmt::Layout& L = fmt::layout(pageSize);
    const int n = rd16(p + L.dataRowCount);
    if (L.dataRowTable + 2 * n <= pageSize && row >= 0 && row < n) {
        const uint16_t raw = rd16(p + L.dataRowTable + 2 * row);
        RowSlot s;
        s.deleted = (raw & fmt::kRowDeleted) != 0;
        s.overflow = (raw & fmt::kRowOverflow) != 0;
        s.start = raw & fmt::kRowOffsetMask;
        s.end = row == 0 ? pageSize : (rd16(p + L.dataRowTable + 2 * (row - 1)) & fmt::kRowOffsetMask);
        if (s.start >= L.dataRowTable + 2 * n && s.end <= pageSize && s.start <= s.end) return s;
    }
    badSlot(p, pageSize, pageNo, row);
}

// The header mask: 128 bytes of RC4 keystream that hide the header from offset 0x18 (Jet 3 uses the
// first 126).
const uint8_t* headerMask();

}  // namespace dao::jet
