#pragma once

// The sort codes of characters in text index keys, for the sort orders of text columns: "General"
// (the newer order, ACE files) and "General Legacy" (Jet 4 files) for every character of the Basic
// Multilingual Plane, and Access 97's General order (Jet 3 files, by the character's byte in the
// file's code page). A character's code says which bytes it
// adds to a key and where (see JetTextKey).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "JetFile.h"

namespace dao::jet {

class JetSortCodes {
public:
    enum Kind : uint8_t {
        Unknown,        // no code (a surrogate, half of a character beyond U+FFFF): not keyed
        Ignored,        // adds nothing
        Simple,         // inline bytes only
        International,  // inline bytes and an extra (accent) code
        Unprintable,    // an entry in the key's unprintable part only
        ExtraModifier,  // adds to the extra code before it
        Kana,           // inline bytes, an extra code when it has one, and a kana mark
        Significant,    // Access 97: inline bytes, and a place in the accent part
    };
    struct Code {
        Kind kind = Unknown;
        QByteArray inlineBytes;
        QByteArray extra;         // International, Kana: the extra code; Unprintable: its bytes
        uint8_t modifier = 0;     // ExtraModifier
        uint8_t kanaMark = 0;     // Kana: 2 or 3
        int places = 1;           // letters its inline bytes stand for (Æ: two)
        bool placesKnown = true;  // false: whether it takes `places` places or one in the extra part is
                                  // not known (see JetTextKey)
    };

    // The codes of a text column's sort order; nullptr when the order is not one known here.
    static const JetSortCodes* forColumn(const ColumnDef& c);
    static const JetSortCodes& general();
    static const JetSortCodes& generalLegacy();
    static const JetSortCodes& general97();
    bool isGeneral97() const { return this == &general97(); }

    const QString& name() const { return name_; }
    Code code(char16_t ch) const;

private:
    enum class Units { OneOrTwoBytes, TwoBytes };
    JetSortCodes(const QString& name, const char* codes, Units units, int lines);
    int letters(const QByteArray& inlineBytes) const;

    QString name_;
    const char* codes_;               // one line per character, surrogates left out
    std::vector<uint32_t> lineStart_;
    Units units_;
    bool oneByte_[256] = {};          // OneOrTwoBytes: the bytes that are a letter's whole code
};

}  // namespace dao::jet
