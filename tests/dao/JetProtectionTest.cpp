// Files that need a password or are encrypted: never called damaged, opened and checked with the
// right password, refused with 3031 without one or with a wrong one; tabulon-cli takes the password
// from TABULON_PASSWORD only.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>

#include "JetOracles.h"
#include "platform/dao/JetProtection.h"

namespace {

using namespace jettest;

QString encryptedFile(const QString& name) { return QStringLiteral(TABULON_TESTDATA "/jet-more/encrypted/") + name; }

// Sets the password source for one test and takes it away again.
struct PasswordFrom {
    explicit PasswordFrom(std::optional<QString> pw) {
        dao::setPasswordSource([pw](const QString&) { return pw; });
    }
    ~PasswordFrom() { dao::setPasswordSource(nullptr); }
};

// Opening must fail with 3031 and a message holding `words`, and never say the file is damaged.
void expectPasswordError(const QString& path, const QString& words) {
    try {
        dao::OpenDatabase(path)->Close();
        ADD_FAILURE() << path.toStdString() << " opened";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3031) << e.description().toStdString();
        EXPECT_TRUE(e.description().contains(words)) << e.description().toStdString();
        EXPECT_FALSE(e.description().contains("damaged")) << e.description().toStdString();
    }
}

ProcessRun cli(const QStringList& args, const std::optional<QString>& password,
               const std::pair<QString, QString>& extraEnv = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("TABULON_PASSWORD");
    if (password) env.insert("TABULON_PASSWORD", *password);
    if (!extraEnv.first.isEmpty()) env.insert(extraEnv.first, extraEnv.second);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TABULON_CLI), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace

TEST(JetPasswords, EncryptedAceFilesNeedAPasswordAndAreNeverCalledDamaged) {
    struct Case {
        const char* file;
        const char* scheme;
        const char* password;  // empty: an encryption Tabulon does not decrypt
        const char* table;
    };
    // The kind named is what each file's header says (the 2007 file uses agile encryption too; the
    // non-standard one is AES in the CryptoAPI layout, without the AES flag).
    for (const Case& c : {Case{"db2013-enc.accdb", "agile", "1234", "Customers"},
                          Case{"db2007-enc.accdb", "agile", "Test123", "Table1"},
                          Case{"db2007-oldenc.accdb", "RC4 CryptoAPI", "Test123", "Table1"},
                          Case{"db-nonstandard.accdb", "CryptoAPI encryption (AES)", "password", "Table_One"}}) {
        SCOPED_TRACE(c.file);
        const QString path = encryptedFile(c.file);
        const dao::jet::Protection p = dao::jet::protectionOf(path);
        EXPECT_EQ(p.kind, dao::jet::Protection::AceEncrypted);
        EXPECT_TRUE(p.scheme.contains(c.scheme)) << p.scheme.toStdString();
        EXPECT_EQ(p.decryptable, *c.password != 0);
        expectPasswordError(path, "needs a password");
        const ProcessRun wrong = cli({"tables", path}, QStringLiteral("wrong"));
        EXPECT_EQ(wrong.code, 1);
        EXPECT_TRUE(wrong.err.startsWith("error 3031: ")) << wrong.err.toStdString();
        EXPECT_FALSE(wrong.err.contains("damaged")) << wrong.err.toStdString();
        if (!*c.password) continue;
        EXPECT_TRUE(wrong.err.contains("Not a valid password.")) << wrong.err.toStdString();
        // The right password decrypts the file for reading; writing it stays refused.
        const ProcessRun right = cli({"tables", path}, QString::fromLatin1(c.password));
        EXPECT_EQ(right.code, 0) << right.err.toStdString();
        EXPECT_TRUE(right.out.contains(QString::fromLatin1(c.table) + "\n")) << right.out.toStdString();
        EXPECT_FALSE(right.out.contains("MSysObjects")) << right.out.toStdString();  // system tables with --all only
        PasswordFrom pw(QString::fromLatin1(c.password));
        auto db = dao::OpenDatabase(path);
        EXPECT_TRUE(db->isReadOnly());
        auto rs = db->OpenRecordset(QString("select count(*) from [%1]").arg(c.table));
        EXPECT_GT(rs->Fields().Item(0).Value().asInt(), 0);
        rs->Close();
        db->Close();
    }
}

// check reads what opening reads: a protected file with its password, an encrypted one through its
// decrypted pages; no password or a wrong one is the password error, never a damaged file.
TEST(JetPasswords, CheckReadsProtectedFilesWithTheirPassword) {
    QTemporaryDir dir;
    const QString jetPassword = testutil::passwordJetCopy(dir, "test2V2003.mdb", QStringLiteral("Sésamo 1"));
    struct Case {
        QString file;
        const char* password;
    };
    for (const Case& c : {Case{encryptedFile("db2007-oldenc.accdb"), "Test123"},
                          Case{encryptedFile("db-nonstandard.accdb"), "password"},
                          Case{encryptedFile("db2013-enc.accdb"), "1234"}, Case{jetPassword, "Sésamo 1"}}) {
        SCOPED_TRACE(c.file.toStdString());
        for (const std::optional<QString>& pw : {std::optional<QString>(), std::optional<QString>("wrong")}) {
            const ProcessRun r = cli({"check", c.file}, pw);
            EXPECT_EQ(r.code, 1);
            EXPECT_TRUE(r.err.startsWith("error 3031: ")) << r.err.toStdString();
            EXPECT_FALSE((r.out + r.err).contains("damaged")) << r.err.toStdString();
            EXPECT_FALSE(r.out.contains("FAULT")) << r.out.toStdString();
        }
        const ProcessRun r = cli({"check", c.file}, QString::fromUtf8(c.password));
        EXPECT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(" 0 fault(s)")) << r.out.toStdString();
        EXPECT_TRUE(r.out.startsWith("file: " + c.file + " (")) << r.out.toStdString();
    }
    // Pages encoded with the header's key need no password, 2 KB pages of Access 97 as 4 KB ones.
    for (const char* name : {"db-enc.mdb", "db97-enc.mdb"}) {
        const ProcessRun encoded = cli({"check", encryptedFile(name)}, std::nullopt);
        EXPECT_EQ(encoded.code, 0) << name << encoded.out.toStdString() << encoded.err.toStdString();
        EXPECT_TRUE(encoded.out.contains(" 0 fault(s)")) << name << encoded.out.toStdString();
        EXPECT_TRUE(encoded.out.contains("table Table1: ")) << name << encoded.out.toStdString();
    }
}

// RC4 comes from OpenSSL's legacy provider; where it cannot be loaded the file is not damaged but
// undecryptable here, and the error says why.
TEST(JetPasswords, WithoutTheLegacyProviderRc4FilesAreRefusedSayingWhy) {
    const ProcessRun r = cli({"tables", encryptedFile("db2007-oldenc.accdb")}, QStringLiteral("Test123"),
                             {QStringLiteral("OPENSSL_MODULES"), QStringLiteral("/nonexistent")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("error 3031: ")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("legacy provider")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("damaged")) << r.err.toStdString();
}

TEST(JetPasswords, JetFilesWithEncodedPagesOpenWithoutAPasswordAndStayReadOnly) {
    for (const char* name : {"db-enc.mdb", "db97-enc.mdb"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(dao::jet::protectionOf(encryptedFile(name)).kind, dao::jet::Protection::None);
        auto db = dao::OpenDatabase(encryptedFile(name));
        EXPECT_TRUE(db->TableDefs().contains("Table1"));
        EXPECT_TRUE(db->isReadOnly());
        db->Close();
    }
}

TEST(JetPasswords, AJet4PasswordIsAskedForAndCompared) {
    QTemporaryDir dir;
    const QString f = testutil::passwordJetCopy(dir, "test2V2003.mdb", QStringLiteral("Sésamo 1"));
    const dao::jet::Protection p = dao::jet::protectionOf(f);
    EXPECT_EQ(p.kind, dao::jet::Protection::JetPassword);
    EXPECT_EQ(p.password, QStringLiteral("Sésamo 1"));

    expectPasswordError(f, "needs a password");
    {
        PasswordFrom none(std::nullopt);
        expectPasswordError(f, "needs a password");
    }
    {
        PasswordFrom wrong(QStringLiteral("sésamo 1"));  // case counts
        expectPasswordError(f, "Not a valid password.");
    }
    // The command line tool: from the environment only.
    ProcessRun r = cli({"tables", f}, std::nullopt);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("error 3031: The file")) << r.err.toStdString();
    r = cli({"tables", f}, QStringLiteral("wrong"));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("error 3031: Not a valid password.")) << r.err.toStdString();
    r = cli({"query", f, "select count(*) from [MSP_PROJECTS]"}, QStringLiteral("Sésamo 1"));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    {
        PasswordFrom right(QStringLiteral("Sésamo 1"));
        auto db = dao::OpenDatabase(f);
        EXPECT_FALSE(db->TableDefs().isEmpty());
        // Reading, yes; writing a password-protected file stays refused with its reason.
        EXPECT_TRUE(db->isReadOnly());
        db->Close();
    }
    // Accepted once, the password is not asked for again in the process.
    auto again = dao::OpenDatabase(f);
    again->Close();
}

TEST(JetPasswords, AnOfficeEncryptedPackageIsAPasswordErrorNotAnUnknownFormat) {
    QTemporaryDir dir;
    const QString f = dir.filePath("package.accdb");
    // A compound file: header (512-byte sectors, directory in sector 0), then its directory.
    QByteArray file(1024, '\0');
    const char magic[8] = {char(0xD0), char(0xCF), char(0x11), char(0xE0), char(0xA1), char(0xB1), char(0x1A), char(0xE1)};
    file.replace(0, 8, QByteArray(magic, 8));
    file[0x1e] = 9;
    auto name = [&](int entry, const QString& n) {
        const int at = 512 + entry * 128;
        for (int i = 0; i < n.size(); ++i) file[at + 2 * i] = char(n[i].unicode());
        file[at + 64] = char((n.size() + 1) * 2);
    };
    name(0, "Root Entry");
    name(1, "EncryptionInfo");
    name(2, "EncryptedPackage");
    QFile out(f);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    expectPasswordError(f, "encrypted");
    // Without those streams it is what it was: a file we do not read.
    name(1, "Something");
    name(2, "Else");
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    try {
        dao::OpenDatabase(f);
        ADD_FAILURE();
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 3343);
    }
}
