#include "BulkCommands.h"

#include "CliTool.h"
#include "bulk/CopyFields.h"
#include "bulk/EraseRecords.h"
#include "bulk/FieldOperations.h"
#include "bulk/FindReplace.h"
#include "bulk/Totals.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

int fieldPosition(dao::Recordset& rs, const QString& name) {
    const int index = rs.Fields().indexOf(name);
    if (index < 0)
        dao::raise(dao::err::ItemNotFound, QString("Item not found in this collection: %1.").arg(name));
    return index;
}

int runReplace(QStringList args, const std::function<void(const QString&)>& print) {
    const bool ignore = takeOnErrorIgnore(args);
    expectArgs(QStringLiteral("replace"), args, 5);
    OpenedSource o = openSource(args[0], args[1]);
    CliPrompter prompts(ignore, false);
    ConsoleProgress progress(true);
    const bulk::FindReplace::Inputs in{fieldPosition(*o.rs, args[2]), args[3], args[4]};
    const auto r = bulk::FindReplace::run(*o.rs, in, progress, prompts);
    finish(o);
    print(QString::number(r.changed));
    if (r.stopped && reportIfInterrupted(r.visited)) return kExitInterrupted;
    throwIfRefused(prompts);
    return kExitOk;
}

int runCopy(QStringList args, const std::function<void(const QString&)>& print) {
    const bool ignore = takeOnErrorIgnore(args);
    bulk::CopyFields::Inputs in;
    in.exclude = takeOption(args, QStringLiteral("--exclude")).value_or(QString());
    in.keepExisting = takeFlag(args, QStringLiteral("--keep-existing"));
    in.eraseSource = takeFlag(args, QStringLiteral("--erase-source"));
    expectArgs(QStringLiteral("copy"), args, 4);
    if (ignore) throw CliUsageError{"copy ends at its first error; --on-error ignore does not apply"};
    in.from = args[2];
    in.to = args[3];
    OpenedSource o = openSource(args[0], args[1]);
    CliPrompter prompts(false, false);
    ConsoleProgress progress(true);
    const auto r = bulk::CopyFields::run(*o.rs, in, progress, prompts, false);
    if (r.sameField) return kExitUsage;  // the message is on stderr
    finish(o);
    print(QString::number(r.copied));
    if (r.stopped && reportIfInterrupted(r.copied + r.skipped)) return kExitInterrupted;
    if (r.error) throw *r.error;
    return kExitOk;
}

int runTotal(QStringList args, const std::function<void(const QString&)>& print) {
    expectArgs(QStringLiteral("total"), args, 3);
    OpenedSource o = openSource(args[0], args[1]);
    fieldPosition(*o.rs, args[2]);
    const auto r = bulk::Totals::run(*o.rs, args[2], o.db.get());
    finish(o);
    print(r.text);
    if (r.nullsSkipped > 0) writeErr(bulk::Totals::nullsNote(r.nullsSkipped) + QLatin1Char('\n'));
    return kExitOk;
}

int runOperate(QStringList args, const std::function<void(const QString&)>& print) {
    const bool ignore = takeOnErrorIgnore(args);
    // "-" is an operation here, not an option.
    expectArgs(QStringLiteral("operate"), args, 5);
    const auto op = bulk::FieldOperations::operationFromSign(args[3]);
    if (op == bulk::FieldOperations::None)
        throw CliUsageError{"OP is one of + - * /, not \"" + args[3] + "\""};
    OpenedSource o = openSource(args[0], args[1]);
    fieldPosition(*o.rs, args[2]);
    CliPrompter prompts(ignore, false);
    ConsoleProgress progress(true);
    const auto r = bulk::FieldOperations::run(*o.rs, bulk::FieldOperations::Inputs{args[2], op, args[4]},
                                              progress, prompts);
    finish(o);
    if (!r.ran && !(dao::leadingNumber(args[4]) > 0))
        writeErr(QStringLiteral("nothing done: VALUE must be a number greater than 0\n"));
    print(QString::number(r.processed));
    if (r.stopped && reportIfInterrupted(r.visited)) return kExitInterrupted;
    throwIfRefused(prompts);
    return kExitOk;
}

int runErase(QStringList args, const std::function<void(const QString&)>& print) {
    const bool yes = takeFlag(args, QStringLiteral("--yes"));
    expectArgs(QStringLiteral("erase"), args, 2);
    OpenedSource o = openSource(args[0], args[1]);
    CliPrompter prompts(false, yes);
    ConsoleProgress progress(true);
    auto r = bulk::EraseRecords::run([&o] { return o.rs; }, progress, prompts, false);
    if (!r.confirmed) {
        r.kept = o.rs->RecordCount();
        writeErr(QStringLiteral("nothing erased: --yes is needed to erase the records\n"));
    }
    finish(o);
    print(QString("%1 erased, %2 kept").arg(r.erased).arg(r.kept));
    if (r.interrupted && reportIfInterrupted(r.erased)) return kExitInterrupted;
    if (r.stopped) throw *r.stopped;
    return kExitOk;
}

}  // namespace

bool isBulkCommand(const QString& command) {
    static const QStringList commands = {"replace", "copy", "total", "operate", "erase"};
    return commands.contains(command);
}

int runBulkCommand(const QString& command, QStringList args,
                   const std::function<void(const QString&)>& print) {
    if (command == QLatin1String("replace")) return runReplace(args, print);
    if (command == QLatin1String("copy")) return runCopy(args, print);
    if (command == QLatin1String("total")) return runTotal(args, print);
    if (command == QLatin1String("operate")) return runOperate(args, print);
    if (command == QLatin1String("erase")) return runErase(args, print);
    throw CliUsageError{"unknown command \"" + command + "\""};
}

}  // namespace cli
