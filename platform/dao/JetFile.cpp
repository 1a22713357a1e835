#include "JetFile.h"
#include "JetFormat.h"
#include "JetCodePage.h"

#include <sys/mman.h>
#include <unistd.h>

#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <set>

namespace dao::jet {

using namespace fmt;

namespace {

// Reads a table definition spread over pages as one buffer with checked access.
class DefReader {
public:
    explicit DefReader(const QByteArray& b) : b_(b) {}
    int pos = 0;
    void need(int n, const char* what) const {
        if (n < 0 || pos + n > b_.size())
            throw FormatError(std::string("the table definition ends inside ") + what);
    }
    const uint8_t* at(int n, const char* what) {
        need(n, what);
        const auto* p = reinterpret_cast<const uint8_t*>(b_.constData()) + pos;
        pos += n;
        return p;
    }
    uint8_t u8(const char* what) { return *at(1, what); }
    uint16_t u16(const char* what) { return rd16(at(2, what)); }
    uint32_t u32(const char* what) { return rd32(at(4, what)); }
    const QByteArray& bytes() const { return b_; }

private:
    const QByteArray& b_;
};

std::array<uint8_t, kHeaderMaskLength> makeHeaderMask() {
    // RC4 keystream of the key 0x6b39dac7 (stored little-endian).
    const uint8_t key[4] = {0xc7, 0xda, 0x39, 0x6b};
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % 4]) & 0xff;
        std::swap(s[i], s[j]);
    }
    std::array<uint8_t, kHeaderMaskLength> out{};
    for (int n = 0, i = 0, j = 0; n < kHeaderMaskLength; ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        out[size_t(n)] = s[(s[i] + s[j]) & 0xff];
    }
    return out;
}

}  // namespace

const uint8_t* headerMask() {
    static const std::array<uint8_t, kHeaderMaskLength> mask = makeHeaderMask();
    return mask.data();
}

const ColumnDef* TableDef::columnByNumber(int number) const {
    for (const ColumnDef& c : columns)
        if (c.number == number) return &c;
    return nullptr;
}

QString TableDef::indexName(const IndexData& d) const {
    QStringList names;
    for (const LogicalIndex& l : indexes)
        if (l.dataNumber == d.number) names << l.name;
    QStringList cols;
    for (const IndexColumn& ic : d.columns) {
        const ColumnDef* c = columnByNumber(ic.columnNumber);
        cols << (c ? c->name : QString("#%1").arg(ic.columnNumber));
    }
    return QString("%1 (%2)").arg(names.isEmpty() ? QString("#%1").arg(d.number) : names.join("/"), cols.join(", "));
}

JetFile::~JetFile() {
    if (data_) file_.unmap(const_cast<uint8_t*>(data_));
}

std::unique_ptr<JetFile> JetFile::open(const QString& path) {
    std::unique_ptr<JetFile> f(new JetFile);
    f->file_.setFileName(path);
    if (!f->file_.open(QIODevice::ReadOnly))
        throw FormatError(("cannot open the file: " + f->file_.errorString()).toStdString());
    f->size_ = f->file_.size();
    if (f->size_ < 4096) throw FormatError("the file is shorter than one page");
    f->data_ = f->file_.map(0, f->size_);
    if (!f->data_) throw FormatError("cannot map the file into memory");
    const uint8_t* h = f->data_;
    if (std::memcmp(h + 4, "Standard Jet DB", 15) != 0 && std::memcmp(h + 4, "Standard ACE DB", 15) != 0)
        throw FormatError("the file has no Jet or ACE signature");
    switch (h[kVersionOffset]) {
        case 0: f->version_ = JetVersion::Jet3; break;
        case 1: f->version_ = JetVersion::Jet4; break;
        case 2: f->version_ = JetVersion::Ace12; break;
        case 3: f->version_ = JetVersion::Ace14; break;
        default: f->version_ = JetVersion::Newer; break;
    }
    f->pageSize_ = f->version_ == JetVersion::Jet3 ? 2048 : 4096;
    f->pageCount_ = uint32_t(f->size_ / f->pageSize_);

    uint8_t hdr[kHeaderMaskLength];
    for (int i = 0; i < kHeaderMaskLength; ++i) hdr[i] = h[kHeaderMaskStart + i] ^ headerMask()[i];
    auto rel = [&](int off) { return hdr + (off - kHeaderMaskStart); };
    f->encoded_ = rd32(rel(kEncodingKeyOffset)) != 0;
    if (f->isJet3()) {
        f->sortOrder_ = rd16(rel(kJet3SortOrderOffset));
        f->codePage_ = rd16(rel(kJet3CodePageOffset));
        const uint8_t* pwd = rel(kPasswordOffset);
        for (int i = 0; i < kJet3PasswordLength; ++i)
            if (pwd[i] != 0) f->hasPassword_ = true;
        return f;
    }
    f->sortOrder_ = rd16(rel(kSortOrderOffset));
    // The password is masked once more with the whole part of the creation date.
    double created;
    std::memcpy(&created, rel(kCreationDateOffset), 8);
    const uint32_t dateMask = std::isfinite(created) ? uint32_t(int64_t(created)) : 0;
    const uint8_t* pwd = rel(kPasswordOffset);
    for (int i = 0; i < kPasswordLength; ++i) {
        const uint8_t m = uint8_t(dateMask >> (8 * (i % 4)));
        if ((pwd[i] ^ m) != 0) f->hasPassword_ = true;
    }
    return f;
}

QString JetFile::decodeText(const ColumnDef& c, const uint8_t* p, int n) {
    return c.codePage ? JetCodePage::decode(c.codePage, p, n) : decodeText(p, n);
}

const uint8_t* JetFile::page(uint32_t n) const {
    if (n >= pageCount_) throw FormatError("page " + std::to_string(n) + " is outside the file");
    return data_ + qint64(n) * pageSize_;
}

namespace {
constexpr uint32_t kPagesHeld = 4096;  // 16 MB of 4 KB pages
}

void JetFile::forgetReadPages() const {
    // The mapping is shared and read-only, so dropping it loses nothing.
    if (data_) ::madvise(const_cast<uint8_t*>(data_), size_t(size_), MADV_DONTNEED);
}

uint32_t JetFile::readPages(uint32_t first, uint32_t count, uint8_t* buf) const {
    page(first);  // throws for a page outside the file
    count = std::min(count, pageCount_ - first);
    const size_t want = size_t(count) * size_t(pageSize_);
    const int fd = file_.handle();
    size_t got = 0;
    while (fd >= 0 && got < want) {
        const ssize_t r = ::pread(fd, buf + got, want - got, off_t(first) * pageSize_ + off_t(got));
        if (r <= 0) break;
        got += size_t(r);
    }
    return uint32_t(got / size_t(pageSize_));
}

const uint8_t* JetFile::pageCopy(uint32_t n, uint8_t* buf) const {
    return readPages(n, 1, buf) == 1 ? buf : page(n);
}

std::vector<uint8_t> JetFile::pageTypes(const std::atomic<bool>* stop) const {
    std::vector<uint8_t> out(pageCount_);
    constexpr uint32_t kChunk = 256;
    std::vector<uint8_t> buf(size_t(kChunk) * size_t(pageSize_));
    uint32_t p = 0;
    while (p < pageCount_) {
        if (stop && stop->load(std::memory_order_relaxed)) throw FormatError("the scan was stopped");
        const uint32_t n = readPages(p, kChunk, buf.data());
        // A file cut short under a scan in the background must not be read through the mapping.
        if (n == 0 && stop) throw FormatError("page " + std::to_string(p) + " cannot be read");
        if (n == 0) break;  // the rest from the mapping, which says what went wrong
        for (uint32_t k = 0; k < n; ++k) out[p + k] = buf[size_t(k) * size_t(pageSize_)];
        p += n;
    }
    for (; p < pageCount_; ++p) out[p] = pageType(p);
    return out;
}

int JetFile::rowCount(uint32_t pageNo) const {
    const uint8_t* p = page(pageNo);
    const Layout& L = layout(pageSize_);
    const int n = rd16(p + L.dataRowCount);
    if (L.dataRowTable + 2 * n > pageSize_)
        throw FormatError("data page " + std::to_string(pageNo) + " claims " + std::to_string(n) + " rows");
    return n;
}

RowSlot JetFile::slot(uint32_t pageNo, int row) const { return slotIn(page(pageNo), pageSize_, pageNo, row); }

void JetFile::badSlot(const uint8_t* p, int pageSize, uint32_t pageNo, int row) {
    const Layout& L = layout(pageSize);
    const int n = rd16(p + L.dataRowCount);
    if (L.dataRowTable + 2 * n > pageSize)
        throw FormatError("data page " + std::to_string(pageNo) + " claims " + std::to_string(n) + " rows");
    if (row < 0 || row >= n)
        throw FormatError("row " + std::to_string(row) + " is not on page " + std::to_string(pageNo));
    const int start = rd16(p + L.dataRowTable + 2 * row) & kRowOffsetMask;
    const int end = row == 0 ? pageSize : (rd16(p + L.dataRowTable + 2 * (row - 1)) & kRowOffsetMask);
    throw FormatError("row " + std::to_string(row) + " of page " + std::to_string(pageNo) +
                      " lies outside its page (" + std::to_string(start) + ".." + std::to_string(end) + ")");
}

RowId JetFile::overflowTarget(uint32_t pageNo, int row) const {
    const RowSlot s = slot(pageNo, row);
    if (s.end - s.start < 4)
        throw FormatError("the overflow pointer of row " + std::to_string(row) + " on page " +
                          std::to_string(pageNo) + " is short");
    const RowId target = RowId::fromWord(rd32(page(pageNo) + s.start));
    if (pageType(target.page) != PageData)
        throw FormatError("an overflow pointer leads to page " + std::to_string(target.page) +
                          ", which is not a data page");
    slot(target.page, target.row);  // must exist
    return target;
}

QString JetFile::decodeText(const uint8_t* p, int n) {
    QString out;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        // Compressed: one-byte characters, each 00 byte switches to two-byte ones and back.
        bool oneByte = true;
        int i = 2;
        while (i < n) {
            if (p[i] == 0) {
                oneByte = !oneByte;
                ++i;
            } else if (oneByte) {
                out += QChar(char16_t(p[i]));
                ++i;
            } else if (i + 1 < n) {
                out += QChar(char16_t(p[i] | p[i + 1] << 8));
                i += 2;
            } else {
                break;
            }
        }
        return out;
    }
    out.reserve(n / 2);
    for (int i = 0; i + 1 < n; i += 2) out += QChar(char16_t(p[i] | p[i + 1] << 8));
    return out;
}

TableDef JetFile::readTableDef(uint32_t firstPage, const QString& name) const {
    const Layout& L = layout(pageSize_);
    TableDef t;
    t.name = name;
    t.firstPage = firstPage;
    t.pageSize = pageSize_;
    QByteArray buf;
    std::set<uint32_t> seen;
    for (uint32_t pg = firstPage; pg != 0;) {
        if (!seen.insert(pg).second) throw FormatError("the table definition's pages form a loop");
        const uint8_t* p = page(pg);
        if (p[0] != PageTableDef)
            throw FormatError("page " + std::to_string(pg) + " should hold a table definition but has type " +
                              std::to_string(p[0]));
        t.pages.push_back(pg);
        if (buf.isEmpty())
            buf.append(reinterpret_cast<const char*>(p), pageSize_);
        else
            buf.append(reinterpret_cast<const char*>(p) + L.tdefContinuationStart, pageSize_ - L.tdefContinuationStart);
        pg = rd32(p + L.tdefNextPage);
    }
    DefReader r(buf);
    const auto* b = reinterpret_cast<const uint8_t*>(buf.constData());
    if (buf.size() < L.tdefBlocks) throw FormatError("the table definition is shorter than its header");
    t.definitionLength = int(rd32(b + L.tdefLength));
    t.rowCount = rd32(b + L.tdefRowCount);
    t.nextAutoNumber = rd32(b + L.tdefAutoNumber);
    t.tableType = b[L.tdefTableType];
    t.maxColumns = rd16(b + L.tdefMaxCols);
    t.varColumns = rd16(b + L.tdefVarCols);
    const int numColumns = rd16(b + L.tdefColumns);
    const uint32_t numLogical = rd32(b + L.tdefLogicalIndexes);
    const uint32_t numData = rd32(b + L.tdefIndexData);
    t.ownedPagesMap = rd32(b + L.tdefOwnedPages);
    t.freePagesMap = rd32(b + L.tdefFreePages);
    if (numColumns > 255 || numLogical > 64 || numData > 64 || numData > numLogical + 32)
        throw FormatError("the table definition has implausible counts");

    r.pos = L.tdefBlocks;
    std::vector<uint32_t> uniqueCounts;
    for (uint32_t i = 0; i < numData; ++i) {
        const uint8_t* e = r.at(L.indexCountSize, "the index counts");
        uniqueCounts.push_back(rd32(e + 4));
    }
    auto opt8 = [](const uint8_t* c, int at) { return at < 0 ? uint8_t(0) : c[at]; };
    for (int i = 0; i < numColumns; ++i) {
        const uint8_t* c = r.at(L.columnSize, "the column definitions");
        ColumnDef col;
        col.type = c[0];
        col.number = rd16(c + L.colNumber);
        col.varIndex = rd16(c + L.colVarIndex);
        col.sortOrder = rd16(c + L.colSortOrder);
        col.precision = c[L.colPrecision];
        col.scale = c[L.colScale];
        col.sortVersion = opt8(c, L.colSortVersion);
        col.flags = c[L.colFlags];
        col.extFlags = opt8(c, L.colExtFlags);
        col.fixedOffset = rd16(c + L.colFixedOffset);
        col.length = rd16(c + L.colLength);
        // Jet 3 text is in the file's code page (the column's own field repeats it).
        if (isJet3() && (col.type == ColText || col.type == ColMemo)) col.codePage = JetCodePage::forReading(codePage_);
        t.columns.push_back(col);
    }
    auto readName = [&](const char* what) {
        const int len = L.nameLengthSize == 1 ? r.u8(what) : r.u16(what);
        const uint8_t* p = r.at(len, what);
        return isJet3() ? JetCodePage::decode(codePage_, p, len) : decodeText(p, len);
    };
    for (ColumnDef& col : t.columns) col.name = readName("a column name");
    for (uint32_t i = 0; i < numData; ++i) {
        const uint8_t* d = r.at(L.indexDataSize, "the index definitions");
        IndexData idx;
        idx.number = int(i);
        for (int k = 0; k < kMaxIndexColumns; ++k) {
            const uint16_t colNo = rd16(d + L.idxColumns + 3 * k);
            if (colNo == 0xFFFF) continue;
            if (!t.columnByNumber(colNo))
                throw FormatError("an index names column number " + std::to_string(colNo) + ", which the table lacks");
            idx.columns.push_back({colNo, (d[L.idxColumns + 3 * k + 2] & 0x01) != 0});
        }
        idx.usageMap = rd32(d + L.idxUsageMap);
        idx.rootPage = rd32(d + L.idxRoot);
        idx.flags = d[L.idxFlags];
        idx.uniqueEntryCount = uniqueCounts[i];
        t.indexData.push_back(idx);
    }
    for (uint32_t i = 0; i < numLogical; ++i) {
        const uint8_t* l = r.at(L.logicalIndexSize, "the index list");
        LogicalIndex li;
        li.number = int(rd32(l + L.liNumber));
        li.dataNumber = int(rd32(l + L.liDataNumber));
        li.kind = l[L.liKind];
        if (li.dataNumber < 0 || uint32_t(li.dataNumber) >= numData)
            throw FormatError("an index refers to stored index " + std::to_string(li.dataNumber) + ", which is missing");
        t.indexes.push_back(li);
    }
    for (LogicalIndex& li : t.indexes) li.name = readName("an index name");
    // Then the long-value columns' own page maps, ended by 0xFFFF.
    for (;;) {
        const uint16_t colNo = r.u16("the long-value column list");
        if (colNo == 0xFFFF) break;
        const uint8_t* m = r.at(8, "the long-value column list");
        t.longValueMaps.push_back({colNo, rd32(m), rd32(m + 4)});
    }
    t.parsedLength = r.pos;
    return t;
}

std::vector<CatalogTable> JetFile::catalog() const {
    const TableDef sys = readTableDef(kCatalogPage, QStringLiteral("MSysObjects"));
    auto col = [&](const char* name) -> const ColumnDef* {
        for (const ColumnDef& c : sys.columns)
            if (c.name.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return &c;
        throw FormatError(std::string("the catalog has no column ") + name);
    };
    const ColumnDef* idCol = col("Id");
    const ColumnDef* nameCol = col("Name");
    const ColumnDef* typeCol = col("Type");
    const ColumnDef* flagsCol = col("Flags");
    auto indexOf = [&](const ColumnDef* c) { return int(c - sys.columns.data()); };

    std::vector<CatalogTable> out;
    long long live = 0;  // the catalog's records seen, of every type
    auto takePage = [&](uint32_t pg) {
        const uint8_t* p = page(pg);
        if (p[0] != PageData || rd32(p + 4) != kCatalogPage) return;
        const int n = rowCount(pg);
        for (int r = 0; r < n; ++r) {
            RowSlot s = slot(pg, r);
            if (s.deleted) continue;
            ++live;
            const uint8_t* rowPage = p;
            if (s.overflow) {
                const RowId to = overflowTarget(pg, r);
                rowPage = page(to.page);
                s = slot(to.page, to.row);
            }
            const uint8_t* row = rowPage + s.start;
            const std::vector<FieldRef> f = crackRow(sys, row, s.end - s.start);
            const FieldRef& type = f[size_t(indexOf(typeCol))];
            if (!type.present || type.size < 2 || int16_t(rd16(row + type.offset)) != kCatalogTypeTable) continue;
            const FieldRef& id = f[size_t(indexOf(idCol))];
            const FieldRef& nm = f[size_t(indexOf(nameCol))];
            const FieldRef& fl = f[size_t(indexOf(flagsCol))];
            if (!id.present || id.size < 4 || !nm.present) continue;
            CatalogTable ct;
            ct.name = decodeText(*nameCol, row + nm.offset, nm.size);
            ct.tdefPage = rd32(row + id.offset) & 0x00FFFFFF;
            ct.flags = fl.present && fl.size >= 4 ? int32_t(rd32(row + fl.offset)) : 0;
            out.push_back(ct);
        }
    };
    // The pages the catalog's usage map names, when they hold every record its definition counts:
    // a large file is not read whole for a few pages. Otherwise (a map that lost a page, a count
    // left stale) every page is looked at.
    try {
        std::vector<uint32_t> mapped = sys.ownedPagesMap ? usageMapPages(sys.ownedPagesMap) : std::vector<uint32_t>();
        if (!mapped.empty() && std::is_sorted(mapped.begin(), mapped.end()) && mapped.back() < pageCount_) {
            for (uint32_t pg : mapped)
                if (pg >= 1) takePage(pg);
            if (live == static_cast<long long>(sys.rowCount) && !out.empty()) return out;
        }
    } catch (const FormatError&) {
    }
    out.clear();
    live = 0;
    for (uint32_t pg = 1; pg < pageCount_; ++pg) {
        // Every page is looked at: the scan lets them go in parts (see forgetReadPages).
        if (pg % kPagesHeld == 0) forgetReadPages();
        takePage(pg);
    }
    if (pageCount_ > kPagesHeld) forgetReadPages();
    return out;
}

RowLayout JetFile::rowLayout(const TableDef& t, const uint8_t* row, int len) {
    RowLayout l;
    rowLayout(t, row, len, l);
    return l;
}

void JetFile::rowLayout(const TableDef& t, const uint8_t* row, int len, RowLayout& l) {
    const int f = layout(t.pageSize).rowFieldSize;  // 1 in Jet 3, else 2
    auto field = [&](int at) { return f == 1 ? int(row[at]) : int(rd16(row + at)); };
    if (len < f) throw FormatError("a row is shorter than its column count");
    l.dataStart = f;
    l.varCount = 0;
    l.hasVarTable = false;
    l.varOffsets.clear();
    l.columns = field(0);
    l.maskLength = (l.columns + 7) / 8;
    if (f + l.maskLength > len) throw FormatError("a row is shorter than its null mask");
    l.eod = len - l.maskLength;
    if (t.varColumns > 0) {
        l.hasVarTable = true;
        const int varCountPos = len - l.maskLength - f;
        if (varCountPos < f) throw FormatError("a row is too short for its variable-length columns");
        l.varCount = field(varCountPos);
        // Jet 3: one-byte offsets, and before the count a jump table: for each 256 bytes of the row,
        // the first entry at or past that mark (0xFF: none).
        const int jumps = f == 1 ? (len - 1) / 256 : 0;
        const int tableEnd = varCountPos - jumps;
        const int tableStart = tableEnd - f * (l.varCount + 1);
        if (tableStart < f) throw FormatError("a row's variable-length offset table does not fit in the row");
        std::vector<int>& offsets = l.varOffsets;
        offsets.resize(size_t(l.varCount) + 1);
        int used = 0;
        for (int i = 0; i <= l.varCount; ++i) {
            while (used < jumps && row[varCountPos - 1 - used] == i) ++used;
            offsets[size_t(i)] = field(tableEnd - f * (i + 1)) + 256 * used;
        }
        l.eod = offsets.back();
        offsets.pop_back();
        if (l.eod > tableStart) throw FormatError("a row's data runs into its offset table");
        int prev = f;
        for (int i = 0; i < l.varCount; ++i) {
            if (l.varOffsets[size_t(i)] < prev || l.varOffsets[size_t(i)] > l.eod)
                throw FormatError("a row's variable-length offsets are out of order");
            prev = l.varOffsets[size_t(i)];
        }
    }
    l.fixedEnd = l.varCount > 0 ? l.varOffsets[0] : l.eod;
}

bool JetFile::buildRow(const TableDef& t, int columns, const QByteArray& fixed, const std::vector<QByteArray>& var,
                       const QByteArray& mask, int length, QByteArray& out) {
    const int f = layout(t.pageSize).rowFieldSize;
    // Written in place into a buffer of the record's length (every add builds a record).
    auto put = [f](char*& o, int v) {
        *o++ = char(v & 0xff);
        if (f == 2) *o++ = char(v >> 8 & 0xff);
    };
    auto copy = [](char*& o, const QByteArray& b) {
        if (!b.isEmpty()) std::memcpy(o, b.constData(), size_t(b.size()));
        o += b.size();
    };
    const int head = f + int(fixed.size());
    if (t.varColumns == 0) {
        out.resize(head + mask.size());
        char* o = out.data();
        put(o, columns);
        copy(o, fixed);
        copy(o, mask);
        return length == 0 || out.size() == length;
    }
    const int n = int(var.size());
    int eod = head;
    for (const QByteArray& v : var) eod += int(v.size());
    const int tail = f * (n + 1) + f + int(mask.size());  // offsets, eod, count, mask
    // Compact: no unused bytes (the record is placed anew); else the record keeps its length.
    int len = length;
    if (len == 0) {
        len = eod + tail;
        if (f == 1)
            for (int jumps = 0; (len - 1) / 256 != jumps;) {
                jumps = (len - 1) / 256;
                len = eod + tail + jumps;
            }
    }
    const int jumps = f == 1 ? (len - 1) / 256 : 0;
    const int tableStart = len - tail - jumps;
    if (eod > tableStart) return false;
    if (f == 1 && n + 1 >= 0xFF) return false;  // an entry number would read as "no jump"
    out.resize(len);
    char* o = out.data();
    put(o, columns);
    copy(o, fixed);
    std::vector<int> offsets(size_t(n) + 1);
    for (int i = 0; i < n; ++i) {
        offsets[size_t(i)] = int(o - out.constData());
        copy(o, var[size_t(i)]);
    }
    offsets[size_t(n)] = eod;
    std::memset(o, 0, size_t(tableStart - eod));
    o += tableStart - eod;
    for (int i = n; i >= 0; --i) put(o, offsets[size_t(i)]);
    for (int k = jumps - 1; k >= 0; --k) {
        int first = 0xFF;
        for (int i = 0; i <= n; ++i)
            if (offsets[size_t(i)] >= 256 * (k + 1)) {
                first = i;
                break;
            }
        *o++ = char(first);
    }
    put(o, n);
    copy(o, mask);
    return o - out.constData() == len;
}

std::vector<FieldRef> JetFile::crackRow(const TableDef& t, const uint8_t* row, int len) const {
    std::vector<FieldRef> out;
    RowLayout l;
    crackRow(t, row, len, out, l);
    return out;
}

void JetFile::crackRow(const TableDef& t, const uint8_t* row, int len, std::vector<FieldRef>& out, RowLayout& l) {
    rowLayout(t, row, len, l);
    const uint8_t* mask = row + len - l.maskLength;
    auto bit = [&](int colNo) { return colNo < l.columns && (mask[colNo / 8] >> (colNo % 8) & 1) != 0; };
    out.assign(t.columns.size(), FieldRef{});
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const ColumnDef& c = t.columns[i];
        FieldRef& f = out[i];
        const bool notNull = bit(c.number);
        if (c.type == ColBoolean) {
            f.present = notNull;
            continue;
        }
        if (!notNull) continue;
        if (c.isFixed()) {
            const int start = l.dataStart + c.fixedOffset;
            if (start + c.length > l.fixedEnd)
                throw FormatError("column " + c.name.toStdString() + " lies past the row's fixed-length area");
            f = {true, start, c.length};
        } else {
            if (c.varIndex >= l.varCount)
                throw FormatError("column " + c.name.toStdString() + " is marked present but has no offset");
            const int start = l.varOffsets[size_t(c.varIndex)];
            const int end = c.varIndex + 1 < l.varCount ? l.varOffsets[size_t(c.varIndex) + 1] : l.eod;
            f = {true, start, end - start};
        }
    }
}

std::vector<uint32_t> JetFile::usageMapPages(uint32_t mapRow, const PageSource& pages) const {
    const RowId where = RowId::fromWord(mapRow);
    auto pageOf = [&](uint32_t n) { return pages ? pages(n) : page(n); };
    if (where.page == 0 || pageOf(where.page)[0] != PageData)
        throw FormatError("a usage map points to page " + std::to_string(where.page) + ", not a data page");
    const RowSlot s = slotIn(pageOf(where.page), pageSize_, where.page, where.row);
    if (s.deleted || s.end - s.start < 1) throw FormatError("a usage map's row is missing");
    const uint8_t* p = pageOf(where.page) + s.start;
    const int len = s.end - s.start;
    std::vector<uint32_t> out;
    if (p[0] == 0) {
        if (len < 5) throw FormatError("an inline usage map is too short");
        const uint32_t startPage = rd32(p + 1);
        for (int i = 5; i < len; ++i)
            for (int b = 0; b < 8; ++b)
                if (p[i] >> b & 1) out.push_back(startPage + uint32_t((i - 5) * 8 + b));
    } else if (p[0] == 1) {
        const uint32_t perPage = uint32_t(pageSize_ - 4) * 8;
        for (int i = 1, k = 0; i + 4 <= len; i += 4, ++k) {
            const uint32_t mp = rd32(p + i);
            if (mp == 0) continue;
            const uint8_t* m = pageOf(mp);
            if (m[0] != PageUsageMap)
                throw FormatError("a usage map refers to page " + std::to_string(mp) + ", which is not a map page");
            for (int j = 4; j < pageSize_; ++j)
                for (int b = 0; b < 8; ++b)
                    if (m[j] >> b & 1) out.push_back(uint32_t(k) * perPage + uint32_t((j - 4) * 8 + b));
        }
    } else {
        throw FormatError("a usage map has the unknown type " + std::to_string(p[0]));
    }
    return out;
}

bool JetFile::repackDataPage(uint8_t* page, int pageSize, int row, const QByteArray& newRow, const std::vector<int>& keep) {
    const Layout& L = layout(pageSize);
    const int kDataRowCount = L.dataRowCount, kDataRowTable = L.dataRowTable;
    const int n = rd16(page + kDataRowCount);
    if (row < 0 || row >= n || kDataRowTable + 2 * n > pageSize) return false;
    std::vector<QByteArray> rows(static_cast<size_t>(n));
    std::vector<uint16_t> flags(static_cast<size_t>(n));
    int total = 0;
    for (int i = 0; i < n; ++i) {
        const uint16_t raw = rd16(page + kDataRowTable + 2 * i);
        const int start = raw & kRowOffsetMask;
        const int end = i == 0 ? pageSize : (rd16(page + kDataRowTable + 2 * (i - 1)) & kRowOffsetMask);
        if (start < kDataRowTable + 2 * n || end > pageSize || start > end) return false;
        flags[size_t(i)] = raw & (kRowDeleted | kRowOverflow);
        if (i == row)
            rows[size_t(i)] = newRow;
        else if (!(raw & kRowDeleted) || std::find(keep.begin(), keep.end(), i) != keep.end())
            rows[size_t(i)] = QByteArray(reinterpret_cast<const char*>(page + start), end - start);
        total += int(rows[size_t(i)].size());
    }
    const int header = kDataRowTable + 2 * n;
    if (header + total > pageSize) return false;
    QByteArray out(pageSize, '\0');
    std::memcpy(out.data(), page, size_t(kDataRowTable));
    int pos = pageSize;
    for (int i = 0; i < n; ++i) {
        pos -= int(rows[size_t(i)].size());
        std::memcpy(out.data() + pos, rows[size_t(i)].constData(), size_t(rows[size_t(i)].size()));
        const uint16_t v = uint16_t(pos | flags[size_t(i)]);
        out[kDataRowTable + 2 * i] = char(v & 0xff);
        out[kDataRowTable + 2 * i + 1] = char(v >> 8);
    }
    const int free = pos - header;
    out[2] = char(free & 0xff);
    out[3] = char(free >> 8);
    std::memcpy(page, out.constData(), size_t(pageSize));
    return true;
}

int JetFile::appendRow(uint8_t* page, int pageSize, const QByteArray& row) {
    const Layout& L = layout(pageSize);
    const int kDataRowCount = L.dataRowCount, kDataRowTable = L.dataRowTable;
    const int n = rd16(page + kDataRowCount);
    if (n >= 255 || kDataRowTable + 2 * (n + 1) > pageSize) return -1;
    int lowest = pageSize;
    for (int i = 0; i < n; ++i) lowest = std::min(lowest, rd16(page + kDataRowTable + 2 * i) & kRowOffsetMask);
    const int start = lowest - int(row.size());
    if (start < kDataRowTable + 2 * (n + 1)) return -1;
    std::memcpy(page + start, row.constData(), size_t(row.size()));
    page[kDataRowTable + 2 * n] = uint8_t(start & 0xff);
    page[kDataRowTable + 2 * n + 1] = uint8_t(start >> 8);
    page[kDataRowCount] = uint8_t((n + 1) & 0xff);
    page[kDataRowCount + 1] = uint8_t((n + 1) >> 8);
    const int free = start - (kDataRowTable + 2 * (n + 1));
    page[2] = uint8_t(free & 0xff);
    page[3] = uint8_t(free >> 8);
    return n;
}

int JetFile::compareEntries(const IndexEntry& a, const IndexEntry& b) {
    // Unsigned bytes, then the shorter key first: memcmp's order. Every add descends by it.
    const qsizetype n = std::min(a.key.size(), b.key.size());
    if (const int c = n ? std::memcmp(a.key.constData(), b.key.constData(), size_t(n)) : 0; c != 0) return c < 0 ? -1 : 1;
    if (a.key.size() != b.key.size()) return a.key.size() < b.key.size() ? -1 : 1;
    if (a.row == b.row) return 0;
    return a.row < b.row ? -1 : 1;
}

IndexPage JetFile::readIndexPage(uint32_t pageNo, bool withKeys) const {
    return parseIndexPage(page(pageNo), pageSize_, pageNo, withKeys);
}

bool JetFile::encodeLeafPage(uint8_t* p, int pageSize, const std::vector<IndexEntry>& entries) {
    // Access's own leaf pages in the real files share no prefix between entries; neither do ours.
    const Layout& L = layout(pageSize);
    const int kIndexMask = L.indexMask, kIndexMaskSize = L.indexMaskSize, kIndexEntries = L.indexEntries(),
              kIndexPrefix = L.indexPrefix;
    const int prefix = 0;
    QByteArray body;
    std::vector<int> ends;
    for (size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& e = entries[i];
        body += i == 0 ? e.key : e.key.mid(prefix);
        body += char(e.row.page >> 16 & 0xff);
        body += char(e.row.page >> 8 & 0xff);
        body += char(e.row.page & 0xff);
        body += char(e.row.row);
        ends.push_back(int(body.size()));
    }
    const int room = pageSize - kIndexEntries;
    if (body.size() > room || (ends.empty() ? 0 : ends.back()) >= kIndexMaskSize * 8) return false;
    std::memset(p + kIndexMask, 0, size_t(kIndexMaskSize));
    for (int end : ends) p[kIndexMask + end / 8] |= uint8_t(1 << (end % 8));
    std::memset(p + kIndexEntries, 0, size_t(room));
    std::memcpy(p + kIndexEntries, body.constData(), size_t(body.size()));
    p[kIndexPrefix] = uint8_t(prefix & 0xff);
    if (L.indexPrefixSize == 2) p[kIndexPrefix + 1] = uint8_t(prefix >> 8);
    const int free = room - int(body.size());
    p[2] = uint8_t(free & 0xff);
    p[3] = uint8_t(free >> 8);
    return true;
}

IndexPage JetFile::parseIndexPage(const uint8_t* p, int pageSize, uint32_t pageNo, bool withKeys) {
    const int pageSize_ = pageSize;
    const Layout& L = layout(pageSize);
    const int kIndexMask = L.indexMask, kIndexMaskSize = L.indexMaskSize, kIndexEntries = L.indexEntries();
    IndexPage ip;
    ip.type = p[0];
    if (ip.type != PageIndexNode && ip.type != PageIndexLeaf)
        throw FormatError("page " + std::to_string(pageNo) + " should be an index page but has type " +
                          std::to_string(ip.type));
    ip.freeSpace = rd16(p + 2);
    ip.prev = rd32(p + L.indexPrev);
    ip.next = rd32(p + L.indexNext);
    ip.tail = rd32(p + L.indexTail);
    ip.prefixLength = L.indexPrefixSize == 1 ? p[L.indexPrefix] : rd16(p + L.indexPrefix);
    const bool leaf = ip.type == PageIndexLeaf;
    if (leaf && !withKeys) return ip;  // a walk over a large table's leaves needs their links only
    const int trailer = leaf ? 4 : 8;
    const int room = pageSize_ - kIndexEntries;
    QByteArray prefix;
    int last = 0;
    for (int i = 0; i < kIndexMaskSize; ++i) {
        const uint8_t m = p[kIndexMask + i];
        if (!m) continue;
        for (int b = 0; b < 8; ++b) {
            if (!(m >> b & 1)) continue;
            const int end = i * 8 + b;
            if (end > room)
                throw FormatError("index page " + std::to_string(pageNo) + " marks an entry past its end");
            // The entry: the shared prefix, its own bytes, and the trailer (row, child).
            const auto* own = p + kIndexEntries + last;
            const int ownSize = end - last;
            const int lead = int(prefix.size());  // none before the first entry sets the prefix
            const int size = lead + ownSize;
            if (size < trailer + 1 || ownSize < trailer)
                throw FormatError("index page " + std::to_string(pageNo) + " holds an entry too short to be one");
            if (ip.entries.empty() && ip.prefixLength > 0) {
                if (ip.prefixLength > size)
                    throw FormatError("index page " + std::to_string(pageNo) + " has a prefix longer than its first entry");
                prefix = QByteArray(reinterpret_cast<const char*>(own), ip.prefixLength);  // prefix is empty here
            }
            const uint8_t* t = own + ownSize - trailer;
            IndexEntry entry;
            entry.row.page = uint32_t(t[0]) << 16 | uint32_t(t[1]) << 8 | t[2];
            entry.row.row = t[3];
            if (!leaf) entry.child = uint32_t(t[4]) << 24 | uint32_t(t[5]) << 16 | uint32_t(t[6]) << 8 | t[7];
            if (withKeys) {
                entry.key.reserve(size - trailer);
                entry.key.append(prefix.constData(), lead);
                entry.key.append(reinterpret_cast<const char*>(own), ownSize - trailer);
            }
            ip.entries.push_back(std::move(entry));
            ip.usedBytes = end;
            last = end;
        }
    }
    return ip;
}

QByteArray JetFile::readLongValue(const uint8_t* header, int fieldSize, std::vector<RowId>* visited,
                                  const PageSource& pages) const {
    if (fieldSize < 12) throw FormatError("a long value's header is short");
    const uint32_t word = rd32(header);
    const uint32_t length = word & 0x3FFFFFFF;
    const uint32_t kind = word & 0xC0000000;
    if (kind == 0x80000000) {
        if (int64_t(length) != fieldSize - 12)
            throw FormatError("an inline long value's length does not match its field");
        return QByteArray(reinterpret_cast<const char*>(header + 12), int(length));
    }
    auto rowBytes = [&](RowId id, const char* what) {
        const uint8_t* pg = id.page == 0 || (!pages && id.page >= pageCount_) ? nullptr : pages ? pages(id.page) : page(id.page);
        if (!pg || pg[0] != PageData || std::memcmp(pg + 4, "LVAL", 4) != 0)
            throw FormatError(std::string(what) + " points to page " + std::to_string(id.page) +
                              ", which is not a long-value page");
        const RowSlot s = slotIn(pg, pageSize_, id.page, id.row);
        if (s.deleted) throw FormatError(std::string(what) + " points to a deleted row");
        if (visited) visited->push_back(id);
        return std::make_pair(pg + s.start, s.end - s.start);
    };
    if (kind == 0x40000000) {
        const auto [p, n] = rowBytes(RowId::fromWord(rd32(header + 4)), "a one-row long value");
        if (uint32_t(n) != length) throw FormatError("a one-row long value's row length differs from its declared length");
        return QByteArray(reinterpret_cast<const char*>(p), n);
    }
    if (kind != 0) throw FormatError("a long value has unknown storage bits");
    QByteArray out;
    std::set<uint32_t> seen;
    uint32_t next = rd32(header + 4);
    while (next != 0) {
        if (!seen.insert(next).second) throw FormatError("a long-value chain loops");
        const auto [p, n] = rowBytes(RowId::fromWord(next), "a long-value chain");
        if (n < 4) throw FormatError("a long-value chain row is too short");
        out.append(reinterpret_cast<const char*>(p + 4), n - 4);
        if (uint32_t(out.size()) > length) throw FormatError("a long-value chain holds more than its declared length");
        next = rd32(p);
    }
    if (uint32_t(out.size()) != length)
        throw FormatError("a long-value chain ends after " + std::to_string(out.size()) + " of " +
                          std::to_string(length) + " bytes");
    return out;
}

}  // namespace dao::jet
