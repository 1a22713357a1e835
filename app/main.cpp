// tabulon [FILE]: the main window, with FILE (when given) in the path box instead of the last one.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStyleFactory>

#include "browser/AdvanceViewForm.h"
#include "shell/AppIcon.h"
#include "shell/Form1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tabulon"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tabulon"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QApplication::setOrganizationName(QString());
    QApplication::setDesktopFileName(QStringLiteral("tabulon"));
    QApplication::setWindowIcon(shell::appIcon());
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Works on the tables of a database file."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Database file to put in the path box."),
                                 QStringLiteral("[FILE]"));
    parser.process(app);

    // Each Open gets a fresh table browser, its members assigned in the opener's order.
    shell::Form1::browserFactory = [](QWidget* parent, const QString& dbFile, const QString& records,
                                      const QString& table) -> QDialog* {
        auto* w = new browser::AdvanceViewForm(parent);
        w->DB_DATABASEFILE = dbFile;
        w->DB_SELECTED_RECORDS = records;
        w->DB_SELECTED_TABLE = table;
        return w;
    };

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
