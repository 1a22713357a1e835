#include "CheckCommand.h"

#include <QFileInfo>

#include "CliTool.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"
#include "platform/dao/Error.h"
#include "platform/dao/JetSql.h"
#include "platform/dao/JetCheck.h"

namespace cli {

namespace {

// SQLite's own checks, reported in the form of the Access check: the file, one line per table, a
// FAULT: line per fault, the summary.
int checkSqlite(const QString& file, const std::function<void(const QString&)>& line) {
    auto db = dao::OpenDatabase(file);
    line(QString("file: %1 (SQLite)").arg(file));
    const QStringList tables = db->TableDefs();
    for (const QString& t : tables) {
        auto rs = db->OpenRecordset("SELECT count(*) FROM " + dao::quoteIdent(t), dao::dbOpenSnapshot | dao::dbSQLPassThrough);
        line(QString("table %1: %2 records").arg(t, dao::valueToText(rs->Fields().Item(0).Value())));
        rs->Close();
    }
    int faults = 0;
    auto rows = [&](const QString& pragma, const std::function<QString(const dao::Fields&)>& describe) {
        auto rs = db->OpenRecordset(pragma, dao::dbOpenSnapshot | dao::dbSQLPassThrough);
        int found = 0;
        for (; !rs->Eof(); rs->MoveNext()) {
            const QString what = describe(rs->Fields());
            if (what.isEmpty()) continue;
            ++found;
            line("FAULT: " + what);
        }
        rs->Close();
        faults += found;
        return found;
    };
    auto text = [](const dao::Variant& v) { return v.isNull() ? QString() : dao::valueToText(v); };
    const int integrity = rows(QStringLiteral("PRAGMA integrity_check"), [&](const dao::Fields& f) {
        const QString message = text(f.Item(0).Value());
        return message == QLatin1String("ok") ? QString() : "integrity_check: " + message;
    });
    line(integrity ? QString("integrity_check: %1 fault(s)").arg(integrity) : QStringLiteral("integrity_check: ok"));
    const int keys = rows(QStringLiteral("PRAGMA foreign_key_check"), [&](const dao::Fields& f) {
        return QString("foreign_key_check: table %1, row %2: no record in %3 for its foreign key %4")
            .arg(text(f.Item(0).Value()), text(f.Item(1).Value()), text(f.Item(2).Value()), text(f.Item(3).Value()));
    });
    line(keys ? QString("foreign_key_check: %1 fault(s)").arg(keys) : QStringLiteral("foreign_key_check: ok"));
    db->Close();
    line(QString("check: %1 tables, %2 fault(s)").arg(tables.size()).arg(faults));
    return faults ? kExitFaults : 0;
}

}  // namespace

int runCheck(const QString& file, const std::function<void(const QString&)>& line) {
    if (!QFileInfo(file).isFile())
        dao::raise(dao::err::FileNotFound, QString("Could not find file '%1'.").arg(file));
    if (isSqliteFile(file)) return checkSqlite(file, line);
    // A protected file is checked with its password (TABULON_PASSWORD), as it is read; an
    // encrypted one through its decrypted pages.
    const dao::UnlockedFile unlocked(file);
    const dao::jet::CheckReport rep =
        dao::jet::JetCheck::run(file, unlocked.decrypted() ? unlocked.path() : QString());
    for (const QString& l : rep.lines) line(l);
    if (!rep.complete && rep.faults == 0) return 1;
    return rep.faults ? kExitFaults : 0;
}

}  // namespace cli
