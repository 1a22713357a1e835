// The bulk tools through the browser's panels: controls found by their design names, prompts
// answered through the seams, real SQLite files.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "../platform/QStringPrint.h"
#include "TestUtil.h"
#include "browser/AdvanceViewForm.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

using browser::AdvanceViewForm;
using namespace platform;

namespace {

const QStringList kItems = {
    "create table Items (Id long, Nombre text(30), Cant short, Precio currency, Nota text(10))",
    "insert into Items values (1, 'uno', 30000, 1000, 'a')",
    "insert into Items values (2, 'dos', 30000, 234.5, null)",
    "insert into Items values (3, 'tres', 5, null, 'c')",
    "insert into Items values (4, 'Uno', 6, 0, '')",
};

class BulkPanels : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setSettingsDirectory(dir_.path() + "/config");
    }
    void TearDown() override { setSettingsDirectory(QString()); }

    std::unique_ptr<AdvanceViewForm> open(const QStringList& statements, const QString& table = "Items") {
        db_ = testutil::makeSqlite(dir_, QString("b%1.db").arg(++files_), statements);
        auto f = std::make_unique<AdvanceViewForm>();
        f->DB_DATABASEFILE = db_;
        f->DB_SELECTED_RECORDS = "*";
        f->DB_SELECTED_TABLE = table;
        f->show();
        return f;
    }
    template <class T = QWidget>
    static T* get(QWidget& w, const QString& name) {
        T* c = w.findChild<T*>(name);
        EXPECT_NE(c, nullptr) << name.toStdString();
        return c;
    }
    static void click(QWidget& w, const char* button) {
        QTest::mouseClick(get<QPushButton>(w, button), Qt::LeftButton);
    }
    static void choose(QWidget& w, const char* combo, const QString& text) {
        auto* c = get<QComboBox>(w, combo);
        c->setCurrentIndex(c->findText(text));
    }
    static void type(QWidget& w, const char* box, const QString& text) {
        get<QLineEdit>(w, box)->setText(text);
    }
    // The column in Id order, read through a connection of its own, Null as "NULL".
    QStringList column(const QString& name, const QString& table = "Items") {
        auto db = dao::OpenDatabase(db_);
        auto rs = db->OpenRecordset("select " + name + " from " + table + " order by Id");
        QStringList values;
        for (; !rs->Eof(); rs->MoveNext()) {
            const dao::Variant v = rs->Fields().Item(0).Value();
            values << (v.isNull() ? QStringLiteral("NULL") : dao::valueToText(v));
        }
        return values;
    }
    static QString cell(AdvanceViewForm& f, int row, int col) {
        return get<DataGrid>(f, "grdDataGrid")->model()->index(row, col).data().toString();
    }
    // The working display is gone: grid back, panels hidden, normal pointer.
    static void expectRestored(AdvanceViewForm& f) {
        EXPECT_TRUE(get<QWidget>(f, "grdDataGrid")->isVisible());
        EXPECT_FALSE(get<QWidget>(f, "StatusPanel")->isVisible());
        EXPECT_FALSE(get<QWidget>(f, "WorkingPanel")->isVisible());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }

    QTemporaryDir dir_;
    QString db_;
    int files_ = 0;
    PromptScript prompts_;
    testutil::LocaleGuard locale_{QLocale(QLocale::English, QLocale::UnitedStates)};
};

TEST_F(BulkPanels, ReplaceThroughThePanel) {
    auto f = open(kItems);
    choose(*f, "RemplaceCombo", "Nombre");
    type(*f, "Remplace_FindTxT", "uno");
    type(*f, "Remplace_ChangeForTxT", "one");
    click(*f, "DoRemplaceBtn");
    EXPECT_EQ(column("Nombre"), QStringList({"one", "dos", "tres", "Uno"}));
    // The grid shows the changed values of the same recordset; the bar ended at the last record.
    EXPECT_EQ(cell(*f, 0, 1), "one");
    EXPECT_EQ(get<QProgressBar>(*f, "ProgBar")->maximum(), 4);
    EXPECT_EQ(get<QProgressBar>(*f, "ProgBar")->value(), 4);
    EXPECT_TRUE(f->dataControl()->Recordset()->Eof());
    expectRestored(*f);
    // The inputs keep their contents; a number field takes the number (half to even).
    choose(*f, "RemplaceCombo", "Cant");
    type(*f, "Remplace_FindTxT", "*");
    type(*f, "Remplace_ChangeForTxT", "12.5");
    click(*f, "DoRemplaceBtn");
    EXPECT_EQ(column("Cant"), QStringList(4, "12"));
    EXPECT_EQ(prompts_.count(), 0);
}

// Without the mouse: the Table tab's letter, Tab to Replace, Space opens its panel with the focus on
// the field list, the arrow keys choose a field, Enter moves from input to input and Space runs it.
TEST_F(BulkPanels, ReplaceFromTheKeyboardOnly) {
    auto f = open(kItems);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
    QApplication::setActiveWindow(f.get());
    auto focusName = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };
    auto* tablePanel = get<QWidget>(*f, "MenuPanel(3)");
    QTest::keyClick(f.get(), Qt::Key_T, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tablePanel->isAncestorOf(QApplication::focusWidget()); }, 5000));
    for (int i = 0; i < 8 && focusName() != "RemplaceBtn"; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(focusName(), "RemplaceBtn");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor([&] { return focusName() == "RemplaceCombo"; }, 5000)) << focusName().toStdString();
    auto* combo = get<QComboBox>(*f, "RemplaceCombo");
    for (int i = 0; i < 8 && combo->currentText() != "Nombre"; ++i) QTest::keyClick(combo, Qt::Key_Down);
    ASSERT_EQ(combo->currentText(), "Nombre");
    QTest::keyClick(combo, Qt::Key_Return);
    ASSERT_EQ(focusName(), "Remplace_FindTxT");
    QTest::keyClicks(QApplication::focusWidget(), "uno");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(focusName(), "Remplace_ChangeForTxT");
    QTest::keyClicks(QApplication::focusWidget(), "one");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(focusName(), "DoRemplaceBtn");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(column("Nombre"), QStringList({"one", "dos", "tres", "Uno"}));
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(BulkPanels, LongReplaceShowsTheWorkingDisplayAndStaysResponsive) {
    QStringList statements = {"create table Items (Id long, Nombre text(30))"};
    auto f = open(statements);
    {
        auto db = dao::OpenDatabase(db_);
        db->Execute("insert into Items values (0, 'x')");
        // Doubling: 2^13 records.
        for (int i = 0; i < 13; ++i) db->Execute("insert into Items select Id + 1, Nombre from Items");
    }
    click(*f, "SelectAllRecordsBtn");
    choose(*f, "RemplaceCombo", "Nombre");
    type(*f, "Remplace_FindTxT", "*");
    type(*f, "Remplace_ChangeForTxT", "y");
    bool gridHidden = false, working = false, hourglass = false;
    QString caption;
    int timerShots = 0;
    // A queued call runs at the first pass of the event loop, and the tool's working display makes
    // one as soon as it is on screen, however quickly the replace then ends (a timer could still be
    // waiting when it does).
    QObject probe;
    QMetaObject::invokeMethod(&probe, [&] {
        if (++timerShots > 1) return;
        gridHidden = !get<QWidget>(*f, "grdDataGrid")->isVisible();
        working =
            get<QWidget>(*f, "WorkingPanel")->isVisible() && get<QWidget>(*f, "StatusPanel")->isVisible();
        caption = get<QLabel>(*f, "StatusLbl")->text();
        hourglass =
            QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
        // A second press while the tool runs is not a second run.
        click(*f, "DoRemplaceBtn");
    }, Qt::QueuedConnection);
    // Pressed without a pass of the event loop before the tool starts.
    get<QPushButton>(*f, "DoRemplaceBtn")->click();
    EXPECT_EQ(timerShots, 1) << "events were processed while the tool ran";
    EXPECT_TRUE(gridHidden);
    EXPECT_TRUE(working);
    EXPECT_TRUE(hourglass);
    EXPECT_EQ(caption, "Remplazando...");
    expectRestored(*f);
    EXPECT_EQ(column("count(*) as n", "Items where Nombre = 'y'"), QStringList{"8192"});
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(BulkPanels, CopyThroughThePanel) {
    auto f = open(kItems);
    // Same field: the message, nothing else.
    choose(*f, "CopyCombo1", "Nota");
    choose(*f, "CopyCombo2", "Nota");
    click(*f, "Startcopy");
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, "Can not copy data to the same field!");
    EXPECT_EQ(prompts_.last().icon, vbExclamation);

    choose(*f, "CopyCombo2", "Nombre");
    get<QCheckBox>(*f, "NotOverwrite")->setCheckState(Qt::PartiallyChecked);  // grey counts as not set
    get<QCheckBox>(*f, "CopyEraseSource")->setChecked(true);
    click(*f, "Startcopy");
    EXPECT_EQ(column("Nombre"), QStringList({"a", "dos", "c", "Uno"}));
    EXPECT_EQ(column("Nota"), QStringList({"", "NULL", "", ""}));
    auto* bar = get<QProgressBar>(*f, "ProgBar");
    EXPECT_EQ(bar->maximum(), 14);
    EXPECT_EQ(bar->value(), 14);
    expectRestored(*f);

    // A value the destination cannot take: "Error in process", and what was copied stays.
    choose(*f, "CopyCombo1", "Nombre");
    choose(*f, "CopyCombo2", "Cant");
    get<QCheckBox>(*f, "CopyEraseSource")->setChecked(false);
    click(*f, "Startcopy");
    EXPECT_EQ(prompts_.last().title, "Error in process");
    EXPECT_TRUE(prompts_.last().text.endsWith("Records copied before the error: 0"));
    EXPECT_EQ(column("Cant"), QStringList({"30000", "30000", "5", "6"}));
    expectRestored(*f);
}

TEST_F(BulkPanels, TotalsThroughThePanelKeepTheCurrentRecord) {
    auto f = open(kItems);
    f->dataControl()->moveTo(2);
    auto* grid = get<DataGrid>(*f, "grdDataGrid");
    ASSERT_EQ(grid->currentIndex().row(), 2);
    auto* summary = get<QComboBox>(*f, "SummaryFields");
    ASSERT_EQ(summary->count(), 3);  // Id, Cant, Precio
    summary->setCurrentIndex(summary->findText("Cant"));
    emit summary->activated(summary->currentIndex());  // choosing computes at once
    EXPECT_EQ(get<QLineEdit>(*f, "SummaryTxT")->text(), "60,011.00");
    EXPECT_EQ(get<QLabel>(*f, "SummaryNullsLbl")->text(), "");
    EXPECT_EQ(f->dataControl()->Recordset()->AbsolutePosition(), 2);
    EXPECT_EQ(grid->currentIndex().row(), 2);

    choose(*f, "SummaryFields", "Precio");
    click(*f, "GetTotalBtn");
    EXPECT_EQ(get<QLineEdit>(*f, "SummaryTxT")->text(), "$1,234.50");
    EXPECT_EQ(get<QLabel>(*f, "SummaryNullsLbl")->text(), "1 Null value skipped");
    EXPECT_EQ(grid->currentIndex().row(), 2);
    expectRestored(*f);

    // No field chosen: nothing.
    summary->setCurrentIndex(-1);
    click(*f, "GetTotalBtn");
    EXPECT_EQ(get<QLineEdit>(*f, "SummaryTxT")->text(), "$1,234.50");
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(BulkPanels, ToolsStartWithNoFieldChosenAndDoNothingWithoutOne) {
    auto f = open({"create table Items (Id long, Nombre text(30), Cant short, Alta datetime, Activo yesno)",
                   "insert into Items values (1, 'uno', 3, '2020-01-01 00:00:00', 1)",
                   "insert into Items values (1, 'uno', 3, '2020-01-01 00:00:00', 1)"});
    for (const char* combo : {"RemplaceCombo", "OpFieldsCombo", "CopyCombo1", "CopyCombo2", "VerifyFields", "SummaryFields"}) {
        EXPECT_EQ(get<QComboBox>(*f, combo)->currentIndex(), -1) << combo;
        EXPECT_TRUE(get<QComboBox>(*f, combo)->currentText().isEmpty()) << combo;
    }
    // Verify offers the fields it can renumber only: no Yes/No, no date.
    QStringList offered;
    for (int i = 0; i < get<QComboBox>(*f, "VerifyFields")->count(); ++i)
        offered << get<QComboBox>(*f, "VerifyFields")->itemText(i);
    EXPECT_EQ(offered, (QStringList{"Id", "Nombre", "Cant"}));

    type(*f, "Remplace_FindTxT", "*");
    type(*f, "Remplace_ChangeForTxT", "0");
    click(*f, "DoRemplaceBtn");
    get<QRadioButton>(*f, "OperatorOpt(2)")->setChecked(true);
    type(*f, "OperatorValue", "100");
    click(*f, "ProcessOperationBtn");
    click(*f, "Startcopy");
    get<QCheckBox>(*f, "VerifyChk")->setChecked(true);
    click(*f, "VerifyBtn");
    EXPECT_EQ(column("Id"), QStringList(2, "1"));
    EXPECT_EQ(column("Nombre"), QStringList(2, "uno"));
    EXPECT_EQ(column("Cant"), QStringList(2, "3"));
    EXPECT_EQ(column("Activo"), QStringList(2, "True"));
    // Only Verify says that nothing was chosen.
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, "Ninguna acción a sido seleccionada!");
}

TEST_F(BulkPanels, OperationsThroughThePanelRequeryTheBrowser) {
    auto f = open(kItems);
    choose(*f, "OpFieldsCombo", "Cant");
    get<QRadioButton>(*f, "OperatorOpt(3)")->setChecked(true);
    type(*f, "OperatorValue", "4");
    f->dataControl()->moveTo(3);
    click(*f, "ProcessOperationBtn");
    // 7500, 7500, 1.25 -> 1, 1.5 -> 2 in an integer field.
    EXPECT_EQ(column("Cant"), QStringList({"7500", "7500", "1", "2"}));
    EXPECT_EQ(f->dataControl()->Recordset()->AbsolutePosition(), 0);  // re-queried: first record
    EXPECT_EQ(get<QProgressBar>(*f, "ProgBar")->value(), 4);
    expectRestored(*f);

    // A Null value: the error box; Ignore keeps the Null and goes on.
    choose(*f, "OpFieldsCombo", "Precio");
    get<QRadioButton>(*f, "OperatorOpt(0)")->setChecked(true);
    type(*f, "OperatorValue", "1");
    prompts_.answer(vbIgnore);
    click(*f, "ProcessOperationBtn");
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().icon, vbCritical);
    EXPECT_TRUE(prompts_.last().text.endsWith(" - 94"));
    EXPECT_EQ(column("Precio"), QStringList({"1001", "235.5", "NULL", "1"}));
    expectRestored(*f);
}

TEST_F(BulkPanels, RefusedUpdateAbortKeepsWhatWasCommitted) {
    db_ = dir_.filePath("check.db");
    QProcess p;
    p.start("sqlite3", {db_,
                        "create table Items (Id integer primary key, Cant long check (Cant < 100));"
                        "insert into Items values (1, 10), (2, 20), (3, 60), (4, 30);"});
    ASSERT_TRUE(p.waitForFinished(30000));
    auto f = std::make_unique<AdvanceViewForm>();
    f->DB_DATABASEFILE = db_;
    f->DB_SELECTED_RECORDS = "*";
    f->DB_SELECTED_TABLE = "Items";
    f->show();
    choose(*f, "OpFieldsCombo", "Cant");
    type(*f, "OperatorValue", "50");
    prompts_.answer(vbRetry).answer(vbAbort);  // retrying fails the same way
    click(*f, "ProcessOperationBtn");
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_TRUE(prompts_.last().text.endsWith(" - 3317"));
    EXPECT_EQ(column("Cant"), QStringList({"60", "70", "60", "30"}));
    expectRestored(*f);

    // Ignore skips the refused record and goes on.
    prompts_.answer(vbIgnore).answer(vbIgnore).answer(vbIgnore);
    click(*f, "ProcessOperationBtn");
    EXPECT_EQ(column("Cant"), QStringList({"60", "70", "60", "80"}));
}

TEST_F(BulkPanels, EraseTheRecordsOfTheSearch) {
    QStringList statements = {"create table Items (Id long, Nombre text(30))"};
    for (int i = 1; i <= 10; ++i)
        statements << QString("insert into Items values (%1, '%2')").arg(i).arg(i % 3 ? "keep" : "drop");
    auto f = open(statements);
    auto* erase = get<QPushButton>(*f, "EraseRecords");
    // No (the default) deletes nothing.
    QTest::mouseClick(erase, Qt::LeftButton);
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, "WARNING: This will erase all records in the screen!");
    EXPECT_EQ(prompts_.last().defaultButton, 2);
    EXPECT_EQ(column("count(*) as n"), QStringList{"10"});

    // A search that selects 3 of the 10.
    get<QCheckBox>(*f, "FastSearchChk")->setChecked(false);
    get<QComboBox>(*f, "OperatorCombo")->setCurrentIndex(1);  // "="
    get<QLineEdit>(*f, "SearchBox(1)")->setText("drop");
    click(*f, "SearchBtn");
    ASSERT_EQ(f->dataControl()->Recordset()->RecordCount(), 3);
    prompts_.answer(vbYes);
    QTest::mouseClick(erase, Qt::LeftButton);
    EXPECT_EQ(prompts_.count(), 2);  // nothing more to say: everything was erased
    EXPECT_EQ(column("Id"), QStringList({"1", "2", "4", "5", "7", "8", "10"}));
    // The browser shows its search again, with no records; the status bar its record source.
    EXPECT_EQ(f->dataControl()->Recordset()->RecordCount(), 0);
    EXPECT_EQ(f->statusText(), f->dataControl()->RecordSource());
    EXPECT_EQ(get<QLabel>(*f, "StatusLbl")->text(), "");
    EXPECT_TRUE(get<QWidget>(*f, "grdDataGrid")->isVisible());
    EXPECT_FALSE(get<QWidget>(*f, "StatusPanel")->isVisible());
}

}  // namespace
