// tabulon-cli: the database engine from the command line, for scripts.

#include <QCoreApplication>
#include <QGuiApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <atomic>
#include <csignal>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>

#include "BulkCommands.h"
#include "CheckCommand.h"
#include "CliTool.h"
#include "RecordOutput.h"
#include "CopyTableCommand.h"
#include "ReportFileCommand.h"
#include "TextFileCommands.h"
#include "platform/dao/JetSql.h"
#include "platform/ReportListing.h"
#include "platform/dao/Conversions.h"
#include "platform/dao/Dao.h"
#include "platform/dao/JetSql.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by SIGINT

std::atomic<bool> interrupted{false};
std::atomic<bool> unsaved{false};

// Ctrl-C while an Access file is being read stops the reading (its helper and working copy go), and
// the program then exits with 130; at any other moment it ends the program at once, as it always did.
void onInterrupt(int) {
    interrupted.store(true);
    if (!dao::openIsReading()) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
}

const char kUsage[] =
    "Usage:\n"
    "  tabulon-cli tables FILE [--all]\n"
    "  tabulon-cli columns FILE TABLE\n"
    "  tabulon-cli query FILE SQL [--limit N] [--tsv|--csv|--json] [--header|--no-header]\n"
    "                    [--separator TEXT] [--null TEXT] [--output OUT] [--sqlite]\n"
    "  tabulon-cli report FILE SOURCE OUT.pdf\n"
    "  tabulon-cli report FILE REPORTFILE OUT.pdf\n"
    "  tabulon-cli replace FILE SOURCE FIELD FIND CHANGE [--on-error ignore]\n"
    "  tabulon-cli copy FILE SOURCE FROM TO [--exclude TEXT] [--keep-existing] [--erase-source]\n"
    "  tabulon-cli total FILE SOURCE FIELD\n"
    "  tabulon-cli operate FILE SOURCE FIELD OP VALUE [--on-error ignore]\n"
    "  tabulon-cli erase FILE SOURCE --yes\n"
    "  tabulon-cli verify FILE SOURCE FIELD [--yes] [--on-error ignore]\n"
    "  tabulon-cli export FILE SOURCE OUT [--format text|tsv|csv|json] [--yes] [--on-error ignore]\n"
    "  tabulon-cli import FILE TABLE IN [--on-error ignore]\n"
    "  tabulon-cli check FILE\n"
    "  tabulon-cli copy-table SOURCE TABLE DEST [--as NAME] [--append]\n"
    "  tabulon-cli --help | --version\n";

const char kHelp[] =
    "\n"
    "Reads and changes a database file through Tabulon's engine: SQLite read-write; Access/Jet\n"
    ".mdb/.accdb (Access 97 to 2019: Jet 3, Jet 4, ACE) read-write, changes written into the file\n"
    "itself, in place (keep a copy of a file you cannot lose). The format is recognised from the\n"
    "file's first bytes. Wherever FILE is named, a postgresql:// URI opens that database on its\n"
    "server instead.\n"
    "\n"
    "Commands:\n"
    "  tables FILE         the user tables, in engine order, one per line; --all adds the system\n"
    "                      tables (SQLite's sqlite_... tables).\n"
    "  columns FILE TABLE  one line per field: name, type code, size, type name (tab-separated).\n"
    "  query FILE SQL      SQL is Access (Jet) SQL: [names], #dates#, True/False, like 'J*', & ...\n"
    "                      A table name or a statement that gives records (select, with ... select,\n"
    "                      pragma, values, explain) prints its records; --limit N prints at most N.\n"
    "                      Any other statement (update, delete, insert, replace, create ...) is\n"
    "                      executed and prints the number of records affected. One statement per\n"
    "                      call: a text of two or more is refused (exit 2) and nothing runs.\n"
    "                      Comments (-- ... and /* ... */) are comments. SQL - reads the text from\n"
    "                      stdin. --sqlite hands the text to SQLite unchanged (SQLite files only).\n"
    "                      --output OUT writes the records to OUT instead of stdout.\n"
    "  report FILE SOURCE OUT.pdf\n"
    "                      the listing of a table (or a select) as a PDF file: title, field names as\n"
    "                      column headers on every page, one line per record, date and page numbers.\n"
    "                      OUT.pdf is replaced only when the listing is complete.\n"
    "  copy-table SOURCE TABLE DEST [--as NAME] [--append]\n"
    "                      makes TABLE of SOURCE in DEST (a postgresql:// URI, or an SQLite file,\n"
    "                      created when missing) with the same column types, primary key and not-null\n"
    "                      rules, copies every record and prints how many. A table DEST has already\n"
    "                      is refused (error 3010) unless --append adds the records to it.\n"
    "  report FILE REPORTFILE OUT.pdf\n"
    "                      the same for a report file (a name ending in .report): its title, columns\n"
    "                      and widths, order and selection formula over FILE (see the README).\n"
    "  check FILE          consistency check. An Access file (Jet 4 / ACE) is read page by page:\n"
    "                      page types, table definitions, record counts, usage maps, every index\n"
    "                      against the records, long-value chains. A SQLite file gets SQLite's\n"
    "                      integrity_check and foreign_key_check. One line per part; faults start\n"
    "                      with FAULT:, states Access itself leaves (stale record counts ...) with\n"
    "                      NOTE:, then \"check: N tables, M fault(s)\" (notes alone: exit 0).\n"
    "                      A password-protected or encrypted file is checked with its password\n"
    "                      from TABULON_PASSWORD, as every command reads it.\n"
    "\n"
    "Bulk tools, over SOURCE (a table name or a select: the records the browser would show):\n"
    "  replace FILE SOURCE FIELD FIND CHANGE\n"
    "                      sets FIELD to CHANGE where its value, as text, is exactly FIND (case-\n"
    "                      sensitive), or everywhere when FIND is \"*\" (Null values too). On other\n"
    "                      than text fields FIND and CHANGE are values of the field's type (a date, a\n"
    "                      number, True/False/Yes/No/-1/0, a GUID); any other text is an error before\n"
    "                      anything changes. Prints the number of records changed.\n"
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
    "                      number above 0 (the locale's decimal separator, or '.'); a date field takes\n"
    "                      days added (+) or subtracted (-). A result past the number range is\n"
    "                      error 6 and the record keeps its value. Prints the number of records\n"
    "                      processed.\n"
    "  erase FILE SOURCE --yes\n"
    "                      deletes the records of SOURCE; records that cannot be deleted stay. Prints\n"
    "                      \"N erased, M kept\". Without --yes nothing is erased, exit 2.\n"
    "  A step the engine refuses ends replace and operate with its error (exit 1); with\n"
    "  --on-error ignore the record is left as it was, the error is written to stderr, and the\n"
    "  command goes on. Records are committed as the tools go: those written before an error\n"
    "  (or an interruption) stay written.\n"
    "  Ctrl+C stops replace, copy, operate, erase and import after the record they are working\n"
    "  on: the count done is printed, the records committed stay changed, and the exit status is\n"
    "  130.\n"
    "  verify FILE SOURCE FIELD [--yes]\n"
    "                      makes FIELD unique over SOURCE: all but the last record of each group of\n"
    "                      equal values get new values above the highest; prints how many. Number\n"
    "                      and text fields only (others: error 3464). On a text field it asks\n"
    "                      first: without --yes the question goes to stderr, exit 2.\n"
    "  export FILE SOURCE OUT [--yes]\n"
    "                      the records of SOURCE to a table text file; prints how many. Values with a\n"
    "                      line break are asked about: without --yes nothing is written, exit 2.\n"
    "                      --format tsv|csv|json writes them as query does instead (with query's\n"
    "                      --header/--no-header, --separator and --null).\n"
    "  import FILE TABLE IN\n"
    "                      appends the records of a table text file to TABLE; prints how many. A\n"
    "                      header that does not fit TABLE: the format message on stderr, exit 1.\n"
    "  A step the engine refuses ends verify, export and import with its error (exit 1); with\n"
    "  --on-error ignore it is written to stderr and the command goes on.\n"
    "\n"
    "Output of query (and export --format):\n"
    "  --tsv (default)     one line per record, values tab-separated in their text form under the\n"
    "                      system locale (its decimal separator and short date form); yes/no as\n"
    "                      True/False; binary as 0x + hex digits. A backslash is written as \\\\, a\n"
    "                      tab as \\t, a line feed as \\n, a carriage return as \\r (names too).\n"
    "  --csv               RFC 4180: comma-separated, CRLF line ends, a value holding the separator,\n"
    "                      a quote or a line break in quotes (quotes doubled); an empty text is \"\".\n"
    "  --json              an array of objects, one per record, keyed by field name: numbers as\n"
    "                      numbers (whole numbers exact to 64 bits), yes/no as true/false, Null as\n"
    "                      null, binary as a base64 string, dates and texts as strings.\n"
    "  CSV and JSON do not depend on the locale: '.' decimals, dates as yyyy-MM-ddTHH:mm:ss\n"
    "  (ISO 8601), yes/no as true/false; CSV writes binary as 0x + hex digits.\n"
    "  --header/--no-header  a first line of field names (TSV and CSV; on by default).\n"
    "  --separator TEXT    the separator of TSV or CSV values; --null TEXT the text of a Null\n"
    "                      (empty by default). Output is UTF-8.\n"
    "\n"
    "Arguments: options go anywhere after the command, up to \"--\"; everything after \"--\", and\n"
    "the value of an option, is taken as it is. An argument that is not an option of the\n"
    "command (\"-h\", \"-5\", \"-\") is a value; an unknown one starting with -- is wrong usage.\n"
    "A file name \"-\" is stdout for export, report and query --output, and stdin for import.\n"
    "\n"
    "Exit status: 0 done; 1 an engine error, printed as \"error NUMBER: description\" on stderr\n"
    "(3024 file not found, 3343 not a database, 3027 read-only ...), changes that could not be\n"
    "saved included; 2 wrong usage, or a question (erase, verify, export) not answered with --yes;\n"
    "3 check found faults; 130 interrupted: a tool stopped by Ctrl+C (the records done stay), or\n"
    "Ctrl-C while an Access file was being read (nothing is left behind).\n";

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
    void write(const QByteArray& bytes) {
        buf_ += bytes;
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

// A table name as the browser writes it into SQL: plain names as they are, others in brackets, or
// in backquotes when they hold a "]" (a table may be called "select" or "a]b").
QString quotedName(const QString& name) {
    return dao::jetName(name);
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

TopLevel topLevel(const QString& text) {
    const QString sql = dao::blankSqlComments(text);
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

using cli::CommandArgs;
using cli::OptionSpec;
using cli::tsvEscaped;

int runTables(Output& out, const QStringList& argv) {
    const CommandArgs args(QStringLiteral("tables"), argv, {{QStringLiteral("--all")}});
    args.expect(1);
    auto db = dao::OpenDatabase(args[0]);
    const QStringList system = db->SystemTableDefs();
    QStringList names;
    for (const QString& name : db->TableDefs())
        if (!system.contains(name)) names << name;
    if (args.flag(QStringLiteral("--all"))) names += system;
    for (const QString& name : names) out.line(tsvEscaped(name));
    db->Close();
    return kExitOk;
}

int runColumns(Output& out, const QStringList& argv) {
    const CommandArgs args(QStringLiteral("columns"), argv, {});
    args.expect(2);
    auto db = dao::OpenDatabase(args[0]);
    {
        auto rs = db->OpenRecordset(sourceFor(*db, args[1]));
        const dao::Fields fields = rs->Fields();
        for (int i = 0; i < fields.Count(); ++i) {
            const dao::Field f = fields.Item(i);
            out.line(tsvEscaped(f.Name()) + '\t' + QString::number(f.Type()) + '\t' + QString::number(f.Size()) +
                     '\t' + dao::fieldTypeName(f.Type()));
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

int runReportCommand(const QStringList& argv) {
    const CommandArgs args(QStringLiteral("report"), argv, {});
    args.expect(3);
    // "-": the PDF is made in a temporary file and copied to stdout once complete.
    QTemporaryDir piped;
    const bool toStdout = cli::isStdStream(args[2]);
    const QString out = toStdout ? piped.filePath(QStringLiteral("report.pdf")) : args[2];
    const int code = cli::isReportFile(args[1]) ? cli::runReportFile(args[0], args[1], out)
                                                : runReport(args[0], args[1], out);
    if (code == kExitOk && toStdout && !cli::fileToStdout(out)) throw std::runtime_error("cannot write the output");
    return code;
}

const QList<OptionSpec> kQueryOptions = cli::kRecordFormatOptions + QList<OptionSpec>{
    {QStringLiteral("--limit"), true}, {QStringLiteral("--output"), true}, {QStringLiteral("--sqlite")}};

int runQuery(Output& out, const QStringList& argv) {
    const CommandArgs args(QStringLiteral("query"), argv, kQueryOptions);
    args.expect(2);
    const QString& file = args[0];
    std::optional<long long> limit;
    if (const auto value = args.option(QStringLiteral("--limit"))) {
        bool ok = false;
        limit = value->toLongLong(&ok);
        if (!ok || *limit < 0)
            throw UsageError{"--limit needs a whole number of 0 or more, not \"" + *value + "\""};
    }
    const cli::RecordOutputOptions format = cli::recordOutputOptions(args);
    const bool native = args.flag(QStringLiteral("--sqlite"));
    QString sql = args[1];
    if (cli::isStdStream(sql)) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly)) throw UsageError{"cannot read the SQL from stdin"};
        sql = QString::fromUtf8(in.readAll());
    }
    // One statement per call: SQLite would run the first and drop the rest.
    if (!native) {
        if (const int count = dao::sqlStatementCount(sql); count > 1)
            throw UsageError{QString("query runs one statement; the SQL holds %1 (nothing was run)").arg(count)};
        else if (count == 0)
            throw UsageError{"query needs a statement; the SQL holds none"};
    } else if (!cli::isSqliteFile(file)) {
        if (!QFileInfo(file).isFile()) dao::raise(dao::err::FileNotFound, QString("Could not find file '%1'.").arg(file));
        throw UsageError{"--sqlite works on SQLite files only"};
    }

    auto db = dao::OpenDatabase(file);
    const QString source = native ? sql : sourceFor(*db, sql);
    if ((native || source == sql) && !givesRecords(sql)) {
        const long long affected = db->Execute(sql, native ? dao::dbSQLPassThrough : 0);
        dao::flushAllWrites();  // an error committing must reach the exit code
        db->Close();
        out.line(QString::number(affected));
        return kExitOk;
    }
    const QString target = args.option(QStringLiteral("--output")).value_or(QStringLiteral("-"));
    std::optional<QSaveFile> saved;
    if (!cli::isStdStream(target)) {
        saved.emplace(target);
        if (!saved->open(QIODevice::WriteOnly))
            dao::raise(75, QString("Path/File access error: %1 (%2)").arg(target, saved->errorString()));
    }
    {
        auto rs = db->OpenRecordset(source, native ? dao::dbOpenSnapshot | dao::dbSQLPassThrough : 0);
        cli::writeRecords(*rs, format, limit, [&](const QByteArray& bytes) {
            if (!saved)
                out.write(bytes);
            else if (saved->write(bytes) != bytes.size())
                dao::raise(75, QString("Path/File access error: %1 (%2)").arg(target, saved->errorString()));
        });
        rs->Close();
    }
    db->Close();
    if (saved && !saved->commit())
        dao::raise(75, QString("Path/File access error: %1 (%2)").arg(target, saved->errorString()));
    return kExitOk;
}

int run(QStringList args, Output& out) {
    if (args.isEmpty()) throw UsageError{"a command is needed"};
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out.line(QString::fromLatin1(kUsage) + QString::fromLatin1(kHelp));
        return kExitOk;
    }
    if (command == QLatin1String("--version")) {
        out.line(QStringLiteral("tabulon-cli " TABULON_VERSION));
        return kExitOk;
    }
    if (command == QLatin1String("tables")) return runTables(out, args);
    if (command == QLatin1String("columns")) return runColumns(out, args);
    if (command == QLatin1String("query")) return runQuery(out, args);
    if (command == QLatin1String("report")) return runReportCommand(args);
    if (command == QLatin1String("check")) {
        const CommandArgs a(command, args, {});
        a.expect(1);
        return cli::runCheck(a[0], [&](const QString& l) { out.line(l); });
    }
    if (command == QLatin1String("copy-table")) return cli::runCopyTable(args, [&out](const QString& l) { out.line(l); });
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

}  // namespace

int main(int argc, char** argv) {
    // The value-to-text conversion uses QLocale(), which is the system locale (LANG / LC_*).
    // Only the report paints (fonts, PDF), so only it pays for a GUI application, on the offscreen
    // platform unless the caller chose another.
    std::unique_ptr<QCoreApplication> app;
    if (argc > 1 && std::strcmp(argv[1], "report") == 0) {
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
    dao::setOpenInterruptFlag(&interrupted);
    // A command reads its files and ends: a reader started ahead for a next one would be wasted.
    dao::setReaderAhead(false);
    // A Ctrl-C the caller chose to ignore (a background job of a script) stays ignored.
    if (std::signal(SIGINT, onInterrupt) == SIG_IGN) std::signal(SIGINT, SIG_IGN);
    // A connection dropped with changes it could not save has written why to stderr already.
    dao::setUnsavedChangesHandler([](const dao::Error&) { unsaved.store(true); });
    // A password comes from the environment only: a command line is visible to every user.
    dao::setPasswordSource([](const QString&) -> std::optional<QString> {
        if (!qEnvironmentVariableIsSet("TABULON_PASSWORD")) return std::nullopt;
        return qEnvironmentVariable("TABULON_PASSWORD");
    });
    Output out;
    int code = kExitOk;
    try {
        code = run(QCoreApplication::arguments().mid(1), out);
        dao::flushAllWrites();
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
        if (interrupted.load() && e.number() == dao::err::Cancelled) {
            writeErr(QStringLiteral("tabulon-cli: interrupted\n"));
            return kExitInterrupted;
        }
        writeErr(QString("error %1: %2\n").arg(e.number()).arg(e.description()));
        // A second statement (which SQLite's own SQL may hide from the splitter) is wrong usage.
        return e.number() == dao::err::CharactersAfterEnd ? kExitUsage : kExitError;
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
    if (unsaved.load() && code == kExitOk) return kExitError;
    return code;
}
