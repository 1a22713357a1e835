#include "TextFileCommands.h"

#include <QSaveFile>
#include <QTemporaryDir>

#include "CliTool.h"
#include "RecordOutput.h"
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
int runVerify(const QStringList& argv, QString& printed) {
    const CommandArgs args(QStringLiteral("verify"), argv, kOnErrorOption + QList<OptionSpec>{{QStringLiteral("--yes")}});
    const bool yes = args.flag(QStringLiteral("--yes"));
    const bool ignore = args.onErrorIgnore();
    args.expect(3);
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

// FILE SOURCE OUT [--yes] [--on-error ignore] [--format ...]: the number of records written
// (nothing is printed when OUT is "-", stdout, which takes the records).
int runExport(const QStringList& argv, QString& printed) {
    const CommandArgs args(QStringLiteral("export"), argv,
                           kOnErrorOption + kRecordFormatOptions +
                               QList<OptionSpec>{{QStringLiteral("--yes")}, {QStringLiteral("--format"), true}});
    const bool yes = args.flag(QStringLiteral("--yes"));
    const bool ignore = args.onErrorIgnore();
    args.expect(3);
    const std::optional<QString> format = args.option(QStringLiteral("--format"));
    const bool textFile = !format || *format == QLatin1String("text");
    std::optional<RecordOutputOptions> records;
    if (!textFile) {
        records = recordOutputOptions(args, format);
    } else {
        for (const OptionSpec& o : kRecordFormatOptions)
            if (args.flag(o.name) || args.option(o.name))
                throw CliUsageError{o.name + " goes with --format tsv, csv or json"};
    }
    const bool toStdout = isStdStream(args[2]);
    QTemporaryDir piped;
    const QString out = toStdout ? piped.filePath(QStringLiteral("export")) : args[2];
    CliPrompter prompts(ignore, yes);
    ConsoleProgress progress;
    OpenedSource opened = openSource(args[0], args[1]);
    long long written = 0;
    if (records) {
        QSaveFile file(out);
        auto fail = [&] {
            dao::raise(75, QStringLiteral("Path/File access error: %1 (%2)").arg(args[2], file.errorString()));
        };
        if (!file.open(QIODevice::WriteOnly)) fail();
        written = writeRecords(*opened.rs, *records, std::nullopt, [&](const QByteArray& bytes) {
            if (file.write(bytes) != bytes.size()) fail();
        });
        if (!file.commit()) fail();
        finish(opened);
    } else {
        const bulk::ExportResult r = bulk::ExportTool(opened.rs, progress, prompts).writeTo(out);
        finish(opened);
        throwIfRefused(prompts);
        if (r.declined) {
            writeErr(asLines(bulk::ExportTool::lineBreakQuestion(r.valuesWithLineBreaks)) +
                     QStringLiteral("\n(answer it with --yes); nothing was written\n"));
            return kExitDeclined;
        }
        written = r.written;
    }
    if (toStdout) {
        if (!fileToStdout(out)) dao::raise(75, QStringLiteral("Path/File access error: cannot write to stdout"));
        return kExitOk;
    }
    printed = QString::number(written);
    return kExitOk;
}

// FILE TABLE IN.txt [--on-error ignore]: the number of records added.
int runImport(const QStringList& argv, QString& printed) {
    const CommandArgs args(QStringLiteral("import"), argv, kOnErrorOption);
    const bool ignore = args.onErrorIgnore();
    args.expect(3);
    CliPrompter prompts(ignore, false);
    ConsoleProgress progress(true);
    OpenedSource opened = openSource(args[0], args[1]);
    // "-": the records come from stdin.
    QTemporaryDir piped;
    const QString in = isStdStream(args[2]) ? stdinToFile(piped.path()) : args[2];
    const bulk::ImportResult r = bulk::ImportTool(opened.rs, progress, prompts).readFrom(in);
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

int runTextFileCommand(const QString& command, const QStringList& args, QString& printed) {
    if (command == QLatin1String("verify")) return runVerify(args, printed);
    if (command == QLatin1String("export")) return runExport(args, printed);
    return runImport(args, printed);
}

}  // namespace cli
