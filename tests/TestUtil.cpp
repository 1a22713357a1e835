#include "TestUtil.h"

#include <QFile>
#include <QLocale>

#include "platform/dao/Dao.h"

namespace testutil {

QString jetDir() { return QStringLiteral(TABULON_TESTDATA "/jet"); }
QString jetFile(const QString& name) { return jetDir() + "/" + name; }

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) return {};
    return path;
}

}  // namespace

QString overwrittenJetCopy(const QTemporaryDir& dir, const QString& name, int firstPage, int lastPage) {
    QByteArray data = readAll(jetFile(name));
    // Jet3 files have 2 KB pages (version byte 0 at 0x14), the later formats 4 KB.
    const qsizetype pageSize = data.size() > 0x14 && data[0x14] == 0 ? 2048 : 4096;
    for (qsizetype i = firstPage * pageSize; i < (lastPage + 1) * pageSize && i < data.size(); ++i)
        data[i] = char(0xAB);
    return writeFile(dir.filePath(QStringLiteral("pages%1-%2-").arg(firstPage).arg(lastPage) + name), data);
}

QString truncatedJetCopy(const QTemporaryDir& dir, const QString& name, qint64 keepBytes) {
    return writeFile(dir.filePath(QStringLiteral("first%1-").arg(keepBytes) + name),
                     readAll(jetFile(name)).left(keepBytes));
}

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
