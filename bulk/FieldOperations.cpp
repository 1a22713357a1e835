#include "FieldOperations.h"

#include "ToolSupport.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace bulk {

QString FieldOperations::caption() {
    return QStringLiteral("Working...");
}

FieldOperations::Operation FieldOperations::operationFromSign(const QString& sign) {
    if (sign == QLatin1String("+")) return Add;
    if (sign == QLatin1String("-")) return Subtract;
    if (sign == QLatin1String("*")) return Multiply;
    if (sign == QLatin1String("/")) return Divide;
    return None;
}

double FieldOperations::apply(Operation op, double v, double k) {
    switch (op) {
        case Add:
            return v + k;
        case Subtract:
            return v - k;
        case Multiply:
            return v * k;
        case Divide:
            return v / k;
        default:
            return v;
    }
}

FieldOperations::Result FieldOperations::run(dao::Recordset& rs, const Inputs& inputs, Progress& progress,
                                             Prompter& prompts) {
    return run(rs, ReadInputs([&inputs] { return inputs; }), progress, prompts);
}

FieldOperations::Result FieldOperations::run(dao::Recordset& rs, const ReadInputs& readInputs,
                                             Progress& progress, Prompter& prompts) {
    Result result;
    prompts.beginRun();
    ProgressScope scope(progress, caption(), 0, 0);
    {
        const Inputs in = readInputs();
        // Zero and negative constants are refused without a message: subtract with "-".
        if (!hasRecords(rs) || in.field.isEmpty() || !(dao::leadingNumber(in.value) > 0)) return result;
    }
    result.ran = true;
    rs.MoveLast();
    const qint64 n = rs.RecordCount();
    progress.setMaximum(n);
    rs.MoveFirst();
    const dao::Fields fields = rs.Fields();
    QString fieldName;
    int index = -1;
    TextNumber constant;

    while (!rs.Eof()) {
        const common::StepResult r = prompts.runStep([&] {
            try {
                const Inputs in = readInputs();
                rs.Edit();
                if (index < 0 || in.field != fieldName) {
                    index = fields.indexOf(in.field);
                    if (index < 0) dao::raise(dao::err::ItemNotFound);
                    fieldName = in.field;
                }
                dao::Field f = fields.Item(index);
                const double v = dao::leadingNumber(dao::valueToText(f.Value()));
                if (in.operation >= Add && in.operation <= Divide)
                    f.setValue(dao::Variant::fromDouble(apply(Operation(in.operation), v, constant.of(in.value))));
                rs.Update();
            } catch (...) {
                cancelPendingEdit(rs);
                throw;
            }
        });
        if (r == common::StepResult::Aborted) {
            result.aborted = true;
            break;
        }
        if (r == common::StepResult::Ignored)
            ++result.failed;
        else
            ++result.processed;
        rs.MoveNext();
        ++result.visited;
        if (result.visited <= n) progress.step(result.visited);
        if (progress.stopRequested()) {
            result.stopped = !rs.Eof();
            break;
        }
    }
    return result;
}

}  // namespace bulk
