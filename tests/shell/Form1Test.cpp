#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "../platform/QStringPrint.h"
#include "TestUtil.h"
#include "browser/AdvanceViewForm.h"
#include "platform/DataControl.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "platform/dao/Dao.h"
#include "shell/Application.h"
#include "shell/Form1.h"
#include "shell/Globals.h"

using namespace platform;
using shell::Form1;

namespace {

struct BrowserCall {
    QWidget* parent;
    QString dbFile, records, table;
    QPointer<QDialog> dialog;
};

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setSettingsDirectory(dir_.path() + "/config");
        savedFactory_ = Form1::browserFactory;
        // A browser that closes as soon as its modal show starts.
        Form1::browserFactory = [this](QWidget* parent, const QString& db, const QString& records,
                                       const QString& table) -> QDialog* {
            auto* d = new QDialog(parent);
            calls_.push_back({parent, db, records, table, d});
            QTimer::singleShot(0, d, &QDialog::reject);
            return d;
        };
    }
    void TearDown() override {
        Form1::browserFactory = savedFactory_;
        setSettingsDirectory(QString());
    }

    template <class T>
    static T* get(Form1& f, const char* name) {
        T* w = f.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static QLineEdit* path(Form1& f) { return get<QLineEdit>(f, "FileTxT"); }
    static QListWidget* tables(Form1& f) { return get<QListWidget>(f, "Tables"); }
    static void click(Form1& f, const char* button) { get<QPushButton>(f, button)->click(); }

    static QStringList listed(Form1& f) {
        QStringList names;
        for (int i = 0; i < tables(f)->count(); ++i) names << tables(f)->item(i)->text();
        return names;
    }

    // The enabled state of FileTxT, BrowseBtn, OpenDatabaseBtn, CloseDatabaseBtn and OpenTable.
    static void expectNoDatabase(Form1& f) {
        EXPECT_TRUE(path(f)->isEnabled());
        EXPECT_TRUE(get<QPushButton>(f, "BrowseBtn")->isEnabled());
        EXPECT_TRUE(get<QPushButton>(f, "OpenDatabaseBtn")->isEnabled());
        EXPECT_FALSE(get<QPushButton>(f, "CloseDatabaseBtn")->isEnabled());
        EXPECT_TRUE(get<QPushButton>(f, "OpenTable")->isEnabled());
        EXPECT_EQ(tables(f)->count(), 0);
    }
    static void expectListed(Form1& f) {
        EXPECT_FALSE(path(f)->isEnabled());
        EXPECT_FALSE(get<QPushButton>(f, "BrowseBtn")->isEnabled());
        EXPECT_FALSE(get<QPushButton>(f, "OpenDatabaseBtn")->isEnabled());
        EXPECT_TRUE(get<QPushButton>(f, "CloseDatabaseBtn")->isEnabled());
        EXPECT_TRUE(get<QPushButton>(f, "OpenTable")->isEnabled());
    }

    QString sampleDb() {
        return testutil::makeSqlite(
            dir_, "shop.db",
            {"create table Zeta (id long)", "create table MSDS (id long)", "create table MsData (id long)",
             "create table [Mi tabla] (id long)", "create table MSysThings (id long)"});
    }

    QTemporaryDir dir_;
    Form1::BrowserFactory savedFactory_;
    std::vector<BrowserCall> calls_;
};

}  // namespace

TEST_F(Form1Test, FirstStartShowsTheWindowEmptyInTheNoDatabaseState) {
    Form1 f;
    EXPECT_EQ(f.objectName(), "Form1");
    EXPECT_EQ(f.windowTitle(), "Tabulon 1.0");
    EXPECT_EQ(get<QGroupBox>(f, "SSPanel2")->title(), "Database");
    EXPECT_EQ(get<QGroupBox>(f, "SSPanel1")->title(), "Database Tables");
    EXPECT_EQ(get<QPushButton>(f, "BrowseBtn")->text(), "&Browse");
    EXPECT_EQ(get<QPushButton>(f, "OpenDatabaseBtn")->text(), "&Open");
    EXPECT_EQ(get<QPushButton>(f, "CloseDatabaseBtn")->text(), "&Close");
    EXPECT_EQ(get<QPushButton>(f, "OpenTable")->text(), "&Open");
    EXPECT_EQ(get<QPushButton>(f, "CancelBtn")->text(), "&Exit");
    EXPECT_NE(f.findChild<QWidget*>("Image1"), nullptr);
    EXPECT_EQ(path(f)->text(), "");
    expectNoDatabase(f);
}

TEST_F(Form1Test, MissingFileIsReportedAndThePathSelectedForCorrection) {
    Form1 f;
    PromptScript script;
    for (const QString& p : {dir_.filePath("nothere.mdb"), QString(), QString("   "), dir_.path()}) {
        path(f)->setText(p);
        path(f)->deselect();
        click(f, "OpenDatabaseBtn");
        ASSERT_EQ(script.count(), 1) << p.toStdString();
        EXPECT_EQ(script.last().text, "This file could not be found!");
        EXPECT_EQ(script.last().icon, vbExclamation);
        EXPECT_EQ(script.last().buttons, vbOKOnly);
        EXPECT_EQ(script.last().title, "Tabulon");
        EXPECT_EQ(path(f)->text(), p);
        EXPECT_EQ(path(f)->selectedText(), p);
        EXPECT_EQ(f.focusWidget(), path(f));
        expectNoDatabase(f);
        EXPECT_EQ(f.cursor().shape(), Qt::ArrowCursor);  // the hourglass is gone
        script.clear();
    }
}

TEST_F(Form1Test, OpenListsTablesInEngineOrderWithoutMsNamesAndCloseResets) {
    const QString db = sampleDb();
    Form1 f;
    PromptScript script;
    path(f)->setText(db);
    click(f, "OpenDatabaseBtn");
    EXPECT_EQ(script.count(), 0);
    EXPECT_EQ(listed(f), QStringList({"Zeta", "MsData", "Mi tabla"}));
    EXPECT_EQ(shell::DatabaseFile, db);
    expectListed(f);
    EXPECT_EQ(f.cursor().shape(), Qt::ArrowCursor);

    click(f, "CloseDatabaseBtn");
    expectNoDatabase(f);
    EXPECT_EQ(path(f)->text(), db);
    EXPECT_EQ(shell::DatabaseFile, db);  // kept after Close

    // Enter in the path box opens too.
    QTest::keyClick(path(f), Qt::Key_Return);
    EXPECT_EQ(tables(f)->count(), 3);
}

TEST_F(Form1Test, BlanksAroundThePathPassTheExistenceTestAndAreKept) {
    QDir().mkpath(dir_.filePath("my data"));
    const QString db = testutil::makeSqlite(dir_, "my data/shop 2.db", {"create table T (id long)"});
    Form1 f;
    PromptScript script;
    path(f)->setText("  " + db + "  ");
    click(f, "OpenDatabaseBtn");
    // The path is kept as typed; the engine, like the desktop's own file dialogs, takes the file whose
    // name is the path without the blanks around it.
    EXPECT_EQ(shell::DatabaseFile, "  " + db + "  ");
    EXPECT_EQ(script.count(), 0);
    EXPECT_EQ(listed(f), QStringList({"T"}));
}

TEST_F(Form1Test, JetFileListsItsUserTable) {
    Form1 f;
    PromptScript script;
    path(f)->setText(testutil::jetFile("weirdObjectNames.mdb"));
    click(f, "OpenDatabaseBtn");
    EXPECT_EQ(script.count(), 0);
    EXPECT_EQ(listed(f), QStringList({"19 MB 01 BEZAHLT ???"}));
    expectListed(f);
}

// While its tables are listed the file stays open, so the browser's opening reuses the reading of
// an Access file (no reader runs); Close lets it go.
TEST_F(Form1Test, AListedAccessFileIsReadOnceForTheBrowser) {
    const QString copy = dir_.filePath("weird.mdb");
    ASSERT_TRUE(QFile::copy(testutil::jetFile("weirdObjectNames.mdb"), copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    Form1 f;
    PromptScript script;
    path(f)->setText(copy);
    click(f, "OpenDatabaseBtn");
    ASSERT_EQ(listed(f), QStringList({"19 MB 01 BEZAHLT ???"}));
    qputenv("TABULON_JET_READER", dir_.filePath("no-reader").toUtf8());
    EXPECT_TRUE(dao::OpenDatabase(copy)->TableDefs().contains("19 MB 01 BEZAHLT ???"));
    click(f, "CloseDatabaseBtn");
    try {
        dao::OpenDatabase(copy);
        ADD_FAILURE() << "read without a reader";
    } catch (const dao::Error& e) {
        EXPECT_TRUE(e.description().contains("tabulon-jet-reader was not found")) << e.what();
    }
    qunsetenv("TABULON_JET_READER");
    EXPECT_EQ(script.count(), 0);
}

// An Access file that takes longer than a moment to read shows a reading dialog; Cancel stops the
// reader, and the window is back as before the open, without a message.
TEST_F(Form1Test, ASlowAccessFileShowsTheReadingAndCanBeCancelled) {
    const QString slow = dir_.filePath("slow-reader.sh");
    {
        QFile script(slow);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nsleep 5\nexec \"" TABULON_BINARY_DIR "/tabulon-jet-reader\" \"$@\"\n");
    }
    QFile::setPermissions(slow, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("TABULON_JET_READER", slow.toUtf8());
    Form1 f;
    f.show();
    PromptScript script;
    bool seen = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        for (QProgressDialog* d : f.findChildren<QProgressDialog*>()) {
            if (!d->isVisible()) continue;
            seen = d->labelText().contains("weirdObjectNames.mdb");
            for (QPushButton* b : d->findChildren<QPushButton*>()) b->click();
        }
    });
    watcher.start(50);
    path(f)->setText(testutil::jetFile("weirdObjectNames.mdb"));
    QElapsedTimer t;
    t.start();
    click(f, "OpenDatabaseBtn");
    watcher.stop();
    qunsetenv("TABULON_JET_READER");
    EXPECT_TRUE(seen);
    EXPECT_LT(t.elapsed(), 4000);
    EXPECT_EQ(script.count(), 0);
    EXPECT_TRUE(listed(f).isEmpty());
    EXPECT_TRUE(get<QPushButton>(f, "OpenDatabaseBtn")->isEnabled());
}

TEST_F(Form1Test, FileTheEngineRefusesIsReportedWithNumberAndDescription) {
    const QString fake = dir_.filePath("x.mdb");
    {
        QFile out(fake);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("just some text, not a database\n");
    }
    Form1 f;
    PromptScript script;
    path(f)->setText(fake);
    click(f, "OpenDatabaseBtn");
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.startsWith("3343: ")) << script.last().text.toStdString();
    EXPECT_TRUE(script.last().text.contains(fake));
    EXPECT_EQ(script.last().icon, vbCritical);
    expectNoDatabase(f);
    EXPECT_EQ(path(f)->selectedText(), fake);
    EXPECT_EQ(f.cursor().shape(), Qt::ArrowCursor);

    // Still usable: a real database opens afterwards.
    path(f)->setText(sampleDb());
    click(f, "OpenDatabaseBtn");
    EXPECT_EQ(tables(f)->count(), 3);
}

TEST_F(Form1Test, APasswordFileAsksForItsPasswordInAPasswordBox) {
    const QString locked = testutil::passwordJetCopy(dir_, "weirdObjectNames.mdb", "clave");
    Form1 f;
    {
        // Cancel opens nothing and says nothing more.
        PromptScript script;
        script.cancel();
        path(f)->setText(locked);
        click(f, "OpenDatabaseBtn");
        ASSERT_EQ(script.count(), 1);
        EXPECT_EQ(script.last().kind, PromptKind::Input);
        EXPECT_TRUE(script.last().masked);
        EXPECT_TRUE(script.last().text.contains("needs a password"));
        expectNoDatabase(f);
    }
    {
        // A wrong password is the password error, never "damaged".
        PromptScript script;
        script.answer(QStringLiteral("Clave"));
        click(f, "OpenDatabaseBtn");
        ASSERT_EQ(script.count(), 2);
        EXPECT_EQ(script.last().text, "3031: Not a valid password.");
        expectNoDatabase(f);
    }
    PromptScript script;
    script.answer(QStringLiteral("clave"));
    path(f)->setText(locked);
    click(f, "OpenDatabaseBtn");
    EXPECT_EQ(script.count(), 1);
    EXPECT_EQ(listed(f), QStringList({"19 MB 01 BEZAHLT ???"}));
}

TEST_F(Form1Test, DamagedJetFileIsReportedInsteadOfAnEmptyList) {
    const QString damaged = testutil::overwrittenJetCopy(dir_, "test2V2003.mdb", 10, 29);
    Form1 f;
    PromptScript script;
    path(f)->setText(damaged);
    click(f, "OpenDatabaseBtn");
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.startsWith("3343: ")) << script.last().text.toStdString();
    EXPECT_TRUE(script.last().text.contains(damaged));
    EXPECT_TRUE(script.last().text.contains("damaged"));
    EXPECT_EQ(script.last().icon, vbCritical);
    expectNoDatabase(f);
}

TEST_F(Form1Test, LastOpenedIsWrittenOnCloseAndOfferedAtTheNextStart) {
    {
        Form1 f;
        path(f)->setText("/edited/but/never/opened.mdb");
        f.close();
    }
    EXPECT_EQ(GetSetting("Tabulon", "Settings", "LastOpened"), "/edited/but/never/opened.mdb");
    {
        Form1 f;
        EXPECT_EQ(path(f)->text(), "/edited/but/never/opened.mdb");
        EXPECT_EQ(path(f)->selectedText(), "/edited/but/never/opened.mdb");
        path(f)->setText("");
        click(f, "CancelBtn");  // Exit unloads the same way
    }
    EXPECT_EQ(GetSetting("Tabulon", "Settings", "LastOpened", "missing"), "");

    // A file given on the command line replaces the remembered path.
    SaveSetting("Tabulon", "Settings", "LastOpened", "/remembered.mdb");
    Form1 f;
    f.setStartFile("/from/command/line.db");
    EXPECT_EQ(path(f)->text(), "/from/command/line.db");
    EXPECT_EQ(path(f)->selectedText(), "/from/command/line.db");
}

TEST_F(Form1Test, BrowsePutsTheChosenFileAndCancelKeepsTheText) {
    Form1 f;
    PromptScript script;
    path(f)->setText("/typed/path.mdb");
    script.cancel();
    click(f, "BrowseBtn");
    ASSERT_EQ(script.count(), 1);
    EXPECT_EQ(script.last().kind, PromptKind::OpenFile);
    EXPECT_EQ(script.last().initialFile, "*.mdb");
    EXPECT_TRUE(script.last().filter.contains("*.sqlite"));
    EXPECT_TRUE(script.last().filter.contains("*.accdb"));
    EXPECT_EQ(path(f)->text(), "/typed/path.mdb");
    EXPECT_EQ(f.focusWidget(), path(f));

    script.answer("/chosen/file.db");
    click(f, "BrowseBtn");
    EXPECT_EQ(path(f)->text(), "/chosen/file.db");
}

TEST_F(Form1Test, OpenTableGivesEachOpenAFreshModalBrowserAndReleasesIt) {
    Form1 f;
    path(f)->setText(sampleDb());

    // Nothing listed, then nothing selected: nothing happens.
    click(f, "OpenTable");
    click(f, "OpenDatabaseBtn");
    click(f, "OpenTable");
    EXPECT_TRUE(calls_.empty());

    // Double-clicking a name does not open it.
    tables(f)->setCurrentRow(1);
    const QRect r = tables(f)->visualItemRect(tables(f)->item(1));
    QTest::mouseDClick(tables(f)->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_TRUE(calls_.empty());

    click(f, "OpenTable");
    tables(f)->setCurrentRow(2);
    click(f, "OpenTable");
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[0].parent, &f);
    EXPECT_EQ(calls_[0].dbFile, shell::DatabaseFile);
    EXPECT_EQ(calls_[0].records, "*");
    EXPECT_EQ(calls_[0].table, "MsData");
    EXPECT_EQ(calls_[1].table, "Mi tabla");
    EXPECT_TRUE(calls_[0].dialog.isNull());  // released after its modal show
    EXPECT_TRUE(calls_[1].dialog.isNull());
    EXPECT_EQ(f.cursor().shape(), Qt::ArrowCursor);

    // Enter on a selected name opens it as well.
    QTest::keyClick(tables(f), Qt::Key_Return);
    EXPECT_EQ(calls_.size(), 3u);
    // And on the current name the keyboard stands on, selected or not yet.
    tables(f)->clearSelection();
    tables(f)->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    QTest::keyClick(tables(f), Qt::Key_Return);
    ASSERT_EQ(calls_.size(), 4u);
    EXPECT_EQ(calls_[3].table, tables(f)->item(0)->text());
}

TEST_F(Form1Test, AltOBelongsToTheOpenButtonThatCanActNow) {
    Form1 f;
    path(f)->setText(sampleDb());
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    // A mnemonic clicks its button after the press animation.
    QTest::keyClick(&f, Qt::Key_O, Qt::AltModifier);  // the path's Open
    ASSERT_TRUE(QTest::qWaitFor([&] { return tables(f)->count() == 3; }, 2000));
    EXPECT_TRUE(calls_.empty());
    tables(f)->setCurrentRow(0);
    QTest::keyClick(&f, Qt::Key_O, Qt::AltModifier);  // now the table's Open
    ASSERT_TRUE(QTest::qWaitFor([&] { return !calls_.empty(); }, 2000));
    QTest::qWait(300);
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].table, "Zeta");
    f.activateWindow();  // back from the modal browser
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    QTest::keyClick(&f, Qt::Key_C, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tables(f)->count() == 0; }, 2000));
    expectNoDatabase(f);
}

TEST_F(Form1Test, TheProgramsBrowserIsTheTableBrowserWithItsMembersAssigned) {
    Form1::browserFactory = savedFactory_;
    const QString db = testutil::makeSqlite(
        dir_, "few.db",
        {"create table [Mi tabla] (id long, name text(20))", "insert into [Mi tabla] values (1, 'uno')",
         "insert into [Mi tabla] values (2, 'dos')"});
    PromptScript script;
    std::unique_ptr<QDialog> d(Form1::browserFactory(nullptr, db, "*", "Mi tabla"));
    auto* browser = qobject_cast<browser::AdvanceViewForm*>(d.get());
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->DB_DATABASEFILE, db);
    EXPECT_EQ(browser->DB_SELECTED_RECORDS, "*");
    EXPECT_EQ(browser->DB_SELECTED_TABLE, "Mi tabla");
    browser->show();
    EXPECT_EQ(browser->windowTitle(), "Records para Mi tabla");
    EXPECT_EQ(browser->dataControl()->Recordset()->RecordCount(), 2);
    EXPECT_EQ(script.count(), 0);
}

// Window titles are the captions: the program sets no display name for Qt to append to them.
TEST(ApplicationTest, NamesTheProgramWithoutADisplayNameForWindowTitles) {
    shell::setUpApplication();
    EXPECT_EQ(QCoreApplication::applicationName(), "Tabulon");
    EXPECT_EQ(QCoreApplication::applicationVersion(), "1.0");
    EXPECT_EQ(QGuiApplication::desktopFileName(), "tabulon");
    EXPECT_FALSE(QGuiApplication::windowIcon().isNull());
    // Without a display name of its own the display name follows the application name.
    QCoreApplication::setApplicationName("probe");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "probe");
    QCoreApplication::setApplicationName("Tabulon");
    Form1 f;
    EXPECT_EQ(f.windowTitle(), "Tabulon 1.0");
}

TEST_F(Form1Test, APostgresUriListsTheServersTablesAndIsRememberedWithoutItsPassword) {
    const QString uri = qEnvironmentVariable("TABULON_TEST_PG");
    if (uri.isEmpty()) GTEST_SKIP() << "TABULON_TEST_PG is not set: no PostgreSQL server for this test";
    const QString table = QString("form1_%1").arg(QCoreApplication::applicationPid());
    auto db = dao::OpenDatabase(uri);
    db->Execute("CREATE TABLE " + table + " (id integer PRIMARY KEY)");
    {
        Form1 f;
        PromptScript script;
        // A password in the URI itself is used (trust authentication ignores it) but never stored.
        path(f)->setText(uri + "&password=secret");
        click(f, "OpenDatabaseBtn");
        EXPECT_EQ(script.count(), 0);
        EXPECT_TRUE(listed(f).contains(table));
        expectListed(f);
        f.close();
    }
    db->Execute("DROP TABLE " + table);
    const QString remembered = GetSetting("Tabulon", "Settings", "LastOpened");
    EXPECT_EQ(remembered, uri);
}

TEST_F(Form1Test, AServerThatAsksForAPasswordGetsItFromThePasswordBox) {
    const QString uri = qEnvironmentVariable("TABULON_TEST_PG");
    if (uri.isEmpty()) GTEST_SKIP() << "TABULON_TEST_PG is not set: no PostgreSQL server for this test";
    // The test server asks this role, and this role only, for its password.
    try {
        dao::OpenDatabase(uri)->Execute("CREATE ROLE tabulon_password LOGIN PASSWORD 'clave'");
    } catch (const dao::Error&) {
        // Made by an earlier run.
    }
    QString asRole = uri;
    asRole.replace(QRegularExpression("user=[^&]*"), "user=tabulon_password");
    Form1 f;
    {
        // A wrong password is the password error.
        PromptScript script;
        script.answer(QStringLiteral("wrong"));
        path(f)->setText(asRole);
        click(f, "OpenDatabaseBtn");
        ASSERT_EQ(script.count(), 2);
        EXPECT_TRUE(script.requests()[0].masked);
        EXPECT_TRUE(script.requests()[0].text.contains("needs a password")) << script.requests()[0].text.toStdString();
        EXPECT_EQ(script.last().text, "3031: Not a valid password.");
        expectNoDatabase(f);
    }
    PromptScript script;
    script.answer(QStringLiteral("clave"));
    click(f, "OpenDatabaseBtn");
    EXPECT_EQ(script.count(), 1);
    expectListed(f);
    f.close();
    EXPECT_EQ(GetSetting("Tabulon", "Settings", "LastOpened"), asRole);
}
