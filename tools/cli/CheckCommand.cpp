#include "CheckCommand.h"

#include <QFileInfo>

#include "platform/dao/Error.h"
#include "platform/dao/JetCheck.h"

namespace cli {

int runCheck(const QString& file, const std::function<void(const QString&)>& line) {
    if (!QFileInfo(file).isFile())
        dao::raise(dao::err::FileNotFound, QString("Could not find file '%1'.").arg(file));
    const dao::jet::CheckReport rep = dao::jet::JetCheck::run(file);
    for (const QString& l : rep.lines) line(l);
    if (!rep.complete && rep.faults == 0) return 1;
    return rep.faults ? kExitFaults : 0;
}

}  // namespace cli
