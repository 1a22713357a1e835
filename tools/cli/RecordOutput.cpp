#include "RecordOutput.h"

#include <QStringBuilder>
#include <cmath>
#include <vector>

#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace cli {

namespace {

using T = dao::Variant::Type;

QString hexText(const QByteArray& bytes) { return QStringLiteral("0x") + QString::fromLatin1(bytes.toHex()).toUpper(); }

// Shortest text that reads back as the same float.
QString singleText(float f) {
    for (int digits = 6; digits < 9; ++digits) {
        const QString s = QString::number(double(f), 'g', digits);
        if (s.toFloat() == f) return s;
    }
    return QString::number(double(f), 'g', 9);
}

// Whole part and four decimals of a currency value, trailing zeros dropped.
QString currencyText(int64_t v) {
    const bool negative = v < 0;
    const uint64_t a = negative ? uint64_t(0) - uint64_t(v) : uint64_t(v);
    QString text = QString::number(a / 10000);
    if (const uint64_t fraction = a % 10000) {
        QString digits = QString::number(fraction).rightJustified(4, QLatin1Char('0'));
        while (digits.endsWith(QLatin1Char('0'))) digits.chop(1);
        text += QLatin1Char('.') + digits;
    }
    return negative ? QLatin1Char('-') + text : text;
}

// Quoted when it holds the separator, a quote or a line break; an empty text as "" so that it
// differs from a Null.
QString csvQuoted(const QString& text, const QString& separator) {
    const bool quote = text.isEmpty() || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n')) ||
                       text.contains(QLatin1Char('\r')) || text.contains(separator);
    if (!quote) return text;
    QString q = text;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString jsonString(const QString& s) {
    QString out;
    out.reserve(s.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : s) {
        switch (c.unicode()) {
            case '"': out += QLatin1String("\\\""); break;
            case '\\': out += QLatin1String("\\\\"); break;
            case '\n': out += QLatin1String("\\n"); break;
            case '\r': out += QLatin1String("\\r"); break;
            case '\t': out += QLatin1String("\\t"); break;
            default:
                if (c.unicode() < 0x20)
                    out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
                else
                    out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

bool isFiniteNumber(const dao::Variant& v) {
    if (v.type() != T::Single && v.type() != T::Double) return true;
    return std::isfinite(v.asDouble());
}

QString jsonValue(const dao::Variant& v) {
    switch (v.type()) {
        case T::Empty:
        case T::Null:
            return QStringLiteral("null");
        case T::Boolean:
        case T::Byte:
        case T::Integer:
        case T::Long:
        case T::Currency:
        case T::Decimal:
            return machineText(v);
        case T::Single:
        case T::Double:
            // JSON has no infinity; such a value is no number it can hold.
            return isFiniteNumber(v) ? machineText(v) : QStringLiteral("null");
        case T::Binary:
            return jsonString(QString::fromLatin1(v.asBinary().toBase64()));
        default:
            return jsonString(machineText(v));
    }
}

}  // namespace

QString tsvEscaped(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (const QChar c : s) {
        const char* esc = c == u'\\'   ? "\\\\"
                          : c == u'\t' ? "\\t"
                          : c == u'\n' ? "\\n"
                          : c == u'\r' ? "\\r"
                                       : nullptr;
        if (esc)
            out += QLatin1String(esc);
        else
            out += c;
    }
    return out;
}

const QList<OptionSpec> kRecordFormatOptions = {
    {QStringLiteral("--tsv")},         {QStringLiteral("--csv")},
    {QStringLiteral("--json")},        {QStringLiteral("--header")},
    {QStringLiteral("--no-header")},   {QStringLiteral("--separator"), true},
    {QStringLiteral("--null"), true},
};

RecordOutputOptions recordOutputOptions(const CommandArgs& args, const std::optional<QString>& format) {
    RecordOutputOptions o;
    int chosen = 0;
    if (args.flag(QStringLiteral("--tsv"))) ++chosen;
    if (args.flag(QStringLiteral("--csv"))) ++chosen, o.format = RecordFormat::Csv;
    if (args.flag(QStringLiteral("--json"))) ++chosen, o.format = RecordFormat::Json;
    if (format) {
        if (chosen) throw CliUsageError{"--format and --tsv/--csv/--json do not go together"};
        if (*format == QLatin1String("tsv")) o.format = RecordFormat::Tsv;
        else if (*format == QLatin1String("csv")) o.format = RecordFormat::Csv;
        else if (*format == QLatin1String("json")) o.format = RecordFormat::Json;
        else throw CliUsageError{"--format takes text, tsv, csv or json, not \"" + *format + "\""};
    }
    if (chosen > 1) throw CliUsageError{"one of --tsv, --csv and --json"};
    const bool header = args.flag(QStringLiteral("--header")), noHeader = args.flag(QStringLiteral("--no-header"));
    if (header && noHeader) throw CliUsageError{"--header or --no-header, not both"};
    o.header = !noHeader;
    o.separator = args.option(QStringLiteral("--separator")).value_or(QString());
    o.null = args.option(QStringLiteral("--null"));
    if (o.format == RecordFormat::Json && (header || noHeader || args.option(QStringLiteral("--separator")) || o.null))
        throw CliUsageError{"--header, --no-header, --separator and --null go with TSV and CSV, not --json"};
    if (args.option(QStringLiteral("--separator")) && o.separator.isEmpty())
        throw CliUsageError{"--separator needs a text that is not empty"};
    if (o.format == RecordFormat::Csv && (o.separator.contains(QLatin1Char('"')) || o.separator.contains(QLatin1Char('\n')) ||
                                          o.separator.contains(QLatin1Char('\r'))))
        throw CliUsageError{"a CSV separator cannot hold a quote or a line break"};
    if (o.separator.isEmpty()) o.separator = o.format == RecordFormat::Csv ? QStringLiteral(",") : QStringLiteral("\t");
    return o;
}

QString machineText(const dao::Variant& v) {
    switch (v.type()) {
        case T::Empty:
        case T::Null:
            return QString();
        case T::Boolean:
            return v.asBool() ? QStringLiteral("true") : QStringLiteral("false");
        case T::Byte:
        case T::Integer:
        case T::Long:
            return QString::number(v.asInt());
        case T::Currency:
            return currencyText(v.asCurrency());
        case T::Decimal:
            return v.asString();  // its exact digits, '.' as the point
        case T::Single:
            if (!isFiniteNumber(v)) return dao::shortestNumberText(v.asDouble());
            return singleText(float(v.asDouble()));
        case T::Double:
            return dao::shortestNumberText(v.asDouble(), QLatin1Char('.'));
        case T::Date: {
            QString s = dao::storedDateText(v.asDate());
            s[10] = QLatin1Char('T');
            return s;
        }
        case T::String:
            return v.asString();
        case T::Binary:
            return hexText(v.asBinary());
    }
    return QString();
}

long long writeRecords(dao::Recordset& rs, const RecordOutputOptions& o, std::optional<long long> limit,
                       const ByteSink& sink) {
    const dao::Fields fields = rs.Fields();
    const int n = fields.Count();
    std::vector<dao::Field> columns;
    QStringList names;
    for (int i = 0; i < n; ++i) {
        columns.push_back(fields.Item(i));
        names << columns.back().Name();
    }
    const QString lineEnd = o.format == RecordFormat::Csv ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString text;
    auto flush = [&](bool always) {
        if (text.isEmpty() || (!always && text.size() < (1 << 16))) return;
        sink(text.toUtf8());
        text.clear();
    };
    if (o.format != RecordFormat::Json && o.header) {
        for (int i = 0; i < n; ++i) {
            if (i) text += o.separator;
            text += o.format == RecordFormat::Csv ? csvQuoted(names[i], o.separator) : tsvEscaped(names[i]);
        }
        text += lineEnd;
    }
    if (o.format == RecordFormat::Json) text += QLatin1Char('[');
    std::vector<QString> keys;
    for (const QString& name : names) keys.push_back(jsonString(name) + QLatin1Char(':'));
    long long written = 0;
    for (; !rs.Eof() && (!limit || written < *limit); ++written) {
        if (o.format == RecordFormat::Json) {
            text += written ? QStringLiteral(",\n{") : QStringLiteral("\n{");
            for (int i = 0; i < n; ++i) {
                if (i) text += QLatin1Char(',');
                text += keys[size_t(i)] + jsonValue(columns[size_t(i)].Value());
            }
            text += QLatin1Char('}');
        } else {
            for (int i = 0; i < n; ++i) {
                if (i) text += o.separator;
                const dao::Variant v = columns[size_t(i)].Value();
                if (v.isNull() || v.isEmpty()) {
                    text += o.null.value_or(QString());
                } else if (o.format == RecordFormat::Csv) {
                    text += csvQuoted(machineText(v), o.separator);
                } else {
                    // The browser's text of the value, under the system locale.
                    text += v.type() == T::Binary ? hexText(v.asBinary()) : tsvEscaped(dao::valueToText(v));
                }
            }
            text += lineEnd;
        }
        flush(false);
        rs.MoveNext();
    }
    if (o.format == RecordFormat::Json) text += written ? QStringLiteral("\n]\n") : QStringLiteral("]\n");
    flush(true);
    return written;
}

}  // namespace cli
