#pragma once

// Column values between a Jet row's bytes and the engine's working copy: the same forms the reader
// gives the copy (numbers, currency as a number, dates as "yyyy-MM-dd HH:mm:ss" text, GUIDs as
// {...} text, Decimal as text, Yes/No as 0/1).

#include <QByteArray>
#include <QString>
#include <optional>
#include <string>

#include "JetFile.h"

namespace dao::jet {

struct JetValue {
    enum Kind { Null, Int, Real, Text, Blob } kind = Null;
    qint64 i = 0;
    double d = 0;
    QByteArray bytes;  // UTF-8 text or binary
    bool operator==(const JetValue& o) const;
    QString describe() const;
};

// A Decimal's canonical text (no trailing zeros after the point, no point for whole numbers, "0" for
// zero) from its 17 stored bytes: a sign byte (0x80 negative), then a 128-bit unscaled integer as four
// little-endian 32-bit words, the most significant first.
std::string decimalText(const unsigned char* p, int scale);

// Where each byte of a GUID, in the order its text shows them, is stored: the first three groups
// are stored little-endian.
inline constexpr int kGuidTextOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

class JetValueCodec {
public:
    // The value of a field as the working copy holds it; nullopt for Memo, OLE and the types the
    // reader leaves as they are (complex columns).
    static std::optional<JetValue> decode(const ColumnDef& c, const uint8_t* row, const FieldRef& f);

    // The bytes a new non-Null value takes in a row (fixed columns: exactly c.length bytes). False
    // with a reason, and an error number for it, when the value cannot be stored in the column.
    static bool encode(const ColumnDef& c, const JetValue& v, QByteArray& out, int& errorNumber, QString& why);

    // Text in the column's stored form: UCS-2, or the compressed form when the column allows it and
    // every character fits one byte.
    // Jet 3 columns: the text in the file's code page (see codePageRefusal first).
    static QByteArray encodeText(const ColumnDef& c, const QString& s);
    // Jet 3: why the text cannot be stored in the column's code page, naming the field and the first
    // character the code page lacks; empty when it can (and always for Unicode columns).
    static QString codePageRefusal(const ColumnDef& c, const QString& s);

    // The value as the file will hold it (Single rounds to float precision, Currency to 4 places).
    static JetValue stored(const ColumnDef& c, const JetValue& v);

    // Dates: days since 1899-12-30, the fraction the time of day (below zero the whole part counts
    // back and the fraction still adds the time).
    static std::optional<double> dateFromText(const QByteArray& iso);
    static std::optional<QByteArray> dateToText(double v);
    // The same text into buf (19 characters and a NUL), without allocating; false out of range.
    static bool formatDate(double v, char* buf);
};

}  // namespace dao::jet
