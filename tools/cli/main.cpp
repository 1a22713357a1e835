// tabulon-cli: the database engine from the command line, for scripts.

#include <QCoreApplication>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QStringList>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "BulkCommands.h"
#include "CheckCommand.h"
#include "CliTool.h"
#include "ReportFileCommand.h"
#include "TextFileCommands.h"
#include "platform/ReportListing.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage:\n"
    "  tabulon-cli tables FILE\n"
    "  tabulon-cli columns FILE TABLE\n"
    "  tabulon-cli query FILE SQL [--limit N]\n"
    "  tabulon-cli report FILE SOURCE OUT.pdf\n"
    "  tabulon-cli report FILE REPORTFILE OUT.pdf\n"
    "  tabulon-cli replace FILE SOURCE FIELD FIND CHANGE [--on-error ignore]\n"
    "  tabulon-cli copy FILE SOURCE FROM TO [--exclude TEXT] [--keep-existing] [--erase-source]\n"
    "  tabulon-cli total FILE SOURCE FIELD\n"
    "  tabulon-cli operate FILE SOURCE FIELD OP VALUE [--on-error ignore]\n"
    "  tabulon-cli erase FILE SOURCE --yes\n"
    "  tabulon-cli verify FILE SOURCE FIELD [--yes] [--on-error ignore]\n"
    "  tabulon-cli export FILE SOURCE OUT.txt [--yes] [--on-error ignore]\n"
    "  tabulon-cli import FILE TABLE IN.txt [--on-error ignore]\n"
    "  tabulon-cli check FILE\n"
    "  tabulon-cli --help\n";

const char kHelp[] =
    "\n"
    "Reads a database file (SQLite read-write; Access/Jet .mdb/.accdb read-only; the format is\n"
    "recognised from the file's first bytes) through Tabulon's engine.\n"
    "\n"
    "Commands:\n"
    "  tables FILE         every table name, in engine order, one per line\n"
    "  columns FILE TABLE  one line per field: name, type code, size (tab-separated)\n"
    "  query FILE SQL      a table name or a statement that gives records (select, with ... select,\n"
    "                      pragma, values, explain): a header line of field names, then one line per\n"
    "                      record, values tab-separated; --limit N prints at most N records.\n"
    "                      Any other statement (update, delete, insert, replace, create, with ... update,\n"
    "                      pragma name = value ...) is executed and prints the number of records\n"
    "                      affected. A statement the database refuses gives its own message.\n"
    "  report FILE SOURCE OUT.pdf\n"
    "                      the listing of a table (or a select) as a PDF file: title, field names as\n"
    "                      column headers on every page, one line per record, date and page numbers.\n"
    "                      OUT.pdf is replaced only when the listing is complete.\n"
    "  check FILE          consistency check of an Access file (Jet 4 / ACE), read-only: page types,\n"
    "                      table definitions, record counts, usage maps, every index against the\n"
    "                      records, long-value chains. One line per part; faults start with FAULT:.\n"
    "  report FILE REPORTFILE OUT.pdf\n"
    "                      the same for a report file (a name ending in .report): its title, columns\n"
    "                      and widths, order and selection formula over FILE (see the README).\n"
    "\n"
    "Bulk tools, over SOURCE (a table name or a select: the records the browser would show):\n"
    "  replace FILE SOURCE FIELD FIND CHANGE\n"
    "                      sets FIELD to CHANGE where its value, as text, is exactly FIND (case-\n"
    "                      sensitive), or everywhere when FIND is \"*\" (Null values too); number fields\n"
    "                      take the leading number of CHANGE. Prints the number of records changed.\n"
    "  copy FILE SOURCE FROM TO [--exclude TEXT] [--keep-existing] [--erase-source]\n"
    "                      copies field FROM into field TO, except where FROM is Null or its text equals\n"
    "                      TEXT (default empty); --keep-existing leaves TO where it is not empty;\n"
    "                      --erase-source clears FROM after copying. Prints the number of records\n"
    "                      copied; it ends at its first error. FROM equal to TO: exit 2.\n"
    "  total FILE SOURCE FIELD\n"
    "                      the total of FIELD as the browser shows it (\"###,###.00\", \"$\" in front for\n"
    "                      currency); Null values are skipped and counted on stderr.\n"
    "  operate FILE SOURCE FIELD OP VALUE\n"
    "                      FIELD OP VALUE into FIELD on every record, OP one of + - * / and VALUE a\n"
    "                      number above 0. Prints the number of records processed.\n"
    "  erase FILE SOURCE --yes\n"
    "                      deletes the records of SOURCE; records that cannot be deleted stay. Prints\n"
    "                      \"N erased, M kept\". Without --yes nothing is erased.\n"
    "  A step the engine refuses ends replace and operate with its error (exit 1); with\n"
    "  --on-error ignore the record is left as it was, the error is written to stderr, and the\n"
    "  command goes on. Records written before an error stay written.\n"
    "  verify FILE SOURCE FIELD [--yes]\n"
    "                      makes FIELD unique over SOURCE: all but the last record of each group of\n"
    "                      equal values get new values above the highest; prints how many. On a text\n"
    "                      field it asks first: without --yes the question goes to stderr, exit 2.\n"
    "  export FILE SOURCE OUT.txt [--yes]\n"
    "                      the records of SOURCE to a table text file; prints how many. Values with a\n"
    "                      line break are asked about: without --yes nothing is written, exit 2.\n"
    "  import FILE TABLE IN.txt\n"
    "                      appends the records of a table text file to TABLE; prints how many. A\n"
    "                      header that does not fit TABLE: the format message on stderr, exit 1.\n"
    "  A step the engine refuses ends verify, export and import with its error (exit 1); with\n"
    "  --on-error ignore it is written to stderr and the command goes on.\n"
    "\n"
    "Values are written in their text form under the system locale (decimal separator, short date\n"
    "form); yes/no as True/False; Null as an empty value; binary values as 0x + hex digits. So that\n"
    "one record stays one line, a backslash is written as \\\\, a tab as \\t, a line feed as \\n and\n"
    "a carriage return as \\r (in field and table names too). Output is UTF-8.\n"
    "\n"
    "Exit status: 0 done; 1 an engine error, printed as \"error NUMBER: description\" on stderr\n"
    "(3024 file not found, 3343 not a database, 3027 read-only ...); 2 wrong usage; 3 check found\n"
    "faults.\n";

struct UsageError {
    QString message;
};

// stdout in big UTF-8 writes; a failed write is reported once at the end.
class Output {
public:
    ~Output() { flush(); }
    void line(const QString& text) {
        buf_ += text.toUtf8();
        buf_ += '\n';
        if (buf_.size() >= 1 << 16) flush();
    }
    void flush() {
        if (!buf_.isEmpty() &&
            std::fwrite(buf_.constData(), 1, size_t(buf_.size()), stdout) != size_t(buf_.size()))
            failed_ = true;
        buf_.clear();
        if (std::fflush(stdout) != 0) failed_ = true;
    }
    bool failed() const { return failed_; }

private:
    QByteArray buf_;
    bool failed_ = false;
};

void writeErr(const QString& text) {
    const QByteArray b = text.toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
}

// Backslash escapes that keep a value on one line and out of the tab separators.
QString escaped(const QString& s) {
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

QString cellText(const dao::Variant& v) {
    if (v.isNull()) return {};
    if (v.type() == dao::Variant::Type::Binary)
        return "0x" + QString::fromLatin1(v.asBinary().toHex()).toUpper();
    return escaped(dao::valueToText(v));
}

// A table name as the browser writes it into SQL: plain names as they are, others in brackets, or
// in backquotes when they hold a "]" (a table may be called "select" or "a]b").
QString quotedName(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    static const QStringList reserved = {"select", "from", "where",   "order",  "by",   "group",
                                         "having", "and",  "or",      "not",    "like", "is",
                                         "null",   "in",   "between", "as",     "on",   "join",
                                         "union",  "with", "values",  "pragma", "table"};
    if (plain.match(name).hasMatch() && !reserved.contains(name.toLower())) return name;
    if (name.contains(']') && !name.contains('`')) return '`' + name + '`';
    return '[' + name + ']';
}

// A TABLE or SOURCE argument: a name the database lists is opened by its quoted name, anything
// else goes to the engine as written (a select, a bracketed name).
QString sourceFor(dao::Database& db, const QString& arg) {
    QString bare = arg.trimmed();
    if (bare.size() > 2 && bare.startsWith('[') && bare.endsWith(']')) bare = bare.mid(1, bare.size() - 2);
    for (const QString& table : db.TableDefs())
        if (table.compare(arg, Qt::CaseInsensitive) == 0 || table.compare(bare, Qt::CaseInsensitive) == 0)
            return QStringLiteral("select * from ") + quotedName(table);
    return arg;
}

// The words of an SQL text outside quotes, brackets and parentheses, lower-cased, and whether an
// "=" stands at that level.
struct TopLevel {
    QStringList words;
    bool assigns = false;
};

TopLevel topLevel(const QString& sql) {
    TopLevel out;
    int depth = 0;
    QString word;
    auto flush = [&] {
        if (!word.isEmpty() && depth == 0) out.words << word.toLower();
        word.clear();
    };
    for (int i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            flush();
            const QChar close = c == '[' ? QChar(']') : c;
            const int end = sql.indexOf(close, i + 1);
            if (end < 0) break;
            i = end;
        } else if (c == '(') {
            flush();
            ++depth;
        } else if (c == ')') {
            flush();
            depth = std::max(0, depth - 1);
        } else if (c.isLetterOrNumber() || c == '_') {
            word += c;
        } else {
            flush();
            if (c == '=' && depth == 0) out.assigns = true;
        }
    }
    flush();
    return out;
}

// Whether SQLite's answer to the text is records (select, values, explain, pragma that reads, a
// with … select) rather than a count of records changed (everything else).
bool givesRecords(const QString& sql) {
    const TopLevel t = topLevel(sql);
    if (t.words.isEmpty()) return true;
    const QString first = t.words.first();
    if (first == QLatin1String("select") || first == QLatin1String("values") ||
        first == QLatin1String("explain"))
        return true;
    if (first == QLatin1String("pragma")) return !t.assigns;
    if (first == QLatin1String("with")) {
        // The statement's own verb follows the common table expressions (whose bodies are nested).
        for (const QString& w : t.words) {
            if (w == QLatin1String("select") || w == QLatin1String("values")) return true;
            if (w == QLatin1String("update") || w == QLatin1String("delete") ||
                w == QLatin1String("insert") || w == QLatin1String("replace"))
                return false;
        }
        return true;
    }
    return false;
}

int runTables(Output& out, const QString& file) {
    auto db = dao::OpenDatabase(file);
    for (const QString& name : db->TableDefs()) out.line(escaped(name));
    db->Close();
    return kExitOk;
}

int runColumns(Output& out, const QString& file, const QString& table) {
    auto db = dao::OpenDatabase(file);
    {
        auto rs = db->OpenRecordset(sourceFor(*db, table));
        const dao::Fields fields = rs->Fields();
        for (int i = 0; i < fields.Count(); ++i) {
            const dao::Field f = fields.Item(i);
            out.line(escaped(f.Name()) + '\t' + QString::number(f.Type()) + '\t' + QString::number(f.Size()));
        }
        rs->Close();
    }
    db->Close();
    return kExitOk;
}

int runReport(const QString& file, const QString& source, const QString& out) {
    auto db = dao::OpenDatabase(file);
    {
        auto rs = db->OpenRecordset(sourceFor(*db, source));
        platform::ReportListing::writePdf(*rs, rs->Name(), out);
        rs->Close();
    }
    db->Close();
    return kExitOk;
}

int runQuery(Output& out, const QString& file, const QString& sql, std::optional<long long> limit) {
    auto db = dao::OpenDatabase(file);
    const QString source = sourceFor(*db, sql);
    if (source == sql && !givesRecords(sql)) {
        const long long affected = db->Execute(sql);
        dao::flushAllWrites();  // an error committing must reach the exit code
        db->Close();
        out.line(QString::number(affected));
        return kExitOk;
    }
    {
        auto rs = db->OpenRecordset(source);
        const dao::Fields fields = rs->Fields();
        const int n = fields.Count();
        QStringList cells;
        for (int i = 0; i < n; ++i) cells << escaped(fields.Item(i).Name());
        out.line(cells.join('\t'));
        for (long long row = 0; !rs->Eof() && (!limit || row < *limit); ++row) {
            cells.clear();
            for (int i = 0; i < n; ++i) cells << cellText(fields.Item(i).Value());
            out.line(cells.join('\t'));
            rs->MoveNext();
        }
        rs->Close();
    }
    db->Close();
    return kExitOk;
}

// Takes "--limit N" / "--limit=N" out of args.
std::optional<long long> takeLimit(QStringList& args) {
    std::optional<long long> limit;
    for (int i = 0; i < args.size();) {
        QString value;
        if (args[i] == QLatin1String("--limit")) {
            if (i + 1 >= args.size()) throw UsageError{"--limit needs a number"};
            value = args[i + 1];
            args.remove(i, 2);
        } else if (args[i].startsWith(QLatin1String("--limit="))) {
            value = args[i].mid(8);
            args.remove(i);
        } else {
            ++i;
            continue;
        }
        bool ok = false;
        const long long n = value.toLongLong(&ok);
        if (!ok || n < 0)
            throw UsageError{"--limit needs a whole number of 0 or more, not \"" + value + "\""};
        limit = n;
    }
    return limit;
}

int run(QStringList args, Output& out) {
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out.line(QString::fromLatin1(kUsage) + QString::fromLatin1(kHelp));
        return kExitOk;
    }
    const std::optional<long long> limit = takeLimit(args);
    if (args.isEmpty()) throw UsageError{"a command is needed"};
    const QString command = args.takeFirst();
    auto expect = [&](int count) {
        if (args.size() != count)
            throw UsageError{
                QString("%1 takes %2 argument(s), %3 given").arg(command).arg(count).arg(args.size())};
    };
    if (limit && command != QLatin1String("query")) throw UsageError{"--limit goes with query only"};
    if (command == QLatin1String("tables")) {
        expect(1);
        return runTables(out, args[0]);
    }
    if (command == QLatin1String("columns")) {
        expect(2);
        return runColumns(out, args[0], args[1]);
    }
    if (command == QLatin1String("query")) {
        expect(2);
        return runQuery(out, args[0], args[1], limit);
    }
    if (command == QLatin1String("report")) {
        expect(3);
        if (cli::isReportFile(args[1])) return cli::runReportFile(args[0], args[1], args[2]);
        return runReport(args[0], args[1], args[2]);
    }
    if (command == QLatin1String("check")) {
        expect(1);
        return cli::runCheck(args[0], [&](const QString& l) { out.line(l); });
    }
    if (cli::isBulkCommand(command))
        return cli::runBulkCommand(command, args, [&out](const QString& line) { out.line(line); });
    if (cli::isTextFileCommand(command)) {
        QString printed;
        const int code = cli::runTextFileCommand(command, args, printed);
        if (!printed.isEmpty()) out.line(printed);
        return code;
    }
    throw UsageError{"unknown command \"" + command + "\""};
}

// The command word, found as run() finds it (skipping --limit and its value).
QString commandOf(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--limit"))
            ++i;
        else if (!a.startsWith(QLatin1String("--limit=")))
            return a;
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    // The value-to-text conversion uses QLocale(), which is the system locale (LANG / LC_*).
    // Only the report paints (fonts, PDF), so only it pays for a GUI application, on the offscreen
    // platform unless the caller chose another.
    std::unique_ptr<QCoreApplication> app;
    if (commandOf(argc, argv) == QLatin1String("report")) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The platform's own notes (runtime folder, fonts) are no business of a script's stderr.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
            if (type == QtCriticalMsg || type == QtFatalMsg) writeErr(msg + '\n');
        });
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("tabulon-cli"));
    // A password comes from the environment only: a command line is visible to every user.
    dao::setPasswordSource([](const QString&) -> std::optional<QString> {
        if (!qEnvironmentVariableIsSet("TABULON_PASSWORD")) return std::nullopt;
        return qEnvironmentVariable("TABULON_PASSWORD");
    });
    Output out;
    int code = kExitOk;
    try {
        code = run(QCoreApplication::arguments().mid(1), out);
    } catch (const UsageError& e) {
        writeErr("tabulon-cli: " + e.message + "\n" + QString::fromLatin1(kUsage) +
                 "Run tabulon-cli --help for details.\n");
        return kExitUsage;
    } catch (const cli::CliUsageError& e) {
        writeErr("tabulon-cli: " + e.message + "\n" + QString::fromLatin1(kUsage) +
                 "Run tabulon-cli --help for details.\n");
        return kExitUsage;
    } catch (const dao::Error& e) {
        out.flush();
        writeErr(QString("error %1: %2\n").arg(e.number()).arg(e.description()));
        return kExitError;
    } catch (const std::exception& e) {
        out.flush();
        writeErr(QString("error: %1\n").arg(QString::fromLocal8Bit(e.what())));
        return kExitError;
    }
    out.flush();
    if (out.failed()) {
        writeErr("error: cannot write the output\n");
        return kExitError;
    }
    return code;
}
