#include "EraseRecords.h"

#include "ToolSupport.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

namespace bulk {

namespace {

QString records(qint64 n) {
    return QString::number(n) + (n == 1 ? QStringLiteral(" record") : QStringLiteral(" records"));
}

}  // namespace

QString EraseRecords::question() {
    return QStringLiteral("WARNING: This will erase all records in the screen!");
}

QString EraseRecords::caption() {
    return QStringLiteral("Borrando...");
}

bool EraseRecords::refusesOnlyThisRecord(const dao::Error& e) {
    switch (e.number()) {
        case dao::err::RelatedRecords:
        case dao::err::RelatedRecordRequired:
        case dao::err::ValidationRule:
        case dao::err::RecordDeleted:
            return true;
        default:
            return false;
    }
}

QString EraseRecords::outcomeText(const Result& r) {
    const QString counts =
        records(r.erased) + QStringLiteral(" erased, ") + records(r.kept) + QStringLiteral(" kept.");
    if (r.interrupted) return QStringLiteral("Stopped: ") + counts;
    if (r.stopped)
        return QStringLiteral("The records could not be erased: ") + r.stopped->description() +
               QStringLiteral(" - ") + QString::number(r.stopped->number()) + QChar(13) + counts;
    if (r.kept > 0) return counts + QChar(13) + QStringLiteral("The records kept could not be deleted.");
    return QString();
}

EraseRecords::Result EraseRecords::run(const Records& open, Progress& progress, Prompter& prompts,
                                       bool reportOutcome) {
    Result result;
    if (prompts.message(question(), platform::vbExclamation | platform::vbYesNo |
                                        platform::vbDefaultButton2) != platform::vbYes)
        return result;
    result.confirmed = true;
    {
        ProgressScope scope(progress, caption(), 0, 0);
        std::shared_ptr<dao::Recordset> rs;
        qint64 count = 0;
        try {
            rs = open();
            if (rs && hasRecords(*rs)) {
                rs->MoveLast();
                count = rs->RecordCount();
                progress.setMaximum(count);
                rs->MoveFirst();
            }
        } catch (const dao::Error&) {
            count = 0;  // nothing to erase
        }
        qint64 counter = 0;
        try {
            while (rs && count > 0 && !rs->Eof()) {
                progress.step(++counter);
                try {
                    rs->Delete();
                    ++result.erased;
                } catch (const dao::Error& e) {
                    if (!refusesOnlyThisRecord(e)) {
                        result.stopped = e;
                        break;
                    }
                    ++result.kept;
                }
                rs->MoveNext();
                if (progress.stopRequested() && !rs->Eof()) {
                    result.interrupted = true;
                    break;
                }
            }
        } catch (const dao::Error&) {
            // The recordset cannot go on: what is left stays.
        }
        result.kept = qMax<qint64>(result.kept, count - result.erased);
    }
    if (reportOutcome) {
        const QString text = outcomeText(result);
        if (!text.isEmpty()) prompts.message(text, platform::vbExclamation);
    }
    return result;
}

}  // namespace bulk
