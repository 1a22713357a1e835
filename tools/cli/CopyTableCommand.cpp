#include "CopyTableCommand.h"

#include <QFileInfo>

#include "CliTool.h"
#include "platform/dao/Dao.h"
#include "platform/dao/PgBackend.h"

namespace cli {

int runCopyTable(QStringList argv, const std::function<void(const QString&)>& line) {
    const CommandArgs parsed(QStringLiteral("copy-table"), argv,
                             {{QStringLiteral("--append")}, {QStringLiteral("--as"), true}});
    const bool append = parsed.flag(QStringLiteral("--append"));
    const QString as = parsed.option(QStringLiteral("--as")).value_or(QString());
    parsed.expect(3);
    const QStringList& args = parsed.values();
    for (const QString& a : args)
        if (a.trimmed().isEmpty()) throw CliUsageError{"copy-table needs a source, a table and a destination, not an empty name"};
    auto source = dao::OpenDatabase(args[0]);
    const QString& destName = args[2];
    auto dest = dao::pg::isUri(destName) || QFileInfo::exists(destName) ? dao::OpenDatabase(destName)
                                                                        : dao::CreateDatabase(destName);
    const long long rows = dao::CopyTable(*source, args[1], *dest, as, append);
    dest->Close();
    source->Close();
    line(QString::number(rows));
    return 0;
}

}  // namespace cli
