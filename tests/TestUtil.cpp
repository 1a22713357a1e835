#include "TestUtil.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <cstring>

#include "platform/dao/Dao.h"
#include "platform/dao/JetFile.h"

namespace testutil {

int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const dao::Error& e) {
        return e.number();
    }
    return 0;
}

QString passwordJetCopy(const QTemporaryDir& dir, const QString& name, const QString& password) {
    const QString to = dir.filePath("pw-" + name);
    QFile::remove(to);
    QFile::copy(jetFile(name), to);
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
    QFile f(to);
    if (!f.open(QIODevice::ReadWrite)) return to;
    QByteArray h = f.read(4096);
    // The header from 0x18 is masked; the password (UCS-2, 40 bytes at 0x42) is masked once more
    // with the whole part of the creation date (a double at 0x72).
    const uint8_t* mask = dao::jet::headerMask();
    uint8_t date[8];
    for (int i = 0; i < 8; ++i) date[i] = uint8_t(h[0x72 + i]) ^ mask[0x72 + i - 0x18];
    double created;
    std::memcpy(&created, date, 8);
    const uint32_t dateMask = uint32_t(int64_t(created));
    for (int i = 0; i < 40; ++i) {
        const int c = i / 2 < password.size() ? password[i / 2].unicode() : 0;
        const uint8_t b = uint8_t(i % 2 ? c >> 8 : c) ^ uint8_t(dateMask >> (8 * (i % 4)));
        h[0x42 + i] = char(b ^ mask[0x42 + i - 0x18]);
    }
    f.seek(0);
    f.write(h);
    return to;
}


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

std::optional<pid_t> jetReaderOf(pid_t parent, bool stopped) {
    for (const QString& p : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int pid = p.toInt(&number);
        if (!number) continue;
        QFile f("/proc/" + p + "/stat");
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QByteArray stat = f.readAll();
        const qsizetype close = stat.lastIndexOf(')');
        const QByteArray name = stat.mid(stat.indexOf('(') + 1, close - stat.indexOf('(') - 1);
        const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
        // A zombie has finished: its program is past the open already.
        if (rest.size() > 1 && rest[0] != "Z" && (!stopped || rest[0] == "T") && rest[1].toInt() == parent &&
            name.startsWith("tabulon-jet-rea"))
            return pid_t(pid);
    }
    return std::nullopt;
}

}  // namespace testutil
