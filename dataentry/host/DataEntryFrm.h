#pragma once

// The program's window for adding records to one table: it hosts a DataEntryForm control, keeps
// itself out of sight while the control builds its rows, and centres itself when the control has
// finished loading. A status bar shows the Caps Lock and Num Lock state.
//
// Use (one shared window at a time):
//   auto* f = dataentry::DataEntryFrm::shared();
//   f->DB_DATABASENAME = path;
//   f->DB_SELECTED_TABLE = table;
//   f->setCaption(table);                          // loads the window (its load step runs now)
//   f->dataEntryForm()->setEnableQuickTips(false);
//   f->exec();
//   dataentry::DataEntryFrm::releaseShared();      // the next use starts from a fresh window

#include <QDialog>
#include <QString>

class QLabel;
class QStatusBar;
class QTimer;

namespace dataentry {

class DataEntryForm;

class DataEntryFrm : public QDialog {
    Q_OBJECT
public:
    explicit DataEntryFrm(QWidget* parent = nullptr);
    ~DataEntryFrm() override;

    QString DB_DATABASENAME;
    QString DB_SELECTED_TABLE;
    QString DB_FORMCAPTION;

    // The window's caption; setting it loads the window first, as touching a built-in property does.
    void setCaption(const QString& caption);
    // The load step (runs once, at the first caption change or show).
    void Load();
    bool isLoaded() const { return loaded_; }

    DataEntryForm* dataEntryForm() const { return DataEntryForm1; }

    // The program's one shared window: created on first use, deleted by releaseShared.
    static DataEntryFrm* shared(QWidget* parent = nullptr);
    static bool hasShared();
    static void releaseShared();

    // The key state the status bar shows (from the keyboard's lock lights; false where there are none).
    static bool capsLockOn();
    static bool numLockOn();

    // Showing loads the window first (before its control builds the form). A window whose control
    // could not build its form closes again once the messages have been given, instead of staying
    // out of sight.
    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void onFinishedLoading();
    void updateKeyPanels();

    DataEntryForm* DataEntryForm1;
    QStatusBar* StatusBar1;
    QLabel* capsPanel_;
    QLabel* numPanel_;
    QTimer* keyTimer_;
    bool loaded_ = false;
    bool finished_ = false;
};

}  // namespace dataentry
