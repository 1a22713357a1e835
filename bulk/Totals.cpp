#include "Totals.h"

#include <QLocale>
#include <cmath>

#include "ToolSupport.h"
#include "platform/dao/JetSql.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace bulk {

namespace {

// Puts the record that was current back: first record, then forward by the remembered position.
class KeepPosition {
public:
    explicit KeepPosition(dao::Recordset& rs) : rs_(rs), position_(rs.AbsolutePosition()) {}
    ~KeepPosition() {
        try {
            if (position_ < 0 || !hasRecords(rs_)) return;
            rs_.MoveFirst();
            if (position_ > 0) rs_.Move(position_);
        } catch (...) {
        }
    }

private:
    dao::Recordset& rs_;
    long long position_;
};

}  // namespace

namespace {

// The records of the recordset's source, as the FROM part of a query.
QString fromPart(const dao::Recordset& rs) {
    const QString source = rs.Source().trimmed();
    if (source.startsWith(QLatin1String("select"), Qt::CaseInsensitive))
        return QStringLiteral(" from (") + source + QLatin1Char(')');
    return QStringLiteral(" from ") + dao::jetName(rs.Name(), dao::NameQuoting::Always);
}

// Integer, Long and Currency totals as one aggregate over the same records, so that no record is
// brought into the program; currency is rounded to its four decimals. Nothing when the field holds
// anything but numbers (text sorts above numbers, so the greatest value tells; the walk then
// reports it) or when the query cannot be made.
bool sumByQuery(dao::Database& db, const dao::Recordset& rs, const QString& field, Totals::Result& result) {
    if (!dao::isNumericField(result.fieldType)) return false;
    const QString f = dao::jetName(field, dao::NameQuoting::Always);
    try {
        // A Large Number total comes back as its digits: SQLite adds 64-bit integers exactly (and
        // fails on overflow), a double would round past 2^53.
        const bool big = result.fieldType == dao::dbBigInt;
        auto q = db.OpenRecordset(QLatin1String(big ? "select cast(sum(" : "select sum(") + f +
                                      QLatin1String(big ? ") as text) as s, count(" : ") as s, count(") + f +
                                      QStringLiteral(") as c, count(*) as n, max(") + f +
                                      QStringLiteral(") as m") + fromPart(rs),
                                  dao::dbOpenSnapshot);
        if (q->Eof()) return false;
        const dao::Fields fs = q->Fields();
        const dao::Variant sum = fs.Item(0).Value();
        const dao::Variant count = fs.Item(1).Value();
        const dao::Variant records = fs.Item(2).Value();
        const dao::Variant greatest = fs.Item(3).Value();
        if (!count.isNumeric() || !records.isNumeric()) return false;
        if (!greatest.isNull() && !greatest.isNumeric()) return false;
        result.records = qint64(records.asDouble());
        result.nullsSkipped = result.records - qint64(count.asDouble());
        if (sum.isNull()) return true;  // no values: the total stays empty
        if (big) {
            bool ok = false;
            const qint64 total = sum.type() == dao::Variant::Type::String ? sum.asString().toLongLong(&ok) : 0;
            if (!ok) return false;
            result.total = dao::Variant::fromBigInt(total);
            return true;
        }
        if (!sum.isNumeric()) return false;
        const double total = sum.asDouble();
        if (result.fieldType == dao::dbCurrency) {
            if (std::fabs(total) >= 922337203685477.0) dao::raise(dao::err::Overflow);
            result.total = dao::Variant::fromCurrency(std::llround(total * 10000.0));
        } else if (total != std::trunc(total)) {
            // An integer column may hold fractions (SQLite keeps what it is given): not cut.
            result.total = dao::Variant::fromDouble(total);
        } else if (result.fieldType == dao::dbInteger && std::fabs(total) <= 32767) {
            result.total = dao::Variant::fromInteger(int16_t(total));
        } else if (std::fabs(total) <= 2147483647.0) {
            result.total = dao::Variant::fromLong(int32_t(total));
        } else {
            result.total = dao::Variant::fromDouble(total);
        }
        return true;
    } catch (const dao::Error& e) {
        if (e.number() == dao::err::Overflow) throw;
        return false;
    }
}

void addUp(dao::Recordset& rs, const dao::Field& field, Totals::Result& result) {
    if (!hasRecords(rs)) return;
    rs.MoveFirst();
    while (!rs.Eof()) {
        const dao::Variant v = field.Value();
        if (v.isNull())
            ++result.nullsSkipped;
        else
            result.total = dao::variantAdd(result.total, v);
        ++result.records;
        rs.MoveNext();
    }
}

}  // namespace

Totals::Result Totals::run(dao::Recordset& rs, const QString& fieldName, dao::Database* db) {
    Result result;
    const dao::Fields fields = rs.Fields();
    const int index = fieldName.isEmpty() ? -1 : fields.indexOf(fieldName);
    if (index < 0) return result;
    result.ran = true;
    const dao::Field field = fields.Item(index);
    result.fieldType = field.Type();

    if (!db || !sumByQuery(*db, rs, field.Name(), result)) {
        result.total = dao::Variant();
        result.records = result.nullsSkipped = 0;
        KeepPosition keep(rs);
        addUp(rs, field, result);
    }
    result.text = format(result.total, result.fieldType);
    return result;
}

QString Totals::format(const dao::Variant& total, int fieldType) {
    const QString pattern =
        fieldType == dao::dbCurrency ? QStringLiteral("$###,###.00") : QStringLiteral("###,###.00");
    if (total.type() == dao::Variant::Type::BigInt) {
        // Exact: every digit, grouped as the pattern groups them.
        const QLocale loc;
        const qint64 v = total.asInt();
        QString digits = v == 0 ? QString() : QString::number(v).remove(QLatin1Char('-'));
        for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, loc.groupSeparator());
        return (v < 0 ? QStringLiteral("-") : QString()) + digits + loc.decimalPoint() + QStringLiteral("00");
    }
    double value = 0;
    if (total.isNumeric() || total.type() == dao::Variant::Type::Date)
        value = total.asDouble();
    else if (total.type() == dao::Variant::Type::String)
        value = dao::leadingNumber(total.asString());
    return dao::formatNumber(value, pattern);
}

QString Totals::nullsNote(qint64 nullsSkipped) {
    if (nullsSkipped <= 0) return QString();
    return nullsSkipped == 1 ? QStringLiteral("1 Null value skipped")
                             : QStringLiteral("%1 Null values skipped").arg(nullsSkipped);
}

}  // namespace bulk
