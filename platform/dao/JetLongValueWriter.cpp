#include "JetLongValueWriter.h"
#include "JetFormat.h"

#include <algorithm>
#include <cstring>

namespace dao::jet {

namespace {

constexpr uint16_t kOffsetMask = 0x1FFF;
// Long-value rows given up carry both flag bits, as Access leaves them.
constexpr uint16_t kGivenUp = 0xC000;
constexpr uint32_t kInline = 0x80000000u;
constexpr uint32_t kOneRow = 0x40000000u;
constexpr uint32_t kMaxLength = 0x3FFFFFFFu;
// Compressed text only up to this many characters; longer Memo text stays UCS-2.
constexpr int kMaxCompressedChars = 1024;
// A chain does not take scraps: a piece goes on a page only with this much room.
constexpr int kMinPiece = 256;

void put32(QByteArray& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += char(v >> (8 * i) & 0xff);
}

uint32_t wordOf(RowId id) { return id.page << 8 | id.row; }

bool isLongValuePage(const uint8_t* p) { return p[0] == PageData && std::memcmp(p + 4, "LVAL", 4) == 0; }

// Bytes a new row may take on the page, its offset slot counted; -1 when no row can be added.
int roomOn(const uint8_t* p, int pageSize) {
    const int kRowCountAt = fmt::layout(pageSize).dataRowCount, kRowTableAt = fmt::layout(pageSize).dataRowTable;
    const int n = rd16(p + kRowCountAt);
    if (n >= 255 || kRowTableAt + 2 * (n + 1) > pageSize) return -1;
    int lowest = pageSize;
    for (int i = 0; i < n; ++i) lowest = std::min(lowest, rd16(p + kRowTableAt + 2 * i) & kOffsetMask);
    return lowest - (kRowTableAt + 2 * (n + 1));
}

}  // namespace

JetLongValueWriter::JetLongValueWriter(const JetFile& file, Pages pages) : file_(file), pages_(std::move(pages)) {}

std::optional<QByteArray> JetLongValueWriter::dataOf(const ColumnDef& c, const JetValue& v, QString* why) {
    if (c.type == ColOle) {
        if (v.kind != JetValue::Blob) return std::nullopt;
        return v.bytes;
    }
    if (c.type != ColMemo || v.kind == JetValue::Blob || v.kind == JetValue::Null) return std::nullopt;
    const QString text = v.kind == JetValue::Text ? QString::fromUtf8(v.bytes)
                         : v.kind == JetValue::Int ? QString::number(v.i)
                                                   : QString::number(v.d, 'g', 15);
    if (const QString refusal = JetValueCodec::codePageRefusal(c, text); !refusal.isEmpty()) {
        if (why) *why = refusal;
        return std::nullopt;
    }
    if (text.size() <= kMaxCompressedChars) return JetValueCodec::encodeText(c, text);
    ColumnDef plain = c;
    plain.extFlags = uint8_t(plain.extFlags & ~0x01);
    return JetValueCodec::encodeText(plain, text);
}

QByteArray JetLongValueWriter::inlineField(const QByteArray& data) {
    QByteArray out;
    out.reserve(12 + data.size());
    put32(out, kInline | uint32_t(data.size()));
    put32(out, 0);
    put32(out, 0);
    return out + data;
}

std::vector<JetLongValueWriter::Room> JetLongValueWriter::pagesWithRoom(const TableDef& t, const ColumnDef& c, int minRow) const {
    std::vector<Room> out;
    const uint32_t map = t.longValuePagesMap(c.number);
    if (map == 0) return out;
    std::vector<uint32_t> pages;
    try {
        pages = file_.usageMapPages(map, pages_.read);
    } catch (const FormatError&) {
        return out;  // no page of a map we cannot read is used
    }
    for (uint32_t p : pages) {
        const uint8_t* bytes = nullptr;
        try {
            bytes = pages_.read(p);
        } catch (const FormatError&) {
            continue;
        }
        if (!isLongValuePage(bytes)) continue;
        const int room = std::min(roomOn(bytes, file_.pageSize()), maxRowLength(file_.pageSize()));
        if (room >= minRow) out.push_back({p, room});
    }
    // The fullest page that still fits first keeps the roomy pages for long values.
    std::sort(out.begin(), out.end(), [](const Room& a, const Room& b) { return a.free < b.free; });
    return out;
}

std::optional<RowId> JetLongValueWriter::placeRow(const TableDef& t, const ColumnDef& c, const QByteArray& row, QString& why) {
    const std::vector<Room> rooms = pagesWithRoom(t, c, int(row.size()));
    uint32_t page = 0;
    if (!rooms.empty()) {
        page = rooms.front().page;
    } else {
        if (!pages_.newPage) {
            why = QString("The long-value pages of field '%1' are full.").arg(c.name);
            return std::nullopt;
        }
        try {
            page = pages_.newPage(c);
        } catch (const FormatError& e) {
            why = QString("No page can be added for the values of field '%1' (%2).").arg(c.name, e.what());
            return std::nullopt;
        }
    }
    const int at = JetFile::appendRow(pages_.write(page), file_.pageSize(), row);
    if (at < 0) {
        why = QString("A long-value page of field '%1' has no room for the value.").arg(c.name);
        return std::nullopt;
    }
    roomChanged(c, page);
    return RowId{page, uint8_t(at)};
}

void JetLongValueWriter::roomChanged(const ColumnDef& c, uint32_t page) {
    if (pages_.roomy) pages_.roomy(c, page, roomOn(pages_.read(page), file_.pageSize()) >= kMinPiece);
}

bool JetLongValueWriter::store(const TableDef& t, const ColumnDef& c, const QByteArray& data, bool inlineAllowed,
                               QByteArray& field, QString& why) {
    if (uint32_t(data.size()) > kMaxLength) {
        why = QString("The value of field '%1' is too long for the file.").arg(c.name);
        return false;
    }
    if (inlineAllowed && data.size() <= kInlineLimit) {
        field = inlineField(data);
        return true;
    }
    if (t.longValuePagesMap(c.number) == 0) {
        why = QString("Field '%1' has no long-value pages in the table definition.").arg(c.name);
        return false;
    }
    const int ps = file_.pageSize();
    field.clear();
    if (data.size() <= maxRowLength(ps)) {
        const auto id = placeRow(t, c, data, why);
        if (!id) return false;
        put32(field, kOneRow | uint32_t(data.size()));
        put32(field, wordOf(*id));
        put32(field, 0);
        return true;
    }
    // A chain: each piece begins with the place of the next (0 ends it). The pieces are placed
    // first, then linked.
    std::vector<RowId> pieces;
    int done = 0;
    while (done < data.size()) {
        const int left = int(data.size()) - done;
        const int want = std::min(left + 4, maxRowLength(ps));
        const std::vector<Room> rooms = pagesWithRoom(t, c, std::min(want, kMinPiece));
        int piece = 0;
        std::optional<RowId> id;
        if (!rooms.empty()) {
            // A page that takes the rest whole, else the roomiest one.
            auto fit = std::find_if(rooms.begin(), rooms.end(), [&](const Room& r) { return r.free >= want; });
            const Room& r = fit != rooms.end() ? *fit : rooms.back();
            piece = std::min(want, r.free) - 4;
            QByteArray row(4, '\0');
            row += data.mid(done, piece);
            const int at = JetFile::appendRow(pages_.write(r.page), ps, row);
            if (at >= 0) {
                id = RowId{r.page, uint8_t(at)};
                roomChanged(c, r.page);
            }
        } else {
            piece = want - 4;
            QByteArray row(4, '\0');
            row += data.mid(done, piece);
            id = placeRow(t, c, row, why);
            if (!id) return false;
        }
        if (!id) {
            why = QString("A long-value page of field '%1' has no room for the value.").arg(c.name);
            return false;
        }
        pieces.push_back(*id);
        done += piece;
    }
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        uint8_t* p = pages_.write(pieces[i].page);
        const RowSlot s = JetFile::slotIn(p, ps, pieces[i].page, pieces[i].row);
        const uint32_t next = wordOf(pieces[i + 1]);
        for (int k = 0; k < 4; ++k) p[s.start + k] = uint8_t(next >> (8 * k));
    }
    put32(field, uint32_t(data.size()));
    put32(field, wordOf(pieces.front()));
    put32(field, 0);
    return true;
}

void JetLongValueWriter::release(const ColumnDef& c, const uint8_t* field, int size) {
    if (size < 12 || (rd32(field) & kInline) != 0) return;
    std::vector<RowId> rows;
    file_.readLongValue(field, size, &rows, pages_.read);
    for (const RowId& id : rows) {
        uint8_t* p = pages_.write(id.page);
        const int at = fmt::layout(file_.pageSize()).dataRowTable + 2 * id.row;
        const uint16_t raw = uint16_t(rd16(p + at) | kGivenUp);
        p[at] = uint8_t(raw & 0xff);
        p[at + 1] = uint8_t(raw >> 8);
        // Its bytes go back to the page: the rows are packed again, row numbers kept.
        if (!JetFile::repackDataPage(p, file_.pageSize(), id.row, QByteArray()))
            throw FormatError("long-value page " + std::to_string(id.page) + " cannot be packed again");
        roomChanged(c, id.page);
    }
}

QByteArray JetLongValueWriter::read(const uint8_t* field, int size) const {
    return file_.readLongValue(field, size, nullptr, pages_.read);
}

bool JetLongValueWriter::holds(const ColumnDef& c, bool present, const uint8_t* field, int size, const JetValue& shown) const {
    const QByteArray stored = present ? read(field, size) : QByteArray();
    if (shown.kind == JetValue::Null) return stored.isEmpty();
    if (c.type == ColOle) return shown.kind == JetValue::Blob && stored == shown.bytes;
    const QString text = shown.kind == JetValue::Text ? QString::fromUtf8(shown.bytes)
                         : shown.kind == JetValue::Int ? QString::number(shown.i)
                         : shown.kind == JetValue::Real ? QString::number(shown.d, 'g', 15)
                                                        : QString();
    return JetFile::decodeText(c, reinterpret_cast<const uint8_t*>(stored.constData()), int(stored.size())) == text;
}

}  // namespace dao::jet
