#include "ClassRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>

namespace velloform {

namespace {

// Every line as it stands (comments and blank lines of the user's included), without the break after
// the last one.
QStringList readLines() {
    QFile f(ClassRegistry::file());
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty()) lines.removeLast();
    return lines;
}

bool writeLines(const QStringList& lines) {
    const QString path = ClassRegistry::file();
    if (!QDir().mkpath(QFileInfo(path).path())) return false;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    // A new file starts with a line saying what it is; an existing one keeps its lines as they are.
    QString text = lines.isEmpty() || !QFile::exists(path)
                       ? QStringLiteral("# Velloform class registry: class name=library path\n")
                       : QString();
    for (const QString& l : lines) text += l + u'\n';
    const QByteArray bytes = text.toUtf8();
    return f.write(bytes) == bytes.size() && f.commit();
}

bool isLineOf(const QString& line, const QString& className) {
    return line.trimmed().startsWith(className + u'=');
}

}  // namespace

QString ClassRegistry::file() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/velloform/classes");
}

QString ClassRegistry::lookup(const QString& className) {
    for (QString line : readLines()) {
        line = line.trimmed();
        if (isLineOf(line, className)) return line.mid(className.size() + 1);
    }
    return QString();
}

bool ClassRegistry::add(const QString& className, const QString& libraryPath) {
    QStringList lines = readLines();
    lines.erase(std::remove_if(lines.begin(), lines.end(), [&](const QString& l) { return isLineOf(l, className); }),
                lines.end());
    lines << className + u'=' + libraryPath;
    return writeLines(lines);
}

bool ClassRegistry::remove(const QString& className) {
    if (!QFile::exists(file())) return true;
    QStringList lines = readLines();
    const auto n = lines.size();
    lines.erase(std::remove_if(lines.begin(), lines.end(), [&](const QString& l) { return isLineOf(l, className); }),
                lines.end());
    return lines.size() == n || writeLines(lines);
}

}  // namespace velloform
