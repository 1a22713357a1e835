#include "CopyTableCommand.h"

#include <QFileInfo>

#include "CliTool.h"
#include "platform/dao/Dao.h"
#include "platform/dao/PgBackend.h"

namespace cli {

int runCopyTable(QStringList args, const std::function<void(const QString&)>& line) {
    const bool append = takeFlag(args, QStringLiteral("--append"));
    const QString as = takeOption(args, QStringLiteral("--as")).value_or(QString());
    if (args.size() != 3)
        throw CliUsageError{QString("copy-table takes 3 argument(s), %1 given").arg(args.size())};
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
