#include "Totals.h"

#include "ToolSupport.h"
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

Totals::Result Totals::run(dao::Recordset& rs, const QString& fieldName) {
    Result result;
    const dao::Fields fields = rs.Fields();
    const int index = fieldName.isEmpty() ? -1 : fields.indexOf(fieldName);
    if (index < 0) return result;
    result.ran = true;
    const dao::Field field = fields.Item(index);
    result.fieldType = field.Type();

    KeepPosition keep(rs);
    if (hasRecords(rs)) {
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
    result.text = format(result.total, result.fieldType);
    return result;
}

QString Totals::format(const dao::Variant& total, int fieldType) {
    const QString pattern =
        fieldType == dao::dbCurrency ? QStringLiteral("$###,###.00") : QStringLiteral("###,###.00");
    double value = 0;
    if (total.isNumeric() || total.type() == dao::Variant::Type::Date)
        value = total.asDouble();
    else if (!total.isEmpty() && !total.isNull())
        value = dao::leadingNumber(dao::valueToText(total));
    return dao::formatNumber(value, pattern);
}

QString Totals::nullsNote(qint64 nullsSkipped) {
    if (nullsSkipped <= 0) return QString();
    return nullsSkipped == 1 ? QStringLiteral("1 Null value skipped")
                             : QStringLiteral("%1 Null values skipped").arg(nullsSkipped);
}

}  // namespace bulk
