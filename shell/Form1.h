#pragma once

// The start-up window: the path of a database file, its table list, and the table browser opened
// modally over it. The last path is remembered in the settings store ("Settings"/"LastOpened").

#include <QWidget>
#include <functional>
#include <memory>

class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace dao {
class Database;
}

namespace shell {

class Form1 : public QWidget {
    Q_OBJECT

public:
    // Makes the table browser for one Open: a fresh window over `table` of `dbFile`, with the
    // browser's DB_DATABASEFILE, DB_SELECTED_RECORDS and DB_SELECTED_TABLE assigned in that order.
    // Form1 shows it modally and deletes it when it closes. Tests put a stand-in here.
    using BrowserFactory = std::function<QDialog*(QWidget* parent, const QString& dbFile,
                                                  const QString& records, const QString& table)>;
    static BrowserFactory browserFactory;

    explicit Form1(QWidget* parent = nullptr);

    // A path given on the command line: replaces the remembered one in the path box.
    void setStartFile(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void browse();
    void openDatabase();
    void closeDatabase();
    void openTable();
    void setDatabaseListed(bool listed);
    void selectPath();

    QGroupBox* SSPanel2;
    QLineEdit* FileTxT;
    QPushButton* BrowseBtn;
    QPushButton* OpenDatabaseBtn;
    QPushButton* CloseDatabaseBtn;
    QGroupBox* SSPanel1;
    QListWidget* Tables;
    QPushButton* OpenTable;
    QPushButton* CancelBtn;
    QLabel* Image1;
    // Held while its tables are listed, so that a browser opened on the file uses the same reading
    // of an Access file instead of reading the whole file again.
    std::shared_ptr<dao::Database> listedDb_;
};

}  // namespace shell
