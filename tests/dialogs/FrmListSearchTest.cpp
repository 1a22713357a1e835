// The list search window: start, search-as-you-type, ordering, delete, Add with the preset
// identifier, hints, the data-error message and resizing.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include "TestUtil.h"
#include "dialogs/FrmListSearch.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

using dialogs::DataEntryRequest;
using dialogs::FrmListSearch;

namespace {

class FrmListSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        db_ = testutil::makeSqlite(dir_, "l.db",
                                   {"create table [Mis Clientes] (Id LONG, Nombre TEXT(40))",
                                    "insert into [Mis Clientes] values (7, 'Carmen')",
                                    "insert into [Mis Clientes] values (41, 'Ana')",
                                    "insert into [Mis Clientes] values (20, 'O''Brien')",
                                    "insert into [Mis Clientes] values (3, 'Beatriz')",
                                    "create table Vacia (Id LONG, Nombre TEXT(40))"});
        saved_ = FrmListSearch::showDataEntry;
        FrmListSearch::showDataEntry = [this](QWidget*, const DataEntryRequest& r) {
            requests_.push_back(r);
            if (onShow_) onShow_();
        };
    }
    void TearDown() override { FrmListSearch::showDataEntry = saved_; }

    void start(FrmListSearch& w, const QString& table = "Mis Clientes", const QString& order = "Nombre") {
        w.DATABASE_FILE = db_;
        w.SELECTED_TABLE = table;
        w.ORDER_FIELD = order;
        w.StartData();
        w.show();
    }
    static QString currentName(FrmListSearch& w) {
        return dao::valueToText(w.dataControl()->Recordset()->Fields().Item("Nombre").Value());
    }
    static long long count(FrmListSearch& w) { return w.dataControl()->Recordset()->RecordCount(); }

    QTemporaryDir dir_;
    QString db_;
    FrmListSearch::DataEntryHost saved_;
    std::vector<DataEntryRequest> requests_;
    std::function<void()> onShow_;
};

}  // namespace

TEST_F(FrmListSearchTest, ControlsCarryTheirDesignNamesAndCaptions) {
    FrmListSearch w;
    for (const char* name : {"datPrimaryRS", "grdDataGrid", "SearchTxT", "OrderByBox", "MoveFirstBtn", "MoveLastBtn",
                             "EraseRecords", "MenuButton", "cmdClose", "RangeCombo", "FromTxT", "ToTxT",
                             "ControlPanel", "StatusBar"})
        EXPECT_NE(w.findChild<QObject*>(name), nullptr) << name;
    EXPECT_EQ(w.findChild<QPushButton*>("MoveFirstBtn")->text(), "Primer Record");
    EXPECT_EQ(w.findChild<QPushButton*>("MoveLastBtn")->text(), "Ultimo Record");
    EXPECT_EQ(w.findChild<QPushButton*>("MenuButton")->text(), "&Add");
    EXPECT_EQ(w.findChild<QPushButton*>("cmdClose")->text(), "&Close");
}

TEST_F(FrmListSearchTest, StartsOrderedAndSearchesAsYouType) {
    FrmListSearch w;
    start(w);
    EXPECT_EQ(currentName(w), "Ana");
    auto* search = w.findChild<QLineEdit*>("SearchTxT");
    search->setText("be");
    EXPECT_EQ(currentName(w), "Beatriz");
    EXPECT_EQ(w.grid()->currentIndex().row(), 1);
    search->setText("o'b");  // an apostrophe is part of the text, not the end of it
    EXPECT_EQ(currentName(w), "O'Brien");
    search->setText("x");
    EXPECT_EQ(currentName(w), "O'Brien");

    w.findChild<QPushButton*>("MoveFirstBtn")->click();
    EXPECT_EQ(currentName(w), "Ana");
    w.findChild<QPushButton*>("MoveLastBtn")->click();
    EXPECT_EQ(currentName(w), "O'Brien");

    auto* order = w.findChild<QComboBox*>("OrderByBox");
    w.orderBy("Id");
    EXPECT_EQ(currentName(w), "Beatriz");  // Id 3
    EXPECT_EQ(order->count(), 2);
}

TEST_F(FrmListSearchTest, WithoutAnOrderFieldTheSearchDoesNothing) {
    platform::PromptScript script;
    FrmListSearch w;
    start(w, "Mis Clientes", "");
    EXPECT_EQ(currentName(w), "Carmen");  // the engine's order
    w.findChild<QLineEdit*>("SearchTxT")->setText("Ana");
    EXPECT_EQ(currentName(w), "Carmen");
    EXPECT_EQ(script.count(), 0);
}

TEST_F(FrmListSearchTest, AFailedStartSaysErrorAndLeavesTheWindowEmpty) {
    platform::PromptScript script;
    FrmListSearch w;
    start(w, "NoSuchTable");
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.startsWith("ERROR: "));
    EXPECT_EQ(script.last().icon, platform::vbCritical);
    EXPECT_EQ(w.grid()->model()->rowCount(), 0);
}

TEST_F(FrmListSearchTest, DeleteAsksWithNoAsDefaultAndAlwaysGoesToTheFirstRecord) {
    platform::PromptScript script;
    FrmListSearch w;
    start(w);
    w.findChild<QPushButton*>("MoveLastBtn")->click();
    script.answer(platform::vbNo);
    w.findChild<QPushButton*>("EraseRecords")->click();
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "Are you sure you want to erase this record?");
    EXPECT_EQ(script.last().icon, platform::vbExclamation);
    EXPECT_EQ(script.last().buttons, platform::vbYesNo);
    EXPECT_EQ(script.last().defaultButton, 2);
    EXPECT_EQ(count(w), 4);
    EXPECT_EQ(currentName(w), "Ana");

    w.findChild<QLineEdit*>("SearchTxT")->setText("Car");
    script.answer(platform::vbYes);
    w.eraseRecord();
    EXPECT_EQ(count(w), 3);
    EXPECT_EQ(currentName(w), "Ana");
    auto check = dao::OpenDatabase(db_)->OpenRecordset("select * from [Mis Clientes] where Nombre = 'Carmen'");
    EXPECT_EQ(check->RecordCount(), 0);
}

TEST_F(FrmListSearchTest, AddPresetsTheNextIdentifier) {
    FrmListSearch w;
    start(w);
    w.FIRST_FIELD_IS_ID = true;
    // What the data entry adds shows once it closes, in the window's order, first record current.
    onShow_ = [this] { dao::OpenDatabase(db_)->Execute("insert into [Mis Clientes] values (42, 'Aaron')"); };
    w.findChild<QPushButton*>("MenuButton")->click();
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_TRUE(requests_[0].presetId);
    EXPECT_EQ(requests_[0].identifier, "42");
    EXPECT_EQ(requests_[0].database, db_);
    EXPECT_EQ(requests_[0].table, "Mis Clientes");
    EXPECT_EQ(count(w), 5);
    EXPECT_EQ(currentName(w), "Aaron");
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);

    onShow_ = nullptr;
    FrmListSearch empty;
    start(empty, "Vacia", "Nombre");
    empty.FIRST_FIELD_IS_ID = true;
    empty.addRecord();
    ASSERT_EQ(requests_.size(), 2u);
    EXPECT_EQ(requests_[1].identifier, "0");

    FrmListSearch plain;
    start(plain);
    plain.addRecord();
    ASSERT_EQ(requests_.size(), 3u);
    EXPECT_FALSE(requests_[2].presetId);
    EXPECT_TRUE(requests_[2].identifier.isEmpty());
}

TEST_F(FrmListSearchTest, NextIdentifierCountsTextThatIsNoNumberAsZero) {
    const QString db = testutil::makeSqlite(dir_, "t.db",
                                            {"create table Codigos (Codigo TEXT(10), Nombre TEXT(10))",
                                             "insert into Codigos values ('abc', 'x')"});
    FrmListSearch w;
    w.DATABASE_FILE = db;
    w.SELECTED_TABLE = "Codigos";
    w.StartData();
    EXPECT_EQ(w.NextIdentifier(), "1");
}

TEST_F(FrmListSearchTest, AFailingAddAsksAbortRetryIgnore) {
    platform::PromptScript script;
    FrmListSearch w;
    start(w);
    int calls = 0;
    FrmListSearch::showDataEntry = [&](QWidget*, const DataEntryRequest&) {
        if (++calls == 1) throw dao::Error(3024, "Could not find file.");
    };
    script.answer(platform::vbRetry);
    w.addRecord();
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "Could not find file. - 3024");
    EXPECT_EQ(script.last().buttons, platform::vbAbortRetryIgnore);
    EXPECT_EQ(script.last().icon, platform::vbCritical);
    EXPECT_EQ(calls, 2);
}

TEST_F(FrmListSearchTest, HintsDataErrorsAndResize) {
    platform::PromptScript script;
    FrmListSearch w;
    start(w);
    auto hover = [&](const char* name) {
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(w.findChild<QWidget*>(name), &enter);
        return w.statusHint();
    };
    EXPECT_EQ(hover("cmdClose"), "Close this screen");
    EXPECT_EQ(hover("EraseRecords"), "Delete the selected record");
    EXPECT_EQ(hover("MenuButton"), "Add a record to the database");
    EXPECT_EQ(hover("SearchTxT"), "Perform a search in the list");
    EXPECT_EQ(hover("ControlPanel"), "");

    EXPECT_TRUE(w.dataControl()->raiseError(dao::Error(3021, "No current record.")));
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "Data error event hit err:No current record.");
    EXPECT_EQ(script.last().icon, 0);

    w.resize(700, 500);
    QApplication::processEvents();
    const QRect inner = w.contentsRect();
    auto* panel = w.findChild<QFrame*>("ControlPanel");
    auto* bar = w.findChild<QStatusBar*>("StatusBar");
    EXPECT_EQ(w.grid()->width(), inner.width());
    EXPECT_EQ(panel->width(), inner.width());
    EXPECT_EQ(w.grid()->height(), inner.height() - panel->height() - bar->height() - platform::twipsToPixelsY(30));

    // Enter walks from the range field to the range ends; entering "Desde" selects its text.
    auto* from = w.findChild<QLineEdit*>("FromTxT");
    from->setText("12");
    w.activateWindow();
    w.findChild<QComboBox*>("RangeCombo")->setFocus();
    QTest::keyClick(w.findChild<QComboBox*>("RangeCombo"), Qt::Key_Return);
    EXPECT_TRUE(from->hasFocus());
    EXPECT_EQ(from->selectedText(), "12");
    QTest::keyClick(from, Qt::Key_Return);
    EXPECT_TRUE(w.findChild<QLineEdit*>("ToTxT")->hasFocus());
}

TEST_F(FrmListSearchTest, AddThroughTheDataEntryWindowNumbersTheNewRecords) {
    platform::PromptScript script;
    FrmListSearch::showDataEntry = saved_;  // the program's own host window
    FrmListSearch w;
    start(w);
    w.FIRST_FIELD_IS_ID = true;
    // Whatever happens below, the modal window does not outlive the test.
    QTimer::singleShot(20000, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    // Two records typed into the data-entry window, then Close.
    QTimer::singleShot(0, [] {
        auto* host = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(host, nullptr);
        auto* name = host->findChild<QLineEdit*>("TxTFields(1)");
        ASSERT_NE(name, nullptr);
        EXPECT_FALSE(host->findChild<QWidget*>("TxTFields(0)")->isVisible());
        for (const char* typed : {"Zoe", "Yago"}) {
            name->setText(typed);
            QMetaObject::invokeMethod(host->findChild<QObject*>("DataEntryForm1"), "pressUpdate");
        }
        host->findChild<QAbstractButton*>("cmdClose")->click();
    });
    w.addRecord();
    EXPECT_EQ(count(w), 6);
    auto rs = dao::OpenDatabase(db_)->OpenRecordset("select Id from [Mis Clientes] where Nombre in ('Zoe', 'Yago') "
                                                   "order by Id");
    ASSERT_EQ(rs->RecordCount(), 2);
    EXPECT_EQ(rs->Fields().Item(0).Value().asInt(), 42);
    rs->MoveNext();
    EXPECT_EQ(rs->Fields().Item(0).Value().asInt(), 43);
    EXPECT_EQ(script.count(), 0);
}
