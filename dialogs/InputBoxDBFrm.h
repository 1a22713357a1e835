#pragma once

// The database lookup box: the records of the caller's data control FormData in a grid, a search box
// that scrolls the grid to the first row whose search column starts with the typed text, and the
// chosen record's AnswerField handed back in Answer ("Error" on cancel or failure). The dialog hides
// itself rather than closing, so its fields stay readable.

#include <QDialog>
#include <QString>
#include <vector>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QHeaderView;

namespace platform {
class DataControl;
class DataGrid;
}  // namespace platform

namespace dialogs {

class InputBoxDBFrm : public QDialog {
    Q_OBJECT
public:
    explicit InputBoxDBFrm(QWidget* parent = nullptr);

    // Grid column of the search field (field position + 1); -1: the dialog has no search column.
    qint16 UNIQUE_FIELD = 0;
    QString SearchField;
    QString AnswerField;
    QString Answer;
    // The table or select the answer is read from, in the grid's order.
    QString sRecordSource;

    platform::DataControl* formData() const { return FormData; }
    platform::DataGrid* gridDisplay() const { return GridDisplay; }
    QLabel* searchTitleLbl() const { return SearchTitleLbl; }
    QLabel* infoFieldLbl() const { return InfoFieldLbl; }
    QLineEdit* infoFieldTxT() const { return InfoFieldTxT; }

    // What activating the window does: the search column, and a fresh search cache.
    void activateForm();
    // The text typed into the search box was changed.
    void searchChanged(const QString& text);
    // The grid row the user clicked.
    void gridClicked(int row);

public slots:
    void ok();
    void cancel();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildControls();
    // The grid's text at `row` in the search column, read once and kept.
    QString cachedText(int row);
    void finish(const QString& answer);

    platform::DataControl* FormData;
    platform::DataGrid* GridDisplay;
    QHeaderView* Header;
    QLabel* SearchTitleLbl;
    QLineEdit* SearchTitleTxT;
    QLabel* InfoFieldLbl;
    QLineEdit* InfoFieldTxT;
    QLabel* Label1;
    QPushButton* SSCommand1;
    QPushButton* SSCommand2;
    QLabel* Picture1;
    QFrame* SSPanel1;

    // The search column's texts of the rows read so far (no fixed limit: rows are read as a search
    // reaches them).
    std::vector<QString> cache_;
    int cacheColumn_ = -1;
    bool centred_ = false;
};

}  // namespace dialogs
