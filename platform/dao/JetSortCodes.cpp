#include "JetSortCodes.h"

#include <cstring>

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

constexpr uint16_t kSortGeneral = 1033;
constexpr int kLines = 0x10000 - (0xE000 - 0xD800);

QByteArray hexBytes(const char* s, const char* end) {
    QByteArray hex(s, int(end - s));
    if (hex.size() % 2) hex.prepend('0');
    return QByteArray::fromHex(hex);
}

}  // namespace

JetSortCodes::JetSortCodes(const QString& name, const char* codes, Units units)
    : name_(name), codes_(codes), units_(units) {
    lineStart_.reserve(kLines);
    for (const char* p = codes; *p;) {
        lineStart_.push_back(uint32_t(p - codes));
        p = std::strchr(p, '\n');
        if (!p) break;
        ++p;
    }
    if (lineStart_.size() != size_t(kLines)) lineStart_.clear();  // never the case for the generated table
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
    static const JetSortCodes codes(QStringLiteral("General"), sortcodes::kGeneral, Units::TwoBytes);
    return codes;
}

const JetSortCodes& JetSortCodes::generalLegacy() {
    static const JetSortCodes codes(QStringLiteral("General Legacy"), sortcodes::kGeneralLegacy, Units::OneOrTwoBytes);
    return codes;
}

const JetSortCodes* JetSortCodes::forColumn(const ColumnDef& c) {
    if (c.type != ColText || c.sortOrder != kSortGeneral) return nullptr;
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
    const char* text = codes_ + lineStart_[ch < 0xD800 ? ch : ch - (0xE000 - 0xD800)];
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
