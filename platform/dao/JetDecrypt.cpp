#include "JetDecrypt.h"

#include <openssl/evp.h>

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <cstring>
#include <memory>

#include "JetFile.h"

namespace dao::jet {

namespace {

constexpr int kPageSize = 4096;
constexpr int kEncodingKeyOffset = 0x3e;
constexpr int kHeaderMaskStart = 0x18;
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

}  // namespace

DecryptResult decryptAceCopy(const QString& path, const QString& password, const QString& outPath, QString* why) {
    auto unsupported = [&](const QString& reason) {
        if (why) *why = reason;
        return DecryptResult::Unsupported;
    };
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) return unsupported(in.errorString());
    QByteArray file = in.readAll();
    if (file.size() < kPageSize || file.size() % kPageSize != 0) return unsupported("its length is not whole pages");
    const auto* h = reinterpret_cast<const uint8_t*>(file.constData());
    const int len = rd16(h + kCryptInfoOffset);
    if (len < 8 || kCryptInfoOffset + 2 + len > kPageSize) return unsupported("its encryption description is cut short");
    const uint8_t* info = h + kCryptInfoOffset + 2;
    if (rd16(info) != 4 || rd16(info + 2) != 4 || rd32(info + 4) != 0x40)
        return unsupported("only Office agile encryption is decrypted");

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

    // Every page after the first: AES-CBC under the key, its IV a hash of the salt and the page
    // number mixed into the header's encoding key.
    const Crypto dc(dataHash);
    uint8_t encodingKey[4];
    for (int i = 0; i < 4; ++i)
        encodingKey[i] = h[kEncodingKeyOffset + i] ^ headerMask()[kEncodingKeyOffset - kHeaderMaskStart + i];
    const qint64 pages = file.size() / kPageSize;
    for (qint64 n = 1; n < pages; ++n) {
        char block[4];
        for (int i = 0; i < 4; ++i) block[i] = char(uint8_t(n >> (8 * i)) ^ encodingKey[i]);
        const QByteArray pageIv = Crypto::fit(dc.hash(keyData.salt, QByteArray(block, 4)), keyData.blockSize);
        const QByteArray plain = Crypto::aesDecrypt(key, pageIv, file.mid(n * kPageSize, kPageSize));
        if (plain.size() != kPageSize) return unsupported("a page cannot be decrypted");
        file.replace(n * kPageSize, kPageSize, plain);
    }
    // The copy's header says its pages are plain: the encoding key reads as zero through the mask.
    for (int i = 0; i < 4; ++i)
        file[kEncodingKeyOffset + i] = char(headerMask()[kEncodingKeyOffset - kHeaderMaskStart + i]);

    QSaveFile out(outPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.commit())
        return unsupported("the decrypted copy cannot be written: " + out.errorString());
    return DecryptResult::Ok;
}

}  // namespace dao::jet
