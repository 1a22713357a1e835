#pragma once

// The sort codes of characters in text index keys, for the sort orders of text columns: "General"
// (the newer order, ACE files), "General Legacy" (Jet 4 files) and Access 97's General order (Jet 3
// files, by the character's byte in the file's code page). A character's code says which bytes it
// adds to a key and where (see JetTextKey).

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "JetFile.h"

namespace dao::jet {

class JetSortCodes {
public:
    enum Kind : uint8_t {
        Unknown,        // no code known: a key holding it cannot be written
        Ignored,        // adds nothing
        Simple,         // inline bytes only
        International,  // inline bytes and an extra (accent) code
        Unprintable,    // an entry in the key's unprintable part only
        ExtraModifier,  // adds to the extra code before it
        Significant,    // Access 97: inline bytes, and a place in the accent part
    };
    struct Code {
        Kind kind = Unknown;
        QByteArray inlineBytes;
        QByteArray extra;        // International: the extra code; Unprintable: its bytes
        uint8_t modifier = 0;    // ExtraModifier
        int places = 1;          // Simple/International: characters it counts as in the accent part
        bool placesKnown = true; // false: it may count as one instead (see JetTextKey)
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
    JetSortCodes(const QString& name, const char* const* codes, int count);
    QString name_;
    const char* const* codes_;  // one per character from U+0000
    int count_;
};

}  // namespace dao::jet
