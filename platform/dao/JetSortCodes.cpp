#include "JetSortCodes.h"
#include "JetCodePage.h"

#include <cstring>
#include <iterator>
#include <string>

namespace dao::jet {

namespace sortcodes {
// JetSortCodeData.cpp, made by scripts/make-sort-codes.py. Source: see NOTICE.
extern const char kGeneral[];
extern const char kGeneralLegacy[];
}  // namespace sortcodes

namespace {

// One code per line, as published: X ignored; S<hex> inline bytes; I<hex>,<hex> inline bytes and an
// extra code; U<hex> an unprintable code; P<hex> a modifier of the extra code before it;
// Z<hex>,<hex>,<1 or nothing> inline bytes, an extra code if any and a kana mark (1: small, hiragana).
// An odd number of hex digits has a leading zero left out.

// Access 97 "General" (sort order 1033 of Jet 3 files), by the character's byte in Windows-1252. G<hex>
// marks the characters that take a place in the key's accent part. Source: see NOTICE.
const char* const kGeneral97[] = {
    "X", "S10", "S10", "S10", "S10", "S10", "S10", "S10",  // 0x00
    "S10", "S11", "S10", "S10", "S10", "S10", "S10", "S10",  // 0x08
    "S10", "S10", "S10", "S10", "S10", "S10", "S10", "S10",  // 0x10
    "S10", "S10", "S10", "S10", "S10", "S10", "S10", "S10",  // 0x18
    "S11", "S12", "S13", "S14", "S15", "S16", "S17", "S18",  // 0x20
    "S19", "S1A", "S1B", "S1C", "S1D", "S1E", "S1F", "S20",  // 0x28
    "S56", "S57", "S58", "S59", "S5A", "S5B", "S5C", "S5D",  // 0x30
    "S5E", "S5F", "S21", "S22", "S23", "S24", "S25", "S26",  // 0x38
    "S27", "G60", "S61", "G62", "S64", "G66", "S67", "S68",  // 0x40
    "S69", "G6A", "S6B", "S6C", "S6D", "S6F", "G70", "G72",  // 0x48
    "S73", "S74", "S75", "G76", "S77", "G78", "S7A", "S7B",  // 0x50
    "S7C", "G7D", "S7E", "S28", "S29", "S2A", "S2B", "S2C",  // 0x58
    "S2D", "G60", "S61", "G62", "S64", "G66", "S67", "S68",  // 0x60
    "S69", "G6A", "S6B", "S6C", "S6D", "S6F", "G70", "G72",  // 0x68
    "S73", "S74", "S75", "G76", "S77", "G78", "S7A", "S7B",  // 0x70
    "S7C", "G7D", "S7E", "S2E", "S2F", "S30", "S31", "S10",  // 0x78
    "S10", "S10", "S18", "S32", "S13", "S33", "S34", "S35",  // 0x80
    "S36", "S37", "I76,0A", "S18", "S7266", "S10", "S10", "S10",  // 0x88
    "S10", "S18", "S18", "S13", "S13", "S38", "S1E", "S1E",  // 0x90
    "S39", "S3A", "I76,0A", "S18", "S7266", "S10", "S10", "I7D,06",  // 0x98
    "S11", "S3B", "S3C", "S3D", "S3E", "S3F", "S40", "S41",  // 0xA0
    "S42", "S43", "S44", "S13", "S45", "S1E", "S46", "S47",  // 0xA8
    "S48", "S49", "S58", "S59", "S4A", "S4B", "S4C", "S4D",  // 0xB0
    "S4E", "S57", "S4F", "S13", "S50", "S51", "S52", "S53",  // 0xB8
    "I60,03", "I60,04", "I60,05", "I60,07", "I60,06", "I60,08", "S6066", "I62,09",  // 0xC0
    "I66,03", "I66,04", "I66,05", "I66,06", "I6A,03", "I6A,04", "I6A,05", "I6A,06",  // 0xC8
    "S65", "I70,07", "I72,03", "I72,04", "I72,05", "I72,07", "I72,06", "S54",  // 0xD0
    "S81", "I78,03", "I78,04", "I78,05", "I78,06", "I7D,04", "S7F", "S7676",  // 0xD8
    "I60,03", "I60,04", "I60,05", "I60,07", "I60,06", "I60,08", "S6066", "I62,09",  // 0xE0
    "I66,03", "I66,04", "I66,05", "I66,06", "I6A,03", "I6A,04", "I6A,05", "I6A,06",  // 0xE8
    "S65", "I70,07", "I72,03", "I72,04", "I72,05", "I72,07", "I72,06", "S55",  // 0xF0
    "S81", "I78,03", "I78,04", "I78,05", "I78,06", "I7D,04", "S7F", "I7D,06",  // 0xF8
};

constexpr uint16_t kSortGeneral = 1033;
constexpr int kLines = 0x10000 - (0xE000 - 0xD800);

QByteArray hexBytes(const char* s, const char* end) {
    QByteArray hex(s, int(end - s));
    if (hex.size() % 2) hex.prepend('0');
    return QByteArray::fromHex(hex);
}

}  // namespace

JetSortCodes::JetSortCodes(const QString& name, const char* codes, Units units, int lines)
    : name_(name), codes_(codes), units_(units) {
    lineStart_.reserve(size_t(lines));
    for (const char* p = codes; *p;) {
        lineStart_.push_back(uint32_t(p - codes));
        p = std::strchr(p, '\n');
        if (!p) break;
        ++p;
    }
    if (lineStart_.size() != size_t(lines)) lineStart_.clear();  // never the case for the generated table
    // In the legacy order a letter of the common scripts has a one-byte code, every other character
    // two bytes led by a byte no letter has as its whole code.
    if (units_ == Units::OneOrTwoBytes)
        for (uint32_t at : lineStart_) {
            const char* line = codes_ + at;
            if (line[0] != 'S' && line[0] != 'I' && line[0] != 'Z') continue;
            const char* end = line + 1 + std::strcspn(line + 1, ",\n");
            const QByteArray b = hexBytes(line + 1, end);
            if (b.size() == 1) oneByte_[uint8_t(b[0])] = true;
        }
}

const JetSortCodes& JetSortCodes::general() {
    static const JetSortCodes codes(QStringLiteral("General"), sortcodes::kGeneral, Units::TwoBytes, kLines);
    return codes;
}

const JetSortCodes& JetSortCodes::generalLegacy() {
    static const JetSortCodes codes(QStringLiteral("General Legacy"), sortcodes::kGeneralLegacy, Units::OneOrTwoBytes, kLines);
    return codes;
}

const JetSortCodes& JetSortCodes::general97() {
    // The same one-line-per-code form as the other orders, over the 256 bytes of the code page.
    static const std::string lines = [] {
        std::string all;
        for (const char* code : kGeneral97) (all += code) += '\n';
        return all;
    }();
    static const JetSortCodes codes(QStringLiteral("General (Access 97)"), lines.c_str(), Units::OneOrTwoBytes,
                                    int(std::size(kGeneral97)));
    return codes;
}

const JetSortCodes* JetSortCodes::forColumn(const ColumnDef& c) {
    if (c.type != ColText || c.sortOrder != kSortGeneral) return nullptr;
    if (c.codePage) return JetCodePage::writable(c.codePage) ? &general97() : nullptr;
    if (c.sortVersion == 0) return &generalLegacy();
    if (c.sortVersion == 1) return &general();
    return nullptr;
}

// The letters a character's inline bytes stand for: in the legacy order one per one-byte code or
// two-byte code; in the newer order one per two bytes, an ideograph's four bytes (led by FD) being one.
int JetSortCodes::letters(const QByteArray& b) const {
    int n = 0;
    for (int i = 0; i < b.size(); ++n) {
        const uint8_t lead = uint8_t(b[i]);
        if (units_ == Units::OneOrTwoBytes)
            i += oneByte_[lead] ? 1 : 2;
        else
            i += lead == 0xFD ? 4 : 2;
    }
    return n;
}

JetSortCodes::Code JetSortCodes::code(char16_t ch) const {
    Code out;
    if (lineStart_.empty() || (ch >= 0xD800 && ch < 0xE000)) return out;
    const size_t line = ch < 0xD800 ? ch : ch - (0xE000 - 0xD800);
    if (line >= lineStart_.size()) return out;
    const char* text = codes_ + lineStart_[line];
    const char* end = std::strchr(text, '\n');
    const char* body = text + 1;
    // The code's comma-separated parts.
    const char* parts[3] = {body, nullptr, nullptr};
    const char* ends[3] = {end, nullptr, nullptr};
    int count = 1;
    for (const char* p = body; p < end; ++p)
        if (*p == ',' && count < 3) {
            ends[count - 1] = p;
            parts[count] = p + 1;
            ends[count] = end;
            ++count;
        }
    switch (text[0]) {
        case 'X':
            out.kind = Ignored;
            return out;
        case 'G':
            out.kind = Significant;
            break;
        case 'S':
            out.kind = Simple;
            break;
        case 'I':
            if (count != 2) return out;
            out.kind = International;
            out.extra = hexBytes(parts[1], ends[1]);
            break;
        case 'Z':
            if (count != 3) return out;
            out.kind = Kana;
            out.extra = hexBytes(parts[1], ends[1]);
            out.kanaMark = (ends[2] - parts[2] == 1 && *parts[2] == '1') ? 2 : 3;
            break;
        case 'U':
            out.kind = Unprintable;
            out.extra = hexBytes(body, end);
            return out;
        case 'P':
            out.kind = ExtraModifier;
            { const QByteArray m = hexBytes(body, end); out.modifier = m.isEmpty() ? 0 : uint8_t(m[0]); }
            return out;
        default:
            return out;
    }
    out.inlineBytes = hexBytes(parts[0], ends[0]);
    out.places = letters(out.inlineBytes);
    // Keys Access wrote show the legacy order giving each letter its own place; for the newer order
    // no key shows it.
    out.placesKnown = out.places == 1 || units_ == Units::OneOrTwoBytes;
    return out;
}

}  // namespace dao::jet
