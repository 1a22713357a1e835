#pragma once

// The records of query and export --format as text: tab-separated (the default, the browser's text
// of each value under the system locale), CSV (RFC 4180) or JSON (an array of objects). CSV and JSON
// are locale-free: '.' decimals, ISO 8601 dates, exact whole numbers.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "CliTool.h"

namespace dao {
class Recordset;
class Variant;
}  // namespace dao

namespace cli {

enum class RecordFormat { Tsv, Csv, Json };

struct RecordOutputOptions {
    RecordFormat format = RecordFormat::Tsv;
    bool header = true;            // a line of field names first (TSV and CSV)
    QString separator;             // empty: tab for TSV, comma for CSV
    std::optional<QString> null;   // the text of a Null (TSV and CSV); empty by default
};

// --tsv --csv --json --header --no-header --separator S --null TEXT.
extern const QList<OptionSpec> kRecordFormatOptions;

// The options given; `format` names the format instead of the flags when set (export --format,
// whose "text" is the table text file and is not asked for here). Contradictions are usage errors.
RecordOutputOptions recordOutputOptions(const CommandArgs& args, const std::optional<QString>& format = {});

using ByteSink = std::function<void(const QByteArray&)>;

// Writes the records of `rs` from the current one on, at most `limit` of them; gives how many.
long long writeRecords(dao::Recordset& rs, const RecordOutputOptions& options, std::optional<long long> limit,
                       const ByteSink& sink);

// A text kept on one line and out of the tab separators: \\, \t, \n and \r for backslash, tab,
// line feed and carriage return.
QString tsvEscaped(const QString& text);

// One value as the machine formats write it, outside any quoting: whole numbers and decimals
// exact with '.', dates as yyyy-MM-ddTHH:mm:ss, yes/no as true/false, binary as 0x + hex.
QString machineText(const dao::Variant& v);

}  // namespace cli
