// velloform-host DATABASE TABLE [--default N=TEXT]... [--type N=TEXT]... [--ok] [--quit]
//
// Shows the Velloform data-entry control for one table of a database file, the way any program
// uses the library: by its class name, through the class registry, late bound.
//
//   --default N=TEXT   the initial text of field N (and again after each save): SetDefault(TEXT, N)
//   --type N=TEXT      once the form is built, writes TEXT into field N's input: SetText(TEXT, N)
//   --ok               then presses the control's Ok button (adds the record)
//   --quit             then closes the window; unattended: each message box the control shows is
//                      written to standard error and closed, and when the table cannot be loaded
//                      the host ends with status 1
//
// A registry line that names a library which cannot be loaded (moved, deleted) is replaced by the
// library beside this program. The control's property bag is kept in velloform-host.bag beside the
// database file. Lines on standard output tell what happened ("registered PATH", "DllCanUnloadNow N",
// 0 when the library may be unloaded).
//
// While the scripted input runs, a message the control shows (a refused record, a value that does
// not fit its field) is nobody's to answer: it is written to standard error, dismissed with its
// default button, and the host exits with status 1. So does --ok when a field holds a value the form
// would refuse (ValidateFixFields), naming the field by its number.

#include <dlfcn.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <functional>

#include "velloform.h"

namespace {

using RegisterFn = int (*)();
using GetClassObjectFn = int (*)(const char*, VelloformClassFactory*);
using CanUnloadFn = int (*)();

// The registry file as velloform.h describes it.
QString registryFile() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.config";
    return base + "/velloform/classes";
}

QString registeredLibrary(const QString& className) {
    QFile f(registryFile());
    if (!f.open(QIODevice::ReadOnly)) return {};
    for (QString line : QString::fromUtf8(f.readAll()).split('\n')) {
        line = line.trimmed();
        if (line.startsWith(className + '=')) return line.mid(className.size() + 1);
    }
    return {};
}

// Registers the library found beside this program (or in the installed library folder), as an
// installer would; by its versioned name, which a runtime package ships.
bool registerLibrary() {
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& candidate : {here.filePath("libvelloform.so.1"),
                                     here.filePath(QStringLiteral("../" VELLOFORM_LIBDIR "/libvelloform.so.1"))}) {
        if (!QFile::exists(candidate)) continue;
        void* lib = dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) continue;
        auto reg = reinterpret_cast<RegisterFn>(dlsym(lib, "DllRegisterServer"));
        const bool done = reg && reg() == VELLOFORM_OK;
        if (done) std::printf("registered %s\n", qPrintable(registeredLibrary(VELLOFORM_CLASS_NAME)));
        return done;
    }
    return false;
}

// The library and its two entry points the host uses, from the registry's path; null when the path
// does not lead to a library that offers the class.
struct Library {
    void* handle = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadFn canUnloadNow = nullptr;
};

Library load(const QString& path) {
    Library l;
    if (path.isEmpty()) return l;
    l.handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!l.handle) {
        std::fprintf(stderr, "velloform-host: %s\n", dlerror());
        return l;
    }
    l.getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(l.handle, "DllGetClassObject"));
    l.canUnloadNow = reinterpret_cast<CanUnloadFn>(dlsym(l.handle, "DllCanUnloadNow"));
    if (!l.getClassObject || !l.canUnloadNow) {
        dlclose(l.handle);
        l = Library{};
    }
    return l;
}

// Unattended runs: a message box of the control is told on standard error and closed (its default
// answer), instead of waiting for a user who is not there.
void closeMessageBoxes() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    std::fprintf(stderr, "velloform-host: message: %s\n", qPrintable(box->text()));
    box->reject();
}

// Saves the control's property bag whenever the control says a property changed.
class BagKeeper : public QObject {
    Q_OBJECT
public:
    BagKeeper(QObject* control, QString path) : QObject(control), control_(control), path_(std::move(path)) {}
public slots:
    void save() {
        QString error;
        QMetaObject::invokeMethod(control_, "WritePropertiesFile", Q_RETURN_ARG(QString, error), Q_ARG(QString, path_));
        if (!error.isEmpty()) std::fprintf(stderr, "velloform-host: %s\n", qPrintable(error));
    }

private:
    QObject* control_;
    QString path_;
};

// Scripted input, run when the control has finished loading.
class Script : public QObject {
    Q_OBJECT
public:
    Script(QObject* control, std::function<void()> run) : QObject(control), run_(std::move(run)) {}
public slots:
    void run() { run_(); }

private:
    std::function<void()> run_;
};

struct Args {
    QString database, table;
    QList<QPair<int, QString>> defaults, typed;
    bool ok = false, quit = false;
};

bool parse(const QStringList& a, Args& out) {
    QStringList rest;
    for (int i = 1; i < a.size(); ++i) {
        const QString& s = a[i];
        if ((s == "--default" || s == "--type") && i + 1 < a.size()) {
            const QString v = a[++i];
            const int eq = v.indexOf('=');
            bool isNumber = false;
            const int n = v.left(eq).toInt(&isNumber);
            if (eq < 1 || !isNumber) return false;
            (s == "--default" ? out.defaults : out.typed).append({n, v.mid(eq + 1)});
        } else if (s == "--ok") {
            out.ok = true;
        } else if (s == "--quit") {
            out.quit = true;
        } else if (s.startsWith("--")) {
            return false;
        } else {
            rest << s;
        }
    }
    if (rest.size() != 2) return false;
    out.database = QFileInfo(rest[0]).absoluteFilePath();
    out.table = rest[1];
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Args args;
    if (!parse(app.arguments(), args)) {
        std::fprintf(stderr, "usage: velloform-host DATABASE TABLE [--default N=TEXT]... [--type N=TEXT]... [--ok] [--quit]\n");
        return 2;
    }

    // 1. The class, by name: registered once, then found through the registry. A line left by a
    //    library that was moved or deleted is registered again from the library beside us.
    Library lib = load(registeredLibrary(VELLOFORM_CLASS_NAME));
    if (!lib.handle) {
        if (!registerLibrary()) {
            std::fprintf(stderr, "velloform-host: the library could not be registered\n");
            return 1;
        }
        lib = load(registeredLibrary(VELLOFORM_CLASS_NAME));
    }
    VelloformClassFactory factory{};
    if (!lib.handle || lib.getClassObject(VELLOFORM_CLASS_NAME, &factory) != VELLOFORM_OK) {
        std::fprintf(stderr, "velloform-host: %s offers no %s\n", qPrintable(registeredLibrary(VELLOFORM_CLASS_NAME)),
                     VELLOFORM_CLASS_NAME);
        return 1;
    }
    const CanUnloadFn canUnloadNow = lib.canUnloadNow;

    // 2. The control on our window.
    auto* window = new QWidget;
    window->setWindowTitle(QString::fromUtf8("Velloform host — ") + args.table);
    auto* control = static_cast<QWidget*>(factory.CreateInstance(window));
    if (!control) return 1;

    // 3. Its stored properties, then ours; the bag is saved whenever a property changes.
    const QString bag = QFileInfo(args.database).dir().filePath("velloform-host.bag");
    QString error;
    QMetaObject::invokeMethod(control, "ReadPropertiesFile", Q_RETURN_ARG(QString, error), Q_ARG(QString, bag));
    if (!error.isEmpty()) std::fprintf(stderr, "velloform-host: %s (the defaults are used)\n", qPrintable(error));
    auto* keeper = new BagKeeper(control, bag);
    QObject::connect(control, SIGNAL(PropertyChanged(QString)), keeper, SLOT(save()));
    control->setProperty("DatabaseName", args.database);
    control->setProperty("SelectedTable", args.table);
    control->setProperty("UnloadParent", true);  // its Close button closes our window
    for (const auto& [field, text] : args.defaults)
        QMetaObject::invokeMethod(control, "SetDefault", Q_ARG(QString, text), Q_ARG(int, field));

    // Unattended, a message box shown while the form is built (a table that cannot be loaded) is
    // written to standard error and closed.
    QTimer unattended;
    if (args.quit) {
        QObject::connect(&unattended, &QTimer::timeout, &closeMessageBoxes);
        unattended.start(50);
    }

    // 4. Scripted input, once the control has built its form. A message box the control opens
    //    meanwhile runs its own event loop, in which the watcher reports and dismisses it.
    bool loaded = false;
    bool messaged = false;
    QTimer watcher;
    watcher.setInterval(50);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        messaged = true;
        std::fprintf(stderr, "velloform-host: the control says: %s\n", qPrintable(box->text()));
        std::fflush(stderr);
        if (QAbstractButton* b = box->defaultButton() ? box->defaultButton() : box->escapeButton())
            b->click();
        else
            box->reject();
    });
    auto* script = new Script(control, [&] {
        loaded = true;
        unattended.stop();  // from here the watcher reports and counts each message
        std::printf("DllCanUnloadNow %d\n", canUnloadNow());
        std::fflush(stdout);
        watcher.start();
        for (const auto& [field, text] : args.typed)
            QMetaObject::invokeMethod(control, "SetText", Q_ARG(QString, text), Q_ARG(int, field));
        if (args.ok) {
            // A value the form would refuse is marked on the form only; a script has to ask.
            int invalid = -1;
            QMetaObject::invokeMethod(control, "ValidateFixFields", Q_RETURN_ARG(int, invalid));
            if (invalid >= 0) {
                messaged = true;
                std::fprintf(stderr, "velloform-host: the record was not saved: field %d does not hold a valid value\n",
                             invalid);
                std::fflush(stderr);
            } else {
                QMetaObject::invokeMethod(control, "pressUpdate");
            }
        }
        watcher.stop();
        if (args.quit) QTimer::singleShot(0, window, &QWidget::close);
    });
    QObject::connect(control, SIGNAL(FinishedLoading()), script, SLOT(run()));

    // The window fits the control; the control sizes the window's height to its rows.
    window->resize(control->width(), control->height());
    window->show();  // the control builds its form (and says why when it cannot)
    // A table that could not be loaded leaves nothing to do.
    int status = 1;
    if (args.quit && !loaded)
        std::fprintf(stderr, "velloform-host: the table could not be loaded\n");
    else
        status = app.exec();

    delete window;  // and with it the control
    std::printf("DllCanUnloadNow %d\n", canUnloadNow());
    std::fflush(stdout);
    if (canUnloadNow() == VELLOFORM_OK) dlclose(lib.handle);
    return messaged && status == 0 ? 1 : status;
}

#include "main.moc"
