// tabulon [FILE]: the main window, with FILE (when given) in the path box instead of the last one.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstring>
#include <memory>

#include "shell/Application.h"
#include "shell/Form1.h"

namespace {

void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Works on the tables of a database file (SQLite, Access .mdb/.accdb): search, order, edit,\n"
        "bulk tools, data entry and listings. tabulon-cli does the same from scripts."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Database file to put in the path box (opened with Open or Enter)."),
                                 QStringLiteral("[FILE]"));
}

// --help and --version print and end without a window, so they need no display.
bool onlyPrints(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return false;
        for (const char* opt : {"--help", "-h", "-?", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], opt) == 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (onlyPrints(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("tabulon"));
        QCoreApplication::setApplicationVersion(QStringLiteral(TABULON_VERSION));
        QCommandLineParser parser;
        describe(parser);
        parser.process(app);  // prints, and ends the program
        return 0;
    }
    QApplication app(argc, argv);
    shell::setUpApplication();

    QCommandLineParser parser;
    describe(parser);
    parser.process(app);

    shell::Form1 form;
    const QStringList args = parser.positionalArguments();
    if (!args.isEmpty()) {
        // A relative path is made absolute so that the remembered path works from anywhere.
        const QString file = args.first();
        form.setStartFile(QFileInfo(file).isRelative() ? QDir::current().absoluteFilePath(file) : file);
    }
    form.show();
    return app.exec();
}
