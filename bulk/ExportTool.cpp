#include "ExportTool.h"

#include <QHash>
#include <QLocale>
#include <QSaveFile>
#include <vector>

#include "TableTextFormat.h"
#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

namespace bulk {

namespace {

constexpr int kPathAccess = 75;
constexpr qsizetype kChunkChars = 1 << 18;
constexpr qsizetype kDateTexts = 1 << 16;

[[noreturn]] void fileError(const QSaveFile& f) {
    dao::raise(kPathAccess, QStringLiteral("Path/File access error: %1 (%2)").arg(f.fileName(), f.errorString()));
}

}  // namespace

ExportTool::ExportTool(std::shared_ptr<dao::Recordset> recordset, Progress& progress, Prompter& prompter)
    : rs_(std::move(recordset)), progress_(progress), prompts_(prompter) {
    prompts_.beginRun();
}

QString ExportTool::dialogTitle() { return QStringLiteral("Grabar tabla a un archivo de texto"); }
QString ExportTool::caption() { return QStringLiteral("Exportando..."); }

QString ExportTool::lineBreakQuestion(long long count) {
    return QStringLiteral(
               "%1 value(s) hold a line break, which the text file cannot keep: on import every later "
               "value would move down one line.\rWrite the file anyway?")
        .arg(count);
}

ExportResult ExportTool::run(const QString& tableName) {
    progress_.begin(caption(), 0, 0);
    const QString path = platform::SaveFileDialog(dialogTitle(), tableName + QStringLiteral(".txt"));
    if (path.isEmpty()) {
        // The dialog's cancel error: no message, nothing written.
        progress_.end();
        ExportResult r;
        r.cancelled = true;
        return r;
    }
    ExportResult r = writeTo(path);
    return r;
}

ExportResult ExportTool::writeTo(const QString& path) {
    struct EndGuard {
        Progress& p;
        ~EndGuard() { p.end(); }
    } endGuard{progress_};
    progress_.setCaption(caption());
    ExportResult result;
    // Written beside the target and put in place only when complete: whatever fails, an existing
    // file stays as it was (no direct-write fallback, which would empty it first).
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (prompts_.runStep([&] {
            if (!file.open(QIODevice::WriteOnly)) fileError(file);
        }) != common::StepResult::Done) {
        result.aborted = true;
        return result;
    }

    QString chunk;
    chunk.reserve(kChunkChars + 4096);
    // The text is kept until it is written, so that Retry writes it again.
    auto flush = [&] {
        if (chunk.isEmpty()) return;
        const QByteArray bytes = chunk.toUtf8();
        if (file.write(bytes) != bytes.size()) fileError(file);
        chunk.clear();
    };
    auto finish = [&](bool keep) {
        if (!keep) {
            file.cancelWriting();
            return;
        }
        if (prompts_.runStep([&] {
                flush();
                if (!file.commit()) fileError(file);
            }) != common::StepResult::Done)
            result.aborted = true;  // the file was not put in place
    };

    dao::Recordset& rs = *rs_;
    long long count = 0;
    // No records is a file of the header alone, a valid table text file.
    bool any = true;
    try {
        any = !rs.isOpen() || rs.RecordCount() > 0;
    } catch (const dao::Error&) {
        // reported by the step below
    }
    if (any && prompts_.runStep([&] {
                   rs.MoveLast();
                   count = rs.RecordCount();
               }) == common::StepResult::Aborted) {
        result.aborted = true;
        finish(false);
        return result;
    }
    progress_.setMaximum(count);

    const dao::Fields fields = rs.Fields();
    chunk += TableTextFormat::headerLine(fields.Count());
    chunk += QLatin1String(TableTextFormat::kLineEnd);

    if (any && prompts_.runStep([&] { rs.MoveFirst(); }) == common::StepResult::Aborted) {
        result.aborted = true;
        finish(false);
        return result;
    }
    // Dates repeat (days of birth, of orders): their text form, slow to build, is kept for reuse.
    QHash<double, QString> dateTexts;
    const QString decimalPoint = QLocale().decimalPoint();
    std::vector<dao::Field> columns;
    for (int i = 0; i < fields.Count(); ++i) columns.push_back(fields.Item(i));
    auto lineOf = [&](const dao::Variant& v) {
        if (v.type() != dao::Variant::Type::Date) return TableTextFormat::valueLine(v, decimalPoint);
        auto it = dateTexts.constFind(v.asDate());
        if (it != dateTexts.constEnd()) return *it;
        if (dateTexts.size() >= kDateTexts) dateTexts.clear();
        return *dateTexts.insert(v.asDate(), TableTextFormat::valueLine(v));
    };
    while (any && !rs.Eof()) {
        long long breaks = 0;
        const qsizetype mark = chunk.size();
        const common::StepResult step = prompts_.runStep([&] {
            chunk.truncate(mark);
            breaks = 0;
            for (const dao::Field& field : columns) {
                const dao::Variant v = field.Value();
                const QString line = lineOf(v);
                if (v.type() == dao::Variant::Type::String && TableTextFormat::hasLineBreak(line)) ++breaks;
                chunk += line;
                chunk += QLatin1String(TableTextFormat::kLineEnd);
            }
        });
        if (step != common::StepResult::Done) chunk.truncate(mark);
        if (step == common::StepResult::Aborted) {
            result.aborted = true;
            break;
        }
        if (step == common::StepResult::Done) {
            ++result.written;
            result.valuesWithLineBreaks += breaks;
            if (chunk.size() >= kChunkChars &&
                prompts_.runStep([&] { flush(); }) == common::StepResult::Aborted) {
                result.aborted = true;
                break;
            }
        }
        progress_.step(rs.AbsolutePosition());
        rs.MoveNext();
    }

    if (!result.aborted && result.valuesWithLineBreaks > 0 &&
        prompts_.message(lineBreakQuestion(result.valuesWithLineBreaks),
                         platform::vbQuestion | platform::vbYesNo | platform::vbDefaultButton2) != platform::vbYes) {
        result.declined = true;
        finish(false);
        return result;
    }
    // An aborted export is not complete: the old file stays.
    finish(!result.aborted);
    return result;
}

}  // namespace bulk
