#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "QStringPrint.h"
#include "TestUtil.h"
#include "platform/DataControl.h"
#include "platform/DataGrid.h"
#include "platform/GridModel.h"
#include "platform/Prompts.h"
#include "platform/Twips.h"
#include "platform/dao/Dao.h"

using namespace platform;

namespace {

class DataGridTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = testutil::makeSqlite(dir, "people.sqlite",
                                    {"CREATE TABLE people (id LONG PRIMARY KEY, name TEXT(20), qty LONG, "
                                     "active YESNO, born DATETIME)",
                                     "INSERT INTO people VALUES (1, 'Ana', 10, True, #1/2/1990#)",
                                     "INSERT INTO people VALUES (2, 'Luis', Null, False, Null)",
                                     "INSERT INTO people VALUES (3, Null, 30, True, #12/31/2001#)",
                                     "INSERT INTO people VALUES (4, 'Eva', 40, Null, Null)",
                                     "INSERT INTO people VALUES (5, 'Jon', 50, False, Null)"});
        control.setDatabaseName(path);
        control.setRecordSource("select * from people");
    }

    QVariant cell(const QAbstractItemModel& m, int row, int col, int role = Qt::DisplayRole) {
        return m.data(m.index(row, col), role);
    }

    QTemporaryDir dir;
    QString path;
    DataControl control;
};

}  // namespace

TEST_F(DataGridTest, RefreshOpensAfreshWithTheFirstRecordCurrent) {
    QSignalSpy repositions(&control, &DataControl::reposition);
    control.Refresh();
    ASSERT_TRUE(control.Recordset());
    EXPECT_EQ(control.Recordset()->RecordCount(), 5);
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 0);
    EXPECT_EQ(repositions.count(), 1);

    const auto firstDb = control.Database();
    const auto firstRs = control.Recordset();
    control.Recordset()->MoveLast();
    control.Refresh();
    EXPECT_NE(control.Database(), firstDb);
    EXPECT_NE(control.Recordset(), firstRs);
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 0);
    EXPECT_EQ(repositions.count(), 2);

    // Another control on the same file has a connection of its own.
    DataControl other;
    other.setDatabaseName(path);
    other.setRecordSource("people");
    other.Refresh();
    EXPECT_NE(other.Database(), control.Database());

    // A failing refresh raises the engine error and leaves the control as it was.
    const auto kept = control.Recordset();
    control.setRecordSource("select * from nosuchtable");
    try {
        control.Refresh();
        ADD_FAILURE() << "no error";
    } catch (const dao::Error&) {
    }
    EXPECT_EQ(control.Recordset(), kept);
    control.setDatabaseName(dir.filePath("missing.sqlite"));
    try {
        control.Refresh();
        ADD_FAILURE() << "no error";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::FileNotFound);
    }
    EXPECT_EQ(repositions.count(), 2);
}

TEST_F(DataGridTest, MovesThroughTheControlValidateThenReposition) {
    control.Refresh();
    QSignalSpy repositions(&control, &DataControl::reposition);
    std::vector<int> actions;
    bool cancel = false;
    QObject::connect(&control, &DataControl::validate, [&](int* action) {
        actions.push_back(*action);
        if (cancel) *action = vbDataActionCancel;
    });
    EXPECT_TRUE(control.MoveNext());
    EXPECT_TRUE(control.MoveLast());
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 4);
    EXPECT_EQ(actions, (std::vector<int>{vbDataActionMoveNext, vbDataActionMoveLast}));
    EXPECT_EQ(repositions.count(), 2);

    cancel = true;
    EXPECT_FALSE(control.MoveFirst());
    EXPECT_FALSE(control.moveTo(1));
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 4);
    EXPECT_EQ(repositions.count(), 2);

    // Window code that moves the recordset itself announces it.
    control.Recordset()->MoveFirst();
    control.notifyReposition();
    EXPECT_EQ(repositions.count(), 3);
}

TEST_F(DataGridTest, ModelShowsFieldsNullsAndCheckBoxes) {
    control.Refresh();
    GridModel model;
    model.setDataControl(&control);
    ASSERT_EQ(model.columnCount(), 5);
    ASSERT_EQ(model.rowCount(), 5);
    QStringList headers;
    for (int c = 0; c < model.columnCount(); ++c) headers << model.headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, QStringList({"id", "name", "qty", "active", "born"}));

    EXPECT_EQ(cell(model, 0, 1).toString(), "Ana");
    EXPECT_EQ(cell(model, 0, 4).toString(), "1/2/1990");
    EXPECT_EQ(cell(model, 2, 1).toString(), "");  // Null
    EXPECT_TRUE(cell(model, 2, 1).isValid());
    EXPECT_EQ(cell(model, 1, 2).toString(), "");

    // Yes/no: a check box, no text; Null unchecked.
    EXPECT_FALSE(cell(model, 0, 3).isValid());
    EXPECT_EQ(cell(model, 0, 3, Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(cell(model, 1, 3, Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_EQ(cell(model, 3, 3, Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_TRUE(model.flags(model.index(0, 3)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(cell(model, 0, 1, Qt::CheckStateRole).isValid());
    EXPECT_TRUE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);

    // Reading cells does not move the current record.
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 0);
}

TEST_F(DataGridTest, AssigningARecordsetRebindsTheGrid) {
    control.Refresh();
    DataGrid grid;
    grid.setDataSource(&control);
    QSignalSpy repositions(&control, &DataControl::reposition);
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("select name, qty from people where qty >= 30");
    control.setRecordset(rs);
    EXPECT_EQ(repositions.count(), 1);
    EXPECT_EQ(control.Recordset(), rs);
    ASSERT_EQ(grid.model()->columnCount(), 2);
    ASSERT_EQ(grid.model()->rowCount(), 3);
    EXPECT_EQ(grid.model()->headerData(0, Qt::Horizontal).toString(), "name");
    EXPECT_EQ(grid.model()->index(2, 0).data().toString(), "Jon");
    EXPECT_EQ(grid.currentIndex().row(), 0);

    // Records deleted by window code: the grid takes the new count when told.
    rs->MoveLast();
    rs->Delete();
    control.notifyRecordsChanged();
    EXPECT_EQ(grid.model()->rowCount(), 2);
}

TEST_F(DataGridTest, CurrentRowFollowsTheRecordsetAndBack) {
    control.Refresh();
    DataGrid grid;
    grid.setDataSource(&control);
    grid.resize(400, 200);
    grid.show();
    EXPECT_EQ(grid.currentIndex().row(), 0);

    control.MoveNext();
    EXPECT_EQ(grid.currentIndex().row(), 1);
    control.Recordset()->MoveLast();
    control.notifyReposition();
    EXPECT_EQ(grid.currentIndex().row(), 4);

    QSignalSpy repositions(&control, &DataControl::reposition);
    grid.setCurrentIndex(grid.model()->index(2, 1));
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 2);
    EXPECT_EQ(repositions.count(), 1);
    // Another column of the same row is not a move.
    grid.setCurrentIndex(grid.model()->index(2, 3));
    EXPECT_EQ(repositions.count(), 1);

    // A Validate handler that cancels keeps the grid on the record that stays current.
    QObject::connect(&control, &DataControl::validate, [](int* action) { *action = vbDataActionCancel; });
    grid.setCurrentIndex(grid.model()->index(0, 1));
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 2);
    EXPECT_EQ(grid.currentIndex().row(), 2);
    EXPECT_EQ(repositions.count(), 1);
}

TEST_F(DataGridTest, EditingACellCommitsThroughTheRecordset) {
    control.Refresh();
    DataGrid grid;
    grid.setDataSource(&control);
    QAbstractItemModel* m = grid.model();
    QSignalSpy repositions(&control, &DataControl::reposition);
    ASSERT_TRUE(m->setData(m->index(3, 1), "Eva María"));
    ASSERT_TRUE(m->setData(m->index(3, 2), ""));  // an emptied number cell is Null
    ASSERT_TRUE(m->setData(m->index(1, 3), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 1);  // the edited record became current
    EXPECT_EQ(grid.currentIndex().row(), 1);
    EXPECT_EQ(repositions.count(), 2);
    EXPECT_EQ(m->index(3, 1).data().toString(), "Eva María");
    EXPECT_EQ(m->index(1, 3).data(Qt::CheckStateRole).toInt(), Qt::Checked);

    dao::flushAllWrites();
    auto db = dao::OpenDatabase(path);
    auto rs = db->OpenRecordset("select name, qty, active from people where id = 4");
    EXPECT_EQ(rs->Fields()[0].Value().asString(), "Eva María");
    EXPECT_TRUE(rs->Fields()[1].Value().isNull());
    rs = db->OpenRecordset("select active from people where id = 2");
    EXPECT_TRUE(rs->Fields()[0].Value().asBool());
}

TEST_F(DataGridTest, EngineErrorsWhileEditingGoToTheErrorSignal) {
    control.Refresh();
    GridModel model;
    model.setDataControl(&control);
    std::vector<int> numbers;
    bool handle = true;
    QObject::connect(&control, &DataControl::error, [&](int number, const QString&, bool* handled) {
        numbers.push_back(number);
        *handled = handle;
    });
    PromptScript script;
    EXPECT_FALSE(model.setData(model.index(0, 2), "not a number"));
    EXPECT_FALSE(model.setData(model.index(0, 1), QString(30, 'x')));  // longer than the field
    ASSERT_EQ(numbers.size(), 2u);
    EXPECT_NE(numbers[0], 0);
    EXPECT_EQ(numbers[1], dao::err::FieldTooSmall);
    EXPECT_EQ(script.count(), 0);
    EXPECT_EQ(control.Recordset()->EditMode(), dao::dbEditNone);
    EXPECT_EQ(model.index(0, 2).data().toString(), "10");

    // Not handled: the default message box.
    handle = false;
    EXPECT_FALSE(model.setData(model.index(0, 0), "2"));  // duplicate key
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(numbers.back(), dao::err::DuplicateValue);
    EXPECT_FALSE(script.last().text.isEmpty());
}

TEST_F(DataGridTest, ColumnWidthsInTwips) {
    control.Refresh();
    DataGrid grid;
    grid.setDataSource(&control);
    ASSERT_EQ(grid.ColumnCount(), 5);
    grid.setColumnWidthTwips(1, 1500);
    EXPECT_EQ(grid.columnWidth(1), twipsToPixelsX(1500));
    EXPECT_DOUBLE_EQ(grid.ColumnWidthTwips(1), pixelsToTwipsX(twipsToPixelsX(1500)));
    grid.setColumnWidth(2, 80);
    EXPECT_DOUBLE_EQ(grid.ColumnWidthTwips(2), pixelsToTwipsX(80));
}

TEST(DataGridLarge, AHundredThousandRowsOpenWithoutReadingThem) {
    QTemporaryDir dir;
    QStringList sql{"CREATE TABLE big (n LONG, label TEXT(20))", "INSERT INTO big VALUES (1, 'row')"};
    // Doubling 17 times gives 131072 rows.
    for (int i = 0; i < 17; ++i)
        sql << "INSERT INTO big (n, label) SELECT n + (SELECT max(n) FROM big), label FROM big";
    const QString path = testutil::makeSqlite(dir, "big.sqlite", sql);
    DataControl control;
    control.setDatabaseName(path);
    control.setRecordSource("select * from big");
    DataGrid grid;
    grid.resize(500, 300);
    QElapsedTimer timer;
    timer.start();
    control.Refresh();
    grid.setDataSource(&control);
    grid.show();
    QApplication::processEvents();
    grid.scrollToBottom();
    grid.viewport()->grab();
    EXPECT_LT(timer.elapsed(), 3000);  // generous: a sanitizer build; the benchmark measures
    ASSERT_EQ(grid.model()->rowCount(), 131072);
    EXPECT_EQ(grid.model()->index(131071, 0).data().toString(), "131072");
    EXPECT_EQ(control.Recordset()->AbsolutePosition(), 0);
}

TEST(DataGridSafety, AnEditTheCommitRefusesRaisesErrorAndShowsTheStoredValue) {
    QTemporaryDir dir;
    const QString path = testutil::makeSqlite(
        dir, "fk.sqlite",
        {"CREATE TABLE P (id LONG PRIMARY KEY)", "INSERT INTO P VALUES (1)",
         "CREATE TABLE C (id INTEGER PRIMARY KEY, pid INTEGER REFERENCES P(id) DEFERRABLE INITIALLY DEFERRED)",
         "INSERT INTO C VALUES (1, 1)", "INSERT INTO C VALUES (2, 1)"});
    DataControl control;
    control.setDatabaseName(path);
    control.setRecordSource("C");
    control.Refresh();
    DataGrid grid;
    grid.setDataSource(&control);
    QStringList errors;
    QObject::connect(&control, &DataControl::error, [&](int number, const QString& description, bool* handled) {
        errors << QString::number(number) + ": " + description;
        *handled = true;
    });
    QAbstractItemModel* model = grid.model();
    // The edit is accepted into the write batch; its commit is refused by the deferred key.
    EXPECT_TRUE(model->setData(model->index(1, 1), "42", Qt::EditRole));
    EXPECT_EQ(model->index(1, 1).data().toString(), "42");
    QSignalSpy refreshed(model, &QAbstractItemModel::dataChanged);
    QElapsedTimer t;
    t.start();
    while (errors.isEmpty() && t.elapsed() < 5000) {
        (void)model->index(1, 1).data();  // as painting does: a read must not swallow the report
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "3201: The change to record 2 of C could not be saved: FOREIGN KEY constraint failed");
    EXPECT_GE(refreshed.count(), 1);
    EXPECT_EQ(model->index(1, 1).data().toString(), "1");
    auto stored = dao::OpenDatabase(path)->OpenRecordset("select pid from C where id = 2");
    EXPECT_EQ(stored->Fields()["pid"].Value().asInt(), 1);
}

TEST(DataGridSafety, EditingAViewSaysItIsReadOnly) {
    QTemporaryDir dir;
    const QString path = testutil::makeSqlite(
        dir, "v.sqlite", {"CREATE TABLE T (id LONG PRIMARY KEY, s TEXT(10))", "INSERT INTO T VALUES (1, 'a')",
                          "CREATE VIEW V AS SELECT id, s FROM T"});
    DataControl control;
    control.setDatabaseName(path);
    control.setRecordSource("V");
    control.Refresh();
    GridModel model;
    model.setDataControl(&control);
    QStringList errors;
    QObject::connect(&control, &DataControl::error, [&](int number, const QString& description, bool* handled) {
        errors << QString::number(number) + ": " + description;
        *handled = true;
    });
    EXPECT_TRUE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_FALSE(model.setData(model.index(0, 1), "b", Qt::EditRole));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("3027: Cannot update. 'V' is a view")) << errors[0].toStdString();
    EXPECT_EQ(model.index(0, 1).data().toString(), "a");
}

// From the keyboard: Ctrl+C copies the selected cells as a spreadsheet takes them, Tab leaves the
// grid after its last cell (and Shift+Tab before its first), Ctrl+Tab leaves it from anywhere.
TEST_F(DataGridTest, KeyboardCopiesCellsAndTabLeavesTheGrid) {
    control.Refresh();
    QWidget window;
    auto* before = new QLineEdit(&window);
    auto* grid = new DataGrid(&window);
    auto* after = new QLineEdit(&window);
    grid->setDataSource(&control);
    grid->setGeometry(0, 30, 400, 200);
    after->move(0, 240);
    QWidget::setTabOrder(before, grid);
    QWidget::setTabOrder(grid, after);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);

    auto* sel = grid->selectionModel();
    const QAbstractItemModel* m = grid->model();
    sel->select(QItemSelection(m->index(0, 1), m->index(2, 2)), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(grid->selectedCellsText(), "Ana\t10\nLuis\t\n\t30\n");
    grid->setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "Ana\t10\nLuis\t\n\t30\n");

    const int lastRow = m->rowCount() - 1, lastColumn = m->columnCount() - 1;
    grid->setCurrentIndex(m->index(lastRow, lastColumn - 1));
    QTest::keyClick(grid, Qt::Key_Tab);
    EXPECT_TRUE(grid->hasFocus());
    EXPECT_EQ(grid->currentIndex(), m->index(lastRow, lastColumn));
    QTest::keyClick(grid, Qt::Key_Tab);
    EXPECT_TRUE(after->hasFocus());

    grid->setFocus();
    grid->setCurrentIndex(m->index(0, 0));
    QTest::keyClick(grid, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(before->hasFocus());

    grid->setFocus();
    grid->setCurrentIndex(m->index(1, 1));
    QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_TRUE(after->hasFocus());
}
