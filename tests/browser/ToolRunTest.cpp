// A person at speed while a tool runs: typing in a search box, closing the window, Cancel and
// Escape, a double click on the tool's button. Real SQLite files, real widgets, prompts scripted.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "../platform/QStringPrint.h"
#include "TestUtil.h"
#include "browser/AdvanceViewForm.h"
#include "platform/DataControl.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

using browser::AdvanceViewForm;
using namespace platform;

namespace {

// Ends the test process when a run does not come back in time: a deadlock or a lost wake-up must
// show as a failure, not as a test that hangs until the harness kills it.
class Watchdog {
public:
    explicit Watchdog(int seconds) {
        thread_ = std::thread([this, seconds] {
            for (int i = 0; i < seconds * 20 && !done_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!done_) {
                std::fprintf(stderr, "Watchdog: the run did not end within %d s (deadlock?)\n", seconds);
                std::fflush(nullptr);
                std::_Exit(1);
            }
        });
    }
    ~Watchdog() {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

constexpr int kRows = 4000;

class ToolRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        setSettingsDirectory(dir_.path() + "/config");
        db_ = testutil::makeSqlite(dir_, "t.db", {"create table Nums (Id long, Nombre text(20), Num long)"});
        auto db = dao::OpenDatabase(db_);
        db->Execute(QString("insert into Nums (Id, Nombre, Num) with recursive c(x) as (select 1 union all "
                            "select x + 1 from c where x < %1) select x, 'Ana ' || x, 0 from c")
                        .arg(kRows));
        db->Close();
    }
    void TearDown() override { setSettingsDirectory(QString()); }

    std::unique_ptr<AdvanceViewForm> open() {
        auto f = std::make_unique<AdvanceViewForm>();
        f->DB_DATABASEFILE = db_;
        f->DB_SELECTED_RECORDS = "*";
        f->DB_SELECTED_TABLE = "Nums";
        f->show();
        return f;
    }
    template <class T = QWidget>
    static T* get(QWidget& w, const QString& name) {
        T* c = w.findChild<T*>(name);
        EXPECT_NE(c, nullptr) << name.toStdString();
        return c;
    }
    // Operations panel: Num + 1.
    static void setUpPlusOne(AdvanceViewForm& f) {
        auto* combo = get<QComboBox>(f, "OpFieldsCombo");
        combo->setCurrentIndex(combo->findText("Num"));
        get<QRadioButton>(f, "OperatorOpt(0)")->setChecked(true);
        get<QLineEdit>(f, "OperatorValue")->setText("1");
    }
    // How many records hold each value of Num, through a connection of its own.
    QString numCounts() {
        dao::flushAllWrites();
        auto db = dao::OpenDatabase(db_);
        auto rs = db->OpenRecordset("select Num, count(*) as n from Nums group by Num order by Num");
        QStringList parts;
        for (; !rs->Eof(); rs->MoveNext())
            parts << dao::valueToText(rs->Fields().Item(0).Value()) + "x" + dao::valueToText(rs->Fields().Item(1).Value());
        return parts.join(' ');
    }
    static qint64 stoppedCount(const PromptRequest& r) {
        // "Stopped after N records of M. ..."
        const QStringList words = r.text.split(' ');
        return words.size() > 2 ? words[2].toLongLong() : -1;
    }
    static void postClick(QWidget* w) {
        const QPointF at(w->width() / 2.0, w->height() / 2.0);
        for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(w, new QMouseEvent(t, at, w->mapToGlobal(at), Qt::LeftButton,
                                                           t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                           Qt::NoModifier));
    }

    QTemporaryDir dir_;
    QString db_;
    PromptScript prompts_;
    testutil::LocaleGuard locale_{QLocale(QLocale::English, QLocale::UnitedStates)};
};

// Keystrokes in a search box with Auto Search on while Operations runs: the tool ends, every
// record is changed once, and the search runs after the tool, for the text typed. Many rounds,
// each under a time limit.
TEST_F(ToolRun, TypingInASearchBoxWhileAToolRunsSearchesAfterIt) {
    auto f = open();
    get<QCheckBox>(*f, "FastSearchChk")->setChecked(true);
    setUpPlusOne(*f);
    auto* box = get<QLineEdit>(*f, "SearchBox(1)");
    for (int round = 1; round <= 4; ++round) {
        Watchdog limit(60);
        bool typedWhileRunning = false;
        const QString text = QString("Ana %1").arg(round);
        QTimer::singleShot(0, box, [&] {
            typedWhileRunning = f->toolRunning();
            box->clear();
            QTest::keyClicks(box, text);
        });
        QTest::mouseClick(get<QPushButton>(*f, "ProcessOperationBtn"), Qt::LeftButton);
        EXPECT_TRUE(typedWhileRunning) << round;
        EXPECT_FALSE(f->toolRunning());
        EXPECT_TRUE(QTest::qWaitFor([&] { return f->dataControl()->RecordSource().contains("'*" + text + "*'"); },
                                    20000))
            << f->dataControl()->RecordSource().toStdString();
        EXPECT_EQ(numCounts(), QString("%1x%2").arg(round).arg(kRows)) << round;
        // The search's records are the table's as the tool left them.
        const auto rs = f->dataControl()->Recordset();
        ASSERT_TRUE(rs && rs->RecordCount() > 0);
        EXPECT_EQ(dao::valueToText(rs->Fields().Item("Num").Value()), QString::number(round));
        box->clear();
        QTest::qWait(20);
    }
    EXPECT_EQ(prompts_.count(), 0);
}

// Closing the window while a tool runs asks first. No: the tool goes on to its end and the window
// stays. Yes: the tool stops at a record boundary, the message gives the count done, exactly that
// many records are changed, and the window closes once the tool has stopped. Meanwhile no second
// browser may open the table.
TEST_F(ToolRun, ClosingWhileAToolRunsAsksAndStopsAtARecordBoundary) {
    auto f = open();
    setUpPlusOne(*f);
    bool tableBusy = false;
    QDialog* second = reinterpret_cast<QDialog*>(1);
    prompts_.answer(vbNo);
    QTimer::singleShot(0, f.get(), [&] {
        tableBusy = AdvanceViewForm::toolRunsOn(db_, "Nums");
        f->close();
        second = AdvanceViewForm::create(nullptr, db_, "*", "Nums");  // the main window's Open
    });
    {
        Watchdog limit(60);
        QTest::mouseClick(get<QPushButton>(*f, "ProcessOperationBtn"), Qt::LeftButton);
    }
    EXPECT_TRUE(tableBusy);
    EXPECT_FALSE(AdvanceViewForm::toolRunsOn(db_, "Nums"));
    EXPECT_EQ(second, nullptr);
    ASSERT_EQ(prompts_.count(), 2);
    const PromptRequest& asked = prompts_.requests()[0];
    EXPECT_TRUE(asked.text.contains("Stop it")) << asked.text.toStdString();
    EXPECT_EQ(asked.defaultButton, 2);  // No: closing must not stop a tool by accident
    EXPECT_TRUE(prompts_.last().text.contains("still working on table Nums")) << prompts_.last().text.toStdString();
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(numCounts(), QString("1x%1").arg(kRows));

    prompts_.clear();
    prompts_.answer(vbYes);
    QTimer::singleShot(0, f.get(), [&] { f->close(); });
    {
        Watchdog limit(60);
        QTest::mouseClick(get<QPushButton>(*f, "ProcessOperationBtn"), Qt::LeftButton);
        QTest::qWaitFor([&] { return !f->isVisible(); }, 5000);
    }
    EXPECT_FALSE(f->isVisible());
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_TRUE(prompts_.requests()[0].text.contains("Stop it"));
    const qint64 done = stoppedCount(prompts_.last());
    EXPECT_GT(done, 0) << prompts_.last().text.toStdString();
    EXPECT_LT(done, kRows);
    EXPECT_EQ(numCounts(), QString("1x%1 2x%2").arg(kRows - done).arg(done));
}

// Cancel on the working display, and Escape, stop the tool between two records with the count.
TEST_F(ToolRun, CancelAndEscapeStopTheToolWithTheCountDone) {
    auto f = open();
    setUpPlusOne(*f);
    QTimer::singleShot(0, f.get(), [&] {
        auto* cancel = get<QPushButton>(*f, "CancelToolBtn");
        EXPECT_TRUE(cancel->isVisible());
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    QTest::mouseClick(get<QPushButton>(*f, "ProcessOperationBtn"), Qt::LeftButton);
    ASSERT_EQ(prompts_.count(), 1);
    qint64 done = stoppedCount(prompts_.last());
    EXPECT_GT(done, 0);
    EXPECT_LT(done, kRows);
    EXPECT_EQ(numCounts(), QString("0x%1 1x%2").arg(kRows - done).arg(done));
    EXPECT_FALSE(get<QPushButton>(*f, "CancelToolBtn")->isVisible());

    // Escape, on Replace.
    auto* combo = get<QComboBox>(*f, "RemplaceCombo");
    combo->setCurrentIndex(combo->findText("Nombre"));
    get<QLineEdit>(*f, "Remplace_FindTxT")->setText("*");
    get<QLineEdit>(*f, "Remplace_ChangeForTxT")->setText("x");
    QTimer::singleShot(0, f.get(), [&] { QTest::keyClick(f.get(), Qt::Key_Escape); });
    QTest::mouseClick(get<QPushButton>(*f, "DoRemplaceBtn"), Qt::LeftButton);
    ASSERT_EQ(prompts_.count(), 2);
    done = stoppedCount(prompts_.last());
    EXPECT_GT(done, 0);
    EXPECT_LT(done, kRows);
    dao::flushAllWrites();
    auto db = dao::OpenDatabase(db_);
    EXPECT_EQ(db->OpenRecordset("select * from Nums where Nombre = 'x'")->RecordCount(), done);
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(get<QStatusBar>(*f, "StatusBar")->currentMessage(),
              QString("Replace: %1 record%2 changed.").arg(done).arg(done == 1 ? "" : "s"));

    // Erase, after its warning: the records erased before the stop are gone, the others stay.
    prompts_.clear();
    prompts_.answer(vbYes);
    QTimer::singleShot(0, f.get(), [&] { QTest::mouseClick(get<QPushButton>(*f, "CancelToolBtn"), Qt::LeftButton); });
    QTest::mouseClick(get<QPushButton>(*f, "EraseRecords"), Qt::LeftButton);
    ASSERT_EQ(prompts_.count(), 2);
    EXPECT_TRUE(prompts_.last().text.startsWith("Stopped: ")) << prompts_.last().text.toStdString();
    const qint64 erased = prompts_.last().text.split(' ')[1].toLongLong();
    EXPECT_GT(erased, 0);
    EXPECT_LT(erased, kRows);
    dao::flushAllWrites();
    EXPECT_EQ(db->OpenRecordset("select * from Nums")->RecordCount(), kRows - erased);
}

// A second click on the tool's button, while it runs or queued until it ends, runs nothing.
TEST_F(ToolRun, ADoubleClickRunsTheToolOnce) {
    auto f = open();
    setUpPlusOne(*f);
    auto* status = get<QStatusBar>(*f, "StatusBar");
    QStringList outcomes;
    QObject::connect(status, &QStatusBar::messageChanged, [&](const QString& m) {
        if (!m.isEmpty()) outcomes << m;
    });
    // Operations lets events through: the second click arrives while it runs.
    auto* process = get<QPushButton>(*f, "ProcessOperationBtn");
    postClick(process);
    QTest::mouseClick(process, Qt::LeftButton);
    QTest::qWait(50);
    EXPECT_EQ(numCounts(), QString("1x%1").arg(kRows));
    EXPECT_EQ(outcomes, QStringList{QString("Operations: %1 records changed.").arg(kRows)});

    // Copy lets no input through while it runs: the second click waits in the queue until it ends.
    auto* from = get<QComboBox>(*f, "CopyCombo1");
    auto* to = get<QComboBox>(*f, "CopyCombo2");
    from->setCurrentIndex(from->findText("Id"));
    to->setCurrentIndex(to->findText("Num"));
    auto* start = get<QPushButton>(*f, "Startcopy");
    outcomes.clear();
    postClick(start);
    QTest::mouseClick(start, Qt::LeftButton);
    QTest::qWait(50);
    EXPECT_EQ(outcomes, QStringList{QString("Copy: %1 records changed.").arg(kRows)});
    EXPECT_EQ(prompts_.count(), 0);
}

}  // namespace
