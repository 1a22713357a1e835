#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QStringList>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace testutil {

// The folder of the shared Jet test files.
QString jetDir();
QString jetFile(const QString& name);

// Copies of a Jet test file in dir, damaged as a failing disk would: pages firstPage..lastPage
// overwritten with a filler byte, or the file cut after keepBytes bytes.
QString overwrittenJetCopy(const QTemporaryDir& dir, const QString& name, int firstPage, int lastPage);
QString truncatedJetCopy(const QTemporaryDir& dir, const QString& name, qint64 keepBytes);
// A copy of a Jet 4 test file with a database password put into its header as Access keeps it.
QString passwordJetCopy(const QTemporaryDir& dir, const QString& name, const QString& password);

// Runs an SQL script on a new SQLite file (through the engine's Execute) and returns its path.
QString makeSqlite(const QTemporaryDir& dir, const QString& name, const QStringList& statements);

// The engine error number f raises, 0 when it raises none.
int errorOf(const std::function<void()>& f);

// Pins the default locale for one scope.
class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale& l);
    ~LocaleGuard();

private:
    QLocale old_;
};

// The Access file reader child of `parent` (its name as /proc cuts it to 15 characters), not a
// zombie; only one stopped by a signal when `stopped`.
std::optional<pid_t> jetReaderOf(pid_t parent, bool stopped = false);

}  // namespace testutil
