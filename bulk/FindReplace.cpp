#include "FindReplace.h"

#include "ToolSupport.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

#include <optional>

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
    prompts.beginRun();
    ProgressScope scope(progress, caption(), 0, 0);
    if (!hasRecords(rs) || readInputs().field < 0) return result;

    const dao::Fields fields = rs.Fields();
    // A field that is not text reads both texts as values of its type, as a cell of the grid does;
    // a text that is not one stops the tool before it changes anything.
    struct Typed {
        Inputs in;
        bool text = true;
        std::optional<dao::Variant> find;  // none for "*"
        dao::Variant change;
    };
    auto typed = [&](const Inputs& in) {
        Typed t;
        t.in = in;
        const dao::Field f = fields.Item(in.field);
        t.text = isTextField(f.Type());
        if (t.text) return t;
        const auto read = [&](const QString& text, const char* what) {
            if (text.isEmpty()) return dao::Variant::null();
            try {
                return dao::coerceToFieldType(dao::Variant::fromString(text), f.Type());
            } catch (const dao::Error& e) {
                dao::raise(e.number(), QStringLiteral("%1 \"%2\" is not a value of field %3 (%4); nothing was replaced.")
                                           .arg(QLatin1String(what), text, f.Name(), e.description()));
            }
        };
        if (in.find != QLatin1String("*")) t.find = read(in.find, "The text to find");
        t.change = read(in.change, "The replacement");
        return t;
    };
    Typed current = typed(readInputs());

    result.ran = true;
    progress.setMaximum(rs.RecordCount());
    rs.MoveFirst();

    while (!rs.Eof()) {
        const common::StepResult r = prompts.runStep([&] {
            try {
                const Inputs in = readInputs();
                if (in.field != current.in.field || in.find != current.in.find || in.change != current.in.change)
                    current = typed(in);
                dao::Field f = fields.Item(in.field);
                bool matches = in.find == QLatin1String("*");
                if (!matches && current.text) {
                    matches = dao::fieldEqualsText(f.Value(), in.find).value_or(false);
                } else if (!matches && current.find && !current.find->isNull()) {
                    // Both values in the field's type, compared in their text form (a date with a
                    // date, True with -1).
                    const dao::Variant v = f.Value();
                    if (!v.isNull()) {
                        try {
                            matches = dao::valueToText(dao::coerceToFieldType(v, f.Type())) ==
                                      dao::valueToText(*current.find);
                        } catch (const dao::Error&) {
                            matches = false;  // a value of another kind stored in the column
                        }
                    }
                }
                if (!matches) return;
                rs.Edit();
                f.setValue(current.text ? dao::Variant::fromString(in.change) : current.change);
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
        if (progress.stopRequested()) {
            result.stopped = !rs.Eof();
            break;
        }
    }
    return result;
}

}  // namespace bulk
