#include "ReportFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "platform/dao/JetSql.h"
#include "dao/Error.h"

namespace platform {

namespace {

constexpr int kFileNotFound = 53;

[[noreturn]] void invalid(const QString& path, const QString& why) {
    dao::raise(dao::err::InvalidProcedureCall,
               QStringLiteral("The report file \"%1\" is not valid: %2").arg(QDir::toNativeSeparators(path), why));
}

// A name as Jet SQL takes it whatever it holds: bracketed, or backquoted when it holds "]".
QString enclose(const QString& name) {
    return dao::jetName(name, dao::NameQuoting::Always);
}

bool isSelect(const QString& source) {
    static const QRegularExpression re(QStringLiteral("^\\s*select\\b"), QRegularExpression::CaseInsensitiveOption);
    return re.match(source).hasMatch();
}

QString text(const QJsonObject& o, const char* key, const QString& path) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull()) return {};
    if (!v.isString()) invalid(path, QStringLiteral("\"%1\" must be a text").arg(QLatin1String(key)));
    return v.toString();
}

}  // namespace

ReportFile ReportFile::load(const QString& path) {
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly))
        dao::raise(kFileNotFound, QStringLiteral("File not found: \"%1\"").arg(QDir::toNativeSeparators(path)));
    // A report file is a few lines; anything huge is not one.
    if (f.size() > (1 << 20)) invalid(path, QStringLiteral("the file is too large"));
    return parse(f.readAll(), path);
}

ReportFile ReportFile::parse(const QByteArray& bytes, const QString& path) {
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &perr);
    if (perr.error != QJsonParseError::NoError)
        invalid(path, perr.errorString() + QStringLiteral(" at character %1").arg(perr.offset));
    if (!doc.isObject()) invalid(path, QStringLiteral("it must hold one JSON object"));
    const QJsonObject o = doc.object();

    ReportFile r;
    r.path = path;
    r.title = text(o, "title", path);
    r.source = text(o, "source", path).trimmed();
    while (r.source.endsWith(QLatin1Char(';'))) r.source.chop(1);
    if (r.source.isEmpty()) invalid(path, QStringLiteral("\"source\" (a table name or a select) is missing"));
    r.database = text(o, "database", path);
    r.sort = text(o, "sort", path).trimmed();
    r.formula = text(o, "formula", path).trimmed();

    const QString orientation = text(o, "orientation", path).trimmed().toLower();
    if (orientation.isEmpty() || orientation == QLatin1String("auto"))
        r.orientation = ReportOrientation::Auto;
    else if (orientation == QLatin1String("portrait"))
        r.orientation = ReportOrientation::Portrait;
    else if (orientation == QLatin1String("landscape"))
        r.orientation = ReportOrientation::Landscape;
    else
        invalid(path, QStringLiteral("\"orientation\" must be \"portrait\", \"landscape\" or \"auto\""));

    const QJsonValue cols = o.value(QLatin1String("columns"));
    if (!cols.isUndefined() && !cols.isNull()) {
        if (!cols.isArray()) invalid(path, QStringLiteral("\"columns\" must be a list"));
        int n = 0;
        for (const QJsonValue& c : cols.toArray()) {
            ++n;
            ReportColumn col;
            if (c.isString()) {
                col.field = c.toString();
            } else if (c.isObject()) {
                const QJsonObject co = c.toObject();
                col.field = text(co, "field", path);
                col.caption = text(co, "caption", path);
                const QJsonValue w = co.value(QLatin1String("width"));
                if (!w.isUndefined() && !w.isNull()) {
                    if (!w.isDouble() || w.toDouble() < 0 || w.toDouble() > 1440.0 * 100)
                        invalid(path, QStringLiteral("column %1: \"width\" must be a number of twips (0 to 144000)")
                                          .arg(n));
                    col.widthTwips = w.toDouble();
                }
            } else {
                invalid(path, QStringLiteral("column %1 must be a field name or an object").arg(n));
            }
            if (col.field.trimmed().isEmpty()) invalid(path, QStringLiteral("column %1 has no \"field\"").arg(n));
            r.columns.push_back(col);
        }
    }
    return r;
}

QString ReportFile::recordSource(const QString& selection) const {
    QString list;
    for (const ReportColumn& c : columns) {
        if (!list.isEmpty()) list += QStringLiteral(", ");
        list += enclose(c.field);
        if (!c.caption.isEmpty() && c.caption != c.field) list += QStringLiteral(" as ") + enclose(c.caption);
    }
    if (list.isEmpty()) list = QStringLiteral("*");
    QString sql = QStringLiteral("select ") + list + QStringLiteral(" from ") +
                  (isSelect(source) ? QLatin1Char('(') + source + QLatin1Char(')') : enclose(source));
    if (!selection.trimmed().isEmpty()) sql += QStringLiteral(" where (") + selection.trimmed() + QLatin1Char(')');
    if (!sort.isEmpty()) sql += QStringLiteral(" order by ") + sort;
    return sql;
}

QString ReportFile::databasePath() const {
    if (database.trimmed().isEmpty()) return {};
    const QString db = database.trimmed();
    if (QFileInfo(db).isAbsolute() || path.isEmpty()) return db;
    return QFileInfo(path).absoluteDir().filePath(db);
}

QString ReportFile::listingTitle() const {
    return title.isEmpty() ? source : title;
}

std::vector<double> ReportFile::columnWidths() const {
    std::vector<double> w;
    for (const ReportColumn& c : columns) w.push_back(c.widthTwips);
    return w;
}

}  // namespace platform
