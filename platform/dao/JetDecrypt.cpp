#include "JetDecrypt.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstring>
#include <memory>

#include "JetFile.h"
#include "JetFormat.h"

namespace dao::jet {

namespace {

constexpr int kPageSize = 4096;
using fmt::kEncodingKeyOffset;
using fmt::kHeaderMaskStart;
constexpr int kCryptInfoOffset = 0x299;

// The block keys that separate the three keys derived from one password hash.
const unsigned char kVerifierInputBlock[8] = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
const unsigned char kVerifierValueBlock[8] = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
const unsigned char kKeyValueBlock[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};

struct Params {
    QByteArray salt;
    int blockSize = 0, keyBits = 0, spinCount = 0;
    QString hash, cipher, chaining;
    QByteArray verifierInput, verifierValue, keyValue;
};

Params readParams(const QXmlStreamAttributes& a) {
    Params p;
    p.salt = QByteArray::fromBase64(a.value("saltValue").toLatin1());
    p.blockSize = a.value("blockSize").toInt();
    p.keyBits = a.value("keyBits").toInt();
    p.spinCount = a.value("spinCount").toInt();
    p.hash = a.value("hashAlgorithm").toString();
    p.cipher = a.value("cipherAlgorithm").toString();
    p.chaining = a.value("cipherChaining").toString();
    p.verifierInput = QByteArray::fromBase64(a.value("encryptedVerifierHashInput").toLatin1());
    p.verifierValue = QByteArray::fromBase64(a.value("encryptedVerifierHashValue").toLatin1());
    p.keyValue = QByteArray::fromBase64(a.value("encryptedKeyValue").toLatin1());
    return p;
}

class Crypto {
public:
    explicit Crypto(const EVP_MD* md) : md_(md) {}

    QByteArray hash(const QByteArray& a, const QByteArray& b = QByteArray()) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        if (!ctx || EVP_DigestInit_ex(ctx.get(), md_, nullptr) != 1 ||
            EVP_DigestUpdate(ctx.get(), a.constData(), size_t(a.size())) != 1 ||
            EVP_DigestUpdate(ctx.get(), b.constData(), size_t(b.size())) != 1 ||
            EVP_DigestFinal_ex(ctx.get(), out, &n) != 1)
            return {};
        return QByteArray(reinterpret_cast<const char*>(out), int(n));
    }

    // A key from the password: the salted hash, hashed again spinCount times with the round number
    // in front, then with the block key; cut or padded (0x36) to the key's length.
    QByteArray deriveKey(const QByteArray& password, const Params& p, const unsigned char* block) const {
        QByteArray h = hash(p.salt, password);
        for (int i = 0; i < p.spinCount; ++i) {
            const char round[4] = {char(i), char(i >> 8), char(i >> 16), char(i >> 24)};
            h = hash(QByteArray(round, 4), h);
        }
        return fit(hash(h, QByteArray(reinterpret_cast<const char*>(block), 8)), p.keyBits / 8);
    }

    static QByteArray fit(QByteArray b, int n) {
        if (b.size() > n) b.truncate(n);
        while (b.size() < n) b += char(0x36);
        return b;
    }

    // AES in CBC mode without padding; empty on failure.
    static QByteArray aesDecrypt(const QByteArray& key, const QByteArray& iv, const QByteArray& data) {
        const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_cbc()
                                   : key.size() == 24 ? EVP_aes_192_cbc()
                                   : key.size() == 32 ? EVP_aes_256_cbc()
                                                      : nullptr;
        if (!cipher || iv.size() != 16 || data.size() % 16 != 0) return {};
        std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
        QByteArray out(data.size() + 16, '\0');
        int n = 0, m = 0;
        if (!ctx ||
            EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, reinterpret_cast<const unsigned char*>(key.constData()),
                               reinterpret_cast<const unsigned char*>(iv.constData())) != 1 ||
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
            EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                              reinterpret_cast<const unsigned char*>(data.constData()), int(data.size())) != 1 ||
            EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + n, &m) != 1)
            return {};
        out.truncate(n + m);
        return out;
    }

private:
    const EVP_MD* md_;
};


// RC4 lives in OpenSSL 3's legacy provider. It is loaded once, into a library context of its own,
// so that the process's default context keeps only the providers its configuration names.
const EVP_CIPHER* rc4Cipher() {
    static const EVP_CIPHER* const cipher = []() -> const EVP_CIPHER* {
        OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
        EVP_CIPHER* c = ctx && OSSL_PROVIDER_load(ctx, "legacy") ? EVP_CIPHER_fetch(ctx, "RC4", nullptr) : nullptr;
        ERR_clear_error();
        return c;
    }();
    return cipher;
}

const QString kNoRc4 = QStringLiteral(
    "its cipher, RC4, is not available: OpenSSL's legacy provider (ossl-modules/legacy.so of libssl3) cannot be "
    "loaded");

// One RC4 stream under key over data, in place.
bool rc4(EVP_CIPHER_CTX* ctx, const QByteArray& key, char* data, int n) {
    auto* d = reinterpret_cast<unsigned char*>(data);
    int out = 0;
    return EVP_CipherInit_ex(ctx, rc4Cipher(), nullptr, nullptr, nullptr, 0) == 1 &&
           EVP_CIPHER_CTX_set_key_length(ctx, int(key.size())) == 1 &&
           EVP_CipherInit_ex(ctx, nullptr, nullptr, reinterpret_cast<const unsigned char*>(key.constData()), nullptr,
                             0) == 1 &&
           EVP_CipherUpdate(ctx, d, &out, d, n) == 1 && out == n;
}

// AES in ECB mode without padding, in place.
bool aesEcb(EVP_CIPHER_CTX* ctx, const QByteArray& key, char* data, int n) {
    const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_ecb()
                               : key.size() == 24 ? EVP_aes_192_ecb()
                               : key.size() == 32 ? EVP_aes_256_ecb()
                                                  : nullptr;
    auto* d = reinterpret_cast<unsigned char*>(data);
    int out = 0;
    return cipher && n % 16 == 0 &&
           EVP_DecryptInit_ex(ctx, cipher, nullptr, reinterpret_cast<const unsigned char*>(key.constData()), nullptr) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 && EVP_DecryptUpdate(ctx, d, &out, d, n) == 1 && out == n;
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// The four bytes that key page n: its number (little-endian) mixed into the header's encoding key.
QByteArray pageBlock(const uint8_t* encodingKey, qint64 n) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i) b[i] = char(uint8_t(n >> (8 * i)) ^ encodingKey[i]);
    return b;
}

QByteArray encodingKeyOf(const QByteArray& file) {
    const auto* h = reinterpret_cast<const uint8_t*>(file.constData());
    QByteArray key(4, '\0');
    for (int i = 0; i < 4; ++i)
        key[i] = char(h[kEncodingKeyOffset + i] ^ headerMask()[kEncodingKeyOffset - kHeaderMaskStart + i]);
    return key;
}

// The copy's header says its pages are plain: the encoding key reads as zero through the mask.
void markPlain(QByteArray& file) {
    for (int i = 0; i < 4; ++i)
        file[kEncodingKeyOffset + i] = char(headerMask()[kEncodingKeyOffset - kHeaderMaskStart + i]);
}

DecryptResult writeCopy(const QByteArray& file, const QString& outPath, QString* why) {
    QSaveFile out(outPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.commit()) {
        if (why) *why = "the decrypted copy cannot be written: " + out.errorString();
        return DecryptResult::Unsupported;
    }
    return DecryptResult::Ok;
}

// Office CryptoAPI encryption (binary EncryptionHeader and EncryptionVerifier): RC4, or AES in ECB
// mode, under a key per page derived from the salted SHA-1 of the password and the page's block.
DecryptResult cryptoApi(QByteArray& file, const uint8_t* info, int len, const QString& password, QString& why) {
    constexpr uint32_t kCryptoApi = 0x04, kAes = 0x20, kExternal = 0x10;
    constexpr uint32_t kAlgRc4 = 0x6801, kAlgAes128 = 0x660e, kAlgAes192 = 0x660f, kAlgAes256 = 0x6610;
    constexpr uint32_t kSha1 = 0x8004;
    const uint8_t* end = info + len;
    const uint32_t flags = rd32(info + 4);
    if (!(flags & kCryptoApi) || (flags & kExternal)) {
        why = "its encryption is not of the CryptoAPI kind";
        return DecryptResult::Unsupported;
    }
    if (info + 12 > end) {
        why = "its encryption description is cut short";
        return DecryptResult::Unsupported;
    }
    const uint32_t headerLen = rd32(info + 8);
    const uint8_t* hdr = info + 12;
    if (headerLen < 32 || headerLen > uint32_t(end - hdr)) {
        why = "its encryption header is cut short";
        return DecryptResult::Unsupported;
    }
    uint32_t alg = rd32(hdr + 8);
    const uint32_t hashAlg = rd32(hdr + 12);
    uint32_t keyBits = rd32(hdr + 16);
    if (alg == 0) alg = (flags & kAes) ? kAlgAes128 : kAlgRc4;
    const bool isRc4 = alg == kAlgRc4;
    if (!isRc4 && alg != kAlgAes128 && alg != kAlgAes192 && alg != kAlgAes256) {
        why = QString("its cipher (algorithm 0x%1) is not known").arg(alg, 4, 16, QChar('0'));
        return DecryptResult::Unsupported;
    }
    if (hashAlg != 0 && hashAlg != kSha1) {
        why = QString("its hash (algorithm 0x%1) is not known").arg(hashAlg, 4, 16, QChar('0'));
        return DecryptResult::Unsupported;
    }
    if (keyBits == 0) {
        // The provider's default: 40-bit RC4 for the "Base" providers (or none named), 128 otherwise.
        QString csp;
        for (const uint8_t* c = hdr + 32; c + 1 < hdr + headerLen && (c[0] | c[1]); c += 2) csp += QChar(rd16(c));
        if (isRc4)
            keyBits = csp.trimmed().isEmpty() || csp.toLower().contains(QLatin1String(" base ")) ? 40 : 128;
        else
            keyBits = alg == kAlgAes128 ? 128 : alg == kAlgAes192 ? 192 : 256;
    }
    const bool keyFits = isRc4 ? keyBits >= 40 && keyBits <= 160 && keyBits % 8 == 0
                               : keyBits == (alg == kAlgAes128 ? 128u : alg == kAlgAes192 ? 192u : 256u);
    if (!keyFits) {
        why = QString("its key length (%1 bits) does not fit its cipher").arg(keyBits);
        return DecryptResult::Unsupported;
    }
    // The verifier: a 16-byte salt, a random block and its SHA-1, both encrypted under the key of
    // block 0.
    const uint8_t* v = hdr + headerLen;
    const int hashLen = isRc4 ? 20 : 32;
    if (v + 4 + 16 + 16 + 4 + hashLen > end || rd32(v) != 16) {
        why = "its password verifier is cut short";
        return DecryptResult::Unsupported;
    }
    if (isRc4 && !rc4Cipher()) {
        why = kNoRc4;
        return DecryptResult::Unsupported;
    }
    const QByteArray salt(reinterpret_cast<const char*>(v + 4), 16);
    QByteArray verifier(reinterpret_cast<const char*>(v + 20), 16);
    const uint32_t verifierHashSize = rd32(v + 36);
    verifier += QByteArray(reinterpret_cast<const char*>(v + 40), hashLen);

    const Crypto sha1(EVP_sha1());
    const QByteArray pw(reinterpret_cast<const char*>(password.utf16()), int(std::min<qsizetype>(password.size(), 255) * 2));
    QByteArray base = sha1.hash(salt, pw);
    // AES keys: the standard way iterates the hash 50000 times; the non-standard provider (AES in
    // the CryptoAPI header without the AES flag) not at all.
    if (!isRc4 && (flags & kAes))
        for (uint32_t i = 0; i < 50000; ++i) {
            const char round[4] = {char(i), char(i >> 8), char(i >> 16), char(i >> 24)};
            base = sha1.hash(QByteArray(round, 4), base);
        }
    const int keyBytes = int(keyBits / 8);
    auto keyFor = [&](const QByteArray& block) {
        const QByteArray h = sha1.hash(base, block);
        if (isRc4) {
            // A 40-bit key is used as 128 bits, the rest zero.
            QByteArray k = h.left(keyBytes);
            if (keyBits == 40) k.append(16 - keyBytes, '\0');
            return k;
        }
        QByteArray x1(64, char(0x36)), x2(64, char(0x5c));
        for (int i = 0; i < h.size(); ++i) {
            x1[i] = char(x1[i] ^ h[i]);
            x2[i] = char(x2[i] ^ h[i]);
        }
        return (sha1.hash(x1) + sha1.hash(x2)).left(keyBytes);
    };
    CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    auto decrypt = [&](const QByteArray& key, char* data, int n) {
        return isRc4 ? rc4(ctx.get(), key, data, n) : aesEcb(ctx.get(), key, data, n);
    };
    if (!ctx || !decrypt(keyFor(QByteArray(4, '\0')), verifier.data(), int(verifier.size()))) {
        why = "its password verifier cannot be decrypted";
        return DecryptResult::Unsupported;
    }
    const int compared = int(std::min<uint32_t>(verifierHashSize, 20));
    if (compared == 0 || sha1.hash(verifier.left(16)).left(compared) != verifier.mid(16, compared))
        return DecryptResult::WrongPassword;

    const QByteArray encodingKey = encodingKeyOf(file);
    const auto* ek = reinterpret_cast<const uint8_t*>(encodingKey.constData());
    const qint64 pages = file.size() / kPageSize;
    for (qint64 n = 1; n < pages; ++n)
        if (!decrypt(keyFor(pageBlock(ek, n)), file.data() + n * kPageSize, kPageSize)) {
            why = QString("page %1 cannot be decrypted").arg(n);
            return DecryptResult::Unsupported;
        }
    return DecryptResult::Ok;
}

}  // namespace

namespace {

// Office agile encryption: an XML description, the page key encrypted under a key from the
// password; pages in AES-CBC.
DecryptResult agile(QByteArray& file, const uint8_t* info, int len, const QString& password, QString& why) {
    auto unsupported = [&](const QString& reason) {
        why = reason;
        return DecryptResult::Unsupported;
    };
    if (rd32(info + 4) != 0x40) return unsupported("its agile encryption flags are not the ones Office writes");

    // The description: one keyData (the pages' cipher) and the password's key encryptor.
    QXmlStreamReader xml(QByteArray(reinterpret_cast<const char*>(info + 8), len - 8));
    Params keyData, pwd;
    bool haveData = false, havePwd = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("keyData")) {
            keyData = readParams(xml.attributes());
            haveData = true;
        } else if (xml.name() == QLatin1String("encryptedKey") &&
                   xml.namespaceUri().contains(QLatin1String("keyEncryptor/password"))) {
            pwd = readParams(xml.attributes());
            havePwd = true;
        }
    }
    if (xml.hasError() || !haveData || !havePwd) return unsupported("its encryption description cannot be read");
    for (const Params* p : {&keyData, &pwd})
        if (p->cipher != QLatin1String("AES") || p->chaining != QLatin1String("ChainingModeCBC") ||
            p->blockSize != 16 || p->salt.size() < 16)
            return unsupported(QString("its cipher (%1, %2) is not decrypted").arg(p->cipher, p->chaining));
    const EVP_MD* pwdHash = EVP_get_digestbyname(pwd.hash.toLatin1().constData());
    const EVP_MD* dataHash = EVP_get_digestbyname(keyData.hash.toLatin1().constData());
    if (!pwdHash || !dataHash || pwd.spinCount < 0 || pwd.spinCount > 10000000)
        return unsupported(QString("its hash (%1) is not known").arg(pwd.hash));

    // The password checks against the verifier before anything else is decrypted.
    const Crypto pc(pwdHash);
    QByteArray pw(reinterpret_cast<const char*>(password.utf16()), int(password.size() * 2));  // UTF-16LE
    const QByteArray iv = pwd.salt.left(16);
    const QByteArray verifier = Crypto::aesDecrypt(pc.deriveKey(pw, pwd, kVerifierInputBlock), iv, pwd.verifierInput);
    const QByteArray verifierHash = Crypto::aesDecrypt(pc.deriveKey(pw, pwd, kVerifierValueBlock), iv, pwd.verifierValue);
    QByteArray expected = pc.hash(verifier);
    if (expected.size() % 16) expected.append((16 - expected.size() % 16), '\0');  // to whole blocks
    if (verifier.isEmpty() || verifierHash.isEmpty() || verifierHash.left(expected.size()) != expected)
        return DecryptResult::WrongPassword;
    const QByteArray key =
        Crypto::aesDecrypt(pc.deriveKey(pw, pwd, kKeyValueBlock), iv, pwd.keyValue).left(keyData.keyBits / 8);
    if (key.size() != keyData.keyBits / 8) return unsupported("its page key cannot be decrypted");

    // Every page after the first: AES-CBC under the key, its IV a hash of the salt and the page's
    // block.
    const Crypto dc(dataHash);
    const QByteArray encodingKey = encodingKeyOf(file);
    const auto* ek = reinterpret_cast<const uint8_t*>(encodingKey.constData());
    const qint64 pages = file.size() / kPageSize;
    for (qint64 n = 1; n < pages; ++n) {
        const QByteArray pageIv = Crypto::fit(dc.hash(keyData.salt, pageBlock(ek, n)), keyData.blockSize);
        const QByteArray plain = Crypto::aesDecrypt(key, pageIv, file.mid(n * kPageSize, kPageSize));
        if (plain.size() != kPageSize) return unsupported(QString("page %1 cannot be decrypted").arg(n));
        file.replace(n * kPageSize, kPageSize, plain);
    }
    return DecryptResult::Ok;
}

// The whole file, which must be whole pages (of pageSize bytes); false with the reason otherwise.
bool readWholePages(const QString& path, QByteArray& file, QString& why, int pageSize = kPageSize) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        why = in.errorString();
        return false;
    }
    file = in.readAll();
    if (file.size() < pageSize || file.size() % pageSize != 0) {
        why = QStringLiteral("its length is not whole pages");
        return false;
    }
    return true;
}

}  // namespace

DecryptResult decryptAceCopy(const QString& path, const QString& password, const QString& outPath, QString* why) {
    QString reason;
    auto unsupported = [&](const QString& r) {
        if (why) *why = r;
        return DecryptResult::Unsupported;
    };
    QByteArray file;
    if (QString r; !readWholePages(path, file, r)) return unsupported(r);
    const auto* h = reinterpret_cast<const uint8_t*>(file.constData());
    const int len = rd16(h + kCryptInfoOffset);
    if (len < 8 || kCryptInfoOffset + 2 + len > kPageSize) return unsupported("its encryption description is cut short");
    const uint8_t* info = h + kCryptInfoOffset + 2;
    const int major = rd16(info), minor = rd16(info + 2);
    DecryptResult r;
    if (major == 4 && minor == 4)
        r = agile(file, info, len, password, reason);
    else if (major >= 2 && major <= 4 && minor == 2)
        r = cryptoApi(file, info, len, password, reason);
    else
        return unsupported(QString("its encryption (version %1.%2) is not decrypted").arg(major).arg(minor));
    if (r != DecryptResult::Ok) {
        if (why) *why = reason;
        return r;
    }
    markPlain(file);
    return writeCopy(file, outPath, why);
}

DecryptResult decodeJetCopy(const QString& path, const QString& outPath, QString* why) {
    auto unsupported = [&](const QString& r) {
        if (why) *why = r;
        return DecryptResult::Unsupported;
    };
    // Access 97 (version 0) files have 2 KB pages, encoded the same way.
    constexpr int kJet3PageSize = 2048;
    QByteArray file;
    if (QString r; !readWholePages(path, file, r, kJet3PageSize)) return unsupported(r);
    const int pageSize = file[fmt::kVersionOffset] == 0 ? kJet3PageSize : kPageSize;
    if (file.size() % pageSize != 0) return unsupported(QStringLiteral("its length is not whole pages"));
    if (!rc4Cipher()) return unsupported(kNoRc4);
    const QByteArray encodingKey = encodingKeyOf(file);
    const auto* ek = reinterpret_cast<const uint8_t*>(encodingKey.constData());
    CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    // Every page after the first: RC4 keyed by the page's four-byte block itself.
    const qint64 pages = file.size() / pageSize;
    for (qint64 n = 1; n < pages; ++n)
        if (!ctx || !rc4(ctx.get(), pageBlock(ek, n), file.data() + n * pageSize, pageSize))
            return unsupported(QString("page %1 cannot be decoded").arg(n));
    markPlain(file);
    return writeCopy(file, outPath, why);
}

}  // namespace dao::jet
