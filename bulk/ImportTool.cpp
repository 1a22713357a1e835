#include "ImportTool.h"

#include <optional>
#include <vector>

#include "FieldTextParser.h"
#include "TableTextFormat.h"
#include "TableTextReader.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

namespace bulk {

ImportTool::ImportTool(std::shared_ptr<dao::Recordset> recordset, Progress& progress, Prompter& prompter)
    : rs_(std::move(recordset)), progress_(progress), prompts_(prompter) {
    prompts_.beginRun();
}

QString ImportTool::dialogTitle() { return QStringLiteral("Importar tabla de un archivo de texto"); }
QString ImportTool::caption() { return QStringLiteral("Importando..."); }

QString ImportTool::formatMessage() {
    return QStringLiteral(
        "El formato de el file es incorrecto! y/o el numero de campos del file es diferente al de la tabla.");
}

QString ImportTool::cutMessage(long long line) {
    return QStringLiteral("The file ends at line %1, in the middle of a record: that record was not added.")
        .arg(line);
}

ImportResult ImportTool::run(const QString& tableName) {
    progress_.begin(caption(), 0, 0);
    const QString path = platform::OpenFileDialog(dialogTitle(), tableName + QStringLiteral(".txt"));
    if (path.isEmpty()) {
        progress_.end();
        ImportResult r;
        r.cancelled = true;
        return r;
    }
    return readFrom(path);
}

ImportResult ImportTool::readFrom(const QString& path) {
    struct EndGuard {
        Progress& p;
        ~EndGuard() { p.end(); }
    } endGuard{progress_};
    progress_.setCaption(caption());
    ImportResult result;

    std::optional<TableTextReader> reader;
    if (prompts_.runStep([&] { reader.emplace(path); }) != common::StepResult::Done) {
        result.aborted = true;
        return result;
    }
    dao::Recordset& rs = *rs_;
    const dao::Fields fields = rs.Fields();
    const int n = fields.Count();
    // A first line of more than 80 bytes has 20 characters or more: refused without decoding it
    // (a binary or huge file may have no line end for a long way).
    const QString header =
        reader->atEnd() || reader->nextLineBytes() > 80 ? QString() : reader->readLine();
    if (!TableTextFormat::acceptsHeader(header, n)) {
        result.rejected = true;
        prompts_.message(formatMessage(), platform::vbCritical | platform::vbOKOnly);
        return result;
    }
    progress_.setMaximum(reader->size());

    std::vector<int> types(static_cast<size_t>(n), 0);
    std::vector<dao::Field> columns;
    for (int i = 0; i < n; ++i) {
        columns.push_back(fields.Item(i));
        types[size_t(i)] = columns.back().Type();
    }

    const FieldTextParser fast;
    // One line buffer per field: the value set from it last is released by the next AddNew, so
    // each buffer is filled again in place, record after record.
    std::vector<QString> lines(static_cast<size_t>(n));
    auto cancelRecord = [&] {
        try {
            if (rs.EditMode() != dao::dbEditNone) rs.CancelUpdate();
        } catch (const dao::Error&) {
        }
    };
    // The file's length in lines tells how many records it holds, those whose values are all empty
    // at its end included. Lines past the last whole record start one only when they hold anything
    // (empty lines at the end add nothing); such a record is cut short.
    const long long wholeRecords = reader->linesLeft() / n;
    for (long long record = 0; !reader->atEnd(); ++record) {
        if (record >= wholeRecords && reader->onlyEmptyLinesLeft()) break;
        common::StepResult step = prompts_.runStep([&] { rs.AddNew(); });
        if (step == common::StepResult::Aborted) {
            result.aborted = true;
            break;
        }
        // A record the engine would not even start is read past, not filled field by field.
        const bool building = step == common::StepResult::Done;
        for (int i = 0; i < n && !result.aborted; ++i) {
            if (reader->atEnd()) {
                result.cutAtLine = reader->lineNumber();
                break;
            }
            QString& line = lines[size_t(i)];
            reader->readLine(line);
            TableTextFormat::trimSpaces(line);
            progress_.step(reader->position());
            if (!building) continue;
            dao::Field& field = columns[size_t(i)];
            // Most values are taken at once; one the engine refuses goes to the operation error box.
            try {
                field.setValue(TableTextFormat::lineValue(line, types[size_t(i)], &fast));
                continue;
            } catch (const dao::Error&) {
            }
            if (prompts_.runStep([&] { field.setValue(TableTextFormat::lineValue(line, types[size_t(i)], &fast)); }) ==
                common::StepResult::Aborted)
                result.aborted = true;
        }
        if (result.aborted || result.cutAtLine) {
            cancelRecord();
            break;
        }
        if (!building) continue;
        step = prompts_.runStep([&] { rs.Update(); });
        if (step == common::StepResult::Done) {
            ++result.added;
            if (progress_.stopRequested() && !reader->atEnd() && !reader->onlyEmptyLinesLeft()) {
                result.stopped = true;
                break;
            }
        } else {
            cancelRecord();
            if (step == common::StepResult::Aborted) {
                result.aborted = true;
                break;
            }
        }
    }
    if (result.cutAtLine)
        prompts_.message(cutMessage(result.cutAtLine), platform::vbCritical | platform::vbOKOnly);
    return result;
}

}  // namespace bulk
