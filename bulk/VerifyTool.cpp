#include "VerifyTool.h"

#include <QRegularExpression>
#include <memory>
#include <vector>

#include "Renumbering.h"
#include "platform/dao/JetSql.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

namespace bulk {

namespace {

QString bracketed(const QString& name) { return dao::jetName(name, dao::NameQuoting::Always); }

// The field's values of every record of the table behind a one-table record source, when the
// record source shows only some of them; empty when it shows them all or reads no single table.
// An engine error goes to the caller: without these values a filtered view could hand out a value
// a hidden record holds.
std::vector<dao::Variant> wholeTableValues(dao::Database& db, dao::Recordset& shown, const QString& field) {
    std::vector<dao::Variant> values;
    if (shown.Type() != dao::dbOpenDynaset) return values;
    const QString table = bracketed(shown.Name());
    auto count = db.OpenRecordset(QStringLiteral("select count(*) from ") + table);
    if (count->Fields().Item(0).Value().asDouble() == double(shown.RecordCount())) return values;
    // A field that is an expression or an alias has no column of that name: the records shown are
    // all there is to go by.
    auto columns = db.OpenRecordset(QStringLiteral("select top 1 * from ") + table, dao::dbOpenSnapshot);
    if (columns->Fields().indexOf(field) < 0) return values;
    auto all = db.OpenRecordset(QStringLiteral("select ") + bracketed(field) + QStringLiteral(" from ") + table);
    const long long n = all->RecordCount();
    values.reserve(size_t(n));
    for (long long i = 0; i < n; ++i) values.push_back(all->valueAt(i, 0));
    return values;
}

// The record source reduced to the one field, when that is plainly possible: a table name, or
// "select * from ..." (what the browser shows). Its records are the same in the same order: the
// engine picks a one-table select's records with a query that does not depend on the select list.
QString narrowSource(const QString& source, const QString& field) {
    static const QRegularExpression selectAll(QStringLiteral("^\\s*select\\s+\\*\\s+from\\s+"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QString head = QStringLiteral("select ") + bracketed(field) + QStringLiteral(" from ");
    const QRegularExpressionMatch m = selectAll.match(source);
    if (m.hasMatch()) return head + source.mid(m.capturedEnd());
    QString table = source.trimmed();
    if (table.startsWith(QLatin1Char('[')) && table.endsWith(QLatin1Char(']'))) table = table.mid(1, table.size() - 2);
    if (table.isEmpty() || table.contains(QLatin1Char(']')) || table.startsWith(QLatin1String("select"), Qt::CaseInsensitive))
        return {};
    return head + bracketed(table);
}

}  // namespace

VerifyTool::VerifyTool(const QString& databaseFile, const QString& recordSource, Progress& progress,
                       Prompter& prompter)
    : file_(databaseFile), source_(recordSource), progress_(progress), prompts_(prompter) {
    prompts_.beginRun();
}

QString VerifyTool::nothingChosenMessage() { return QStringLiteral("Ninguna acción a sido seleccionada!"); }

QString VerifyTool::textFieldQuestion() {
    return QStringLiteral("The selected field is of type text, this command\r"
                          "was not created for this, do you want to continue?");
}

QString VerifyTool::caption() { return QStringLiteral("Remplazando..."); }

bool VerifyTool::renumbers(int fieldType) {
    // Yes/No holds two values, a date is no identifier, binary data and GUIDs take no number.
    return dao::isNumberField(fieldType) || fieldType == dao::dbText || fieldType == dao::dbMemo;
}

QString VerifyTool::notRenumberedMessage(const QString& fieldName) {
    return QStringLiteral("Verify gives new numbers to number and text fields only; '%1' is not one of them.")
        .arg(fieldName);
}

VerifyResult VerifyTool::run(const QString& fieldName, bool checked) {
    VerifyResult result;
    if (fieldName.isEmpty() || !checked) {
        result.nothingChosen = true;
        prompts_.message(nothingChosenMessage(), platform::vbExclamation | platform::vbOKOnly);
        return result;
    }
    struct EndGuard {
        Progress& p;
        ~EndGuard() { p.end(); }
    } endGuard{progress_};
    progress_.begin(caption(), 0, 0);

    std::shared_ptr<dao::Database> db;
    std::shared_ptr<dao::Recordset> a;
    int field = -1;
    int type = 0;
    if (prompts_.runStep([&] {
            db = dao::OpenDatabase(file_);
            a = db->OpenRecordset(source_);
            const dao::Field f = a->Fields().Item(fieldName);
            field = f.OrdinalPosition();
            type = f.Type();
            // Refused before any record is read: a Yes/No field would look for a free value forever.
            if (!renumbers(type)) dao::raise(dao::err::DataTypeMismatch, notRenumberedMessage(f.Name()));
        }) != common::StepResult::Done) {
        result.failed = true;
        return result;
    }
    if (type == dao::dbText &&
        prompts_.message(textFieldQuestion(), platform::vbQuestion | platform::vbYesNo | platform::vbDefaultButton2) != platform::vbYes) {
        result.declined = true;
        return result;
    }

    // The work reads and writes the one field only, through the narrowed record source when it
    // shows the same records; otherwise through A itself.
    if (a->Type() == dao::dbOpenDynaset) {
        const QString narrow = narrowSource(source_, a->Fields().Item(field).Name());
        if (!narrow.isEmpty()) {
            try {
                auto b = db->OpenRecordset(narrow);
                if (b->Type() == dao::dbOpenDynaset && b->Fields().Count() == 1 &&
                    b->Fields().Item(0).Type() == type && b->RecordCount() == a->RecordCount()) {
                    a = b;
                    field = 0;
                }
            } catch (const dao::Error&) {
            }
        }
    }

    // One step per record and pass: the bar fits its range whatever the count and moves evenly.
    const long long n = a->RecordCount();
    result.records = n;
    progress_.setMaximum(2 * n);
    std::vector<dao::Variant> values;
    values.reserve(size_t(n));
    for (long long i = 0; i < n; ++i) {
        dao::Variant v = dao::Variant::null();
        try {
            v = a->valueAt(i, field);
        } catch (const dao::Error&) {
            // A record deleted meanwhile has no value to compare.
        }
        values.push_back(std::move(v));
        progress_.step(i + 1);
    }
    std::vector<dao::Variant> others;
    if (prompts_.runStep([&] { others = wholeTableValues(*db, *a, a->Fields().Item(field).Name()); }) !=
        common::StepResult::Done) {
        result.failed = true;
        return result;
    }
    Renumbering plan(std::move(values), type, others);

    dao::Field f = a->Fields().Item(field);
    auto runUpdate = [&](const std::function<void()>& update) {
        if (reportRefused_) return prompts_.runStep(update);
        try {
            update();
            return common::StepResult::Done;
        } catch (const dao::Error&) {
            return common::StepResult::Ignored;
        }
    };
    for (long long i = 0; i < n && !result.aborted; ++i) {
        if (plan.isDuplicate(size_t(i))) {
            const common::StepResult step = runUpdate([&] {
                const int32_t value = plan.proposal();
                a->setAbsolutePosition(i);
                a->Edit();
                try {
                    f.setValue(dao::Variant::fromLong(value));
                    a->Update();
                } catch (const dao::Error&) {
                    if (a->EditMode() != dao::dbEditNone) a->CancelUpdate();
                    throw;
                }
                plan.accepted(size_t(i), f.Value());
            });
            if (step == common::StepResult::Done) ++result.renumbered;
            else ++result.refused;
            if (step == common::StepResult::Aborted) result.aborted = true;
        }
        progress_.step(n + i + 1);
    }
    // The connection is the tool's own: its changes are saved before the run reports, so that one
    // the file refuses only at the commit (a deferred foreign key) is reported here, by the record.
    a.reset();
    if (prompts_.runStep([&] { db->Close(); }) == common::StepResult::Aborted) result.aborted = true;
    return result;
}

}  // namespace bulk
