#pragma once

// Reading ACE files encrypted with a password (Office agile encryption: AES keyed through a salted,
// iterated hash of the password; Office CryptoAPI encryption: RC4 or AES under a key per page) and
// Jet 4 files whose pages are RC4-encoded with the key in their header. The file is decrypted into a
// plain copy that is then read as any other file; the encrypted file itself is never written.
// Access 97 (Jet 3) files encode their 2 KB pages the same way.
// RC4 comes from OpenSSL's legacy provider, loaded when first needed.

#include <QString>

namespace dao::jet {

enum class DecryptResult { Ok, WrongPassword, Unsupported };

// Writes the plain pages of the ACE file at path to outPath. WrongPassword when the password does
// not open the file's verifier; Unsupported (with why) for encryptions Tabulon does not decrypt, a
// description it cannot read, or a cipher the crypto library does not offer.
DecryptResult decryptAceCopy(const QString& path, const QString& password, const QString& outPath, QString* why);

// Writes the decoded pages of a Jet 3 or Jet 4 file with RC4-encoded pages (no password involved) to
// outPath.
DecryptResult decodeJetCopy(const QString& path, const QString& outPath, QString* why);

}  // namespace dao::jet
