#pragma once

// The table text file of Export and Import: a header line with the field count, then one value per
// line, record after record. No names, no types, no quoting: a value is its text form.
//
//   5              addb        <- the count, 15 - digits spaces, "addb": always 19 characters
//   12
//   Ana
//   Null                       <- a Null value
//
// Lines end in CR LF when written; CR alone or CR LF end a line when read. Written in UTF-8.
// Long binary and binary values are written as "0x" and upper-case hex digits and read back from it.

#include <QString>

#include "platform/dao/Variant.h"

namespace bulk {

class FieldTextParser;

class TableTextFormat {
public:
    static constexpr char kLineEnd[] = "\r\n";

    // The header line for a record of `fieldCount` fields.
    static QString headerLine(int fieldCount);

    // Whether a first line is a header for `fieldCount` fields: it ends in "addb" (case-sensitive), is
    // shorter than 20 characters, and its leading number equals the count.
    static bool acceptsHeader(const QString& header, int fieldCount);

    // A value as one line of the file: its text form without leading and trailing spaces; Null as
    // "Null"; binary as 0x + hex digits.
    static QString valueLine(const dao::Variant& value);
    // The same, with whole numbers, currency and yes/no formed here (the same text, without the
    // engine's general conversion): `decimalPoint` is the locale's, taken once by the caller.
    static QString valueLine(const dao::Variant& value, const QString& decimalPoint);

    // The value a read line (already stripped) assigns to a field of the given type: "Null" is Null
    // for every type that cannot hold the text "Null" (anything but Text and Memo); 0x + hex is
    // binary data for a binary field; anything else is the text, which the engine converts (what
    // `fast` reads is converted here, to the same value).
    static dao::Variant lineValue(const QString& line, int fieldType, const FieldTextParser* fast = nullptr);

    // Leading and trailing blanks (spaces only, not tabs) removed.
    static QString stripSpaces(const QString& text);
    // The same in place.
    static void trimSpaces(QString& text);

    // Whether a text holds a carriage return or a line feed, which the format cannot keep.
    static bool hasLineBreak(const QString& text);
};

}  // namespace bulk
