#pragma once

// The folder picker window: a drive list (the mounted file systems and the home folder), a directory
// list and the selected path. The caller sets DIRECTORY_PATH (or leaves it empty), shows the window
// modally and reads DIRECTORY_PATH afterwards: the folder the directory list showed last, also after
// Cancel.

#include <QDialog>
#include <QString>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dialogs {

class DirectoryListBox;

class SearchDirectory : public QDialog {
    Q_OBJECT
public:
    explicit SearchDirectory(QWidget* parent = nullptr);

    QString DIRECTORY_PATH;

    // The load step: centre, then start in DIRECTORY_PATH or report the list's starting folder.
    void loadForm();
    // The drive list's choice changed: the directory list goes to that drive, or "Drive not ready".
    void driveChanged(int index);

    QComboBox* driveList() const { return DriveList; }
    DirectoryListBox* directoryList() const { return DirectoryList; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape and the window's close button end here too: the window unloads.
    void done(int result) override;

private:
    void fillDrives();
    // The drive list entry a folder is on (the longest folder that holds it); -1 when none.
    int driveOf(const QString& path) const;
    void showDriveOf(const QString& path);

    QFrame* SSPanel1;
    QLabel* Picture1;
    QComboBox* DriveList;
    DirectoryListBox* DirectoryList;
    QLineEdit* SelectedDirTxT;
    QPushButton* Okbtn;
    QPushButton* CancelBtn;
    bool loaded_ = false;
};

}  // namespace dialogs
