// The table picker and the record picker.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "TestUtil.h"
#include "common/ProgramGlobals.h"
#include "dialogs/OpenDbFrm.h"
#include "dialogs/OpenTableFrm.h"
#include "platform/DataControl.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

using dialogs::OpenDbFrm;
using dialogs::OpenTableFrm;

namespace {

// A window opened on a record: takes its three properties by name.
class RecordWindow : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qint16 Mode MEMBER Mode)
    Q_PROPERTY(QString SORT_FIELD MEMBER SORT_FIELD)
    Q_PROPERTY(qint32 GotoRecord MEMBER GotoRecord)
public:
    qint16 Mode = 0;
    QString SORT_FIELD;
    qint32 GotoRecord = -1;
};

class PickersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        db_ = testutil::makeSqlite(dir_, "p.db",
                                   {"create table [Mis Clientes] (Id LONG, Nombre TEXT(40))",
                                    "insert into [Mis Clientes] values (7, 'Carmen')",
                                    "insert into [Mis Clientes] values (41, 'Ana')",
                                    "insert into [Mis Clientes] values (3, 'Beatriz')",
                                    "create table MSx (a LONG)", "create table msCuentas (a LONG)",
                                    "create table MSysAccessObjects (a LONG)"});
    }

    void setup(OpenDbFrm& f, int mode, int idiom = 1) {
        f.DBFileName = db_;
        f.DBTable = "Mis Clientes";
        f.DBiField = "Nombre";
        f.FormMode = mode;
        f.MyIdiom = idiom;
        f.ComboCaption = "Clientes";
        f.show();
        QApplication::processEvents();
    }
    static void pick(OpenDbFrm& f, const QString& value) {
        f.comboList()->setCurrentIndex(f.comboList()->findText(value));
    }
    // A click on a value in the open list, as the user makes it.
    static void clickInList(OpenDbFrm& f, const QString& value) {
        QComboBox* combo = f.comboList();
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        (void)QTest::qWaitForWindowExposed(view->window(), 1000);
        // The list takes no release that comes too soon after it opened (a press-drag-release pick).
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const QRect r = view->visualRect(view->model()->index(combo->findText(value), combo->modelColumn()));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
        QApplication::processEvents();
    }
    long long rows() { return dao::OpenDatabase(db_)->OpenRecordset("[Mis Clientes]")->RecordCount(); }

    QTemporaryDir dir_;
    QString db_;
};

}  // namespace

TEST_F(PickersTest, TableListLeavesOutNamesBeginningWithCapitalMS) {
    OpenTableFrm f;
    EXPECT_EQ(f.windowTitle(), "Open Table");
    EXPECT_EQ(f.findChild<QPushButton*>("UpdateBtn")->text(), "&Open");
    EXPECT_EQ(f.findChild<QPushButton*>("CancelBtn")->text(), "&Close");
    f.alTABLE = db_;
    f.show();
    auto listed = [&] {
        QStringList names;
        for (int i = 0; i < f.tableList()->count(); ++i) names << f.tableList()->item(i)->text();
        return names;
    };
    EXPECT_EQ(listed(), QStringList({"Mis Clientes", "msCuentas"}));

    // The file's tables are listed afresh on the next show: lower-case "msx" is a user table.
    f.close();
    f.alTABLE = testutil::makeSqlite(dir_, "m.db", {"create table msx (a LONG)"});
    f.show();
    EXPECT_EQ(listed(), QStringList({"msx"}));
    f.close();
    f.alTABLE = testutil::makeSqlite(dir_, "s.db", {"create table MSx (a LONG)"});
    f.show();
    EXPECT_EQ(listed(), QStringList());
}

TEST_F(PickersTest, TablePickerOpensTheBrowserOnTheProgramsDatabase) {
    struct Call {
        QString file, records, table;
    };
    std::vector<Call> calls;
    const auto saved = OpenTableFrm::browserFactory;
    OpenTableFrm::browserFactory = [&](QWidget* parent, const QString& file, const QString& records,
                                       const QString& table) -> QDialog* {
        calls.push_back({file, records, table});
        auto* d = new QDialog(parent);
        QTimer::singleShot(0, d, &QDialog::accept);
        return d;
    };
    common::DatabaseFile = db_;
    OpenTableFrm f;
    f.show();
    f.openTable();  // nothing selected: nothing happens
    EXPECT_TRUE(calls.empty());
    f.tableList()->setCurrentRow(1);
    f.findChild<QPushButton*>("UpdateBtn")->click();
    OpenTableFrm::browserFactory = saved;
    common::DatabaseFile.clear();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].file, db_);
    EXPECT_EQ(calls[0].records, "*");
    EXPECT_EQ(calls[0].table, "msCuentas");
}

TEST_F(PickersTest, TablePickerReportsAFileItCannotOpen) {
    platform::PromptScript script;
    OpenTableFrm f;
    f.alTABLE = dir_.filePath("missing.db");
    f.show();
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.startsWith("3024: "));
    EXPECT_EQ(f.tableList()->count(), 0);
}

TEST_F(PickersTest, RecordPickerListsTheFieldSortedAndSpeaksBothLanguages) {
    platform::PromptScript script;
    OpenDbFrm f;
    EXPECT_EQ(f.windowTitle(), "xxx");
    setup(f, 2, 1);
    EXPECT_EQ(f.findChild<QGroupBox*>("ComboFrame")->title(), "Clientes");
    EXPECT_EQ(f.shownPicture(), 2);
    ASSERT_EQ(f.comboList()->count(), 3);
    EXPECT_EQ(f.comboList()->itemText(0), "Ana");
    EXPECT_EQ(f.comboList()->currentText(), "");
    EXPECT_EQ(f.QuestionString, "Are you sure you want to erase this record?");

    f.OpenCurrentRecord();
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "Please select a record from the list.");
    EXPECT_EQ(script.last().icon, platform::vbExclamation);

    OpenDbFrm es;
    es.PicType = 3;
    setup(es, 1, 0);
    EXPECT_EQ(es.shownPicture(), 3);
    EXPECT_EQ(es.QuestionString, "Esta seguro que desea borrar este record?");
    es.comboList()->setEditText("Nadie");  // a text that is not in the list is no pick
    es.OpenCurrentRecord();
    ASSERT_EQ(script.count(), 2);
    EXPECT_EQ(script.last().text, "Seleccione un record de la lista.");

    OpenDbFrm other;
    setup(other, 1, 2);
    EXPECT_TRUE(other.QuestionString.isEmpty());
    other.OpenCurrentRecord();
    EXPECT_EQ(script.count(), 2);
}

TEST_F(PickersTest, DeleteModeAsksAndKeepsTheSavedData) {
    platform::PromptScript script;
    OpenDbFrm f;
    f.SAVE_DATA_FIELD = "Id";
    setup(f, 1, 1);
    pick(f, "Beatriz");
    script.answer(platform::vbNo);
    f.OpenCurrentRecord();
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "Are you sure you want to erase this record?");
    EXPECT_EQ(script.last().icon, platform::vbQuestion);
    EXPECT_EQ(script.last().buttons, platform::vbYesNo);
    EXPECT_EQ(rows(), 3);
    EXPECT_TRUE(f.SavedData.isEmpty());
    EXPECT_EQ(f.comboList()->currentText(), "");  // the list was refreshed
    EXPECT_TRUE(f.isVisible());

    f.UnloadUponShow = true;
    pick(f, "Beatriz");
    script.answer(platform::vbYes);
    f.OpenCurrentRecord();
    EXPECT_EQ(rows(), 2);
    EXPECT_EQ(f.SavedData, "3");
    EXPECT_FALSE(f.isVisible());  // hidden so that the caller reads SavedData
}

TEST_F(PickersTest, APickInTheListActsUnlessNotOneClickOpenWhileEnterAlwaysDoes) {
    platform::PromptScript script;
    OpenDbFrm f;
    f.NotOneClickOpen = true;
    setup(f, 1, 1);
    pick(f, "Ana");
    emit f.comboList()->activated(f.comboList()->currentIndex());
    EXPECT_EQ(script.count(), 0);
    script.answer(platform::vbNo);
    QTest::keyClick(f.comboList()->lineEdit(), Qt::Key_Return);
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "Are you sure you want to erase this record?");

    f.NotOneClickOpen = false;
    script.answer(platform::vbNo);
    clickInList(f, "Ana");
    EXPECT_EQ(script.count(), 2);
    EXPECT_EQ(rows(), 3);
}

// The picker acts once, and only on Enter, Ok or a click in the list: typing a listed value and
// pressing Enter asks once (the box taking the focus from the text is no second pick), and a typed
// value that merely loses the focus does nothing.
TEST_F(PickersTest, TypedTextActsOnlyOnEnterAndOnlyOnce) {
    platform::PromptScript script;
    OpenDbFrm f;
    setup(f, 1, 1);
    QApplication::setActiveWindow(&f);
    (void)QTest::qWaitForWindowActive(&f, 2000);
    QLineEdit* text = f.comboList()->lineEdit();
    text->setFocus();
    QTest::keyClicks(text, "Ana");
    f.findChild<QPushButton*>("CancelBtn")->setFocus();  // tabbing away
    QApplication::processEvents();
    EXPECT_EQ(script.count(), 0);
    EXPECT_EQ(rows(), 3);

    text->setFocus();
    script.answer(platform::vbYes);
    QTest::keyClick(text, Qt::Key_Return);
    f.findChild<QPushButton*>("CancelBtn")->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().text, "Are you sure you want to erase this record?");
    EXPECT_EQ(rows(), 2);
}

TEST_F(PickersTest, OpenModesSetTheWindowsPropertiesByName) {
    RecordWindow target;
    OpenDbFrm f;
    f.FormToLoad = &target;
    f.UnloadUponShow = true;
    setup(f, 3);
    pick(f, "Carmen");
    f.OpenCurrentRecord();
    EXPECT_EQ(target.Mode, 3);
    EXPECT_EQ(target.SORT_FIELD, "Nombre");
    EXPECT_EQ(target.GotoRecord, 2);  // Ana, Beatriz, Carmen
    EXPECT_TRUE(target.isVisible());
    EXPECT_FALSE(f.isVisible());

    // A window without the properties is refused, not half set.
    platform::PromptScript script;
    QWidget plain;
    OpenDbFrm g;
    g.FormToLoad = &plain;
    setup(g, 2);
    pick(g, "Ana");
    g.OpenCurrentRecord();
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.endsWith(" - 438"));
    EXPECT_FALSE(plain.isVisible());
}

TEST_F(PickersTest, LoadFailuresAndErrorStateClose) {
    platform::PromptScript script;
    OpenDbFrm f;
    f.DBFileName = db_;
    f.DBTable = "NoSuchTable";
    f.DBiField = "Nombre";
    f.show();
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.startsWith("Could not open the database due to the following error: "));
    EXPECT_TRUE(script.last().text.contains(" #"));
    EXPECT_EQ(script.last().icon, platform::vbCritical);
    QApplication::processEvents();
    EXPECT_FALSE(f.isVisible());

    OpenDbFrm g;
    g.ErrorState = true;
    g.show();
    QApplication::processEvents();
    EXPECT_FALSE(g.isVisible());
    EXPECT_EQ(script.count(), 1);
}

#include "PickersTest.moc"
