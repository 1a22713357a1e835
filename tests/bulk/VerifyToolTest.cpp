#include <gtest/gtest.h>

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <vector>

#include "../platform/QStringPrint.h"
#include "TestUtil.h"
#include "bulk/Progress.h"
#include "bulk/Renumbering.h"
#include "bulk/VerifyTool.h"
#include "platform/Prompts.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

using bulk::Renumbering;
using bulk::VerifyTool;
using dao::Variant;

namespace {

// Remembers what a tool reported, and whether it ever went past its own maximum.
struct RecordingProgress : bulk::Progress {
    void begin(const QString& c, qint64 mn, qint64 mx) override {
        caption = c;
        maximum = mx;
        ++begun;
    }
    void setMaximum(qint64 mx) override { maximum = mx; }
    void step(qint64 v) override {
        last = v;
        ++steps;
        if (v > maximum || v < 0) overran = true;
    }
    void end() override { ++ended; }
    QString caption;
    qint64 maximum = 0, last = 0, steps = 0;
    int begun = 0, ended = 0;
    bool overran = false;
};

// Renumbers the values as the tool would, every renumbering accepted as the field keeps it.
std::vector<QString> renumber(const std::vector<Variant>& in, int type, const std::vector<Variant>& others = {}) {
    Renumbering plan(in, type, others);
    std::vector<QString> out;
    for (size_t i = 0; i < in.size(); ++i) {
        Variant v = in[i];
        if (plan.isDuplicate(i)) {
            const int32_t n = plan.proposal();
            v = type == dao::dbText ? Variant::fromString(QString::number(n)) : Variant::fromLong(n);
            plan.accepted(i, v);
        }
        out.push_back(v.isNull() ? QStringLiteral("Null") : dao::valueToText(v));
    }
    return out;
}

std::vector<Variant> longs(std::initializer_list<int> xs) {
    std::vector<Variant> v;
    for (int x : xs) v.push_back(x < 0 ? Variant::null() : Variant::fromLong(x));
    return v;
}

std::vector<Variant> texts(std::initializer_list<const char*> xs) {
    std::vector<Variant> v;
    for (const char* x : xs) v.push_back(Variant::fromString(QString::fromUtf8(x)));
    return v;
}

using Strings = std::vector<QString>;

TEST(Renumbering, AllButTheLastOfEachGroupTakeConsecutiveValuesAboveTheHighest) {
    EXPECT_EQ(renumber(longs({1, 1, 2}), dao::dbLong), (Strings{"3", "1", "2"}));
    EXPECT_EQ(renumber(longs({5, 5, 5}), dao::dbLong), (Strings{"6", "7", "5"}));
    EXPECT_EQ(renumber(longs({4, 9, 4, 9, 4}), dao::dbLong), (Strings{"10", "11", "12", "9", "4"}));
    EXPECT_EQ(renumber(longs({3, 1, 2}), dao::dbLong), (Strings{"3", "1", "2"}));
    // Values too far apart for the array of a compact range: hashed, same outcome.
    EXPECT_EQ(renumber(longs({1000000000, 5, 5}), dao::dbLong), (Strings{"1000000000", "1000000001", "5"}));
    // Nulls are never changed and never make a change.
    EXPECT_EQ(renumber(longs({-1, 2, -1, 2}), dao::dbLong), (Strings{"Null", "3", "Null", "2"}));
    EXPECT_EQ(renumber(longs({-1, -1}), dao::dbLong), (Strings{"Null", "Null"}));
}

TEST(Renumbering, HighestIsReadAsALeadingNumberAndRounded) {
    std::vector<Variant> v = {Variant::fromDouble(2.5), Variant::fromDouble(2.5), Variant::fromDouble(1)};
    // 2.5 + 1 = 3.5 rounds half to even: 4.
    EXPECT_EQ(renumber(v, dao::dbDouble), (Strings{"4", "2.5", "1"}));
}

TEST(Renumbering, TextFieldsNeverGetAValueSomeRecordHolds) {
    // "9" is the highest text; 10 and 11 are held already, so the new values count on past them.
    EXPECT_EQ(renumber(texts({"9", "10", "9", "11", "9"}), dao::dbText), (Strings{"12", "10", "13", "11", "9"}));
    // No leading number: counting starts at 1.
    EXPECT_EQ(renumber(texts({"abc", "abc", "1", "abc"}), dao::dbText), (Strings{"2", "3", "1", "abc"}));
    // Texts compare case-sensitively: these are different values.
    EXPECT_EQ(renumber(texts({"a", "A"}), dao::dbText), (Strings{"a", "A"}));
}

TEST(Renumbering, RecordsOutsideTheViewRaiseTheStartAndAreNotDuplicates) {
    // The rest of the table holds 1 and 50: the view's 1s are not compared with it, but 50 is passed.
    EXPECT_EQ(renumber(longs({1, 1}), dao::dbLong, longs({1, 1, 50})), (Strings{"51", "1"}));
}

TEST(Renumbering, OverflowIsRaised) {
    Renumbering plan(longs({2147483647, 2147483647}), dao::dbLong);
    ASSERT_TRUE(plan.isDuplicate(0));
    try {
        (void)plan.proposal();
        FAIL() << "no overflow";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::Overflow);
    }
}

class VerifyToolTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString makeTable(const QString& type, const QStringList& values) {
        QStringList sql = {"create table T (Id integer primary key, V " + type + ", Grupo long)"};
        int id = 0;
        for (const QString& v : values)
            sql << QString("insert into T (Id, V, Grupo) values (%1, %2, %3)").arg(++id).arg(v).arg(id % 2);
        return testutil::makeSqlite(dir_, QString("t%1.db").arg(++files_), sql);
    }

    static QStringList column(const QString& db, const QString& sql = "select V from T order by Id") {
        QStringList out;
        auto d = dao::OpenDatabase(db);
        auto rs = d->OpenRecordset(sql);
        for (long long i = 0; i < rs->RecordCount(); ++i) {
            const Variant v = rs->valueAt(i, 0);
            out << (v.isNull() ? QStringLiteral("Null") : dao::valueToText(v));
        }
        return out;
    }

    // No real box may wait for a click: whatever a test does not answer gets the default.
    platform::PromptScript unanswered_;
    QTemporaryDir dir_;
    int files_ = 0;
    RecordingProgress progress_;
};

TEST_F(VerifyToolTest, RenumbersDuplicatesOfANumericField) {
    const QString db = makeTable("long", {"1", "1", "2"});
    const auto r = VerifyTool(db, "select * from T", progress_).run("V", true);
    EXPECT_EQ(r.renumbered, 1);
    EXPECT_EQ(column(db), (QStringList{"3", "1", "2"}));

    const QString five = makeTable("long", {"5", "5", "5", "null", "null"});
    EXPECT_EQ(VerifyTool(five, "T", progress_).run("v", true).renumbered, 2);
    EXPECT_EQ(column(five), (QStringList{"6", "7", "5", "Null", "Null"}));

    const QString unique = makeTable("currency", {"3", "1.5", "2"});
    EXPECT_EQ(VerifyTool(unique, "T", progress_).run("V", true).renumbered, 0);
    EXPECT_EQ(column(unique), (QStringList{"3", "1.5", "2"}));
    EXPECT_EQ(progress_.caption, "Remplazando...");
    EXPECT_EQ(progress_.begun, progress_.ended);
}

TEST_F(VerifyToolTest, NothingChosenOnlyShowsTheMessage) {
    const QString db = makeTable("long", {"1", "1"});
    for (const auto& [field, checked] : {std::pair<QString, bool>{"V", false}, {"", true}}) {
        platform::PromptScript script;
        EXPECT_TRUE(VerifyTool(db, "T", progress_).run(field, checked).nothingChosen);
        ASSERT_EQ(script.count(), 1);
        EXPECT_EQ(script.last().text, "Ninguna acción a sido seleccionada!");
        EXPECT_EQ(script.last().icon, platform::vbExclamation);
        EXPECT_EQ(script.last().buttons, platform::vbOKOnly);
    }
    EXPECT_EQ(column(db), (QStringList{"1", "1"}));
    EXPECT_EQ(progress_.begun, 0);
}

TEST_F(VerifyToolTest, TextFieldAsksAndYesLeavesNoDuplicate) {
    const QString db = makeTable("text(10)", {"'9'", "'10'", "'9'", "'abc'", "'9'", "'abc'"});
    {
        platform::PromptScript script;
        script.answer(platform::vbNo);
        const auto r = VerifyTool(db, "T", progress_).run("V", true);
        EXPECT_TRUE(r.declined);
        ASSERT_EQ(script.count(), 1);
        EXPECT_EQ(script.last().text,
                  "The selected field is of type text, this command\rwas not created for this, do you want to continue?");
        EXPECT_EQ(script.last().icon, platform::vbQuestion);
        EXPECT_EQ(script.last().buttons, platform::vbYesNo);
        EXPECT_EQ(column(db), (QStringList{"9", "10", "9", "abc", "9", "abc"}));
    }
    platform::PromptScript script;
    script.answer(platform::vbYes);
    EXPECT_EQ(VerifyTool(db, "T", progress_).run("V", true).renumbered, 3);
    const QStringList after = column(db);
    // "abc" is the highest text and has no leading number: the new values count from 1.
    EXPECT_EQ(after, (QStringList{"1", "10", "2", "3", "9", "abc"}));
    EXPECT_EQ(QSet<QString>(after.begin(), after.end()).size(), after.size());
}

TEST_F(VerifyToolTest, FilteredSourceStartsAboveTheWholeTable) {
    // Shown: the odd Ids (Grupo 1) holding 1, 1, 3; hidden records hold 7 and 8.
    const QString db = makeTable("long", {"1", "7", "1", "8", "3"});
    const auto r = VerifyTool(db, "select * from T where Grupo = 1", progress_).run("V", true);
    EXPECT_EQ(r.renumbered, 1);
    const QStringList all = column(db);
    EXPECT_EQ(all, (QStringList{"9", "7", "1", "8", "3"}));
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), all.size());
}

TEST_F(VerifyToolTest, RecordSourceOrderDecidesWhichRecordKeepsItsValue) {
    // In descending Id order the record with Id 1 comes last and keeps its value.
    const QString db = makeTable("long", {"1", "1", "1", "5"});
    for (const QString& source : {QString("select * from T where V < 5 order by Id desc"),
                                  QString("select Id, V from T where V < 5 order by Id desc")}) {
        const QString copy = dir_.filePath(QString("copy%1.db").arg(++files_));
        ASSERT_TRUE(QFile::copy(db, copy));
        EXPECT_EQ(VerifyTool(copy, source, progress_).run("V", true).renumbered, 2);
        EXPECT_EQ(column(copy), (QStringList{"1", "7", "6", "5"})) << qPrintable(source);
    }
}

TEST_F(VerifyToolTest, FailuresBeforeTheCheckEndTheRunThroughTheErrorBox) {
    const QString db = makeTable("long", {"1", "1"});
    platform::PromptScript script;
    script.answer(platform::vbAbort);
    const auto r = VerifyTool(db, "T", progress_).run("NoSuchField", true);
    EXPECT_TRUE(r.failed);
    ASSERT_EQ(script.count(), 1);
    EXPECT_TRUE(script.last().text.endsWith(" - 3265")) << qPrintable(script.last().text);
    EXPECT_EQ(progress_.begun, progress_.ended);
    // An empty record source has nothing to fix and says nothing.
    platform::PromptScript quiet;
    EXPECT_EQ(VerifyTool(db, "select * from T where Id > 100", progress_).run("V", true).renumbered, 0);
    EXPECT_EQ(quiet.count(), 0);
}

TEST_F(VerifyToolTest, RefusedRenumberingsAreSkippedSilently) {
    // Integer (16-bit) field at its top: the new value overflows and the record keeps its value.
    const QString db = makeTable("short", {"32767", "32767", "1", "1"});
    platform::PromptScript script;
    const auto r = VerifyTool(db, "T", progress_).run("V", true);
    EXPECT_EQ(r.refused, 2);
    EXPECT_EQ(script.count(), 0);
    EXPECT_EQ(column(db), (QStringList{"32767", "32767", "1", "1"}));
}

TEST_F(VerifyToolTest, FiftyThousandRecordsKeepTheProgressWithinItsMaximum) {
    const QString path = dir_.filePath("big.db");
    {
        auto d = dao::CreateDatabase(path);
        d->Execute("create table T (Id integer primary key, V long)");
        d->Execute(
            "insert into T (V) with recursive n(i) as (select 1 union all select i + 1 from n where i < 50000) "
            "select case when i % 10 = 0 then i - 1 else i end from n");
    }
    const auto r = VerifyTool(path, "T", progress_).run("V", true);
    EXPECT_EQ(r.records, 50000);
    EXPECT_EQ(r.renumbered, 5000);
    EXPECT_FALSE(progress_.overran);
    EXPECT_EQ(progress_.last, progress_.maximum);
    EXPECT_LE(progress_.maximum, std::numeric_limits<int>::max());
    const QStringList values = column(path, "select V from T");
    EXPECT_EQ(QSet<QString>(values.begin(), values.end()).size(), 50000);
    EXPECT_EQ(values[8], "50000");  // the first renumbered record: highest (49999) + 1
}

}  // namespace
