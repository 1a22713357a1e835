#include "JetReader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "Error.h"
#include "JetReaderHelper.h"

extern char** environ;

namespace dao::jet {

namespace {

void removeOutput(const QByteArray& path) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm", "-damage"})
        ::unlink((path + suffix).constData());
}

[[noreturn]] void unrecognized(const QString& jetPath) {
    raise(err::UnrecognizedFormat,
          QStringLiteral("Unrecognized database format '%1'.").arg(QDir::toNativeSeparators(jetPath)));
}

[[noreturn]] void interrupted(const QString& jetPath) {
    raise(err::Cancelled,
          QStringLiteral("The opening of '%1' was interrupted.").arg(QDir::toNativeSeparators(jetPath)));
}

std::atomic<const std::atomic<bool>*> interruptFlag{nullptr};
std::atomic<bool> readerAhead{true};
std::atomic<int> converting{0};

bool executable(const QString& path) {
    return !path.isEmpty() && ::access(QFile::encodeName(path).constData(), X_OK) == 0 && QFileInfo(path).isFile();
}

// The helper beside the binary this code is part of: the program, or a library (libvelloform.so)
// loaded into another program. In the build tree it sits in the top folder (tests and benchmarks
// run one folder down); installed, in libexec/tabulon beside bin/ and lib/ (two folders up from a
// library in a multiarch folder, lib/<triplet>/).
QString readerHelperPath() {
    const QString forced = qEnvironmentVariable("TABULON_JET_READER");
    if (!forced.isEmpty()) return executable(forced) ? forced : QString();
    QStringList folders;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&readerHelperPath), &info) && info.dli_fname &&
        std::strchr(info.dli_fname, '/'))
        folders << QFileInfo(QFile::decodeName(info.dli_fname)).canonicalPath();
    folders << QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    const QString name = QLatin1String(HelperExit::kProgramName);
    const QString libexec = QStringLiteral(TABULON_LIBEXECDIR);
    for (const QString& folder : folders) {
        if (folder.isEmpty()) continue;
        const QDir d(folder);
        for (const QString& candidate :
             {d.filePath(name), QDir::isAbsolutePath(libexec) ? libexec + '/' + name : d.filePath("../" + libexec + '/' + name),
              d.filePath("../../" + libexec + '/' + name), d.filePath("../" + name)})
            if (executable(candidate)) return QDir::cleanPath(candidate);
    }
    return {};
}

// Starts the helper in a process group of its own (a terminal's Ctrl-C goes to the program, which
// decides), with default signal handling and nothing inherited but the standard streams: its
// progress lines come through a pipe, whose reading end is returned in *progressFd; its standard
// input is `input`, or /dev/null when -1. -errno when it cannot be started.
pid_t spawnHelper(const QString& helper, const std::vector<QByteArray>& args, int input, int* progressFd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -errno;
    // Our end never blocks: the helper's end may live on in a process another thread started.
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGCHLD,
                    SIGALRM, SIGUSR1, SIGUSR2})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    const QByteArray program = QFile::encodeName(helper);
    const QByteArray parent = QByteArray::number(qint64(::getpid()));
    std::vector<char*> argv{const_cast<char*>(program.constData()), const_cast<char*>(parent.constData())};
    for (const QByteArray& a : args) argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.constData(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return -rc;
    }
    *progressFd = fds[0];
    return pid;
}

// ---- A spare helper ----------------------------------------------------------------------------
// Starting the helper (loading its libraries) costs more than reading a small file's first records.
// So one is started ahead, after each opening, and the next opening hands it its paths. A spare is
// started by a thread that lives as long as the process (the helper dies with the thread that
// started it), is used only by the process that started it, and only with the helper and the
// environment it was started with.

// The environment and the working folder, as a number that changes when they do.
size_t environmentMark() {
    size_t h = 0;
    for (char** e = environ; *e; ++e) h = h * 1000003u ^ std::hash<std::string_view>{}(*e);
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) h = h * 1000003u ^ std::hash<std::string_view>{}(cwd);
    return h;
}

class SpareHelpers {
public:
    // The one of this process; null in a child forked from it, which starts its helpers itself.
    static SpareHelpers* get() {
        static SpareHelpers* const spares = new SpareHelpers;  // never destroyed: its thread runs to the end
        return spares->owner_ == ::getpid() ? spares : nullptr;
    }

    // The spare, handed the job (the three paths, NUL-ended); its pid and standard output, or -1.
    pid_t take(const QString& helper, const QByteArray& job, int* progressFd) {
        Spare s;
        {
            std::lock_guard<std::mutex> g(mu_);
            std::swap(s, spare_);
        }
        if (s.pid <= 0) return -1;
        bool reaped = false;
        bool ok = s.helper == helper && s.mark == environmentMark();
        if (ok) {
            const pid_t r = ::waitpid(s.pid, nullptr, WNOHANG);
            reaped = r != 0;
            ok = r == 0;
        }
        for (size_t off = 0; ok && off < size_t(job.size());) {
            const ssize_t n = ::send(s.input, job.constData() + off, size_t(job.size()) - off, MSG_NOSIGNAL);
            if (n > 0) off += size_t(n);
            else if (n < 0 && errno == EINTR) continue;
            else ok = false;
        }
        ::close(s.input);
        if (ok) {
            *progressFd = s.output;
            return s.pid;
        }
        ::close(s.output);
        if (!reaped) {
            ::kill(s.pid, SIGKILL);
            while (::waitpid(s.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        return -1;
    }

    // Has a spare of this helper started, unless there is one.
    void want(const QString& helper) {
        {
            std::lock_guard<std::mutex> g(mu_);
            wanted_ = helper;
            if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
        }
        cv_.notify_one();
    }

private:
    struct Spare {
        pid_t pid = -1;
        int input = -1;   // a socket: a spare gone makes the job's send fail rather than raise SIGPIPE
        int output = -1;
        QString helper;
        size_t mark = 0;
    };

    void run() {
        std::unique_lock<std::mutex> g(mu_);
        for (;;) {
            cv_.wait(g, [&] { return !wanted_.isEmpty(); });
            const QString helper = std::exchange(wanted_, QString());
            if (spare_.pid > 0) continue;
            g.unlock();
            Spare s = start(helper);
            g.lock();
            spare_ = s;  // still empty: only this thread fills it
        }
    }

    static Spare start(const QString& helper) {
        Spare s;
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return s;
        s.mark = environmentMark();
        const pid_t pid = spawnHelper(helper, {QByteArray(HelperExit::kSpare)}, sv[1], &s.output);
        ::close(sv[1]);
        if (pid < 0) {
            ::close(sv[0]);
            return Spare{};
        }
        s.pid = pid;
        s.input = sv[0];
        s.helper = helper;
        return s;
    }

    const pid_t owner_ = ::getpid();
    std::mutex mu_;
    std::condition_variable cv_;
    QString wanted_;
    Spare spare_;
    std::thread thread_;
};

QList<DamagedTable> readDamageLog(const QByteArray& path) {
    QList<DamagedTable> tables;
    QFile f(QFile::decodeName(path));
    if (!f.open(QIODevice::ReadOnly)) return tables;
    const QList<QByteArray> parts = f.readAll().split('\0');
    for (qsizetype i = 0; i + 2 < parts.size(); i += 3)
        tables.append({QString::fromUtf8(parts[i]), parts[i + 1].toLongLong(), parts[i + 2].toLongLong()});
    return tables;
}

}  // namespace

bool looksLikeJet(const QByteArray& firstBytes) {
    if (firstBytes.size() < 4 + 15) return false;
    const QByteArray sig = firstBytes.mid(4, 15);
    return sig == "Standard Jet DB" || sig == "Standard ACE DB";
}

struct JetFill::Run {
    QString jetPath;
    QString helper;
    QByteArray dst, damagePath;
    pid_t pid = -1;
    int output = -1;  // the helper's standard output
    bool reaped = false;
    std::chrono::steady_clock::time_point start;
    std::chrono::milliseconds limit{0};
    std::string pending;  // an incomplete line
    std::atomic<qint64> done{0}, total{0};
    bool ready = false;
    QHash<QString, qint64> counted;  // complete once ready; read-only afterwards
    std::atomic<bool> stop{false};
    int wake[2] = {-1, -1};  // a byte written to wake[1] makes pump look at stop at once
    FillEnd onEnd;
    std::thread thread;

    // Set with ended, read without the lock: a walk asks for every value it reads.
    std::atomic<bool> endedNow{false};
    mutable std::mutex mu;  // guards what follows
    mutable std::condition_variable ended_;
    bool ended = false;
    qint64 news = 0;  // progress lines so far
    int errorNumber = 0;
    QString errorText;
    QList<DamagedTable> damaged;
    QHash<QString, qint64> copied;

    ~Run() {
        if (output >= 0) ::close(output);
        for (int fd : wake)
            if (fd >= 0) ::close(fd);
        if (!reaped && pid > 0) {
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        if (pid > 0 && !ended) --converting;  // dropped before it was waited for
    }

    void requestStop() {
        stop = true;
        const char byte = 1;
        if (::write(wake[1], &byte, 1) < 0) {
        }
    }

    void takeLine(const std::string& line) {
        if (line == JetReaderLine::kReady) {
            ready = true;
            return;
        }
        if (line.size() > 2 && (line[0] == JetReaderLine::kCounted || line[0] == JetReaderLine::kCopied) &&
            line[1] == ' ') {
            char* end = nullptr;
            const long long n = std::strtoll(line.c_str() + 2, &end, 10);
            if (!end || *end != ' ') return;
            const QString name = QString::fromUtf8(end + 1).toLower();
            if (line[0] == JetReaderLine::kCounted) {
                // Complete at READY, and read without a lock from then on.
                if (!ready) counted.insert(name, n);
            } else {
                std::lock_guard<std::mutex> g(mu);
                copied.insert(name, n);
            }
            return;
        }
        long long d = 0, t = 0;
        if (std::sscanf(line.c_str(), "%lld %lld", &d, &t) == 2) {
            done = d;
            total = t;
            // Also said after each commit of the copy: a reader waiting for records looks again.
            {
                std::lock_guard<std::mutex> g(mu);
                ++news;
            }
            ended_.notify_all();
        }
    }

    // Reads what the helper has written, line by line: 1 when something came, 0 at the end of its
    // output, -1 when nothing is there now.
    int readOutput() {
        char chunk[4096];
        const ssize_t n = ::read(output, chunk, sizeof chunk);
        if (n > 0) {
            pending.append(chunk, size_t(n));
            size_t from = 0, end;
            while ((end = pending.find('\n', from)) != std::string::npos) {
                takeLine(pending.substr(from, end - from));
                from = end + 1;
            }
            pending.erase(0, from);
            return 1;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return -1;
        ::close(output);
        output = -1;
        return 0;
    }

    enum class End { Ready, Exited, Stopped, TimedOut, Lost };

    // Watched rather than waited for: the helper may hang inside libmdb, and the caller may give up.
    // Until the helper says it is ready (untilReady) or ends.
    End pump(const ConvertWatch* watch, bool untilReady, int* status) {
        int nap = 1;
        bool reported = true;
        auto lastReport = std::chrono::steady_clock::now();
        for (;;) {
            pollfd p[2] = {{wake[0], POLLIN, 0}, {output, POLLIN, 0}};
            // Its output closed, the helper is about to end: look again soon.
            const int ready_ = ::poll(p, output >= 0 ? 2 : 1, output >= 0 ? 20 : nap);
            if (output < 0) nap = std::min(nap * 2, 20);
            if (ready_ > 0 && output >= 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                const qint64 before = done;
                readOutput();
                if (done != before) reported = false;
            }
            if (untilReady && ready) return End::Ready;
            // Now and then even without news, so that a window showing it stays alive.
            if (watch && watch->progress &&
                (!reported || std::chrono::steady_clock::now() - lastReport > std::chrono::milliseconds(100))) {
                reported = true;
                lastReport = std::chrono::steady_clock::now();
                watch->progress(done, total);
            }
            const pid_t r = waitpid(pid, status, WNOHANG);
            if (r == pid) {
                reaped = true;
                return End::Exited;
            }
            if (r < 0 && errno != EINTR) {
                reaped = true;  // lost (someone else reaped it)
                return End::Lost;
            }
            const std::atomic<bool>* process = interruptFlag.load();
            const bool stopped =
                stop.load() || (watch && watch->cancel && watch->cancel->load()) || (process && process->load());
            if (stopped || std::chrono::steady_clock::now() - start > limit) {
                kill(pid, SIGKILL);
                while (waitpid(pid, status, 0) < 0 && errno == EINTR) {
                }
                reaped = true;
                return stopped ? End::Stopped : End::TimedOut;
            }
        }
    }

    // Takes the helper's end: the damaged tables, or the error. onEnd is told either way.
    void finish(End how, int status) {
        // The last lines may have come with the end (what a stopped helper's own children may
        // still hold open is not waited for).
        while (output >= 0 && readOutput() > 0) {
        }
        int number = 0;
        QString text;
        const QString shown = QDir::toNativeSeparators(jetPath);
        if (how == End::Stopped) {
            number = err::Cancelled;
            text = QStringLiteral("The opening of '%1' was interrupted.").arg(shown);
        } else if (how != End::Exited || !WIFEXITED(status) || WEXITSTATUS(status) != HelperExit::Ok) {
            number = err::UnrecognizedFormat;
            text = how == End::Exited && WIFEXITED(status) && WEXITSTATUS(status) == HelperExit::CatalogDamaged
                       ? QStringLiteral("The database '%1' is damaged: its catalog of tables cannot be read "
                                        "completely.").arg(shown)
                       : QStringLiteral("Unrecognized database format '%1'.").arg(shown);
        }
        QList<DamagedTable> found;
        if (!number) {
            found = readDamageLog(damagePath);
            ::unlink(damagePath.constData());
        }
        if (onEnd) {
            try {
                onEnd(number ? nullptr : &found);
            } catch (const Error& e) {
                if (!number) {
                    number = e.number();
                    text = e.description();
                }
            } catch (const std::exception& e) {
                if (!number) {
                    number = err::UnrecognizedFormat;
                    text = QString::fromLocal8Bit(e.what());
                }
            }
            onEnd = nullptr;
        }
        std::lock_guard<std::mutex> g(mu);
        errorNumber = number;
        errorText = text;
        damaged = std::move(found);
        ended = true;
        endedNow.store(true, std::memory_order_release);
        --converting;
        ended_.notify_all();
    }
};

JetFill::JetFill(std::unique_ptr<Run> run) : run_(std::move(run)) {}

JetFill::~JetFill() {
    if (run_->thread.joinable()) {
        run_->requestStop();
        run_->thread.join();
    }
}

bool JetFill::finished() const { return run_->endedNow.load(std::memory_order_acquire); }

bool JetFill::failed() const {
    std::lock_guard<std::mutex> g(run_->mu);
    return run_->ended && run_->errorNumber != 0;
}

void JetFill::wait(const ConvertWatch& watch) const {
    std::unique_lock<std::mutex> lk(run_->mu);
    while (!run_->ended) {
        run_->ended_.wait_for(lk, std::chrono::milliseconds(watch.progress || watch.cancel ? 100 : 1000));
        if (run_->ended) break;
        if (watch.cancel && watch.cancel->load() && !run_->stop) run_->requestStop();
        if (watch.progress) {
            lk.unlock();
            watch.progress(run_->done, run_->total);
            lk.lock();
        }
    }
    if (run_->errorNumber) raise(run_->errorNumber, run_->errorText);
}

qint64 JetFill::news() const {
    std::lock_guard<std::mutex> g(run_->mu);
    return run_->news;
}

void JetFill::waitFor(qint64 seen, int ms) const {
    std::unique_lock<std::mutex> lk(run_->mu);
    run_->ended_.wait_for(lk, std::chrono::milliseconds(ms), [&] { return run_->ended || run_->news != seen; });
}

qint64 JetFill::countedRecords(const QString& table) const { return run_->counted.value(table.toLower(), -1); }

qint64 JetFill::copiedRecords(const QString& table) const {
    std::lock_guard<std::mutex> g(run_->mu);
    return run_->copied.value(table.toLower(), -1);
}

QList<DamagedTable> JetFill::damaged() const {
    std::lock_guard<std::mutex> g(run_->mu);
    return run_->damaged;
}

std::shared_ptr<JetFill> startConversion(const QString& jetPath, const QString& sqlitePath,
                                         const ConvertWatch& watch) {
    const QByteArray src = QFile::encodeName(jetPath);
    const QByteArray dst = QFile::encodeName(sqlitePath);
    const qint64 bytes = std::max<qint64>(QFileInfo(jetPath).size(), 0);
    // The output is replaced, so it must never be the input itself.
    const QString canonicalIn = QFileInfo(jetPath).canonicalFilePath();
    if (!canonicalIn.isEmpty() && canonicalIn == QFileInfo(sqlitePath).canonicalFilePath())
        unrecognized(jetPath);
    const QString helper = readerHelperPath();
    if (helper.isEmpty())
        raise(err::Reserved, QStringLiteral("The Access file '%1' cannot be read: the reader program %2 was not "
                                            "found beside this program.")
                                 .arg(QDir::toNativeSeparators(jetPath), QLatin1String(HelperExit::kProgramName)));
    removeOutput(dst);
    const std::atomic<bool>* process = interruptFlag.load();
    if ((watch.cancel && watch.cancel->load()) || (process && process->load())) interrupted(jetPath);

    auto run = std::make_unique<JetFill::Run>();
    run->jetPath = jetPath;
    run->helper = helper;
    run->dst = dst;
    run->damagePath = dst + "-damage";
    run->limit = std::chrono::milliseconds(10000 + bytes * 2000 / (1024 * 1024));
    if (::pipe2(run->wake, O_CLOEXEC | O_NONBLOCK) != 0)
        raise(err::Reserved, QStringLiteral("The Access file '%1' cannot be read: %2.")
                                 .arg(QDir::toNativeSeparators(jetPath), QString::fromLocal8Bit(std::strerror(errno))));
    SpareHelpers* spares = SpareHelpers::get();
    pid_t pid = -1;
    if (spares) {
        const QByteArray out = QFile::encodeName(QFileInfo(sqlitePath).absoluteFilePath());
        const QByteArray job = QFile::encodeName(QFileInfo(jetPath).absoluteFilePath()) + '\0' + out + '\0' + out +
                               "-damage" + '\0';
        pid = spares->take(helper, job, &run->output);
    }
    if (pid < 0) pid = spawnHelper(helper, {src, dst, run->damagePath}, -1, &run->output);
    if (pid < 0)
        raise(err::Reserved, QStringLiteral("The Access file '%1' cannot be read: the reader program %2 cannot be "
                                            "started (%3).")
                                 .arg(QDir::toNativeSeparators(jetPath), QDir::toNativeSeparators(helper),
                                      QString::fromLocal8Bit(std::strerror(-pid))));
    run->pid = pid;
    run->start = std::chrono::steady_clock::now();
    ++converting;
    return std::make_shared<JetFill>(std::move(run));
}

void JetFill::waitReady(const ConvertWatch& watch, FillEnd onEnd) {
    Run* r = run_.get();
    r->onEnd = std::move(onEnd);
    int status = 0;
    Run::End how;
    try {
        how = r->pump(&watch, true, &status);
    } catch (...) {
        // A progress callback's throw: the helper is stopped and the output dropped.
        r->stop = true;
        r->finish(r->pump(nullptr, false, &status), status);
        removeOutput(r->dst);
        throw;
    }
    if (how != Run::End::Ready) {
        r->finish(how, status);
        if (r->errorNumber) {
            removeOutput(r->dst);
            raise(r->errorNumber, r->errorText);
        }
    } else {
        // The rest in the background; the watch is the caller's and ends with this call.
        r->thread = std::thread([r] {
            int st = 0;
            const Run::End end = r->pump(nullptr, false, &st);
            r->finish(end, st);
            // The next opening's helper starts now rather than beside this one's first records.
            if (SpareHelpers* spares = readerAhead ? SpareHelpers::get() : nullptr) spares->want(r->helper);
        });
    }
    if (watch.progress) watch.progress(r->done, r->total);
}

QList<DamagedTable> convertToSqlite(const QString& jetPath, const QString& sqlitePath, const ConvertWatch& watch) {
    const auto fill = startConversion(jetPath, sqlitePath, watch);
    try {
        fill->waitReady(watch);
        fill->wait(watch);
    } catch (...) {
        removeOutput(QFile::encodeName(sqlitePath));
        throw;
    }
    return fill->damaged();
}

void setInterruptFlag(const std::atomic<bool>* flag) { interruptFlag.store(flag); }

bool convertingNow() { return converting.load() > 0; }

void setReaderAhead(bool on) { readerAhead = on; }

void checkTableReadable(const QList<DamagedTable>& damaged, const QString& jetPath, const QString& table) {
    for (const DamagedTable& d : damaged) {
        if (d.name.compare(table, Qt::CaseInsensitive) != 0) continue;
        const QString head =
            QStringLiteral("Table '%1' of '%2' is damaged: ").arg(d.name, QDir::toNativeSeparators(jetPath));
        if (d.expected < 0)
            raise(err::UnrecognizedFormat, head + QStringLiteral("its definition cannot be read."));
        if (d.read > d.expected)
            raise(err::UnrecognizedFormat,
                  head + QStringLiteral("%1 records were found where its definition counts %2.")
                             .arg(d.read)
                             .arg(d.expected));
        raise(err::UnrecognizedFormat,
              head + QStringLiteral("%1 of its %2 records could be read.").arg(d.read).arg(d.expected));
    }
}

}  // namespace dao::jet
