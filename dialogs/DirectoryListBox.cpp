#include "DirectoryListBox.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStyle>

#include "platform/Prompts.h"
#include "platform/dao/Error.h"

namespace dialogs {

namespace {
constexpr int PathRole = Qt::UserRole + 1;
}

DirectoryListBox::DirectoryListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemDoubleClicked, this, &DirectoryListBox::openEntry);
}

void DirectoryListBox::setPath(const QString& path) {
    const QFileInfo info(path);
    const QString clean = QDir::cleanPath(info.absoluteFilePath());
    QDir dir(clean);
    if (!info.isDir() || !info.isReadable() || !dir.isReadable())
        dao::raise(dao::err::DeviceUnavailable,
                   QStringLiteral("The folder \"%1\" cannot be read.").arg(QDir::toNativeSeparators(clean)));
    const QStringList subfolders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);

    clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    // The chain of folders from the root down to the path, each indented one step more.
    QStringList chain;
    for (QDir up(clean);; ) {
        chain.prepend(up.absolutePath());
        if (up.isRoot() || !up.cdUp()) break;
    }
    int depth = 0;
    for (const QString& folder : chain) {
        const QString name = QDir(folder).isRoot() ? QDir::toNativeSeparators(folder) : QFileInfo(folder).fileName();
        auto* item = new QListWidgetItem(open, QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(PathRole, folder);
        ++depth;
    }
    setCurrentRow(count() - 1);
    for (const QString& sub : subfolders) {
        auto* item = new QListWidgetItem(closed, QString(depth * 2, QLatin1Char(' ')) + sub, this);
        item->setData(PathRole, dir.filePath(sub));
    }
    const bool changed = clean != path_;
    path_ = clean;
    if (changed) emit pathChanged(path_);
}

QString DirectoryListBox::entryPath(int row) const {
    const QListWidgetItem* it = item(row);
    return it ? it->data(PathRole).toString() : QString();
}

void DirectoryListBox::openEntry(QListWidgetItem* item) {
    if (!item) return;
    try {
        setPath(item->data(PathRole).toString());
    } catch (const dao::Error& e) {
        platform::MsgBox(e.description(), platform::vbExclamation);
    }
}

void DirectoryListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openEntry(currentItem());
        return;
    }
    QListWidget::keyPressEvent(event);
}

}  // namespace dialogs
