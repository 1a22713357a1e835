#include "TableTextFormat.h"

#include <QByteArray>
#include <cstdint>
#include <limits>

#include "FieldTextParser.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/FieldTypes.h"

namespace bulk {

namespace {

const QString kMarker = QStringLiteral("addb");
const QString kNull = QStringLiteral("Null");

bool isHexDigits(QStringView s) {
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F'))) return false;
    }
    return s.size() % 2 == 0;
}

}  // namespace

QString TableTextFormat::headerLine(int fieldCount) {
    const QString digits = QString::number(fieldCount);
    return digits + QString(qMax(0, 15 - int(digits.size())), QLatin1Char(' ')) + kMarker;
}

bool TableTextFormat::acceptsHeader(const QString& header, int fieldCount) {
    return header.size() < 20 && header.endsWith(kMarker, Qt::CaseSensitive) &&
           dao::leadingNumber(header) == double(fieldCount);
}

QString TableTextFormat::valueLine(const dao::Variant& value) {
    if (value.isNull()) return kNull;
    if (value.type() == dao::Variant::Type::Binary)
        return QStringLiteral("0x") + QString::fromLatin1(value.asBinary().toHex()).toUpper();
    return stripSpaces(dao::valueToText(value));
}

QString TableTextFormat::valueLine(const dao::Variant& value, const QString& decimalPoint) {
    switch (value.type()) {
        case dao::Variant::Type::Boolean:
            return value.asBool() ? QStringLiteral("True") : QStringLiteral("False");
        case dao::Variant::Type::Byte:
        case dao::Variant::Type::Integer:
        case dao::Variant::Type::Long:
        case dao::Variant::Type::BigInt:
            return QString::number(value.asInt());
        case dao::Variant::Type::Currency: {
            const int64_t v = value.asCurrency();
            if (v == std::numeric_limits<int64_t>::min()) break;
            const uint64_t a = uint64_t(v < 0 ? -v : v);
            QString text = QString::number(a / 10000);
            if (const uint64_t fraction = a % 10000) {
                QString digits = QString::number(fraction).rightJustified(4, QLatin1Char('0'));
                while (digits.endsWith(QLatin1Char('0'))) digits.chop(1);
                text += decimalPoint + digits;
            }
            return v < 0 ? QLatin1Char('-') + text : text;
        }
        default:
            break;
    }
    return valueLine(value);
}

dao::Variant TableTextFormat::lineValue(const QString& line, int fieldType, const FieldTextParser* fast) {
    const bool textField = fieldType == dao::dbText || fieldType == dao::dbMemo;
    if (!textField && line == kNull) return dao::Variant::null();
    if ((fieldType == dao::dbBinary || fieldType == dao::dbLongBinary) &&
        (line.startsWith(QLatin1String("0x")) || line.startsWith(QLatin1String("0X"))) &&
        isHexDigits(QStringView(line).mid(2)))
        return dao::Variant::fromBinary(QByteArray::fromHex(line.mid(2).toLatin1()));
    if (fast)
        if (auto v = fast->parse(line, fieldType)) return *v;
    return dao::Variant::fromString(line);
}

QString TableTextFormat::stripSpaces(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' ')) ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' ')) --end;
    return begin == 0 && end == text.size() ? text : text.mid(begin, end - begin);
}

void TableTextFormat::trimSpaces(QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' ')) ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' ')) --end;
    if (end < text.size()) text.truncate(end);
    if (begin > 0) text.remove(0, begin);
}

bool TableTextFormat::hasLineBreak(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() == u'\n' || c.unicode() == u'\r') return true;
    return false;
}

}  // namespace bulk
