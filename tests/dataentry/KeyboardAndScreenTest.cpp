// The data-entry form as a keyboard user and a small screen meet it: a record typed with Enter only
// (in the program's window, in a host that creates the control from the library, on SQLite and on an
// Access file), inputs as long as their fields, untouched masks, and a form with more rows than the
// screen has room for.

#include <dlfcn.h>

#include <QGuiApplication>
#include <QScreen>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "../dao/JetOracles.h"
#include "../platform/QStringPrint.h"
#include "DataEntryTestUtil.h"
#include "dataentry/host/DataEntryFrm.h"
#include "velloform.h"

using dataentry::DataEntryFrm;
using namespace platform;

namespace {

std::string str(const QRect& r) {
    return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

// Types each value into the focused input and presses Enter after it, then Enter once more (on Ok,
// where Enter in the last row has put the focus).
void typeWithEnter(const QStringList& values) {
    for (const QString& v : values) {
        QWidget* w = QApplication::focusWidget();
        ASSERT_NE(w, nullptr);
        QTest::keyClicks(w, v);
        QTest::keyClick(w, Qt::Key_Return);
    }
    QWidget* ok = QApplication::focusWidget();
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->objectName(), "cmdUpdate");
    QTest::keyClick(ok, Qt::Key_Return);
}

// The program's window over a table, shown (the form is built).
DataEntryFrm* showWindow(const QString& db, const QString& table) {
    DataEntryFrm* f = DataEntryFrm::shared();
    f->DB_DATABASENAME = db;
    f->DB_SELECTED_TABLE = table;
    f->setCaption(table);
    f->show();
    QApplication::setActiveWindow(f);
    (void)QTest::qWaitForWindowActive(f, 2000);
    return f;
}

class KeyboardAndScreenTest : public jettest::JetFileTest {
protected:
    void TearDown() override { DataEntryFrm::releaseShared(); }
    PromptScript prompts_;
};

TEST_F(KeyboardAndScreenTest, EnterOnlyStoresARecordInTheProgramsWindowOnSqliteAndAccess) {
    // SQLite: a long text on a row after the first and a memo longer than any text field, kept whole.
    const QString address = QString("Calle de la Princesa ").repeated(4) + "numero 95, piso 3";
    const QString memo = QString("Una nota larga. ").repeated(40);
    ASSERT_GT(address.size(), 64);
    const QString db = testutil::makeSqlite(dir_, "t.db", {"create table Clientes (Id long, Direccion text(255), Notas memo)"});
    DataEntryFrm* f = showWindow(db, "Clientes");
    typeWithEnter({"5", address, memo});
    EXPECT_EQ(prompts_.count(), 0);
    EXPECT_EQ(detest::count(db, "Clientes"), 1);
    EXPECT_EQ(detest::valueText(db, "select Direccion from Clientes"), address);
    EXPECT_EQ(detest::valueText(db, "select Notas from Clientes"), memo);
    // The window stays for the next record, typed the same way from the first input.
    typeWithEnter({"6", "Otra", "n"});
    EXPECT_EQ(detest::count(db, "Clientes"), 2);
    EXPECT_TRUE(f->isVisible());
    // Enter on Close closes.
    auto* close = f->dataEntryForm()->findChild<QToolButton*>("cmdClose");
    close->setFocus();
    QTest::keyClick(close, Qt::Key_Return);
    EXPECT_FALSE(f->isVisible());
    DataEntryFrm::releaseShared();

    // An Access file, changed in place.
    const QString mdb = copy("functionsV2003.mdb");
    showWindow(mdb, "t_funcs");
    typeWithEnter({"77", "agregado", "3.5", "12/31/2020"});
    EXPECT_EQ(prompts_.count(), 0) << (prompts_.count() ? prompts_.last().text.toStdString() : "");
    DataEntryFrm::releaseShared();
    EXPECT_EQ(detest::valueText(mdb, "select descr from t_funcs where id = 77"), "agregado");
}

TEST_F(KeyboardAndScreenTest, EnterOnlyStoresARecordInAHostOfTheLibrary) {
    const QString db = testutil::makeSqlite(dir_, "lib.db", {"create table [Mi tabla] (Id long, Nombre text(120))"});
    const QString name = QString("Nombre largo ").repeated(7);
    void* lib = dlopen(VELLOFORM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto get = reinterpret_cast<int (*)(const char*, VelloformClassFactory*)>(dlsym(lib, "DllGetClassObject"));
    VelloformClassFactory factory{};
    ASSERT_EQ(get(VELLOFORM_CLASS_NAME, &factory), VELLOFORM_OK);
    // The library's message boxes are its own (this test's script does not answer them): any that
    // shows is noted and closed, so that a fault fails the test instead of hanging it.
    QStringList boxes;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->reject();
        }
    });
    watch.start(50);
    {
        QWidget window;
        auto* control = static_cast<QWidget*>(factory.CreateInstance(&window));
        ASSERT_NE(control, nullptr);
        control->setProperty("DatabaseName", db);
        control->setProperty("SelectedTable", "[Mi tabla]");  // bracketed, as callers are told to
        window.show();
        QApplication::setActiveWindow(&window);
        (void)QTest::qWaitForWindowActive(&window, 2000);
        typeWithEnter({"1", name});
    }
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(" | ").toStdString();
    dlclose(lib);
    EXPECT_EQ(detest::count(db, "[Mi tabla]"), 1);
    EXPECT_EQ(detest::valueText(db, "select Nombre from [Mi tabla]"), name);
}

TEST_F(KeyboardAndScreenTest, InputsTakeTheirFieldsSizeAndUntouchedMasksAreEmpty) {
    const QString db = testutil::makeSqlite(dir_, "m.db", {"create table T (Nombre text(10), Telefono text(20), Nota memo)"});
    detest::Host h;
    h.form->setDatabaseName(db);
    h.form->setSelectedTable("T");
    h.form->SetMask("(###) ###-####", 1);
    h.form->SetDefault(QString("d").repeated(80), 2);
    h.show();
    EXPECT_EQ(h.input(0)->MaxLength(), 10);
    EXPECT_EQ(h.input(2)->MaxLength(), 0);
    EXPECT_EQ(h.input(2)->Text().size(), 80);  // the default is not cut
    h.form->SetText(QString("x").repeated(300), 2);
    EXPECT_EQ(h.input(2)->Text().size(), 300);
    h.form->SetText("abcdefghijklmnop", 0);
    EXPECT_EQ(h.input(0)->Text(), "abcdefghij");  // no more than the field holds

    // The phone input shows its placeholder but holds nothing.
    EXPECT_EQ(h.input(1)->Text(), "(___) ___-____");
    h.ok()->click();
    EXPECT_EQ(prompts_.count(), 0);
    EXPECT_EQ(detest::count(db, "T"), 1);
    EXPECT_NE(detest::valueText(db, "select Telefono from T"), "(___) ___-____");
    EXPECT_EQ(detest::count(db, "T where Telefono like '*[_]*'"), 0);
    // A typed number is stored as typed, with the mask's literals.
    h.input(1)->setFocus();
    QTest::keyClicks(h.input(1), "5551234567");
    h.ok()->setFocus();  // as a click on it does
    h.ok()->click();
    EXPECT_EQ(detest::count(db, "T where Telefono = '(555) 123-4567'"), 1);
    // Emptied for the next record, the masked input offers the number typed last, as the others do.
    EXPECT_EQ(h.input(1)->ClipText(), "");
    h.input(0)->setFocus();
    h.input(1)->setFocus();
    EXPECT_EQ(h.input(1)->Text(), "(555) 123-4567");
}

TEST_F(KeyboardAndScreenTest, TwoHundredFieldsFitTheScreenScrollAndSaveWithEnter) {
    QStringList cols;
    for (int i = 0; i < 200; ++i) cols << QString("F%1 long").arg(i);
    const QString db = testutil::makeSqlite(dir_, "wide.db", {"create table Wide (" + cols.join(", ") + ")"});
    DataEntryFrm* f = showWindow(db, "Wide");
    auto* form = f->dataEntryForm();
    ASSERT_EQ(form->rowCount(), 200);
    EXPECT_EQ(prompts_.count(), 0);

    // The whole window, frame included, stands within the screen's available area.
    const QRect area = f->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(f->frameGeometry())) << str(f->frameGeometry()) << " in " << str(area);
    // Ok and Close are inside the window, below the scrolled rows.
    auto* ok = form->findChild<QToolButton*>("cmdUpdate");
    auto* rows = form->findChild<QScrollArea*>("RowsArea");
    ASSERT_NE(rows, nullptr);
    const QRect okInWindow(ok->mapTo(f, QPoint(0, 0)), ok->size());
    EXPECT_TRUE(f->rect().contains(okInWindow)) << str(okInWindow);
    EXPECT_GE(ok->y(), rows->geometry().bottom());
    EXPECT_TRUE(rows->verticalScrollBar()->isVisible());

    // Every value typed with Enter: each focused input is scrolled into view on the way down.
    QStringList values;
    for (int i = 0; i < 200; ++i) values << QString::number(i * 3);
    for (int i = 0; i < 200; ++i) {
        QWidget* w = QApplication::focusWidget();
        ASSERT_EQ(w, form->findChild<MaskedEdit*>(QString("TxTFields(%1)").arg(i)));
        const QRect inView(w->mapTo(rows->viewport(), QPoint(0, 0)), w->size());
        ASSERT_TRUE(rows->viewport()->rect().contains(inView)) << i << ": " << str(inView);
        QTest::keyClicks(w, values[i]);
        QTest::keyClick(w, Qt::Key_Return);
    }
    EXPECT_EQ(QApplication::focusWidget(), ok);
    QTest::keyClick(ok, Qt::Key_Return);
    EXPECT_EQ(prompts_.count(), 0);
    EXPECT_EQ(detest::count(db, "Wide"), 1);
    EXPECT_EQ(detest::valueText(db, "select F199 from Wide"), "597");
    // The first input has the focus again, and is in view.
    QWidget* first = form->findChild<MaskedEdit*>("TxTFields(0)");
    EXPECT_EQ(QApplication::focusWidget(), first);
    EXPECT_TRUE(rows->viewport()->rect().contains(QRect(first->mapTo(rows->viewport(), QPoint(0, 0)), first->size())));
}

}  // namespace
