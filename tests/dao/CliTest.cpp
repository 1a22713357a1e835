// tabulon-cli as a script sees it: output format, exit codes, error lines.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "TestUtil.h"

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs tabulon-cli under the given system locale (LC_ALL), so number forms are predictable.
CliRun runCli(const QStringList& args, const QString& locale = "C") {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", locale);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TABULON_CLI), args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    CliRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray sha256(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result().toHex();
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        db_ = testutil::makeSqlite(
            dir_, "shop.db",
            {"create table Clientes (Id LONG, Nombre TEXT(50), Saldo CURRENCY, Activo YESNO, Nota MEMO)",
             "create table [Detalle de pedidos] (Linea LONG)",
             "insert into Clientes values (1, 'O''Brien', 12.5, True, Null)",
             "insert into Clientes values (2, 'José Muñoz', -3, False, 'uno\tdos\nc:\\tmp')",
             "insert into Clientes values (3, 'Ñandú', 0.25, True, '')"});
    }

    QTemporaryDir dir_;
    QString db_;
};

TEST_F(CliTest, TablesAndColumns) {
    CliRun r = runCli({"tables", db_});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Clientes\nDetalle de pedidos\n");

    r = runCli({"columns", db_, "Clientes"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Id\t4\t4\tLong\nNombre\t10\t50\tText\nSaldo\t5\t8\tCurrency\nActivo\t1\t1\tYes/No\nNota\t12\t0\tMemo\n");

    r = runCli({"columns", db_, "Detalle de pedidos"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Linea\t4\t4\tLong\n");
}

TEST_F(CliTest, QueryWritesOneEscapedLinePerRecord) {
    const QString sql = "select * from Clientes order by Id";
    CliRun r = runCli({"query", db_, sql});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out,
              "Id\tNombre\tSaldo\tActivo\tNota\n"
              "1\tO'Brien\t12.5\tTrue\t\n"
              "2\tJosé Muñoz\t-3\tFalse\tuno\\tdos\\nc:\\\\tmp\n"
              "3\tÑandú\t0.25\tTrue\t\n");

    r = runCli({"query", db_, sql, "--limit", "1"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts).size(), 2) << r.out.toStdString();
    r = runCli({"query", "--limit=0", db_, sql});
    EXPECT_EQ(r.out, "Id\tNombre\tSaldo\tActivo\tNota\n");

    // The system locale decides the number form.
    r = runCli({"query", db_, "select Saldo from Clientes where Id = 1"}, "de_DE.UTF-8");
    EXPECT_EQ(r.out, "Saldo\n12,5\n");
}

TEST_F(CliTest, ActionQueryPrintsCountAndPersists) {
    CliRun r = runCli({"query", db_, "update Clientes set Saldo = 0 where Id >= 2"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "2\n");
    r = runCli({"query", db_, "  INSERT into Clientes (Id, Nombre) values (4, 'Nuevo')"});
    EXPECT_EQ(r.out, "1\n");

    r = runCli({"query", db_, "select Id, Saldo from Clientes order by Id"});
    EXPECT_EQ(r.out, "Id\tSaldo\n1\t12.5\n2\t0\n3\t0\n4\t\n");
}

// Tables named like a keyword or holding a "]" open by name, as the browser opens them.
TEST_F(CliTest, OddTableNamesOpenByName) {
    const QString odd =
        testutil::makeSqlite(dir_, "odd.db",
                             {"create table [select] (a LONG)", "create table `a]b` (x TEXT(5))",
                              "insert into `a]b` values ('uno')", "create table [Order] (o LONG)"});
    CliRun r = runCli({"tables", odd});
    EXPECT_EQ(r.out, "select\na]b\nOrder\n");
    for (const auto& [table, columns] : {std::pair<QString, QString>{"select", "a\t4\t4\tLong\n"},
                                         {"SELECT", "a\t4\t4\tLong\n"},
                                         {"a]b", "x\t10\t5\tText\n"},
                                         {"order", "o\t4\t4\tLong\n"}}) {
        r = runCli({"columns", odd, table});
        EXPECT_EQ(r.exitCode, 0) << table.toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(r.out, columns) << table.toStdString();
    }
    r = runCli({"query", odd, "a]b"});
    EXPECT_EQ(r.out, "x\nuno\n");
}

// Whatever SQLite takes passes through: records for statements that give them, a count for the
// rest, and SQLite's own reason when it refuses.
TEST_F(CliTest, StatementsPassThroughWithSqlitesOwnMessage) {
    CliRun r =
        runCli({"query", db_,
                "with x as (select 2 as k) update Clientes set Saldo = 1 where Id in (select k from x)"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "1\n");
    r = runCli({"query", db_, "replace into [Detalle de pedidos] (Linea) values (7)"});
    EXPECT_EQ(r.out, "1\n") << r.err.toStdString();
    r = runCli({"query", db_, "pragma table_info([Detalle de pedidos])"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("cid\tname\ttype\t")) << r.out.toStdString();
    EXPECT_TRUE(r.out.endsWith("\n0\tLinea\tLONG\t0\t\t0\n")) << r.out.toStdString();
    r = runCli({"query", db_, "pragma user_version = 7"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = runCli({"query", db_, "pragma user_version"});
    EXPECT_EQ(r.out, "user_version\n7\n");
    r = runCli(
        {"query", db_, "with x as (select Id from Clientes where Id < 3) select count(*) as n from x"});
    EXPECT_EQ(r.out, "n\n2\n") << r.err.toStdString();
    r = runCli({"query", db_, "select Id, Saldo from Clientes where Id = 2"});
    EXPECT_EQ(r.out, "Id\tSaldo\n2\t1\n");

    r = runCli({"query", db_, "create table Clientes (x)"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("table Clientes already exists")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("3078")) << r.err.toStdString();
    r = runCli({"query", db_, "frobnicate Clientes"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("near \"frobnicate\": syntax error")) << r.err.toStdString();
    // A statement that would write is never run to give records.
    r = runCli({"query", db_, "pragma foreign_keys"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
}

TEST_F(CliTest, JetFileOpenElsewhereIsReadOnly) {
    const QString copy = dir_.filePath("test2V2003.mdb");
    ASSERT_TRUE(QFile::copy(testutil::jetFile("test2V2003.mdb"), copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    // Its lock file says another program has it open.
    QFile lock(dir_.filePath("test2V2003.ldb"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray(64, ' '));
    lock.close();
    const QByteArray before = sha256(copy);

    CliRun r = runCli({"tables", copy});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.split('\n').contains("MSP_PROJECTS")) << r.out.toStdString();

    r = runCli({"query", copy, "select PROJ_ID, PROJ_NAME from MSP_PROJECTS"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count('\n'), 2) << r.out.toStdString();

    r = runCli({"query", copy, "update MSP_PROJECTS set PROJ_NAME = 'x'"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("error 3027: ")) << r.err.toStdString();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(sha256(copy), before);
}

TEST_F(CliTest, EngineErrorsAndUsage) {
    CliRun r = runCli({"tables", dir_.filePath("missing.db")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("error 3024: ")) << r.err.toStdString();

    const QString text = dir_.filePath("notes.txt");
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("just some text, long enough to be more than a file header........................\n");
    f.close();
    r = runCli({"columns", text, "Clientes"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("error 3343: ")) << r.err.toStdString();

    r = runCli({"columns", db_, "NoSuchTable"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("error ")) << r.err.toStdString();

    for (const QStringList& args : {QStringList{}, QStringList{"tables"}, QStringList{"frobnicate", db_},
                                    QStringList{"query", db_, "select * from Clientes", "--limit", "x"},
                                    QStringList{"tables", db_, "--limit", "3"}}) {
        r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("Usage:")) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
    }

    r = runCli({"report", db_, "Nada", dir_.filePath("out.pdf")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith("error 3078")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir_.filePath("out.pdf")));

    r = runCli({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("\\t")) << r.out.toStdString();
}

TEST_F(CliTest, DamagedJetFilesAreErrorsNotEmptyAnswers) {
    const QString catalogGone = testutil::overwrittenJetCopy(dir_, "weirdObjectNames.mdb", 10, 29);
    CliRun r = runCli({"tables", catalogGone});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.startsWith("error 3343: The database '" + catalogGone + "' is damaged"))
        << r.err.toStdString();

    const QString cut = testutil::truncatedJetCopy(dir_, "test2V2003.mdb", 100000);
    r = runCli({"tables", cut});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("MSP_PROJECTS\n"));
    for (const QStringList& args :
         {QStringList{"query", cut, "MSP_PROJECTS"}, QStringList{"columns", cut, "MSP_PROJECTS"}}) {
        r = runCli(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "error 3343: Table 'MSP_PROJECTS' of '" + cut +
                             "' is damaged: 0 of its 1 records could be read.\n");
    }
}

}  // namespace
