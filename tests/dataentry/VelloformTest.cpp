#include <dlfcn.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "../platform/QStringPrint.h"
#include "DataEntryTestUtil.h"
#include "dataentry/PropertyBag.h"
#include "velloform.h"

namespace {

// Points the per-user class registry at a folder of the test for one scope.
class ConfigHome {
public:
    explicit ConfigHome(const QString& dir) : old_(qgetenv("XDG_CONFIG_HOME")) { qputenv("XDG_CONFIG_HOME", dir.toUtf8()); }
    ~ConfigHome() { qputenv("XDG_CONFIG_HOME", old_); }
    QString registry() const { return qEnvironmentVariable("XDG_CONFIG_HOME") + "/velloform/classes"; }

private:
    QByteArray old_;
};

QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

TEST(VelloformTest, EntryPointsRegisterCreateAndCount) {
    QTemporaryDir dir;
    ConfigHome home(dir.path());
    void* lib = dlopen(VELLOFORM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto reg = reinterpret_cast<int (*)()>(dlsym(lib, "DllRegisterServer"));
    auto unreg = reinterpret_cast<int (*)()>(dlsym(lib, "DllUnregisterServer"));
    auto get = reinterpret_cast<int (*)(const char*, VelloformClassFactory*)>(dlsym(lib, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<int (*)()>(dlsym(lib, "DllCanUnloadNow"));
    ASSERT_TRUE(reg && unreg && get && canUnload);

    // Another class's line and the user's comments stay when ours is written and removed.
    QDir().mkpath(dir.path() + "/velloform");
    QFile other(home.registry());
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("# my classes\nOther.Thing=/opt/other.so\n\n# kept too\n");
    other.close();
    EXPECT_EQ(reg(), VELLOFORM_OK);
    const QString absolute = QFileInfo(VELLOFORM_LIBRARY).canonicalFilePath();
    EXPECT_TRUE(readAll(home.registry()).contains("Velloform.DataEntryForm=" + absolute + "\n"));
    EXPECT_EQ(reg(), VELLOFORM_OK);  // once only
    EXPECT_EQ(readAll(home.registry()).count("Velloform.DataEntryForm="), 1);

    VelloformClassFactory factory{};
    EXPECT_EQ(get("Velloform.Other", &factory), VELLOFORM_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory.CreateInstance, nullptr);
    ASSERT_EQ(get(VELLOFORM_CLASS_NAME, &factory), VELLOFORM_OK);
    EXPECT_EQ(factory.CreateInstance(nullptr), nullptr);

    // The COM convention: S_OK (0) lets the host unload the library, S_FALSE (1) while a control lives.
    EXPECT_EQ(canUnload(), VELLOFORM_OK);
    auto window = std::make_unique<QWidget>();
    auto* control = static_cast<QWidget*>(factory.CreateInstance(window.get()));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->parentWidget(), window.get());
    EXPECT_TRUE(control->setProperty("OK_CAPTION", "Guardar"));
    EXPECT_EQ(control->property("OK_CAPTION").toString(), "Guardar");
    EXPECT_EQ(canUnload(), VELLOFORM_S_FALSE);
    window.reset();
    EXPECT_EQ(canUnload(), VELLOFORM_OK);

    EXPECT_EQ(unreg(), VELLOFORM_OK);
    const QString after = readAll(home.registry());
    EXPECT_FALSE(after.contains("Velloform.DataEntryForm"));
    EXPECT_EQ(after, "# my classes\nOther.Thing=/opt/other.so\n\n# kept too\n");
    dlclose(lib);
}

// A host in plain C, without a QApplication: it registers and gets the factory, gets no control, and
// is told by DllCanUnloadNow's S_OK that it may unload the library.
TEST(VelloformTest, APlainCHostRegistersQueriesAndUnloads) {
    QTemporaryDir dir;
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.path());
    host.setProcessEnvironment(env);
    host.start(VELLOFORM_C_HOST, {VELLOFORM_LIBRARY});
    ASSERT_TRUE(host.waitForFinished(60000));
    EXPECT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(host.readAllStandardOutput()),
              "register 0\nclass 0\ncreate NULL\nDllCanUnloadNow 0\nunloaded 0\n");
    EXPECT_TRUE(readAll(dir.path() + "/velloform/classes").contains("Velloform.DataEntryForm="));
}

TEST(VelloformTest, ExampleHostAddsARecordThroughTheControl) {
    QTemporaryDir dir;
    const QString db = testutil::makeSqlite(dir, "shop.db", {"create table [Mis clientes] (Id long, Nombre text(40))"});
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    host.setProcessEnvironment(env);
    const QStringList args = {db, "Mis clientes", "--default", "1=Nuevo", "--type", "0=5",
                              "--ok", "--quit"};
    host.start(VELLOFORM_HOST, args);
    ASSERT_TRUE(host.waitForFinished(60000));
    const QString out = QString::fromUtf8(host.readAllStandardOutput());
    EXPECT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    // Registered on first use, created by class name, alive while shown, unloadable after.
    EXPECT_TRUE(out.startsWith("registered " + QFileInfo(VELLOFORM_LIBRARY).canonicalFilePath() + "\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("DllCanUnloadNow 1\n"));
    EXPECT_TRUE(out.endsWith("DllCanUnloadNow 0\n")) << out.toStdString();

    EXPECT_EQ(detest::count(db, "[Mis clientes]"), 1);
    EXPECT_EQ(detest::valueText(db, "select Id from [Mis clientes]"), "5");
    EXPECT_EQ(detest::valueText(db, "select Nombre from [Mis clientes]"), "Nuevo");

    // The control's property bag is kept beside the database.
    const auto bag = dataentry::PropertyBag::load(dir.filePath("velloform-host.bag"));
    EXPECT_EQ(bag.ReadProperty("SelectedTable").toString(), "Mis clientes");
    EXPECT_EQ(bag.ReadProperty("DatabaseName").toString(), db);
    EXPECT_TRUE(bag.ReadProperty("UnloadParent").toBool());

    // The second run finds the class registered.
    host.start(VELLOFORM_HOST, {db, "Mis clientes", "--type", "0=6", "--ok", "--quit"});
    ASSERT_TRUE(host.waitForFinished(60000));
    EXPECT_FALSE(QString::fromUtf8(host.readAllStandardOutput()).contains("registered"));
    EXPECT_EQ(detest::count(db, "[Mis clientes]"), 2);

    // A registry line left by a library that is gone: the library beside the host takes its place,
    // and the user's comment stays.
    const QString registry = dir.path() + "/config/velloform/classes";
    {
        QFile f(registry);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# mine\nVelloform.DataEntryForm=" + dir.filePath("gone/libvelloform.so").toUtf8() + "\n");
    }
    host.start(VELLOFORM_HOST, {db, "Mis clientes", "--type", "0=7", "--ok", "--quit"});
    ASSERT_TRUE(host.waitForFinished(60000));
    EXPECT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    EXPECT_TRUE(QString::fromUtf8(host.readAllStandardOutput()).startsWith("registered " + QFileInfo(VELLOFORM_LIBRARY).canonicalFilePath()));
    EXPECT_EQ(detest::count(db, "[Mis clientes]"), 3);
    EXPECT_EQ(readAll(registry), "# mine\nVelloform.DataEntryForm=" + QFileInfo(VELLOFORM_LIBRARY).canonicalFilePath() + "\n");

    // A table that cannot be loaded: the messages are told, and --quit ends with status 1.
    host.start(VELLOFORM_HOST, {db, "Nope", "--quit"});
    ASSERT_TRUE(host.waitForFinished(60000));
    const QString err = QString::fromUtf8(host.readAllStandardError());
    EXPECT_EQ(host.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("message: ")) << err.toStdString();
    EXPECT_TRUE(err.contains("the table could not be loaded")) << err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(host.readAllStandardOutput()).endsWith("DllCanUnloadNow 0\n"));

    // Wrong use.
    host.start(VELLOFORM_HOST, {db});
    ASSERT_TRUE(host.waitForFinished(60000));
    EXPECT_EQ(host.exitCode(), 2);
}

// A record the file refuses only at the commit (a deferred foreign key) is refused when OK is
// pressed, by the control's message naming it, not dropped when the host exits; the scripted host
// passes the message on and fails.
TEST(VelloformTest, ExampleHostReportsARecordTheFileRefuses) {
    QTemporaryDir dir;
    const QString db = testutil::makeSqlite(
        dir, "shop.db",
        {"create table Clientes (Id long primary key)",
         "create table Pedidos (Id long, Cliente long references Clientes (Id) deferrable initially deferred)",
         "insert into Clientes values (1)"});
    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.path() + "/config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    host.setProcessEnvironment(env);
    host.start(VELLOFORM_HOST, {db, "Pedidos", "--type", "0=7", "--type", "1=99", "--ok", "--quit"});
    ASSERT_TRUE(host.waitForFinished(60000));
    const QString err = QString::fromUtf8(host.readAllStandardError());
    EXPECT_EQ(host.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("velloform-host: the control says: The new record")) << err.toStdString();
    EXPECT_TRUE(err.contains("of Pedidos could not be saved: FOREIGN KEY")) << err.toStdString();
    EXPECT_EQ(detest::count(db, "Pedidos"), 0);

    // A value the form refuses is marked on the form only: the script says which field.
    host.start(VELLOFORM_HOST, {db, "Pedidos", "--type", "0=7", "--type", "1=uno", "--ok", "--quit"});
    ASSERT_TRUE(host.waitForFinished(60000));
    EXPECT_EQ(host.exitCode(), 1);
    EXPECT_TRUE(host.readAllStandardError().contains("the record was not saved: field 1 does not hold a valid value"));
    EXPECT_EQ(detest::count(db, "Pedidos"), 0);

    host.start(VELLOFORM_HOST, {db, "Pedidos", "--type", "0=8", "--type", "1=1", "--ok", "--quit"});
    ASSERT_TRUE(host.waitForFinished(60000));
    EXPECT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    EXPECT_EQ(detest::valueText(db, "select Id from Pedidos"), "8");
}

}  // namespace
