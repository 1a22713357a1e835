#include "CopyFields.h"

#include "ToolSupport.h"
#include "platform/Prompts.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace bulk {

namespace {

// The field of that name, looked up again only when the name changes.
class FieldByName {
public:
    explicit FieldByName(const dao::Fields& fields) : fields_(fields) {}
    dao::Field get(const QString& name) {
        if (index_ < 0 || name != name_) {
            index_ = fields_.indexOf(name);
            if (index_ < 0) dao::raise(dao::err::ItemNotFound);
            name_ = name;
        }
        return fields_.Item(index_);
    }

private:
    dao::Fields fields_;
    QString name_;
    int index_ = -1;
};

}  // namespace

QString CopyFields::caption() {
    return QStringLiteral("Copying...");
}

QString CopyFields::sameFieldMessage() {
    return QStringLiteral("Can not copy data to the same field!");
}

QString CopyFields::errorTitle() {
    return QStringLiteral("Error in process");
}

QString CopyFields::errorText(const dao::Error& error, qint64 copied) {
    return error.description() + QStringLiteral(" #") + QString::number(error.number()) + QChar(13) +
           QStringLiteral("Records copied before the error: ") + QString::number(copied);
}

CopyFields::Result CopyFields::run(dao::Recordset& rs, const Inputs& inputs, Progress& progress,
                                   Prompter& prompts, bool reportErrors) {
    return run(rs, ReadInputs([&inputs] { return inputs; }), progress, prompts, reportErrors);
}

CopyFields::Result CopyFields::run(dao::Recordset& rs, const ReadInputs& readInputs, Progress& progress,
                                   Prompter& prompts, bool reportErrors) {
    Result result;
    {
        const Inputs first = readInputs();
        if (dao::sameFieldName(first.from, first.to)) {
            result.sameField = true;
            prompts.message(sameFieldMessage(), platform::vbExclamation);
            return result;
        }
    }

    ProgressScope scope(progress, caption(), 0, 0);
    // Set-up: a recordset without records fails below, at the first record.
    qint64 value = 0;
    try {
        rs.MoveLast();
        progress.setMaximum(rs.RecordCount() + 10);
        progress.step(0);
    } catch (const dao::Error&) {
    }

    try {
        value += 10;
        progress.step(value);
        rs.MoveFirst();
        const dao::Fields fields = rs.Fields();
        FieldByName source(fields), destination(fields);
        while (!rs.Eof()) {
            progress.step(++value);
            const Inputs in = readInputs();
            dao::Field s = source.get(in.from);
            dao::Field d = destination.get(in.to);
            const dao::Variant sv = s.Value();
            // Equal, or unknown (Null), is not different: not copied.
            if (dao::fieldEqualsText(sv, in.exclude).value_or(true)) {
                ++result.skipped;
            } else if (in.keepExisting && dao::fieldEqualsText(d.Value(), QString()) == false) {
                ++result.skipped;
            } else {
                try {
                    rs.Edit();
                    d.setValue(sv);
                    if (in.eraseSource)
                        s.setValue(isTextField(s.Type()) ? dao::Variant::fromString(QString())
                                                         : dao::Variant::fromDouble(0));
                    rs.Update();
                } catch (...) {
                    cancelPendingEdit(rs);
                    throw;
                }
                ++result.copied;
            }
            rs.MoveNext();
            if (progress.stopRequested() && !rs.Eof()) {
                result.stopped = true;
                break;
            }
        }
    } catch (const dao::Error& e) {
        result.error = e;
        if (reportErrors)
            prompts.message(errorText(e, result.copied), platform::vbExclamation | platform::vbOKOnly,
                            errorTitle());
    }
    return result;
}

}  // namespace bulk
