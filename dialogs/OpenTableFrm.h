#pragma once

// The table picker: the user tables of a database file in a list, and the table browser opened
// modally on the one picked, as the main window opens it.

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QListWidget;
class QPushButton;

namespace dialogs {

class OpenTableFrm : public QDialog {
    Q_OBJECT
public:
    explicit OpenTableFrm(QWidget* parent = nullptr);

    // The database file to list; empty means the program's database (the main window's).
    QString alTABLE;

    // Makes the table browser for one open, its DB_DATABASEFILE, DB_SELECTED_RECORDS and
    // DB_SELECTED_TABLE assigned in that order; the picker shows it modally and deletes it when it
    // closes. The default makes the program's table browser.
    using BrowserFactory = std::function<QDialog*(QWidget* parent, const QString& dbFile,
                                                  const QString& records, const QString& table)>;
    static BrowserFactory browserFactory;

    // Lists the tables (the load step); a file that cannot be opened is reported and lists nothing.
    void loadTables();
    // Opens the browser on the selected table; nothing when none is selected.
    void openTable();

    QListWidget* tableList() const { return TableList; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape and the window's close button end here too: the window unloads.
    void done(int result) override;

private:
    QString databaseFile() const;

    QListWidget* TableList;
    QPushButton* UpdateBtn;
    QPushButton* CancelBtn;
    QLabel* Label1;
    bool loaded_ = false;
};

}  // namespace dialogs
