#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QStringList>

namespace testutil {

// The folder of the shared Jet test files.
QString jetDir();
QString jetFile(const QString& name);

// Runs an SQL script on a new SQLite file (through the engine's Execute) and returns its path.
QString makeSqlite(const QTemporaryDir& dir, const QString& name, const QStringList& statements);

// Pins the default locale for one scope.
class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale& l);
    ~LocaleGuard();

private:
    QLocale old_;
};

}  // namespace testutil
