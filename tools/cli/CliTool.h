#pragma once

// What the bulk commands of tabulon-cli share: their flags, the prompts answered from those flags,
// a progress line on the terminal, and SOURCE opened as the browser would show it.

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "bulk/Progress.h"
#include "bulk/Prompter.h"
#include "platform/dao/Error.h"

namespace dao {
class Database;
class Recordset;
}  // namespace dao

namespace cli {

// Wrong usage of a command: main prints it with the usage text and exits 2.
struct CliUsageError {
    QString message;
};

// Writes to stderr as UTF-8.
void writeErr(const QString& text);

// An option a command takes: a flag ("--yes") or one with a value ("--limit N" or "--limit=N").
struct OptionSpec {
    QString name;
    bool takesValue = false;
};

// A command's arguments, read left to right. Before "--", an argument that is one of the command's
// options is that option, and the argument after an option that takes a value is its value,
// whatever it says; any other argument that looks like an option ("--name", "--name=...") is
// refused as unknown. All else is a value ("-", "-h", "-5", "-- comment" included), and so is
// every argument after "--".
class CommandArgs {
public:
    CommandArgs(QString command, const QStringList& args, const QList<OptionSpec>& options);

    bool flag(const QString& name) const { return flags_.contains(name); }
    // The value of an option (the last one given).
    std::optional<QString> option(const QString& name) const;
    // "--on-error ignore|abort": true for ignore.
    bool onErrorIgnore() const;
    const QStringList& values() const { return values_; }
    const QString& operator[](int i) const { return values_[i]; }
    // Fails with a usage error unless exactly `count` values were given.
    void expect(int count) const;

private:
    QString command_;
    QStringList values_;
    QStringList flags_;
    QList<std::pair<QString, QString>> options_;
};

// The options every command that reads FILE takes.
extern const QList<OptionSpec> kOnErrorOption;

// Whether a file is an SQLite database, from its first bytes.
bool isSqliteFile(const QString& path);

// "-" as a file name: stdin for a file read, stdout for a file written. The data goes through a
// temporary file (the tools read and write named files, written in place only when complete).
bool isStdStream(const QString& path);
// Copies stdin into a file in `dir` and gives its path.
QString stdinToFile(const QString& dir);
// Copies a file to stdout (false when stdout cannot take it).
bool fileToStdout(const QString& path);

// The prompts of a tool, answered without a user: a Yes/No question is answered Yes only when the
// command was given --yes; other messages are written to stderr. A refused step ends the operation
// (as Abort) and is kept for the exit status, or, with --on-error ignore, is written to stderr as a
// warning and the operation goes on (as Ignore).
class CliPrompter : public bulk::Prompter {
public:
    CliPrompter(bool ignoreErrors, bool yes) : ignoreErrors_(ignoreErrors), yes_(yes) {}

    int message(const QString& text, int style, const QString& title = QString()) override;
    common::StepResult runStep(const std::function<void()>& step) override;

    // The step that ended the operation, if one did.
    const std::optional<dao::Error>& refused() const { return refused_; }
    int ignored() const { return ignored_; }
    // Messages given (not questions), in order.
    const QStringList& messages() const { return messages_; }

private:
    bool ignoreErrors_;
    bool yes_;
    std::optional<dao::Error> refused_;
    int ignored_ = 0;
    QStringList messages_;
};

// A percentage on stderr, rewritten in place a few times a second, when stderr is a terminal;
// nothing otherwise (scripts read stderr for errors only).
// For a tool that can stop between two records (`stoppable`), Ctrl+C (SIGINT) asks it to stop at
// its next record boundary instead of ending the process, while the progress exists; a second
// Ctrl+C ends the process at once. Other tools leave Ctrl+C as it is.
class ConsoleProgress : public bulk::Progress {
public:
    explicit ConsoleProgress(bool stoppable = false);
    ~ConsoleProgress() override;
    bool stopRequested() override;
    // Whether Ctrl+C stopped the tool (the command then prints its count and exits 130).
    static bool interrupted();
    void begin(const QString& caption, qint64 minimum, qint64 maximum) override;
    void setMaximum(qint64 maximum) override { maximum_ = maximum; }
    void setCaption(const QString& caption) override { caption_ = caption; }
    void step(qint64 value) override;
    void end() override;

private:
    void show(qint64 value);
    bool tty_;
    bool stoppable_;
    bool shown_ = false;
    QString caption_;
    qint64 minimum_ = 0, maximum_ = 0;
    qint64 lastMs_ = 0;
};

// SOURCE (a table name or a select) opened as the browser shows it: every record, first one current.
struct OpenedSource {
    std::shared_ptr<dao::Database> db;
    std::shared_ptr<dao::Recordset> rs;
};
OpenedSource openSource(const QString& file, const QString& source);

// Commits what was written and closes the file (an error committing is thrown).
void finish(OpenedSource& opened);

// Exit status of a command stopped by Ctrl+C, as a shell reports a process ended by SIGINT.
constexpr int kExitInterrupted = 130;
// After a tool has printed its count: when Ctrl+C stopped it, says so on stderr and returns true.
bool reportIfInterrupted(qint64 done);

// When a step was refused, throws its error (main prints "error NUMBER: description", exit 1).
void throwIfRefused(const CliPrompter& prompts);

}  // namespace cli
