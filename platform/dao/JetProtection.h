#pragma once

// What protects a Jet/ACE file from being read without a password: a Jet 4 database password in the
// header, ACE page encryption (Office cryptography, keyed by the password) or an Office encrypted
// package (a compound file that holds the encrypted database). Jet pages encoded with the key stored
// in the header (RC4) need no password: libmdb decodes them itself.

#include <QString>

namespace dao::jet {

struct Protection {
    enum Kind {
        None,
        JetPassword,       // Jet 4: the password sits masked in the header; pages are readable
        AceEncrypted,      // ACE: pages encrypted with a key derived from the password
        EncryptedPackage,  // a compound file holding EncryptionInfo / EncryptedPackage streams
    } kind = None;
    QString password;  // JetPassword: the password the header holds
    QString scheme;    // AceEncrypted: the kind of encryption, in words ("Office agile encryption (AES)")
    bool decryptable = false;  // AceEncrypted: agile or CryptoAPI encryption, which Tabulon decrypts for reading
};

// Reads the file's first page (and, for a compound file, its first directory sector). A file that
// cannot be read or is neither kind gives None; the caller's own checks then decide.
Protection protectionOf(const QString& path);

}  // namespace dao::jet
