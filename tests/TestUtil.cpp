#include "TestUtil.h"

#include <QLocale>

#include "platform/dao/Dao.h"

namespace testutil {

QString jetDir() { return QStringLiteral(TABULON_TESTDATA "/jet"); }
QString jetFile(const QString& name) { return jetDir() + "/" + name; }

QString makeSqlite(const QTemporaryDir& dir, const QString& name, const QStringList& statements) {
    const QString path = dir.filePath(name);
    auto db = dao::CreateDatabase(path);
    for (const QString& s : statements) db->Execute(s);
    db->Close();
    return path;
}

LocaleGuard::LocaleGuard(const QLocale& l) : old_(QLocale()) { QLocale::setDefault(l); }
LocaleGuard::~LocaleGuard() { QLocale::setDefault(old_); }

}  // namespace testutil
