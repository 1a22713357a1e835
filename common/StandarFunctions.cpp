#include "StandarFunctions.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>

#include "platform/DataControl.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Dao.h"

namespace common {

void CenterForm(QWidget* form) {
    if (!form) return;
    const QScreen* screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->geometry();
    const QSize size = form->frameGeometry().size();  // the window's outer size, as the user sees it
    // Single precision, halves taken before the subtraction.
    const float left = float(platform::pixelsToTwipsX(area.width())) / 2.0f -
                       float(platform::pixelsToTwipsX(size.width())) / 2.0f;
    const float top = float(platform::pixelsToTwipsY(area.height())) / 2.0f -
                      float(platform::pixelsToTwipsY(size.height())) / 2.0f;
    form->move(area.x() + platform::twipsToPixelsX(left), area.y() + platform::twipsToPixelsY(top));
}

namespace {

// Only '*' and '?' are wildcards; brackets and every other character stand for themselves.
QRegularExpression wildcardPattern(const QString& name) {
    QString re;
    for (const QChar c : name) {
        if (c == QLatin1Char('*'))
            re += QLatin1String(".*");
        else if (c == QLatin1Char('?'))
            re += QLatin1Char('.');
        else
            re += QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(re));
}

bool ordinaryFile(const QFileInfo& fi) {
    return fi.isFile() && !fi.isHidden() && !fi.fileName().startsWith(QLatin1Char('.'));
}

}  // namespace

QStringList UserTableNames(const QString& file) { return UserTableNames(file, dao::OpenWatch()); }

QStringList UserTableNames(const QString& file, const dao::OpenWatch& watch) {
    auto db = dao::OpenDatabase(file, watch);
    const QStringList names = UserTableNames(*db);
    db->Close();
    return names;
}

QStringList UserTableNames(dao::Database& db) {
    QStringList names = db.TableDefs();
    names.removeIf([](const QString& name) { return name.startsWith(QLatin1String("MS"), Qt::CaseSensitive); });
    return names;
}

bool FileExists(const QString& path) {
    try {
        // Only blanks are trimmed, not tabs or line breaks.
        qsizetype from = 0, to = path.size();
        while (from < to && path[from] == QLatin1Char(' ')) ++from;
        while (to > from && path[to - 1] == QLatin1Char(' ')) --to;
        const QString trimmed = path.mid(from, to - from);
        if (trimmed.isEmpty()) return false;

        const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
        const QString folder = slash < 0 ? QStringLiteral(".") : trimmed.left(slash + 1);
        const QString name = trimmed.mid(slash + 1);
        if (folder.contains(QLatin1Char('*')) || folder.contains(QLatin1Char('?'))) return false;

        if (!name.isEmpty() && !name.contains(QLatin1Char('*')) && !name.contains(QLatin1Char('?')))
            return ordinaryFile(QFileInfo(trimmed));

        // A pattern, or a folder path that ends in a separator (any file of the folder).
        const QRegularExpression pattern = wildcardPattern(name.isEmpty() ? QStringLiteral("*") : name);
        QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot);
        while (it.hasNext()) {
            it.next();
            const QFileInfo fi = it.fileInfo();
            if (ordinaryFile(fi) && pattern.match(fi.fileName()).hasMatch()) return true;
        }
        return false;
    } catch (...) {
        return false;
    }
}

bool IsRecordsetOpen(const std::shared_ptr<dao::Recordset>& rs) {
    if (!rs) return false;
    try {
        (void)rs->RecordCount();
        return true;
    } catch (const dao::Error&) {
        return false;
    }
}

QString sortFieldMessage() {
    const QChar cr(13);
    return QStringLiteral("El campo de sorteo seleccionado no esta en la lista de campo para este reporte.") +
           cr + QStringLiteral("Solución: ") + cr + QStringLiteral("1- Seleccione otro metodo de sorteo") +
           cr + QStringLiteral("2- Seleccione el campo que esta seleccionado en metodo de sorteo");
}

namespace {

constexpr int kObjectNotSet = 91;

// The ordered copy of a recordset; the old one keeps its order (and its Sort, on failure).
std::shared_ptr<dao::Recordset> sorted(const std::shared_ptr<dao::Recordset>& rs, const QString& sort) {
    if (!rs) throw dao::Error(kObjectNotSet, QStringLiteral("Object variable not set"));
    const QString before = rs->Sort();
    rs->setSort(sort);
    try {
        return rs->OpenRecordset(rs->Type());
    } catch (...) {
        rs->setSort(before);
        throw;
    }
}

// The shared failure handling of the two sort routines.
void reportSortFailure(const dao::Error& e) {
    while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    if (e.number() == dao::err::UnknownSortField) {
        platform::MsgBox(sortFieldMessage(), platform::vbInformation);
    } else {
        platform::MsgBox(
            QStringLiteral("Error:") + QString::number(e.number()) + QLatin1Char(' ') + e.description(),
            platform::vbInformation);
    }
}

}  // namespace

void SortRecordset(std::shared_ptr<dao::Recordset>& rs, const QString& sort) {
    try {
        std::shared_ptr<dao::Recordset> result = sorted(rs, sort);
        rs = std::move(result);
    } catch (const dao::Error& e) {
        reportSortFailure(e);
    }
}

void SortDataControl(platform::DataControl* control, const QString& sort) {
    try {
        if (!control) throw dao::Error(kObjectNotSet, QStringLiteral("Object variable not set"));
        control->setRecordset(sorted(control->Recordset(), sort));
    } catch (const dao::Error& e) {
        reportSortFailure(e);
    }
}

}  // namespace common
