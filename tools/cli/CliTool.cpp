#include "CliTool.h"

#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <csignal>
#include <cstdio>

#include "platform/Prompts.h"
#include "platform/dao/Dao.h"

namespace cli {

void writeErr(const QString& text) {
    const QByteArray b = text.toUtf8();
    std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
    std::fflush(stderr);
}

CommandArgs::CommandArgs(QString command, const QStringList& args, const QList<OptionSpec>& options)
    : command_(std::move(command)) {
    bool valuesOnly = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (valuesOnly) {
            values_ << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            valuesOnly = true;
            continue;
        }
        bool matched = false;
        for (const OptionSpec& o : options) {
            if (a == o.name) {
                if (o.takesValue) {
                    if (i + 1 >= args.size()) throw CliUsageError{o.name + " needs a value"};
                    options_.append({o.name, args[++i]});
                } else {
                    flags_ << o.name;
                }
                matched = true;
            } else if (o.takesValue && a.startsWith(o.name + QLatin1Char('='))) {
                options_.append({o.name, a.mid(o.name.size() + 1)});
                matched = true;
            }
            if (matched) break;
        }
        if (matched) continue;
        // Only what looks like an option is refused: an SQL text opening with a "-- " comment is a value.
        static const QRegularExpression optionLike(QStringLiteral("^--[A-Za-z][A-Za-z0-9-]*(=|$)"));
        if (optionLike.match(a).hasMatch())
            throw CliUsageError{QString("%1 does not take %2 (a value that starts with -- goes after --)")
                                    .arg(command_, a)};
        values_ << a;
    }
}

std::optional<QString> CommandArgs::option(const QString& name) const {
    std::optional<QString> value;
    for (const auto& [n, v] : options_)
        if (n == name) value = v;
    return value;
}

bool CommandArgs::onErrorIgnore() const {
    const std::optional<QString> v = option(QStringLiteral("--on-error"));
    if (!v) return false;
    if (*v == QLatin1String("ignore")) return true;
    if (*v == QLatin1String("abort")) return false;
    throw CliUsageError{"--on-error takes ignore or abort, not \"" + *v + "\""};
}

void CommandArgs::expect(int count) const {
    if (values_.size() != count)
        throw CliUsageError{
            QString("%1 takes %2 argument(s), %3 given").arg(command_).arg(count).arg(values_.size())};
}

const QList<OptionSpec> kOnErrorOption = {{QStringLiteral("--on-error"), true}};

bool isSqliteFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(16) == QByteArray("SQLite format 3\0", 16);
}

bool isStdStream(const QString& path) { return path == QLatin1String("-"); }

QString stdinToFile(const QString& dir) {
    const QString path = dir + QStringLiteral("/stdin");
    QFile out(path);
    QFile in;
    if (!out.open(QIODevice::WriteOnly) || !in.open(stdin, QIODevice::ReadOnly))
        dao::raise(75, QStringLiteral("Path/File access error: cannot read standard input (%1)").arg(out.errorString()));
    for (;;) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty()) break;
        if (out.write(chunk) != chunk.size())
            dao::raise(75, QStringLiteral("Path/File access error: %1 (%2)").arg(path, out.errorString()));
    }
    return path;
}

bool fileToStdout(const QString& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) return false;
    std::fflush(stdout);
    for (;;) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty()) break;
        if (std::fwrite(chunk.constData(), 1, size_t(chunk.size()), stdout) != size_t(chunk.size())) return false;
    }
    return std::fflush(stdout) == 0;
}

int CliPrompter::message(const QString& text, int style, const QString&) {
    const int buttons = style & 7;
    if (buttons == platform::vbYesNo || buttons == platform::vbYesNoCancel)
        return yes_ ? platform::vbYes : platform::vbNo;
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    messages_ << line;
    writeErr(line + QLatin1Char('\n'));
    switch (buttons) {
        case platform::vbOKCancel:
            return platform::vbOK;
        case platform::vbAbortRetryIgnore:
            return ignoreErrors_ ? platform::vbIgnore : platform::vbAbort;
        case platform::vbRetryCancel:
            return platform::vbCancel;
        default:
            return platform::vbOK;
    }
}

common::StepResult CliPrompter::runStep(const std::function<void()>& step) {
    try {
        step();
        return common::StepResult::Done;
    } catch (const dao::Error& e) {
        // An interrupted open ends the command whatever --on-error says.
        if (e.number() == dao::err::Cancelled) throw;
        if (ignoreErrors_) {
            ++ignored_;
            writeErr(QString("ignored error %1: %2\n").arg(e.number()).arg(e.description()));
            return common::StepResult::Ignored;
        }
        if (!refused_) refused_ = e;
        return common::StepResult::Aborted;
    }
}

namespace {

volatile std::sig_atomic_t interruptedFlag = 0;
struct sigaction previousInt;

void onInterrupt(int) {
    interruptedFlag = 1;
    // A second Ctrl+C ends the process as usual.
    std::signal(SIGINT, SIG_DFL);
}

}  // namespace

ConsoleProgress::ConsoleProgress(bool stoppable) : tty_(isatty(STDERR_FILENO) != 0), stoppable_(stoppable) {
    interruptedFlag = 0;
    if (!stoppable_) return;
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &previousInt);
}

ConsoleProgress::~ConsoleProgress() {
    if (stoppable_) sigaction(SIGINT, &previousInt, nullptr);
}

bool ConsoleProgress::stopRequested() {
    return interruptedFlag != 0;
}

bool ConsoleProgress::interrupted() {
    return interruptedFlag != 0;
}

bool reportIfInterrupted(qint64 done) {
    if (!ConsoleProgress::interrupted()) return false;
    writeErr(QString("stopped by Ctrl+C after %1 record%2; the records done stay committed\n")
                 .arg(done)
                 .arg(done == 1 ? "" : "s"));
    return true;
}

void ConsoleProgress::begin(const QString& caption, qint64 minimum, qint64 maximum) {
    caption_ = caption;
    minimum_ = minimum;
    maximum_ = maximum;
    lastMs_ = 0;
}

void ConsoleProgress::step(qint64 value) {
    if (!tty_) return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastMs_ < 250) return;
    lastMs_ = now;
    show(value);
}

void ConsoleProgress::show(qint64 value) {
    const qint64 span = maximum_ - minimum_;
    const int percent = span > 0 ? int(std::clamp<qint64>((value - minimum_) * 100 / span, 0, 100)) : 100;
    writeErr(QString("\r%1 %2%").arg(caption_).arg(percent));
    shown_ = true;
}

void ConsoleProgress::end() {
    if (shown_) writeErr(QStringLiteral("\r\033[K"));
    shown_ = false;
}

OpenedSource openSource(const QString& file, const QString& source) {
    OpenedSource o;
    o.db = dao::OpenDatabase(file);
    o.rs = o.db->OpenRecordset(source, dao::dbOpenDynaset);
    return o;
}

void finish(OpenedSource& opened) {
    if (opened.rs) opened.rs->Close();
    opened.rs.reset();
    // An error committing the last batch must reach the exit status.
    dao::flushAllWrites();
    if (opened.db) opened.db->Close();
    opened.db.reset();
}

void throwIfRefused(const CliPrompter& prompts) {
    if (prompts.refused()) throw *prompts.refused();
}

}  // namespace cli
