#include "JetTextKey.h"
#include "JetCodePage.h"

#include <vector>

namespace dao::jet {

namespace {

constexpr char kEndText = 0x01;
constexpr char kEndKey = 0x00;
constexpr uint8_t kNoExtra = 0x02;        // the extra code of a letter without one
constexpr char kUnprintableMark = 0x06;
constexpr int kUnprintableBase = 7;
constexpr int kUnprintableStep = 4;
constexpr int kUnprintableFlag = 0x8000;
constexpr uint8_t kKanaByte = 0x80;       // kana marks go three to a byte after these two bits
constexpr uint8_t kKanaPlain = 3;         // a mark left out at the end
const char kKanaEnd[] = {char(0xFF), char(0x02), char(0x80), char(0xFF), char(0x80)};
constexpr char kKanaBeforeUnprintable = char(0xFF);

// The character at i, whole (a pair of surrogates is one).
QString describe(const QString& value, int i) {
    char32_t cp = value[i].unicode();
    int n = 1;
    if (value[i].isHighSurrogate() && i + 1 < value.size() && value[i + 1].isLowSurrogate()) {
        cp = QChar::surrogateToUcs4(value[i], value[i + 1]);
        n = 2;
    }
    const QString hex = QString("U+%1").arg(uint(cp), 4, 16, QChar('0')).toUpper();
    const QString text = value.mid(i, n);
    const bool printable = n == 2 ? QChar::isPrint(cp) : value[i].isPrint();
    return printable ? QString("'%1' (%2)").arg(text, hex) : hex;
}

QString letterCount(int n) {
    static const char* const words[] = {"one", "two", "three", "four"};
    return n >= 1 && n <= 4 ? QString(words[n - 1]) : QString::number(n);
}

// How many places a letter whose count is not known takes in the extra part.
enum class Places { AsLetters, One };

// The key's bytes after the flag, ascending. The first character whose places are not known and
// count is reported in `unsure`.
std::optional<QByteArray> keyBody(const JetSortCodes& codes, const QString& value, int length, Places unknown,
                                  int* unsure, QString* why) {
    QByteArray inlinePart, extra, unprintable, kana;
    bool hasKana = false;
    int chars = 0;        // places taken by characters with inline codes so far
    int extraChars = 0;   // places the extra part accounts for
    int extraPrefix = 0;  // modifier bytes at the very start of the extra part
    for (int i = 0; i < length; ++i) {
        const QChar ch = value[i];
        const JetSortCodes::Code code = codes.code(ch.unicode());
        if (code.kind == JetSortCodes::Unknown) {
            if (why) *why = QString("the character %1 has no known place in the \"%2\" sort order").arg(describe(value, i), codes.name());
            return std::nullopt;
        }
        const int places = code.placesKnown || unknown == Places::AsLetters ? code.places : 1;
        if (!code.placesKnown && unsure && *unsure < 0) *unsure = i;
        const int at = chars;
        if (!code.inlineBytes.isEmpty()) {
            inlinePart += code.inlineBytes;
            chars += places;
        }
        const bool hasExtra = !code.extra.isEmpty() &&
                              (code.kind == JetSortCodes::International || code.kind == JetSortCodes::Kana);
        if (hasExtra || code.kind == JetSortCodes::ExtraModifier) {
            // Letters before this one without an extra code hold a placeholder.
            if (extraChars < at) {
                extra.append(at - extraChars, char(kNoExtra));
                extraChars = at;
            }
            if (hasExtra) {
                // One extra code per letter; those it leaves out at its end have none.
                extra += code.extra;
                if (places > 1 && code.extra.size() < places) extra.append(places - int(code.extra.size()), char(kNoExtra));
                extraChars += places > 1 ? std::max(places, int(code.extra.size())) : 1;
            } else if (!extra.isEmpty()) {
                extra[extra.size() - 1] = char(uint8_t(extra[extra.size() - 1]) + code.modifier);
            } else {
                extra += char(code.modifier);
                extraPrefix = 1;
            }
        } else if (code.kind == JetSortCodes::Unprintable) {
            // Its place counts the extra part's bytes, as if it were written out in full.
            const int place = extra.isEmpty() && extraPrefix == 0 ? at : int(extra.size()) + (at - extraChars) - extraPrefix;
            const int mark = (kUnprintableBase + kUnprintableStep * place) | kUnprintableFlag;
            unprintable += char(mark >> 8 & 0xff);
            unprintable += char(mark & 0xff);
            unprintable += kUnprintableMark;
            unprintable += code.extra;
        }
        if (code.kind == JetSortCodes::Kana) {
            hasKana = true;
            kana += char(code.kanaMark);
        }
    }
    // Placeholders at the end say nothing.
    while (!extra.isEmpty() && uint8_t(extra.back()) <= kNoExtra) extra.chop(1);

    QByteArray body = inlinePart;
    body += kEndText;
    body += extra;
    if (hasKana || !unprintable.isEmpty()) {
        body += kEndText;
        body += kEndText;
    }
    if (hasKana) {
        // The marks of the kana in order, plain ones at the end left out; the closing bytes come
        // even when none is left.
        while (!kana.isEmpty() && uint8_t(kana.back()) == kKanaPlain) kana.chop(1);
        for (int i = 0; i < kana.size(); i += 3) {
            uint8_t b = kKanaByte;
            for (int j = 0; j < 3 && i + j < kana.size(); ++j) b |= uint8_t(uint8_t(kana[i + j]) << (2 * (2 - j)));
            body += char(b);
        }
        body.append(kKanaEnd, int(sizeof kKanaEnd));
        if (!unprintable.isEmpty()) body += kKanaBeforeUnprintable;
    }
    if (!unprintable.isEmpty()) {
        body += kEndText;
        body += unprintable;
    }
    return body;
}

// Access 97: the inline codes, then either an end mark or the accent part as half-bytes: a zero,
// for each accented character the places of the letters before it (since the last accent) and its
// accent code, a closing zero. Characters are coded by their byte in the code page.
std::optional<QByteArray> keyBody97(const JetSortCodes& codes, const QString& value, int length, QString* why) {
    QByteArray body;
    std::vector<uint8_t> nibbles;
    int letters = 0;
    for (int i = 0; i < length; ++i) {
        const QChar ch = value[i];
        const int byte = JetCodePage::westernByte(ch.unicode());
        const JetSortCodes::Code code = codes.code(char16_t(byte < 0 ? 0xFFFF : byte));
        if (byte < 0 || code.kind == JetSortCodes::Unknown) {
            if (why) *why = QString("the character %1 has no known place in the \"%2\" sort order").arg(describe(value, i), codes.name());
            return std::nullopt;
        }
        body += code.inlineBytes;
        if (code.kind == JetSortCodes::Significant) {
            ++letters;
        } else if (code.kind == JetSortCodes::International) {
            if (nibbles.empty()) nibbles.push_back(0);
            nibbles.insert(nibbles.end(), size_t(letters), kNoExtra);
            nibbles.push_back(code.extra.isEmpty() ? 0 : uint8_t(code.extra[0]) & 0x0F);
            letters = 0;
        }
    }
    if (nibbles.empty()) {
        body += kEndKey;
        return body;
    }
    nibbles.push_back(0);
    for (size_t i = 0; i < nibbles.size(); i += 2)
        body += char(nibbles[i] << 4 | (i + 1 < nibbles.size() ? nibbles[i + 1] : 0));
    return body;
}

}  // namespace

std::optional<QByteArray> JetTextKey::encode(const JetSortCodes& codes, const QString& value, bool ascending,
                                             QString* why) {
    if (codes.isGeneral97()) {
        int length = int(value.size());
        while (length > 0 && value[length - 1] == QChar(' ')) --length;
        if (length > kMaxChars) {
            if (why) *why = QString("a text longer than %1 characters is cut off in the key").arg(kMaxChars);
            return std::nullopt;
        }
        auto body = keyBody97(codes, value, length, why);
        if (!body) return std::nullopt;
        if (ascending) return char(0x7F) + *body;
        for (char& b : *body) b = char(~uint8_t(b));
        return char(0x80) + *body;
    }
    // Trailing blanks do not count in the order.
    int length = int(value.size());
    while (length > 0 && value[length - 1] == QChar(' ')) --length;
    if (length > kMaxChars) {
        if (why) *why = QString("a text longer than %1 characters is cut off in the key").arg(kMaxChars);
        return std::nullopt;
    }
    int unsure = -1;
    auto body = keyBody(codes, value, length, Places::AsLetters, &unsure, why);
    if (!body) return std::nullopt;
    // Where the count of places decides the bytes, a guess could put the entry out of order.
    if (unsure >= 0 && keyBody(codes, value, length, Places::One, nullptr, nullptr) != body) {
        if (why)
            *why = QString("the character %1 sorts as %2 letters, and where the accents after it go in the \"%3\" "
                           "sort order is not known")
                       .arg(describe(value, unsure), letterCount(codes.code(value[unsure].unicode()).places))
                       .arg(codes.name());
        return std::nullopt;
    }
    body->append(kEndKey);
    if (ascending) return char(0x7F) + *body;
    for (char& b : *body) b = char(~uint8_t(b));
    return char(0x80) + *body + kEndKey;
}

}  // namespace dao::jet
