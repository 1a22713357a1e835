#include "JetCodePage.h"

#include <QStringDecoder>

namespace dao::jet {

namespace {

// Windows-1252 from 0x80 to 0x9F (0 where the code page leaves a byte undefined: read as the C1
// control of the same number, as Windows does).
constexpr char16_t kWestern80[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 0x88
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 0x98
};

char16_t westernChar(uint8_t b) {
    if (b >= 0x80 && b < 0xA0 && kWestern80[b - 0x80]) return kWestern80[b - 0x80];
    return char16_t(b);
}

}  // namespace

int JetCodePage::westernByte(char16_t ch) {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return ch;
    for (int i = 0; i < 32; ++i)
        if (kWestern80[i] == ch) return 0x80 + i;
    // The undefined bytes stand for their C1 controls both ways.
    if (ch >= 0x80 && ch < 0xA0 && !kWestern80[ch - 0x80]) return ch;
    return -1;
}

QString JetCodePage::decode(uint16_t codePage, const uint8_t* p, int n) {
    codePage = forReading(codePage);
    if (codePage != kWestern) {
        // Other code pages are read through Qt's converters (not written, so no round trip is owed).
        QStringDecoder other(QString("windows-%1").arg(codePage).toLatin1().constData());
        if (other.isValid()) return other.decode(QByteArrayView(p, n));
    }
    QString out;
    out.reserve(n);
    for (int i = 0; i < n; ++i) out += QChar(codePage == kWestern ? westernChar(p[i]) : char16_t(p[i]));
    return out;
}

std::optional<QByteArray> JetCodePage::encode(uint16_t codePage, const QString& text, QChar* bad) {
    QByteArray out;
    out.reserve(text.size());
    for (QChar ch : text) {
        const int b = codePage == kWestern ? westernByte(ch.unicode()) : -1;
        if (b < 0) {
            if (bad) *bad = ch;
            return std::nullopt;
        }
        out += char(b);
    }
    return out;
}

}  // namespace dao::jet
