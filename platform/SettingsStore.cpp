#include "SettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace platform {

namespace {

QString& overrideFolder() {
    static QString folder;
    return folder;
}

// QSettings reads '/' and '\\' as group separators and collapses them; '%' is our escape. An empty
// name gets a spelling that no encoded name has ("%" alone) so that it stays a name of its own.
QString encodeName(const QString& name) {
    if (name.isEmpty()) return QStringLiteral("%");
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        switch (c.unicode()) {
            case '%':
                out += QLatin1String("%25");
                break;
            case '/':
                out += QLatin1String("%2F");
                break;
            case '\\':
                out += QLatin1String("%5C");
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A file name must not hold a separator either, nor be hidden.
QString fileName(const QString& app) {
    QString name = encodeName(app.isEmpty() ? QStringLiteral("Tabulon") : app);
    if (name.startsWith(QLatin1Char('.'))) name.replace(0, 1, QLatin1String("%2E"));
    return name + QLatin1String(".ini");
}

}  // namespace

QString settingsDirectory() {
    if (!overrideFolder().isEmpty()) return overrideFolder();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/Tabulon");
}

void setSettingsDirectory(const QString& folder) {
    overrideFolder() = folder;
}

QString settingsFile(const QString& app) {
    return QDir(settingsDirectory()).filePath(fileName(app));
}

QString GetSetting(const QString& app, const QString& section, const QString& key,
                   const QString& defaultValue) {
    QSettings s(settingsFile(app), QSettings::IniFormat);
    s.beginGroup(encodeName(section));
    const QVariant v = s.value(encodeName(key));
    if (!v.isValid()) return defaultValue;
    // A value edited by hand into a comma list comes back as a list: give it back as written.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QLatin1String(", "));
    return v.toString();
}

void SaveSetting(const QString& app, const QString& section, const QString& key, const QString& value) {
    QDir().mkpath(settingsDirectory());
    QSettings s(settingsFile(app), QSettings::IniFormat);
    s.beginGroup(encodeName(section));
    s.setValue(encodeName(key), value);
    s.endGroup();
    s.sync();
}

void DeleteSetting(const QString& app, const QString& section, const QString& key) {
    QSettings s(settingsFile(app), QSettings::IniFormat);
    if (key.isEmpty()) {
        s.remove(encodeName(section));
    } else {
        s.beginGroup(encodeName(section));
        s.remove(encodeName(key));
        s.endGroup();
    }
    s.sync();
}

}  // namespace platform
