// The program's tools on a real Access (.mdb) file, run through their own units as the browser and
// the data-entry control run them: each changes the file in place, and afterwards the engine,
// mdb-export, mdb-reader and the consistency check must all see what the test expects.

#include <QFile>

#include "DataEntryTestUtil.h"
#include "bulk/CopyFields.h"
#include "bulk/EraseRecords.h"
#include "bulk/FieldOperations.h"
#include "bulk/FindReplace.h"
#include "bulk/ImportTool.h"
#include "bulk/VerifyTool.h"
#include "dao/JetOracles.h"
#include "platform/Prompts.h"

using namespace platform;

namespace {

class JetTools : public jettest::JetFileTest {
protected:
    // A table text file (the Import format): the header, then the values, record after record.
    QString textFile(int fields, const QStringList& values) {
        const QString path = dir_.filePath("import.txt");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray all = QByteArray::number(fields) + QByteArray(14, ' ') + "addb\r\n";
        for (const QString& v : values) all += v.toUtf8() + "\r\n";
        f.write(all);
        return path;
    }

    PromptScript prompts_;
};

const QString kSql = "select id, descr, num, date0 from t_funcs order by id";

}  // namespace

// t_funcs has Integer, Memo, Decimal and Date/Time fields and no index or AutoNumber, so every tool
// can run on it, adding and deleting records included.
TEST_F(JetTools, EveryBulkToolChangesAnMdbFile) {
    const QString f = copy("functionsV2003.mdb");
    auto db = dao::OpenDatabase(f);
    ASSERT_FALSE(db->isReadOnly());

    // Import: three records at the end; two share an id, one has no Decimal and one no date.
    const bulk::ImportResult imported =
        bulk::ImportTool(db->OpenRecordset("t_funcs"), bulk::noProgress())
            .readFrom(textFile(4, {"1", "uno", "1.5", "2020-01-02 03:04:05",  //
                                   "2", "dos ñ", "2.25", "Null",              //
                                   "2", "tres", "Null", "2021-06-30"}));
    EXPECT_EQ(imported.added, 3);
    EXPECT_FALSE(imported.aborted);
    // Verify: of the two records with id 2 the first gets the highest id plus one.
    const bulk::VerifyResult verified = bulk::VerifyTool(f, "t_funcs", bulk::noProgress()).run("id", true);
    EXPECT_EQ(verified.renumbered, 1);
    EXPECT_FALSE(verified.failed);
    {
        // Replace: the Memo value the file keeps on a long-value page becomes a short one in the record.
        auto rs = db->OpenRecordset("select * from t_funcs");
        const auto r = bulk::FindReplace::run(*rs, bulk::FindReplace::Inputs{1, "Show must go off", "Ñandú's show"});
        EXPECT_EQ(r.changed, 1);
        EXPECT_FALSE(r.aborted);
    }
    {
        // Field operations: every id plus 10.
        auto rs = db->OpenRecordset("select * from t_funcs");
        const auto r = bulk::FieldOperations::run(*rs, bulk::FieldOperations::Inputs{"id", bulk::FieldOperations::Add, "10"});
        EXPECT_EQ(r.processed, 4);
        EXPECT_EQ(r.failed, 0);
    }
    {
        // Copy between fields, keeping what the destination holds: only the empty Decimal takes the id.
        auto rs = db->OpenRecordset("select * from t_funcs");
        const auto r = bulk::CopyFields::run(*rs, bulk::CopyFields::Inputs{"id", "num", "", true, false});
        EXPECT_EQ(r.copied, 1);
        EXPECT_FALSE(r.error.has_value());
    }
    dao::flushAllWrites();
    EXPECT_EQ(prompts_.count(), 0) << (prompts_.count() ? prompts_.last().text.toStdString() : std::string());
    expectReaders(f, "t_funcs", kSql,
                  "id\tdescr\tnum\tdate0\n"
                  "11\tuno\t1.5\t2020-01-02 03:04:05\n"
                  "12\ttres\t12\t2021-06-30\n"
                  "1244\tÑandú's show\t-1110.554\t2003-11-22 22:42:58\n"
                  "1245\tdos ñ\t2.25\t\n",
                  "id,descr,num,date0\n"
                  "1244,\"Ñandú's show\",-1110.554,\"2003-11-22 22:42:58\"\n"
                  "11,\"uno\",1.500,\"2020-01-02 03:04:05\"\n"
                  "1245,\"dos ñ\",2.250,\n"
                  "12,\"tres\",12.000,\"2021-06-30 00:00:00\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n"
                  "[1244,\"Ñandú's show\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n"
                  "[11,\"uno\",\"1.500\",\"2020-01-02T03:04:05.000Z\"]\n"
                  "[1245,\"dos ñ\",\"2.250\",null]\n"
                  "[12,\"tres\",\"12.000\",\"2021-06-30T00:00:00.000Z\"]\n");

    // Erase: the records the browser shows (here those below 100), after the question.
    prompts_.answer(vbYes);
    const auto erased = bulk::EraseRecords::run([&] { return db->OpenRecordset("select * from t_funcs where id < 100"); });
    EXPECT_EQ(erased.erased, 2);
    EXPECT_EQ(erased.kept, 0);
    EXPECT_FALSE(erased.stopped.has_value());
    db->Close();
    expectReaders(f, "t_funcs", kSql,
                  "id\tdescr\tnum\tdate0\n"
                  "1244\tÑandú's show\t-1110.554\t2003-11-22 22:42:58\n"
                  "1245\tdos ñ\t2.25\t\n",
                  "id,descr,num,date0\n"
                  "1244,\"Ñandú's show\",-1110.554,\"2003-11-22 22:42:58\"\n"
                  "1245,\"dos ñ\",2.250,\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n"
                  "[1244,\"Ñandú's show\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n"
                  "[1245,\"dos ñ\",\"2.250\",null]\n");
}

// The data-entry control adds records through the engine into the file, AutoNumber tables included.
TEST_F(JetTools, TheDataEntryFormAddsARecordToAnMdbFile) {
    const QString f = copy("functionsV2003.mdb");
    {
        detest::Host h;
        h.form->setDatabaseName(f);
        h.form->setSelectedTable("t_funcs");
        h.show();
        ASSERT_EQ(h.form->rowCount(), 4);
        h.input(0)->setText("77");
        h.input(1)->setText("añadido");
        h.input(2)->setText("3.5");
        h.input(3)->setText("12/31/2020");
        h.ok()->click();
        EXPECT_EQ(prompts_.count(), 0) << prompts_.last().text.toStdString();
        EXPECT_EQ(h.input(0)->Text(), "");  // stored: the inputs are ready for the next record
        h.input(0)->setText("78");
        h.input(1)->setText("otro");
        h.input(2)->setText("-0.125");
        h.input(3)->setText("1/2/2021");
        h.ok()->click();
        EXPECT_EQ(prompts_.count(), 0);
    }
    dao::flushAllWrites();
    expectReaders(f, "t_funcs", kSql,
                  "id\tdescr\tnum\tdate0\n"
                  "77\tañadido\t3.5\t2020-12-31\n"
                  "78\totro\t-0.125\t2021-01-02\n"
                  "1234\tShow must go off\t-1110.554\t2003-11-22 22:42:58\n",
                  "id,descr,num,date0\n"
                  "1234,\"Show must go off\",-1110.554,\"2003-11-22 22:42:58\"\n"
                  "77,\"añadido\",3.500,\"2020-12-31 00:00:00\"\n"
                  "78,\"otro\",-0.125,\"2021-01-02 00:00:00\"\n",
                  "[\"id\",\"descr\",\"num\",\"date0\"]\n"
                  "[1234,\"Show must go off\",\"-1110.554\",\"2003-11-22T22:42:58.000Z\"]\n"
                  "[77,\"añadido\",\"3.500\",\"2020-12-31T00:00:00.000Z\"]\n"
                  "[78,\"otro\",\"-0.125\",\"2021-01-02T00:00:00.000Z\"]\n");

    // A table with an AutoNumber primary key: the number typed into the form is stored, and the
    // table's counter moves past it for the next record added without one.
    const QString w = copy("weirdObjectNames.mdb");
    const QString table = "19 MB 01 BEZAHLT ???";
    {
        detest::Host h;
        h.form->setDatabaseName(w);
        h.form->setSelectedTable(table);
        h.show();
        ASSERT_EQ(h.form->rowCount(), 2);
        h.input(0)->setText("5");
        h.input(1)->setText("ñu");
        h.ok()->click();
        EXPECT_EQ(prompts_.count(), 0) << prompts_.last().text.toStdString();
    }
    {
        auto db = dao::OpenDatabase(w);
        EXPECT_EQ(db->Execute("insert into [" + table + "] (TextField) values ('next')"), 1);
        db->Close();
    }
    expectReaders(w, table, "select * from [" + table + "] order by ID", "ID\tTextField\n1\tfoo\n5\tñu\n6\tnext\n",
                  "ID,TextField\n1,\"foo\"\n5,\"ñu\"\n6,\"next\"\n",
                  "[\"ID\",\"TextField\"]\n[1,\"foo\"]\n[5,\"ñu\"]\n[6,\"next\"]\n");

    // A value the writer refuses (a character an Access 97 file's code page lacks): the user is told why, the inputs stay, the file is unchanged.
    const QString g = copy("testIndexCodesV1997.mdb");
    const QByteArray before = jettest::sha256(g);
    {
        detest::Host h;
        h.form->setDatabaseName(g);
        h.form->setSelectedTable("Table3");
        h.show();
        ASSERT_EQ(h.form->rowCount(), 2);
        h.input(0)->setText(QString::fromUtf8("cΩnco"));
        h.input(1)->setText("5");
        prompts_.answer(vbAbort);
        h.ok()->click();
        ASSERT_EQ(prompts_.count(), 1);
        EXPECT_TRUE(prompts_.last().text.contains(QString::fromUtf8("cannot hold the character 'Ω' (U+03A9)")))
            << prompts_.last().text.toStdString();
        EXPECT_EQ(h.input(0)->Text(), QString::fromUtf8("cΩnco"));
    }
    dao::flushAllWrites();
    EXPECT_EQ(jettest::sha256(g), before);
}
