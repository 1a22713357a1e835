#include "JetProtection.h"

#include <QFile>
#include <cmath>
#include <cstring>

#include "JetFile.h"

namespace dao::jet {

namespace {

constexpr int kHeaderMaskStart = 0x18;
constexpr int kVersionOffset = 0x14;
constexpr int kEncodingKeyOffset = 0x3e;
constexpr int kPasswordOffset = 0x42;
constexpr int kPasswordLength = 40;
constexpr int kCreationDateOffset = 0x72;
// ACE: the Office encryption structure (a 16-bit length, then its version and the rest) on page 0.
constexpr int kCryptInfoOffset = 0x299;

const char kCompoundMagic[8] = {char(0xD0), char(0xCF), char(0x11), char(0xE0),
                                char(0xA1), char(0xB1), char(0x1A), char(0xE1)};

QString officeScheme(const uint8_t* info, int len) {
    const int major = rd16(info), minor = rd16(info + 2);
    const uint32_t flags = rd32(info + 4);
    if (major == 4 && minor == 4) return QStringLiteral("Office agile encryption (AES)");
    if (major == 1 && minor == 1) return QStringLiteral("Office RC4 encryption");
    if (minor == 3) return QStringLiteral("an extensible encryption provider");
    if (minor == 2) {
        if (flags & 0x20) return QStringLiteral("Office standard encryption (AES)");  // fAES
        // The header's cipher: RC4, or AES in the CryptoAPI layout (a non-standard provider).
        const uint32_t alg = len >= 24 ? rd32(info + 20) : 0;
        if (alg >= 0x660e && alg <= 0x6610) return QStringLiteral("Office CryptoAPI encryption (AES)");
        return QStringLiteral("Office RC4 CryptoAPI encryption");
    }
    return QStringLiteral("an unknown encryption (version %1.%2)").arg(major).arg(minor);
}

// The names of the first directory sector's entries hold the streams Office writes for an
// encrypted package; they come right after the root entry.
bool compoundHoldsEncryption(QFile& f) {
    f.seek(0);
    const QByteArray h = f.read(512);
    if (h.size() < 512) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(h.constData());
    const int shift = rd16(p + 0x1e);
    if (shift != 9 && shift != 12) return false;
    const qint64 sectorSize = qint64(1) << shift;
    const uint32_t dirSector = rd32(p + 0x30);
    if (dirSector >= 0xfffffffa) return false;
    if (!f.seek((qint64(dirSector) + 1) * sectorSize)) return false;
    const QByteArray dir = f.read(sectorSize);
    for (qsizetype at = 0; at + 128 <= dir.size(); at += 128) {
        const auto* e = reinterpret_cast<const uint8_t*>(dir.constData()) + at;
        const int len = std::min<int>(rd16(e + 64), 64);
        if (len < 2) continue;
        const QString name = QString::fromUtf16(reinterpret_cast<const char16_t*>(e), len / 2 - 1);
        if (name == QLatin1String("EncryptionInfo") || name == QLatin1String("EncryptedPackage"))
            return true;
    }
    return false;
}

}  // namespace

Protection protectionOf(const QString& path) {
    Protection out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return out;
    const QByteArray page = f.read(4096);
    if (page.startsWith(QByteArray(kCompoundMagic, 8))) {
        if (compoundHoldsEncryption(f)) out.kind = Protection::EncryptedPackage;
        return out;
    }
    if (page.size() < 4096) return out;
    const auto* h = reinterpret_cast<const uint8_t*>(page.constData());
    if (std::memcmp(h + 4, "Standard Jet DB", 15) != 0 && std::memcmp(h + 4, "Standard ACE DB", 15) != 0)
        return out;
    const int version = h[kVersionOffset];
    if (version == 0) return out;  // Jet 3: its encoded pages are libmdb's to read
    uint8_t hdr[128];
    for (int i = 0; i < 128; ++i) hdr[i] = h[kHeaderMaskStart + i] ^ headerMask()[i];
    auto rel = [&](int off) { return hdr + (off - kHeaderMaskStart); };
    const bool encoded = rd32(rel(kEncodingKeyOffset)) != 0;
    if (version >= 2) {
        // In ACE files a set encoding key means Office encryption of every page after the first.
        if (!encoded) return out;
        out.kind = Protection::AceEncrypted;
        const int len = rd16(h + kCryptInfoOffset);
        if (len >= 8 && kCryptInfoOffset + 2 + len <= 4096) {
            const uint8_t* info = h + kCryptInfoOffset + 2;
            out.scheme = officeScheme(info, len);
            const int major = rd16(info), minor = rd16(info + 2);
            out.decryptable = (major == 4 && minor == 4) || (major >= 2 && major <= 4 && minor == 2);
        } else {
            out.scheme = QStringLiteral("an unknown encryption");
        }
        return out;
    }
    // Jet 4: the password in UCS-2, masked again with the whole part of the creation date.
    double created;
    std::memcpy(&created, rel(kCreationDateOffset), 8);
    const uint32_t dateMask = std::isfinite(created) ? uint32_t(int64_t(created)) : 0;
    QString password;
    for (int i = 0; i + 1 < kPasswordLength; i += 2) {
        const uint8_t lo = rel(kPasswordOffset)[i] ^ uint8_t(dateMask >> (8 * (i % 4)));
        const uint8_t hi = rel(kPasswordOffset)[i + 1] ^ uint8_t(dateMask >> (8 * ((i + 1) % 4)));
        const char16_t c = char16_t(lo | hi << 8);
        if (c == 0) break;
        password += QChar(c);
    }
    if (!password.isEmpty()) {
        out.kind = Protection::JetPassword;
        out.password = password;
    }
    return out;
}

}  // namespace dao::jet
