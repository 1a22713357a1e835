// tabulon-cli verify, export and import as a script sees them.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "TestUtil.h"
#include "platform/dao/Dao.h"

namespace {

struct CliResult {
    int code = -1;
    QString out, err;
};

CliResult cli(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TABULON_CLI), args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

class TextFileCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        db_ = testutil::makeSqlite(dir_, "t.db",
                                   {"create table A (Id long, Nombre text(20) check (Nombre <> 'prohibido'))",
                                    "create table B (Id long, Nombre text(20) check (Nombre <> 'prohibido'))",
                                    "insert into A values (1, 'uno')", "insert into A values (1, 'otro')",
                                    "insert into A values (2, 'dos' || char(10) || 'lineas')"});
    }
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    QString values(const QString& sql) {
        auto db = dao::OpenDatabase(db_);
        auto rs = db->OpenRecordset(sql);
        QStringList out;
        for (long long i = 0; i < rs->RecordCount(); ++i) {
            const dao::Variant v = rs->valueAt(i, 0);
            out << (v.isNull() ? "Null" : v.type() == dao::Variant::Type::String ? v.asString()
                                                                               : QString::number(v.asDouble()));
        }
        return out.join(',');
    }
    void write(const char* name, const QByteArray& data) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }

    QTemporaryDir dir_;
    QString db_;
};

TEST_F(TextFileCliTest, VerifyPrintsTheRecordsRenumberedAndAsksForTextFields) {
    CliResult r = cli({"verify", db_, "A", "Id"});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(r.out, "1\n");
    EXPECT_EQ(values("select Id from A"), "3,1,2");

    r = cli({"verify", db_, "select * from A", "Nombre"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("The selected field is of type text")) << qPrintable(r.err);
    EXPECT_EQ(r.out, "");
    r = cli({"verify", db_, "A", "Nombre", "--yes"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "0\n");

    r = cli({"verify", db_, "A", "NoSuchField"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("error 3265: ")) << qPrintable(r.err);
}

// Verify works on a connection of its own: a renumbering the file refuses only when the batch
// commits (a deferred foreign key) is reported by the command, by the record, and nothing is saved.
TEST_F(TextFileCliTest, VerifyReportsARenumberingRefusedAtTheCommit) {
    const QString fk = testutil::makeSqlite(
        dir_, "fk.db",
        {"create table P (Id long primary key)",
         "create table C (Id long, Padre long references P (Id) deferrable initially deferred)",
         "insert into P values (1)", "insert into C values (1, 1)", "insert into C values (2, 1)"});
    CliResult r = cli({"verify", fk, "C", "Padre"});
    EXPECT_EQ(r.code, 1) << qPrintable(r.out);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.startsWith("error 3201: The change to record 1 of C could not be saved")) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains("FOREIGN KEY")) << qPrintable(r.err);
    auto db = dao::OpenDatabase(fk);
    auto rs = db->OpenRecordset("select Padre from C");
    EXPECT_EQ(rs->valueAt(0, 0).asDouble(), 1);
    EXPECT_EQ(rs->valueAt(1, 0).asDouble(), 1);
}

TEST_F(TextFileCliTest, ExportAsksAboutLineBreaksAndImportAddsTheRecords) {
    CliResult r = cli({"export", db_, "A", path("a.txt")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains("1 value(s) hold a line break")) << qPrintable(r.err);
    EXPECT_FALSE(QFile::exists(path("a.txt")));

    r = cli({"export", db_, "select * from A where Id = 1", path("a.txt")});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(r.out, "2\n");
    r = cli({"import", db_, "B", path("a.txt")});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(values("select Nombre from B"), "uno,otro");

    r = cli({"export", db_, "A", path("all.txt"), "--yes"});
    EXPECT_EQ(r.out, "3\n");
}

TEST_F(TextFileCliTest, ImportRejectsAWrongHeaderAndStopsAtARefusedRecord) {
    write("bad.txt", "3              addb\r\n1\r\nx\r\ny\r\n");
    CliResult r = cli({"import", db_, "B", path("bad.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("El formato de el file es incorrecto!")) << qPrintable(r.err);
    EXPECT_EQ(r.out, "");

    write("b.txt", "2              addb\r\n1\r\nbien\r\n2\r\nprohibido\r\n3\r\ntambien\r\n");
    r = cli({"import", db_, "B", path("b.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("error 3317")) << qPrintable(r.err);
    EXPECT_EQ(values("select Nombre from B"), "bien");

    r = cli({"import", db_, "B", path("b.txt"), "--on-error", "ignore"});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(r.out, "2\n");
    EXPECT_TRUE(r.err.contains("ignored error 3317")) << qPrintable(r.err);
    EXPECT_EQ(values("select Nombre from B"), "bien,bien,tambien");

    r = cli({"import", db_, "B", path("missing.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("error 53: ")) << qPrintable(r.err);
}

}  // namespace
