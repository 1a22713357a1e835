#include "TextFileCommands.h"

#include "CliTool.h"
#include "bulk/ExportTool.h"
#include "bulk/ImportTool.h"
#include "bulk/VerifyTool.h"
#include "platform/dao/Dao.h"

namespace cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitDeclined = 2;

QString asLines(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

// FILE SOURCE FIELD [--yes] [--on-error ignore]: the number of records renumbered.
int runVerify(QStringList args, QString& printed) {
    const bool yes = takeFlag(args, QStringLiteral("--yes"));
    const bool ignore = takeOnErrorIgnore(args);
    expectArgs(QStringLiteral("verify"), args, 3);
    CliPrompter prompts(ignore, yes);
    ConsoleProgress progress;
    bulk::VerifyTool tool(args[0], args[1], progress, prompts);
    tool.setReportRefused(true);
    const bulk::VerifyResult r = tool.run(args[2], true);
    dao::flushAllWrites();
    throwIfRefused(prompts);
    if (r.declined) {
        writeErr(asLines(bulk::VerifyTool::textFieldQuestion()) + QStringLiteral("\n(answer it with --yes)\n"));
        return kExitDeclined;
    }
    printed = QString::number(r.renumbered);
    return kExitOk;
}

// FILE SOURCE OUT.txt [--yes] [--on-error ignore]: the number of records written.
int runExport(QStringList args, QString& printed) {
    const bool yes = takeFlag(args, QStringLiteral("--yes"));
    const bool ignore = takeOnErrorIgnore(args);
    expectArgs(QStringLiteral("export"), args, 3);
    CliPrompter prompts(ignore, yes);
    ConsoleProgress progress;
    OpenedSource opened = openSource(args[0], args[1]);
    const bulk::ExportResult r = bulk::ExportTool(opened.rs, progress, prompts).writeTo(args[2]);
    finish(opened);
    throwIfRefused(prompts);
    if (r.declined) {
        writeErr(asLines(bulk::ExportTool::lineBreakQuestion(r.valuesWithLineBreaks)) +
                 QStringLiteral("\n(answer it with --yes); nothing was written\n"));
        return kExitDeclined;
    }
    printed = QString::number(r.written);
    return kExitOk;
}

// FILE TABLE IN.txt [--on-error ignore]: the number of records added.
int runImport(QStringList args, QString& printed) {
    const bool ignore = takeOnErrorIgnore(args);
    expectArgs(QStringLiteral("import"), args, 3);
    CliPrompter prompts(ignore, false);
    ConsoleProgress progress(true);
    OpenedSource opened = openSource(args[0], args[1]);
    const bulk::ImportResult r = bulk::ImportTool(opened.rs, progress, prompts).readFrom(args[2]);
    finish(opened);
    throwIfRefused(prompts);
    // The format message and the cut-off record were written to stderr as they came.
    if (r.rejected) return kExitError;
    printed = QString::number(r.added);
    if (r.stopped && reportIfInterrupted(r.added)) return kExitInterrupted;
    return r.cutAtLine ? kExitError : kExitOk;
}

}  // namespace

bool isTextFileCommand(const QString& command) {
    return command == QLatin1String("verify") || command == QLatin1String("export") ||
           command == QLatin1String("import");
}

int runTextFileCommand(const QString& command, QStringList args, QString& printed) {
    if (command == QLatin1String("verify")) return runVerify(std::move(args), printed);
    if (command == QLatin1String("export")) return runExport(std::move(args), printed);
    return runImport(std::move(args), printed);
}

}  // namespace cli
