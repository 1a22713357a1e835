#include "FieldOperations.h"

#include "ToolSupport.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"
#include "platform/dao/Error.h"
#include "platform/dao/FieldTypes.h"

#include <cmath>

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
        if (!hasRecords(rs) || in.field.isEmpty() || !(dao::typedNumber(in.value) > 0)) return result;
    }
    result.ran = true;
    rs.MoveLast();
    const qint64 n = rs.RecordCount();
    progress.setMaximum(n);
    rs.MoveFirst();
    const dao::Fields fields = rs.Fields();
    QString fieldName;
    int index = -1;
    TextNumber constant(dao::typedNumber);

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
                if (in.operation >= Add && in.operation <= Divide) {
                    // The value as a number, never through its text (a comma locale would cut it).
                    const dao::Variant old = f.Value();
                    const double k = constant.of(in.value);
                    if (old.type() == dao::Variant::Type::Date) {
                        // A date takes days added or subtracted; it cannot be multiplied.
                        if (in.operation != Add && in.operation != Subtract) dao::raise(dao::err::TypeMismatch);
                        f.setValue(dao::Variant::fromDate(dao::addDays(old.asDate(), in.operation == Add ? k : -k)));
                    } else {
                        const double v = apply(Operation(in.operation), dao::numberOf(old), k);
                        // Past the double range is an overflow; the record keeps its value.
                        if (!std::isfinite(v)) dao::raise(dao::err::Overflow);
                        f.setValue(dao::Variant::fromDouble(v));
                    }
                }
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
