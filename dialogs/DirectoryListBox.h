#pragma once

// A directory list: the folders from the root down to the current path, then the current path's
// subfolders. Double-click (or Enter) on a folder makes it the path; every change of the path is
// signalled.

#include <QListWidget>
#include <QString>

namespace dialogs {

class DirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit DirectoryListBox(QWidget* parent = nullptr);

    QString path() const { return path_; }
    // Shows the folder. A folder that does not exist or cannot be read raises dao::Error 68 (device
    // unavailable) and the list stays as it was.
    void setPath(const QString& path);

    // The folder an entry stands for.
    QString entryPath(int row) const;

signals:
    void pathChanged(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void openEntry(QListWidgetItem* item);
    QString path_;
};

}  // namespace dialogs
