#include "LookupHint.h"

#include <QSet>

#include "platform/dao/Dao.h"
#include "platform/dao/JetSql.h"

namespace dataentry {

QString tableNameSql(const QString& given) {
    // Callers may hand the name already quoted ("[Mi tabla]"), as they must for the record source.
    QString table = given;
    if (table.size() > 2 && ((table.startsWith(u'[') && table.endsWith(u']') && !table.mid(1, table.size() - 2).contains(u']')) ||
                             (table.startsWith(u'`') && table.endsWith(u'`') && !table.mid(1, table.size() - 2).contains(u'`'))))
        table = table.mid(1, table.size() - 2);
    if (table.isEmpty()) return table;
    return dao::jetName(table);
}

QString lookupHintSql(const QString& table, const QString& field, const QString& typed) {
    QString text = typed;
    text.replace(u'\'', QLatin1String("''"));
    const QString f = dao::jetName(field, dao::NameQuoting::Always);
    // The top record of the descending order is the greatest match; the engine keeps only that
    // one instead of ordering every match.
    return QStringLiteral("select top 1 ") + f + QStringLiteral(" from ") + tableNameSql(table) +
           QStringLiteral(" where ") + f + QStringLiteral(" like '*") + text + QStringLiteral("*' order by ") + f +
           QStringLiteral(" desc");
}

std::optional<QString> lookupHint(const QString& databaseName, const QString& table, int fieldIndex,
                                  const QString& typed) {
    const auto db = dao::OpenDatabase(databaseName);
    // The table's field and whether it has records, from its first record only.
    const auto head = db->OpenRecordset(QStringLiteral("select top 1 * from ") + tableNameSql(table));
    const dao::Fields fields = head->Fields();
    if (fieldIndex < 0 || fieldIndex >= fields.Count()) return std::nullopt;
    const dao::Field field = fields.Item(fieldIndex);
    if (field.Type() != dao::dbText || head->RecordCount() < 1) return std::nullopt;

    const auto rs = db->OpenRecordset(lookupHintSql(table, field.Name(), typed));
    if (rs->RecordCount() < 1) return std::nullopt;
    rs->MoveFirst();
    const dao::Variant v = rs->Fields().Item(0).Value();
    if (v.isNull() || v.isEmpty()) return std::nullopt;
    return v.type() == dao::Variant::Type::String ? v.asString() : QString();
}

}  // namespace dataentry
