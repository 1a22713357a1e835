#include "Variant.h"

#include <cmath>

#include "FieldTypes.h"

namespace dao {

namespace {
const QDate kEpoch(1899, 12, 30);
}

Variant Variant::fromDateTime(const QDateTime& dt) { return fromDate(dayNumberFromDateTime(dt)); }
Variant Variant::fromString(const QString& s) { return Variant(Type::String, s); }
Variant Variant::fromString(QString&& s) { return Variant(Type::String, std::move(s)); }
Variant Variant::fromBinary(const QByteArray& b) { return Variant(Type::Binary, b); }
Variant Variant::fromDecimal(const QString& digits) { return Variant(Type::Decimal, digits); }

bool Variant::isNumeric() const {
    switch (type_) {
        case Type::Boolean:
        case Type::Byte:
        case Type::Integer:
        case Type::Long:
        case Type::BigInt:
        case Type::Currency:
        case Type::Single:
        case Type::Double:
        case Type::Decimal: return true;
        default: return false;
    }
}

int64_t Variant::asInt() const {
    if (type_ == Type::Boolean) return std::get<bool>(v_) ? -1 : 0;
    return std::get<int64_t>(v_);
}

double Variant::asDouble() const {
    switch (type_) {
        case Type::Boolean: return std::get<bool>(v_) ? -1.0 : 0.0;
        case Type::Byte:
        case Type::Integer:
        case Type::Long:
        case Type::BigInt: return double(std::get<int64_t>(v_));
        case Type::Currency: return double(std::get<int64_t>(v_)) / 10000.0;
        case Type::Single:
        case Type::Double:
        case Type::Date: return std::get<double>(v_);
        case Type::Decimal: return std::get<QString>(v_).toDouble();
        default: return std::get<double>(v_);  // throws bad_variant_access on misuse
    }
}

QDateTime Variant::toDateTime() const { return dateTimeFromDayNumber(std::get<double>(v_)); }

double Variant::dayNumberFromDateTime(const QDateTime& dt) {
    return dayNumberFromParts(kEpoch.daysTo(dt.date()), dt.time().msecsSinceStartOfDay() / 1000.0);
}

QDateTime Variant::dateTimeFromDayNumber(double d) {
    // Stored times carry binary noise: whole seconds, by the one stored-date rule.
    const DayAndTime t = splitDayNumber(d);
    return QDateTime(kEpoch.addDays(t.day), QTime::fromMSecsSinceStartOfDay(t.seconds * 1000), Qt::UTC);
}

QString Variant::debugString() const {
    switch (type_) {
        case Type::Empty: return "Empty";
        case Type::Null: return "Null";
        case Type::Boolean: return asBool() ? "Boolean(True)" : "Boolean(False)";
        case Type::Byte: return QString("Byte(%1)").arg(asInt());
        case Type::Integer: return QString("Integer(%1)").arg(asInt());
        case Type::Long: return QString("Long(%1)").arg(asInt());
        case Type::BigInt: return QString("BigInt(%1)").arg(asInt());
        case Type::Currency: return QString("Currency(%1)").arg(asCurrency());
        case Type::Single: return QString("Single(%1)").arg(asDouble(), 0, 'g', 9);
        case Type::Double: return QString("Double(%1)").arg(asDouble(), 0, 'g', 17);
        case Type::Date: return "Date(" + toDateTime().toString(Qt::ISODate) + ")";
        case Type::String: return "String(" + asString() + ")";
        case Type::Binary: return QString("Binary(%1 bytes)").arg(asBinary().size());
        case Type::Decimal: return "Decimal(" + asString() + ")";
    }
    return {};
}

void Variant::copyValue(const Variant& o) {
    switch (o.v_.index()) {
        case 1: v_.emplace<1>(*std::get_if<1>(&o.v_)); break;
        case 2: v_.emplace<2>(*std::get_if<2>(&o.v_)); break;
        case 3: v_.emplace<3>(*std::get_if<3>(&o.v_)); break;
        default: v_ = o.v_; break;
    }
}

}  // namespace dao
