#include "FindReplace.h"

#include "ToolSupport.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace bulk {

QString FindReplace::caption() {
    return QStringLiteral("Remplazando...");
}

FindReplace::Result FindReplace::run(dao::Recordset& rs, const Inputs& inputs, Progress& progress,
                                     Prompter& prompts) {
    return run(rs, ReadInputs([&inputs] { return inputs; }), progress, prompts);
}

FindReplace::Result FindReplace::run(dao::Recordset& rs, const ReadInputs& readInputs, Progress& progress,
                                     Prompter& prompts) {
    Result result;
    ProgressScope scope(progress, caption(), 0, 0);
    if (!hasRecords(rs) || readInputs().field < 0) return result;

    result.ran = true;
    progress.setMaximum(rs.RecordCount());
    rs.MoveFirst();
    const dao::Fields fields = rs.Fields();
    TextNumber number;

    while (!rs.Eof()) {
        const common::StepResult r = prompts.runStep([&] {
            try {
                const Inputs in = readInputs();
                dao::Field f = fields.Item(in.field);
                const bool matches =
                    in.find == QLatin1String("*") || dao::fieldEqualsText(f.Value(), in.find).value_or(false);
                if (!matches) return;
                rs.Edit();
                if (isTextField(f.Type())) {
                    f.setValue(dao::Variant::fromString(in.change));
                } else {
                    f.setValue(dao::Variant::fromDouble(number.of(in.change)));
                }
                rs.Update();
                ++result.changed;
            } catch (...) {
                cancelPendingEdit(rs);
                throw;
            }
        });
        if (r == common::StepResult::Aborted) {
            result.aborted = true;
            break;
        }
        rs.MoveNext();
        progress.step(++result.visited);
    }
    return result;
}

}  // namespace bulk
