// tabulon [FILE]: the main window, with FILE (when given) in the path box instead of the last one.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include "shell/Application.h"
#include "shell/Form1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    shell::setUpApplication();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Works on the tables of a database file."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Database file to put in the path box."),
                                 QStringLiteral("[FILE]"));
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
