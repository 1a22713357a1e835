#pragma once

// Text of Access 97 (Jet 3) files: stored one byte a character in the code page the file names in
// its header, not in Unicode. Windows-1252 is the one written; others are read through Qt's
// converters (as Latin-1 where Qt has none) and not written.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace dao::jet {

class JetCodePage {
public:
    static constexpr uint16_t kWestern = 1252;

    static bool writable(uint16_t codePage) { return codePage == kWestern; }
    // The code page a file's text is read in: the one its header names, Western where it names
    // none (0), as libmdb reads such files. Writing stays with the code page named (writable).
    static uint16_t forReading(uint16_t codePage) { return codePage ? codePage : kWestern; }
    static QString decode(uint16_t codePage, const uint8_t* p, int n);
    // The bytes of text in the code page; nullopt when a character has none, that character in bad.
    static std::optional<QByteArray> encode(uint16_t codePage, const QString& text, QChar* bad = nullptr);
    // The byte a character has in Windows-1252; -1 when it has none.
    static int westernByte(char16_t ch);
};

}  // namespace dao::jet
