#include "CliTool.h"

#include <unistd.h>

#include <QDateTime>
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

bool takeFlag(QStringList& args, const QString& name) {
    const qsizetype before = args.size();
    args.removeAll(name);
    return args.size() != before;
}

std::optional<QString> takeOption(QStringList& args, const QString& name) {
    std::optional<QString> value;
    const QString prefix = name + QLatin1Char('=');
    for (int i = 0; i < args.size();) {
        if (args[i] == name) {
            if (i + 1 >= args.size()) throw CliUsageError{name + " needs a value"};
            value = args[i + 1];
            args.remove(i, 2);
        } else if (args[i].startsWith(prefix)) {
            value = args[i].mid(prefix.size());
            args.remove(i);
        } else {
            ++i;
        }
    }
    return value;
}

bool takeOnErrorIgnore(QStringList& args) {
    const std::optional<QString> v = takeOption(args, QStringLiteral("--on-error"));
    if (!v) return false;
    if (*v == QLatin1String("ignore")) return true;
    if (*v == QLatin1String("abort")) return false;
    throw CliUsageError{"--on-error takes ignore or abort, not \"" + *v + "\""};
}

void expectArgs(const QString& command, const QStringList& args, int count) {
    for (const QString& a : args)
        if (a.startsWith(QLatin1String("--")) && a.size() > 2)
            throw CliUsageError{QString("%1 does not take %2").arg(command, a)};
    if (args.size() != count)
        throw CliUsageError{
            QString("%1 takes %2 argument(s), %3 given").arg(command).arg(count).arg(args.size())};
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
