#pragma once

// Reading ACE files encrypted with a password (Office agile encryption: AES keyed through a salted,
// iterated hash of the password). The file is decrypted into a plain copy that the reader then reads
// as any other file; the encrypted file itself is never written.

#include <QString>

namespace dao::jet {

enum class DecryptResult { Ok, WrongPassword, Unsupported };

// Writes the plain pages of the ACE file at path to outPath. WrongPassword when the password does
// not open the file's verifier; Unsupported (with why) for encryptions other than agile AES or a
// description Tabulon cannot read.
DecryptResult decryptAceCopy(const QString& path, const QString& password, const QString& outPath, QString* why);

}  // namespace dao::jet
