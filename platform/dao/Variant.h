#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <variant>

namespace dao {

// A value as the engine and the windows pass it around: the classic variant sub-types.
// Currency is a 64-bit count of ten-thousandths; Date is a day number counted from 1899-12-30
// (fraction = time of day); Decimal keeps its exact digits as canonical text ("-12.345").
class Variant {
public:
    // BigInt is a 64-bit whole number (an Access Large Number), kept exactly.
    enum class Type { Empty, Null, Boolean, Byte, Integer, Long, Currency, Single, Double, Date, String, Binary, Decimal, BigInt };

    Variant() = default;  // Empty
    // Inline: made for every value a recordset reads.
    static Variant null() { return Variant(Type::Null, std::monostate{}); }
    static Variant fromBool(bool v) { return Variant(Type::Boolean, v); }
    static Variant fromByte(uint8_t v) { return Variant(Type::Byte, int64_t(v)); }
    static Variant fromInteger(int16_t v) { return Variant(Type::Integer, int64_t(v)); }
    static Variant fromLong(int32_t v) { return Variant(Type::Long, int64_t(v)); }
    static Variant fromBigInt(int64_t v) { return Variant(Type::BigInt, v); }
    static Variant fromCurrency(int64_t tenThousandths) { return Variant(Type::Currency, tenThousandths); }
    static Variant fromSingle(float v) { return Variant(Type::Single, double(v)); }
    static Variant fromDouble(double v) { return Variant(Type::Double, v); }
    static Variant fromDate(double dayNumber) { return Variant(Type::Date, dayNumber); }
    static Variant fromDateTime(const QDateTime& dt);
    static Variant fromString(const QString& v);
    static Variant fromString(QString&& v);  // takes the text over (no count on a shared copy)
    static Variant fromBinary(const QByteArray& v);
    static Variant fromDecimal(const QString& canonicalDigits);

    Type type() const { return type_; }
    bool isEmpty() const { return type_ == Type::Empty; }
    bool isNull() const { return type_ == Type::Null; }
    bool isNumeric() const;  // Boolean, Byte, Integer, Long, BigInt, Currency, Single, Double, Decimal

    // Raw accessors; each requires the matching type (or a numeric one for asDouble).
    bool asBool() const { return std::get<bool>(v_); }
    int64_t asInt() const;          // Boolean (-1/0), Byte, Integer, Long, BigInt
    int64_t asCurrency() const { return std::get<int64_t>(v_); }  // Currency only
    double asDouble() const;        // any numeric type, and Date (its day number)
    double asDate() const { return std::get<double>(v_); }
    QString asString() const { return std::get<QString>(v_); }  // String and Decimal
    const QString& stringRef() const { return std::get<QString>(v_); }  // the same, not copied
    QByteArray asBinary() const { return std::get<QByteArray>(v_); }
    QDateTime toDateTime() const;   // Date only

    bool operator==(const Variant& o) const { return type_ == o.type_ && v_ == o.v_; }
    bool operator!=(const Variant& o) const { return !(*this == o); }

    // A short diagnostic form ("Long(5)"), for tests and logs; not the value-to-text conversion.
    QString debugString() const;

    // Day-number <-> calendar conversions (proleptic Gregorian, as the classic date type).
    static double dayNumberFromDateTime(const QDateTime& dt);
    static QDateTime dateTimeFromDayNumber(double d);

    // A walk copies every value: a NULL (most cells of a wide table) costs no call, and numbers are
    // copied without the variant's own dispatch.
    Variant(const Variant& o) : type_(o.type_) {
        if (o.v_.index() != 0) copyValue(o);
    }
    Variant(Variant&&) noexcept = default;
    Variant& operator=(const Variant&) = default;
    Variant& operator=(Variant&&) noexcept = default;

private:
    void copyValue(const Variant& o);
    template <typename T>
    Variant(Type t, T&& value) : type_(t), v_(std::forward<T>(value)) {}
    Type type_ = Type::Empty;
    std::variant<std::monostate, bool, int64_t, double, QString, QByteArray> v_;
};

}  // namespace dao
