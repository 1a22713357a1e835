#include "SearchSql.h"

#include <QLocale>
#include <QSet>
#include <cmath>

#include "platform/dao/Conversions.h"
#include "platform/dao/Error.h"
#include "platform/dao/FieldTypes.h"
#include "platform/dao/JetSql.h"
#include "platform/dao/Variant.h"

namespace browser {

bool isNumericFieldType(int typeCode) {
    return dao::isNumericField(typeCode);
}

QString sqlName(const QString& name) {
    if (name.isEmpty()) return name;
    return dao::jetName(name);
}

QString fieldRef(const QString& field) {
    return dao::jetName(field, dao::NameQuoting::Always);
}

QString quoteText(const QString& value) {
    QString out = value;
    out.replace('\'', "''");
    return out;
}

QString numberText(const QString& typed) {
    const double d = dao::typedNumber(typed);
    if (!std::isfinite(d)) dao::raise(dao::err::Overflow);
    QString text = dao::valueToText(dao::Variant::fromDouble(d));
    const QString point = QLocale().decimalPoint();
    if (point != ".") text.replace(point, ".");
    return text;
}

QString recordSourceSql(const QString& selectList, const QString& table) {
    return "select " + selectList + " from " + sqlName(table);
}

QString searchCondition(const QString& op, const SearchRow& row) {
    if (row.value.isEmpty() || row.field.isEmpty()) return {};
    const QString f = fieldRef(row.field);
    if (isNumericFieldType(row.fieldType)) {
        // "Like" has no meaning for a number: it becomes an equality test.
        const QString numOp = (op == "=" || op == ">" || op == "<") ? op : QStringLiteral("=");
        return f + " " + numOp + numberText(row.value);
    }
    // Text fields are only tested for containment or equality, whatever the operator.
    if (op == "Like") return f + " like '*" + quoteText(row.value) + "*'";
    return f + " = '" + quoteText(row.value) + "'";
}

QString searchWhere(const QString& op, const std::vector<SearchRow>& rows) {
    QString w;
    for (const SearchRow& row : rows) {
        const QString c = searchCondition(op, row);
        if (c.isEmpty()) continue;
        if (!w.isEmpty()) w += " and ";
        w += c;
    }
    return w;
}

QString searchSql(const QString& selectList, const QString& table, const QString& op,
                  const std::vector<SearchRow>& rows) {
    const QString base = recordSourceSql(selectList, table);
    const QString w = searchWhere(op, rows);
    return w.isEmpty() ? base : base + " where " + w;
}

std::optional<QString> rangeSql(const QString& selectList, const QString& table, const QString& field,
                                const QString& from, const QString& to) {
    if (from.isEmpty() || to.isEmpty() || field.isEmpty()) return std::nullopt;
    const QString base = recordSourceSql(selectList, table);
    const QString f = fieldRef(field);
    // The blanks differ between the three forms; stored last queries depend on them.
    if (from != "*" && to != "*")
        return base + " where " + f + ">= " + numberText(from) + " and " + f + " <= " + numberText(to);
    if (from == "*") return base + " where " + f + " <= " + numberText(to);
    return base + " where " + f + " >= " + numberText(from) + " ";
}

QString sortExpression(const QString& field) {
    return sqlName(field);
}

}  // namespace browser
