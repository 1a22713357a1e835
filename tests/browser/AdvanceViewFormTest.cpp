#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "../platform/QStringPrint.h"
#include "PgTestUtil.h"
#include "TestUtil.h"
#include "browser/AdvanceViewForm.h"
#include "browser/MenuPanels.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "platform/Twips.h"
#include "platform/dao/Dao.h"

using browser::AdvanceViewForm;
using namespace platform;

namespace {

const QStringList kClientes = {
    "create table Clientes (Id long, Nombre text(50), Cantidad long, Precio currency, Alta datetime)",
    "insert into Clientes values (3, 'Ana Abad', 12, 15.5, '2020-01-02 00:00:00')",
    "insert into Clientes values (1, 'Luis Gómez', 7, 3, '2021-05-06 00:00:00')",
    "insert into Clientes values (2, 'Sean O''Brien', 12, 20, '2019-03-04 00:00:00')",
    "insert into Clientes values (4, 'Marta Abreu', 0, 1.25, null)",
};

class AdvanceViewFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setSettingsDirectory(dir_.path() + "/config");
        db_ = testutil::makeSqlite(dir_, "clientes.db", kClientes);
    }
    void TearDown() override { setSettingsDirectory(QString()); }

    // A browser over `table`, assigned as the main window does and shown (which loads the table).
    std::unique_ptr<AdvanceViewForm> open(const QString& table, const QString& db = QString()) {
        auto f = std::make_unique<AdvanceViewForm>();
        f->DB_DATABASEFILE = db.isEmpty() ? db_ : db;
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
    static QLineEdit* box(QWidget& w, int i) { return get<QLineEdit>(w, QString("SearchBox(%1)").arg(i)); }
    static QComboBox* select(QWidget& w, int i) {
        return get<QComboBox>(w, QString("SearchSelect(%1)").arg(i));
    }
    static QComboBox* combo(QWidget& w, const char* name) { return get<QComboBox>(w, name); }
    static QString source(AdvanceViewForm& f) { return f.dataControl()->RecordSource(); }
    static QString statusMessage(AdvanceViewForm& f) {
        return get<QStatusBar>(f, "StatusBar")->currentMessage();
    }
    static long long count(AdvanceViewForm& f) { return f.dataControl()->Recordset()->RecordCount(); }
    // The value of field `field` of the record at `row`, as the grid shows it.
    static QString cell(AdvanceViewForm& f, int row, int field) {
        auto* grid = get<DataGrid>(f, "grdDataGrid");
        return grid->model()->index(row, field).data().toString();
    }
    static void choose(QComboBox* c, int index) {
        c->setCurrentIndex(index);
        emit c->activated(index);
    }

    QTemporaryDir dir_;
    QString db_;
    PromptScript prompts_;  // no real box may ever block a test
};

// The same browser over the same table on a PostgreSQL server (when TABULON_TEST_PG names one).
using testutil::Backend;

class AdvanceViewFormBackend : public AdvanceViewFormTest, public ::testing::WithParamInterface<Backend> {
protected:
    void SetUp() override {
        AdvanceViewFormTest::SetUp();
        if (GetParam() == Backend::SQLite) return;
        if (qEnvironmentVariable("TABULON_TEST_PG").isEmpty())
            GTEST_SKIP() << "TABULON_TEST_PG is not set: no PostgreSQL server for this test";
        server_ = std::make_unique<testutil::PgSchema>();
        ASSERT_TRUE(server_->isSet());
        QStringList sql;
        for (QString s : kClientes)
            sql << s.replace("Clientes (Id long, Nombre text(50), Cantidad long, Precio currency, Alta datetime)",
                             "\"Clientes\" (\"Id\" integer, \"Nombre\" varchar(50), \"Cantidad\" integer, "
                             "\"Precio\" numeric(19,4), \"Alta\" timestamp(0))")
                       .replace("into Clientes", "into \"Clientes\"");
        ASSERT_EQ(server_->psql(sql.join(";\n")), QStringList());
        db_ = server_->uri();
    }
    std::unique_ptr<testutil::PgSchema> server_;
};

INSTANTIATE_TEST_SUITE_P(Backends, AdvanceViewFormBackend, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return testutil::backendName(info.param); });

TEST_P(AdvanceViewFormBackend, FirstOpeningLoadsTheTableWithDefaults) {
    auto f = open("Clientes");
    EXPECT_EQ(f->windowTitle(), "Records para Clientes");
    EXPECT_EQ(source(*f), "select * from Clientes");
    EXPECT_EQ(f->statusText(), "select * from Clientes");
    EXPECT_EQ(get<QLabel>(*f, "Panel1")->toolTip(), "select * from Clientes");

    // One search row per field, 1000 twips apart, row j on field j.
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(select(*f, j)->count(), 5);
        EXPECT_EQ(select(*f, j)->currentIndex(), j);
    }
    EXPECT_EQ(f->findChild<QLineEdit*>("SearchBox(5)"), nullptr);
    EXPECT_EQ(box(*f, 3)->y() - box(*f, 2)->y(), twipsToPixelsY(1000));
    EXPECT_EQ(get<QScrollBar>(*f, "SearchScroll")->maximum(), 10000);

    // Defaults: ordered by the first field, "Like", Auto Search on, columns 1500 twips wide.
    EXPECT_EQ(combo(*f, "OrderByBox")->currentText(), "Id");
    EXPECT_EQ(cell(*f, 0, 0), "1");
    EXPECT_EQ(cell(*f, 3, 0), "4");
    EXPECT_EQ(combo(*f, "OperatorCombo")->currentText(), "Like");
    EXPECT_TRUE(get<QCheckBox>(*f, "FastSearchChk")->isChecked());
    auto* grid = get<DataGrid>(*f, "grdDataGrid");
    ASSERT_EQ(grid->ColumnCount(), 5);
    EXPECT_NEAR(grid->ColumnWidthTwips(4), 1500, 15);

    // Every field for the general lists, Integer/Long/Currency only for ranges and totals.
    EXPECT_EQ(combo(*f, "CopyCombo1")->count(), 5);
    auto* range = combo(*f, "RangeCombo");
    ASSERT_EQ(range->count(), 3);
    EXPECT_EQ(range->itemText(2), "Precio");
    EXPECT_EQ(combo(*f, "SummaryFields")->count(), 3);
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(AdvanceViewFormTest, SettingsAreRememberedAcrossTwoBrowsers) {
    {
        auto f = open("Clientes");
        choose(combo(*f, "OrderByBox"), 1);  // Nombre
        combo(*f, "OperatorCombo")->setCurrentIndex(1);
        get<QCheckBox>(*f, "FastSearchChk")->setChecked(false);
        QTest::keyClicks(box(*f, 2), "12");  // Cantidad; no automatic search now
        EXPECT_EQ(source(*f), "select * from Clientes");
        QTest::mouseClick(get<QPushButton>(*f, "SearchBtn"), Qt::LeftButton);
        EXPECT_EQ(source(*f), "select * from Clientes where [Cantidad] =12");
        EXPECT_EQ(cell(*f, 0, 1), "Ana Abad");  // ordered by Nombre
        get<DataGrid>(*f, "grdDataGrid")->setColumnWidthTwips(1, 2400);
        QTest::mouseClick(get<QPushButton>(*f, "cmdClose"), Qt::LeftButton);
    }
    EXPECT_EQ(GetSetting("Tabulon", "Clientes", "OrderByBox"), "1");
    EXPECT_EQ(GetSetting("Tabulon", "Settings", "ClientesColWidth1"), "2400");

    auto f = open("Clientes");
    EXPECT_EQ(combo(*f, "OrderByBox")->currentText(), "Nombre");
    EXPECT_EQ(combo(*f, "OperatorCombo")->currentText(), "=");
    EXPECT_FALSE(get<QCheckBox>(*f, "FastSearchChk")->isChecked());
    EXPECT_EQ(source(*f), "select * from Clientes where [Cantidad] =12");
    EXPECT_EQ(f->statusText(), source(*f));
    EXPECT_EQ(count(*f), 2);
    EXPECT_NEAR(get<DataGrid>(*f, "grdDataGrid")->ColumnWidthTwips(1), 2400, 15);
    EXPECT_NEAR(get<DataGrid>(*f, "grdDataGrid")->ColumnWidthTwips(0), 1500, 15);
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(AdvanceViewFormTest, BadStoredSettingsFallBackSilently) {
    SaveSetting("Tabulon", "Clientes", "OrderByBox", "5");  // the table has five fields: 0..4
    SaveSetting("Tabulon", "Clientes", "OperatorCombo", "dos");
    SaveSetting("Tabulon", "Clientes", "FastSearch", "on");
    SaveSetting("Tabulon", "Clientes", "LastQuery", "select * from Clientes where [Gone] = 1");
    SaveSetting("Tabulon", "Settings", "ClientesColWidth0", "wide");
    SaveSetting("Tabulon", "Settings", "ClientesColWidth1", "-300");
    SaveSetting("Tabulon", "Settings", "ClientesColWidth2", " 1 800x");  // blanks dropped, then 1800
    auto f = open("Clientes");
    EXPECT_EQ(combo(*f, "OrderByBox")->currentIndex(), 0);
    EXPECT_EQ(combo(*f, "OperatorCombo")->currentText(), "Like");
    EXPECT_TRUE(get<QCheckBox>(*f, "FastSearchChk")->isChecked());
    EXPECT_EQ(source(*f), "select * from Clientes");  // the broken last query is skipped
    EXPECT_EQ(count(*f), 4);
    auto* grid = get<DataGrid>(*f, "grdDataGrid");
    EXPECT_NEAR(grid->ColumnWidthTwips(0), 1500, 15);
    EXPECT_NEAR(grid->ColumnWidthTwips(1), 1500, 15);
    EXPECT_NEAR(grid->ColumnWidthTwips(2), 1800, 15);
    EXPECT_EQ(prompts_.count(), 0);

    f.reset();
    SaveSetting("Tabulon", "Clientes", "OrderByBox", "2.5");  // nearest whole number, ties to even
    SaveSetting("Tabulon", "Clientes", "OperatorCombo", "&H3");
    f = open("Clientes");
    EXPECT_EQ(combo(*f, "OrderByBox")->currentText(), "Cantidad");
    EXPECT_EQ(combo(*f, "OperatorCombo")->currentText(), "<");
}

TEST_P(AdvanceViewFormBackend, SearchTextsOfTheTypedRows) {
    auto f = open("Clientes");
    // Like: containment on text, equality on numbers (no blank before the number).
    QTest::keyClicks(box(*f, 1), "ab");
    EXPECT_EQ(source(*f), "select * from Clientes where [Nombre] like '*ab*'");
    EXPECT_EQ(count(*f), 2);
    QTest::keyClicks(box(*f, 2), "12abc");
    EXPECT_EQ(source(*f), "select * from Clientes where [Nombre] like '*ab*' and [Cantidad] =12");
    EXPECT_EQ(count(*f), 1);

    // An empty row between two filled ones adds no second " and ".
    box(*f, 1)->clear();
    box(*f, 3)->setText("15.5");
    EXPECT_EQ(source(*f), "select * from Clientes where [Cantidad] =12 and [Precio] =15.5");
    box(*f, 2)->setText("abc");
    EXPECT_EQ(source(*f), "select * from Clientes where [Cantidad] =0 and [Precio] =15.5");
    EXPECT_EQ(count(*f), 0);

    // ">" tests numbers with ">", text still for equality.
    choose(combo(*f, "OperatorCombo"), 2);
    box(*f, 2)->clear();
    box(*f, 3)->clear();
    box(*f, 1)->setText("ab");
    EXPECT_EQ(source(*f), "select * from Clientes where [Nombre] = 'ab'");
    box(*f, 3)->setText("15");
    EXPECT_EQ(source(*f), "select * from Clientes where [Nombre] = 'ab' and [Precio] >15");

    // A row switched to another field takes that field's name and type.
    box(*f, 1)->clear();
    box(*f, 3)->clear();
    select(*f, 4)->setCurrentIndex(0);
    box(*f, 4)->setText("2");
    EXPECT_EQ(source(*f), "select * from Clientes where [Id] >2");
    EXPECT_EQ(count(*f), 2);
    EXPECT_EQ(cell(*f, 0, 0), "3");  // ordered by OrderByBox

    // ClearBtn empties its row, searches again and gives the box the focus.
    QTest::mouseClick(get<QPushButton>(*f, "ClearBtn(4)"), Qt::LeftButton);
    EXPECT_EQ(box(*f, 4)->text(), "");
    EXPECT_EQ(source(*f), "select * from Clientes");
    EXPECT_EQ(count(*f), 4);
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(AdvanceViewFormTest, ApostrophesAndQuotedTableNames) {
    testutil::makeSqlite(dir_, "other.db", {});
    auto db = dao::OpenDatabase(db_);
    db->Execute("create table [Mi tabla] (Nombre text(30), Nota memo)");
    db->Execute("insert into [Mi tabla] values ('Sean O''Brien', 'x')");
    db->Execute("insert into [Mi tabla] values ('Ana', 'y')");
    db->Close();

    auto f = open("Mi tabla");
    EXPECT_EQ(f->windowTitle(), "Records para Mi tabla");
    EXPECT_EQ(source(*f), "select * from [Mi tabla]");
    EXPECT_EQ(count(*f), 2);
    EXPECT_EQ(combo(*f, "RangeCombo")->count(), 0);  // no Integer, Long or Currency field
    QTest::keyClicks(box(*f, 0), "O'Brien");
    EXPECT_EQ(source(*f), "select * from [Mi tabla] where [Nombre] like '*O''Brien*'");
    EXPECT_EQ(count(*f), 1);
    EXPECT_EQ(prompts_.count(), 0);
    QTest::mouseClick(get<QPushButton>(*f, "cmdClose"), Qt::LeftButton);
    EXPECT_EQ(GetSetting("Tabulon", "Mi tabla", "LastQuery"), source(*f));
}

TEST_F(AdvanceViewFormTest, RejectedSearchesAreExplainedAndKeepThePreviousRecords) {
    auto f = open("Clientes");
    QTest::keyClicks(box(*f, 1), "Ana");
    const QString before = source(*f);
    const auto records = f->dataControl()->Recordset();
    ASSERT_EQ(count(*f), 1);

    // A number beyond any field's range: typed with Auto Search on, the status bar tells; the Search
    // button tells in a box.
    box(*f, 2)->setText("1e999");
    EXPECT_EQ(prompts_.count(), 0);
    EXPECT_TRUE(statusMessage(*f).contains("Overflow")) << statusMessage(*f).toStdString();
    EXPECT_EQ(source(*f), before);
    EXPECT_EQ(f->dataControl()->Recordset(), records);
    QTest::mouseClick(get<QPushButton>(*f, "SearchBtn"), Qt::LeftButton);
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().icon, vbExclamation);
    EXPECT_TRUE(prompts_.last().text.contains("Overflow")) << prompts_.last().text.toStdString();
    EXPECT_EQ(source(*f), before);
    EXPECT_EQ(f->dataControl()->Recordset(), records);
    box(*f, 2)->clear();
    EXPECT_EQ(statusMessage(*f), "");

    // The table went away behind the browser's back: search, range and show all all say so.
    {
        auto db = dao::OpenDatabase(db_);
        db->Execute("drop table Clientes");
        db->Close();
    }
    prompts_.clear();
    const QString shown = source(*f);
    QTest::mouseClick(get<QPushButton>(*f, "SearchBtn"), Qt::LeftButton);
    QTest::mouseClick(get<QPushButton>(*f, "SelectAllRecordsBtn"), Qt::LeftButton);
    combo(*f, "RangeCombo")->setCurrentIndex(0);
    get<QLineEdit>(*f, "FromTxT")->setText("1");
    get<QLineEdit>(*f, "ToTxT")->setText("2");
    QTest::mouseClick(get<QPushButton>(*f, "ShowRecords"), Qt::LeftButton);
    ASSERT_EQ(prompts_.count(), 3);
    for (const auto& r : prompts_.requests()) EXPECT_EQ(r.icon, vbExclamation) << r.text.toStdString();
    EXPECT_EQ(source(*f), shown);
    EXPECT_EQ(f->statusText(), shown);
}

// The engine rejects a date compared with a text that is no date (3464): the user is told and the
// previous records stay. While typing with Auto Search on, the status bar tells and every typed
// character stays; the Search button tells in a box.
TEST_F(AdvanceViewFormTest, DateComparedWithTextIsRejected) {
    auto f = open("Clientes");
    QTest::keyClicks(box(*f, 1), "Ana");
    const QString before = source(*f);
    combo(*f, "OperatorCombo")->setCurrentIndex(1);
    box(*f, 1)->clear();
    const QString all = source(*f);
    QTest::keyClicks(box(*f, 4), "2020-01-0");
    EXPECT_EQ(box(*f, 4)->text(), "2020-01-0");
    EXPECT_EQ(prompts_.count(), 0);
    EXPECT_TRUE(statusMessage(*f).contains("3464")) << statusMessage(*f).toStdString();
    EXPECT_EQ(source(*f), all);
    EXPECT_EQ(f->statusText(), all);
    EXPECT_EQ(count(*f), 4);

    QTest::keyClicks(box(*f, 4), "2");
    EXPECT_EQ(box(*f, 4)->text(), "2020-01-02");
    EXPECT_EQ(source(*f), "select * from Clientes where [Alta] = '2020-01-02'");
    EXPECT_EQ(count(*f), 1);
    EXPECT_EQ(statusMessage(*f), "");

    box(*f, 4)->clear();
    box(*f, 4)->setText("Ana");
    EXPECT_EQ(prompts_.count(), 0);
    QTest::mouseClick(get<QPushButton>(*f, "SearchBtn"), Qt::LeftButton);
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().icon, vbExclamation);
    EXPECT_TRUE(prompts_.last().text.contains("3464")) << prompts_.last().text.toStdString();
    EXPECT_EQ(source(*f), all);
    EXPECT_NE(source(*f), before);
}

// Keystrokes that queue up while a search runs are merged into one search for the newest text, and
// that search gives what searching after every keystroke would.
TEST_F(AdvanceViewFormTest, QueuedKeystrokesMergeIntoOneSearchForTheNewestText) {
    auto f = open("Clientes");
    int installed = 0;
    QObject::connect(f->dataControl(), &DataControl::recordsetChanged, [&] { ++installed; });
    for (QChar c : QString("o'bri")) {
        QCoreApplication::postEvent(box(*f, 1), new QKeyEvent(QEvent::KeyPress, 0, Qt::NoModifier, c));
        QCoreApplication::postEvent(box(*f, 1), new QKeyEvent(QEvent::KeyRelease, 0, Qt::NoModifier, c));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(box(*f, 1)->text(), "o'bri");
    EXPECT_EQ(source(*f), "select * from Clientes where [Nombre] like '*o''bri*'");
    EXPECT_EQ(count(*f), 1);
    EXPECT_EQ(installed, 1);
    EXPECT_EQ(prompts_.count(), 0);
}

// A keystroke that arrives while a search runs abandons it: only the newest text's records are
// ever shown, and the search that was overtaken never replaces them.
TEST_F(AdvanceViewFormTest, AKeystrokeDuringASearchAbandonsIt) {
    {
        auto db = dao::OpenDatabase(db_);
        db->Execute("create table Big (Id long, Nombre text(20))");
        db->Execute(
            "insert into Big (Id, Nombre) with recursive c(x) as (select 1 union all select x + 1 from c "
            "where x < 300000) select x, 'n' || x from c");
        db->Close();
    }
    auto f = open("Big");
    ASSERT_EQ(count(*f), 300000);
    int installed = 0;
    QObject::connect(f->dataControl(), &DataControl::recordsetChanged, [&] { ++installed; });
    // The second key arrives while the search for the first one still scans the table.
    QTimer::singleShot(5, box(*f, 1), [&] { QTest::keyClick(box(*f, 1), '7'); });
    QTest::keyClick(box(*f, 1), '9');
    EXPECT_EQ(box(*f, 1)->text(), "97");
    EXPECT_EQ(source(*f), "select * from Big where [Nombre] like '*97*'");
    EXPECT_EQ(installed, 1);
    EXPECT_EQ(count(*f), 11910);  // the numbers up to 300000 whose digits hold "97"
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(AdvanceViewFormTest, RangesShowAllAndOrdering) {
    auto f = open("Clientes");
    auto* range = combo(*f, "RangeCombo");
    auto* from = get<QLineEdit>(*f, "FromTxT");
    auto* to = get<QLineEdit>(*f, "ToTxT");
    auto* show = get<QPushButton>(*f, "ShowRecords");
    range->setCurrentIndex(1);  // Cantidad

    from->setText("*");
    to->setText("100");
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(source(*f), "select * from Clientes where [Cantidad] <= 100");
    from->setText("5");
    to->setText("*");
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(source(*f), "select * from Clientes where [Cantidad] >= 5 ");
    EXPECT_EQ(count(*f), 3);
    from->setText("*");
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(source(*f), "select * from Clientes where [Cantidad] <= 0");
    EXPECT_EQ(count(*f), 1);
    from->setText("7");
    to->setText("12");
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(source(*f), "select * from Clientes where [Cantidad]>= 7 and [Cantidad] <= 12");
    EXPECT_EQ(count(*f), 3);
    // A missing bound leaves the grid as it is.
    to->clear();
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(source(*f), "select * from Clientes where [Cantidad]>= 7 and [Cantidad] <= 12");

    // Ordering by the user's choice, then Show All: everything, still ordered, first record current.
    choose(combo(*f, "OrderByBox"), 3);  // Precio
    EXPECT_EQ(cell(*f, 0, 0), "1");
    QTest::mouseClick(get<QPushButton>(*f, "SelectAllRecordsBtn"), Qt::LeftButton);
    EXPECT_EQ(source(*f), "select * from Clientes");
    EXPECT_EQ(count(*f), 4);
    EXPECT_EQ(cell(*f, 0, 0), "4");
    EXPECT_EQ(f->dataControl()->Recordset()->AbsolutePosition(), 0);
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(AdvanceViewFormTest, MessagesOfTheWindow) {
    auto f = open("Clientes");
    combo(*f, "OperatorCombo")->setCurrentIndex(-1);
    QTest::mouseClick(get<QPushButton>(*f, "SearchBtn"), Qt::LeftButton);
    ASSERT_EQ(prompts_.count(), 1);
    EXPECT_EQ(prompts_.last().text, QString("Favor de seleccionar un operador de la lista de operadores,") +
                                        QChar(13) + "es necesario para hacer la busqueda.");
    EXPECT_EQ(prompts_.last().icon, vbInformation);

    bool handled = f->dataControl()->raiseError(dao::Error(3021, "whatever"));
    EXPECT_TRUE(handled);
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_EQ(prompts_.last().text, "Data error event hit err:" + dao::describe(3021));
    EXPECT_EQ(prompts_.last().style, vbOKOnly);
}

TEST_F(AdvanceViewFormTest, LoadStepFailureOffersAbortRetryIgnore) {
    prompts_.answer(vbRetry).answer(vbIgnore);
    auto f = open("Nowhere");
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_EQ(prompts_.last().buttons, vbAbortRetryIgnore);
    EXPECT_EQ(prompts_.last().icon, vbCritical);
    EXPECT_TRUE(prompts_.last().text.endsWith(" - 3078")) << prompts_.last().text.toStdString();
    EXPECT_EQ(combo(*f, "OperatorCombo")->currentText(), "Like");  // the steps after it ran
    // Navigation on nothing does nothing.
    QTest::mouseClick(get<QPushButton>(*f, "MoveFirstBtn"), Qt::LeftButton);
    QTest::mouseClick(get<QPushButton>(*f, "MoveLastBtn"), Qt::LeftButton);
    EXPECT_EQ(prompts_.count(), 2);
    // Typing with Auto Search on a table that never loaded: told in the status bar, no box.
    get<QCheckBox>(*f, "FastSearchChk")->setChecked(true);
    QTest::keyClicks(box(*f, 0), "ab");
    EXPECT_EQ(box(*f, 0)->text(), "ab");
    EXPECT_EQ(prompts_.count(), 2);
    EXPECT_TRUE(statusMessage(*f).endsWith(" - 3420")) << statusMessage(*f).toStdString();
}

TEST_F(AdvanceViewFormTest, AFailedOrAbandonedLoadKeepsTheTablesSettings) {
    // One data page of Table1 overwritten: opening it is an error naming the table.
    const QString damaged = testutil::overwrittenJetCopy(dir_, "testIndexCodesV1997.mdb", 48, 48);
    const QStringList keys = {"OrderByBox", "OperatorCombo", "FastSearch", "LastQuery"};
    const QStringList stored = {"1", "2", "0", "select * from Table1 where [name] like 'b*'"};
    for (int i = 0; i < keys.size(); ++i) SaveSetting("Tabulon", "Table1", keys[i], stored[i]);
    SaveSetting("Tabulon", "Settings", "Table1ColWidth0", "2222");

    for (int answer : {vbIgnore, vbAbort}) {
        prompts_.answer(answer);
        auto f = open("Table1", damaged);
        ASSERT_EQ(prompts_.count(), 1);
        EXPECT_EQ(prompts_.last().buttons, vbAbortRetryIgnore);
        EXPECT_TRUE(prompts_.last().text.contains("Table 'Table1'")) << prompts_.last().text.toStdString();
        EXPECT_TRUE(prompts_.last().text.contains("165 of its 275 records"))
            << prompts_.last().text.toStdString();
        QTest::mouseClick(get<QPushButton>(*f, "cmdClose"), Qt::LeftButton);
        f.reset();
        for (int i = 0; i < keys.size(); ++i)
            EXPECT_EQ(GetSetting("Tabulon", "Table1", keys[i]), stored[i]) << keys[i].toStdString();
        EXPECT_EQ(GetSetting("Tabulon", "Settings", "Table1ColWidth0"), "2222");
        prompts_.clear();
    }

    // A table of the same file that loads writes its settings as usual.
    {
        auto f = open("Table2", damaged);
        EXPECT_EQ(prompts_.count(), 0);
        EXPECT_EQ(count(*f), 9);
        combo(*f, "OperatorCombo")->setCurrentIndex(3);
        QTest::mouseClick(get<QPushButton>(*f, "cmdClose"), Qt::LeftButton);
    }
    EXPECT_EQ(GetSetting("Tabulon", "Table2", "OperatorCombo"), "3");
}

TEST_F(AdvanceViewFormTest, OneFieldTableAndEmptyTable) {
    auto db = dao::OpenDatabase(db_);
    db->Execute("create table Solo (Nombre text(10))");
    db->Close();
    auto f = open("Solo");
    EXPECT_EQ(select(*f, 0)->count(), 1);
    EXPECT_EQ(f->findChild<QComboBox*>("SearchSelect(1)"), nullptr);
    EXPECT_EQ(combo(*f, "OrderByBox")->count(), 1);
    EXPECT_EQ(combo(*f, "RangeCombo")->count(), 0);
    QTest::mouseClick(get<QPushButton>(*f, "MoveLastBtn"), Qt::LeftButton);
    box(*f, 0)->setText("x");  // an empty table ends the search silently
    EXPECT_EQ(source(*f), "select * from Solo");
    EXPECT_EQ(prompts_.count(), 0);
}

TEST_F(AdvanceViewFormTest, NavigationAndResize) {
    auto f = open("Clientes");
    QTest::mouseClick(get<QPushButton>(*f, "MoveLastBtn"), Qt::LeftButton);
    EXPECT_EQ(f->dataControl()->Recordset()->AbsolutePosition(), 3);
    QTest::mouseClick(get<QPushButton>(*f, "MoveFirstBtn"), Qt::LeftButton);
    EXPECT_EQ(f->dataControl()->Recordset()->AbsolutePosition(), 0);

    f->resize(twipsToPixelsX(15000), twipsToPixelsY(12000));
    auto* grid = get<QWidget>(*f, "grdDataGrid");
    auto* bar = get<QWidget>(*f, "ControlPanel");
    EXPECT_NEAR(pixelsToTwipsX(grid->width()), 15000 - 3330 - 60 - 200, 30);
    EXPECT_NEAR(pixelsToTwipsX(bar->width()), 15000 - 3330 - 60, 30);
    EXPECT_NEAR(pixelsToTwipsY(grid->height()), pixelsToTwipsY(bar->y()) - 50, 30);
    EXPECT_LE(bar->geometry().bottom(), get<QWidget>(*f, "StatusBar")->y());
    EXPECT_EQ(get<QWidget>(*f, "MenuPanel(3)")->y(), bar->y());
    // Too small for the grid: the controls keep what they had rather than take a negative size.
    f->resize(twipsToPixelsX(3000), twipsToPixelsY(3000));
    EXPECT_GE(grid->width(), 0);
}

// Shrunk as far as it goes, every control can still be reached: nothing under the status bar or
// outside the window, and the tallest menu panel still fits above the bar.
TEST_F(AdvanceViewFormTest, ShrunkToItsMinimumEveryControlStaysReachable) {
    auto f = open("Clientes");
    f->resize(400, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(f->size(), f->minimumSize());
    EXPECT_GT(f->width(), 400);
    EXPECT_GT(f->height(), 300);
    const QRect statusBar = get(*f, "StatusBar")->geometry();
    EXPECT_EQ(statusBar.bottom(), f->rect().bottom());
    for (const char* name :
         {"SSPanel2", "OrderByBox", "OperatorCombo", "FastSearchChk", "SearchBtn", "SelectAllRecordsBtn",
          "SaveBtn", "ImportBtn", "ManageTab", "MoveFirstBtn", "MoveLastBtn", "cmdClose", "grdDataGrid"}) {
        QWidget* w = get(*f, name);
        const QRect r(w->mapTo(f.get(), QPoint(0, 0)), w->size());
        EXPECT_TRUE(f->rect().contains(r)) << name;
        EXPECT_FALSE(r.intersects(statusBar)) << name;
        EXPECT_GT(r.height(), 0) << name;
    }
    const int barTop = get(*f, "ControlPanel")->y();
    for (int i = 0; i < browser::MenuPanels::PanelCount; ++i) {
        QWidget* p = get(*f, QString("MenuPanel(%1)").arg(i));
        EXPECT_GE(barTop - p->height(), 0) << i;
        EXPECT_LE(p->x() + p->width(), f->width()) << i;
    }
    QTest::mouseClick(get<QPushButton>(*f, "cmdClose"), Qt::LeftButton);
    EXPECT_FALSE(f->isVisible());
}

TEST_F(AdvanceViewFormTest, PanelsOpenAndCloseByTimerAndGridClick) {
    auto f = open("Clientes");
    browser::MenuPanels* panels = f->menuPanels();
    panels->setStepMs(0);
    panels->setAutoResetInterval(100);
    auto* bar = get<QWidget>(*f, "ControlPanel");

    f->ToggleMenu(0);
    EXPECT_TRUE(panels->isOpen(0));
    QTRY_VERIFY_WITH_TIMEOUT(!panels->isOpen(0), 3000);  // closed by AutoResetMenus
    EXPECT_EQ(get<QWidget>(*f, "MenuPanel(0)")->y(), bar->y());

    f->ToggleMenu(3);
    ASSERT_TRUE(panels->isOpen(3));
    auto* grid = get<DataGrid>(*f, "grdDataGrid");
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(panels->isOpen(3));
    EXPECT_EQ(get<QWidget>(*f, "MenuPanel(3)")->y(), bar->y());
}

}  // namespace

// A date-time column shown for the first time takes its content's width instead of being cut at
// the default; closing remembers it like any width the user set, and a stored width wins.
TEST_F(AdvanceViewFormTest, ANewDateTimeColumnIsSizedToItsContent) {
    {
        auto db = dao::OpenDatabase(db_);
        db->Execute("create table Ev (Id long, Cuando datetime, Nota text(10))");
        db->Execute("insert into Ev values (1, '2020-12-31 23:45:10', 'x')");
        db->Close();
    }
    double width = 0;
    {
        auto f = open("Ev");
        auto* grid = get<DataGrid>(*f, "grdDataGrid");
        width = grid->ColumnWidthTwips(1);
        EXPECT_GT(width, 1500);
        EXPECT_NEAR(grid->ColumnWidthTwips(2), 1500, 15);  // not a date: the default
        QTest::mouseClick(get<QPushButton>(*f, "cmdClose"), Qt::LeftButton);
    }
    EXPECT_NEAR(GetSetting("Tabulon", "Settings", "EvColWidth1").toDouble(), width, 15);
    SaveSetting("Tabulon", "Settings", "EvColWidth1", "900");
    auto f = open("Ev");
    EXPECT_NEAR(get<DataGrid>(*f, "grdDataGrid")->ColumnWidthTwips(1), 900, 15);
}

// The placed labels keep their whole text at a large font (a 13-point desktop font, any style):
// they grow to it and the lists beside them give up the room.
TEST_F(AdvanceViewFormTest, SearchOptionLabelsStayWholeAtALargeFont) {
    const QFont before = QApplication::font();
    QFont big = before;
    big.setPointSize(13);
    QApplication::setFont(big);
    {
        auto f = open("Clientes");
        for (const auto& [text, list] : {std::pair<QString, QString>{"&Order by:", "OrderByBox"}, {"O&perator:", "OperatorCombo"}}) {
            QLabel* label = nullptr;
            for (QLabel* l : f->findChildren<QLabel*>())
                if (l->text() == text) label = l;
            ASSERT_TRUE(label) << text.toStdString();
            EXPECT_GE(label->width(), label->sizeHint().width()) << text.toStdString();
            EXPECT_GE(label->height(), label->fontMetrics().height()) << text.toStdString();
            QWidget* box = get<QWidget>(*f, list);
            EXPECT_GT(box->x(), label->geometry().right()) << text.toStdString();
            EXPECT_LE(box->geometry().right(), box->parentWidget()->width()) << text.toStdString();
        }
    }
    QApplication::setFont(before);
}

// The Table panel's Copy Table moves the table shown into another database, as copy-table does.
TEST_P(AdvanceViewFormBackend, CopyTableMovesTheTableIntoAnotherDatabase) {
    auto f = open("Clientes");
    const QString dest = dir_.filePath("moved.db");
    prompts_.answer(dest).answer(QStringLiteral("Copia"));
    get<QPushButton>(*f, "CopyTableBtn")->click();
    ASSERT_EQ(prompts_.count(), 3);
    EXPECT_EQ(prompts_.last().text, "4 records copied into the table 'Copia' of " + dest + ".");
    auto moved = dao::OpenDatabase(dest);
    auto rs = moved->OpenRecordset("select * from Copia order by Id");
    ASSERT_EQ(rs->RecordCount(), 4);
    EXPECT_EQ(rs->Fields()["Nombre"].Value().asString(), "Luis Gómez");
    EXPECT_EQ(rs->Fields()["Precio"].Type(), dao::dbCurrency);

    // Again: the table is there now, and the engine's refusal is told.
    prompts_.clear();
    prompts_.answer(dest).answer(QStringLiteral("Copia"));
    get<QPushButton>(*f, "CopyTableBtn")->click();
    ASSERT_EQ(prompts_.count(), 3);
    EXPECT_TRUE(prompts_.last().text.startsWith("3010")) << prompts_.last().text.toStdString();
}

// Several users on the same server table: this window, a second connection of the process and
// another process (psql). Every change lands or is refused with 3197 naming its record, and a
// refused cell shows the other user's value; the table ends as the merge of what landed.
TEST_F(AdvanceViewFormTest, SeveralUsersOnOneServerTableNeverOverwriteEachOther) {
    if (qEnvironmentVariable("TABULON_TEST_PG").isEmpty())
        GTEST_SKIP() << "TABULON_TEST_PG is not set: no PostgreSQL server for this test";
    testutil::PgSchema server;
    ASSERT_TRUE(server.isSet());
    ASSERT_EQ(server.psql("create table \"Stock\" (\"Id\" integer primary key, \"Item\" varchar(20), \"Qty\" integer);"
                          "insert into \"Stock\" select g, 'item ' || g, g from generate_series(1, 5) g"),
              QStringList());
    auto f = open("Stock", server.uri());
    ASSERT_EQ(count(*f), 5);
    auto* model = get<DataGrid>(*f, "grdDataGrid")->model();
    const auto edit = [&](int row, int field, const QString& text) {
        prompts_.clear();
        return model->setData(model->index(row, field), text, Qt::EditRole);
    };
    // The window's box is the data control's error event, with the engine's words for 3197.
    const auto refused = [&] {
        if (prompts_.count() != 1) return ::testing::AssertionFailure() << prompts_.count() << " boxes";
        if (prompts_.last().text != "Data error event hit err:" + dao::describe(3197))
            return ::testing::AssertionFailure() << prompts_.last().text.toStdString();
        return ::testing::AssertionSuccess();
    };
    const auto refusedNaming = [](const std::function<void()>& change, const QString& key) {
        try {
            change();
        } catch (const dao::Error& e) {
            if (e.number() == 3197 && e.description().contains("record " + key + " of 'Stock'"))
                return ::testing::AssertionSuccess();
            return ::testing::AssertionFailure() << e.what();
        }
        return ::testing::AssertionFailure() << "a stale change was saved";
    };
    for (int row = 0; row < 5; ++row) EXPECT_EQ(cell(*f, row, 2), QString::number(row + 1));  // A has read them
    auto other = dao::OpenDatabase(server.uri());
    auto rb = other->OpenRecordset("Stock");
    for (int i = 0; i < 3; ++i) rb->MoveNext();
    EXPECT_EQ(rb->Fields()["Id"].Value(), dao::Variant::fromLong(4));  // B has read record 4

    // Different records: both land.
    rb->MoveFirst();
    rb->MoveNext();
    rb->Edit();
    rb->Fields()["Qty"].setValue(dao::Variant::fromLong(20));
    rb->Update();                       // B: record 2
    EXPECT_TRUE(edit(0, 2, "10"));      // A: record 1
    EXPECT_EQ(prompts_.count(), 0);

    // The same record: A read record 2 before B changed it, so A's change is refused and the grid
    // shows B's value; from there A's next change lands.
    EXPECT_FALSE(edit(1, 2, "21"));
    EXPECT_TRUE(refused());
    EXPECT_EQ(cell(*f, 1, 2), "20");
    EXPECT_TRUE(edit(1, 2, "22"));

    // Another process changes record 4 while B's change of it waits: B is refused, and so is A.
    ASSERT_EQ(server.psql("update \"Stock\" set \"Item\" = 'by psql' where \"Id\" = 4"), QStringList());
    rb->MoveNext();
    rb->MoveNext();
    rb->Edit();
    rb->Fields()["Item"].setValue(dao::Variant::fromString("by B"));
    EXPECT_TRUE(refusedNaming([&] { rb->Update(); }, "4"));
    EXPECT_EQ(rb->Fields()["Item"].Value().asString(), "by psql");
    EXPECT_FALSE(edit(3, 1, "by A"));
    EXPECT_TRUE(refused());
    EXPECT_EQ(cell(*f, 3, 1), "by psql");

    // Deletes: B deletes record 3 and A's change of it is refused; A deletes record 5, which B has
    // read, and B's change of it is refused.
    rb->MovePrevious();
    EXPECT_EQ(rb->Fields()["Id"].Value(), dao::Variant::fromLong(3));
    rb->Delete();
    EXPECT_FALSE(edit(2, 2, "33"));
    EXPECT_TRUE(refused());
    EXPECT_EQ(cell(*f, 2, 1), "#Deleted");
    rb->MoveLast();
    EXPECT_EQ(rb->Fields()["Id"].Value(), dao::Variant::fromLong(5));
    f->dataControl()->Recordset()->MoveLast();
    prompts_.clear();
    prompts_.answer(vbYes);
    f->DeleteCurrentRecord();
    EXPECT_EQ(prompts_.count(), 1);
    rb->Edit();
    rb->Fields()["Qty"].setValue(dao::Variant::fromLong(55));
    EXPECT_TRUE(refusedNaming([&] { rb->Update(); }, "5"));

    dao::flushAllWrites();
    EXPECT_EQ(server.psql("select * from \"Stock\" order by 1"),
              QStringList({"1|item 1|10", "2|item 2|22", "4|by psql|4"}));
    other->Close();
}
