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

int runReplace(const QStringList& argv, const std::function<void(const QString&)>& print) {
    const CommandArgs args(QStringLiteral("replace"), argv, kOnErrorOption);
    const bool ignore = args.onErrorIgnore();
    args.expect(5);
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

int runCopy(const QStringList& argv, const std::function<void(const QString&)>& print) {
    const CommandArgs args(QStringLiteral("copy"), argv,
                           kOnErrorOption + QList<OptionSpec>{{QStringLiteral("--exclude"), true},
                                                              {QStringLiteral("--keep-existing")},
                                                              {QStringLiteral("--erase-source")}});
    const bool ignore = args.onErrorIgnore();
    bulk::CopyFields::Inputs in;
    in.exclude = args.option(QStringLiteral("--exclude")).value_or(QString());
    in.keepExisting = args.flag(QStringLiteral("--keep-existing"));
    in.eraseSource = args.flag(QStringLiteral("--erase-source"));
    args.expect(4);
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

int runTotal(const QStringList& argv, const std::function<void(const QString&)>& print) {
    const CommandArgs args(QStringLiteral("total"), argv, {});
    args.expect(3);
    OpenedSource o = openSource(args[0], args[1]);
    fieldPosition(*o.rs, args[2]);
    const auto r = bulk::Totals::run(*o.rs, args[2], o.db.get());
    finish(o);
    print(r.text);
    if (r.nullsSkipped > 0) writeErr(bulk::Totals::nullsNote(r.nullsSkipped) + QLatin1Char('\n'));
    return kExitOk;
}

int runOperate(const QStringList& argv, const std::function<void(const QString&)>& print) {
    const CommandArgs args(QStringLiteral("operate"), argv, kOnErrorOption);
    const bool ignore = args.onErrorIgnore();
    args.expect(5);
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

int runErase(const QStringList& argv, const std::function<void(const QString&)>& print) {
    const CommandArgs args(QStringLiteral("erase"), argv, {{QStringLiteral("--yes")}});
    const bool yes = args.flag(QStringLiteral("--yes"));
    args.expect(2);
    OpenedSource o = openSource(args[0], args[1]);
    CliPrompter prompts(false, yes);
    ConsoleProgress progress(true);
    auto r = bulk::EraseRecords::run([&o] { return o.rs; }, progress, prompts, false);
    if (!r.confirmed) {
        // Declined, as verify and export without --yes: nothing on stdout, exit 2.
        finish(o);
        writeErr(QStringLiteral("nothing erased: --yes is needed to erase the records\n"));
        return kExitUsage;
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

int runBulkCommand(const QString& command, const QStringList& args,
                   const std::function<void(const QString&)>& print) {
    if (command == QLatin1String("replace")) return runReplace(args, print);
    if (command == QLatin1String("copy")) return runCopy(args, print);
    if (command == QLatin1String("total")) return runTotal(args, print);
    if (command == QLatin1String("operate")) return runOperate(args, print);
    if (command == QLatin1String("erase")) return runErase(args, print);
    throw CliUsageError{"unknown command \"" + command + "\""};
}

}  // namespace cli
