#include "JetReader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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
#include <string>

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
// progress lines come through a pipe, whose reading end is returned in *progressFd. -errno when it
// cannot be started.
pid_t spawnHelper(const QString& helper, const QByteArray& src, const QByteArray& dst, const QByteArray& damage,
                  int* progressFd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -errno;
    // Our end never blocks: the helper's end may live on in a process another thread started.
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
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
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(parent.constData()),
                    const_cast<char*>(src.constData()), const_cast<char*>(dst.constData()),
                    const_cast<char*>(damage.constData()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.constData(), &actions, &attr, argv, environ);
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

[[noreturn]] void damagedCatalog(const QString& jetPath) {
    raise(err::UnrecognizedFormat,
          QStringLiteral("The database '%1' is damaged: its catalog of tables cannot be read completely.")
              .arg(QDir::toNativeSeparators(jetPath)));
}

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

QList<DamagedTable> convertToSqlite(const QString& jetPath, const QString& sqlitePath, const ConvertWatch& watch) {
    const QByteArray src = QFile::encodeName(jetPath);
    const QByteArray dst = QFile::encodeName(sqlitePath);
    const QByteArray damagePath = dst + "-damage";
    const qint64 bytes = std::max<qint64>(QFileInfo(jetPath).size(), 0);
    const auto limit = std::chrono::milliseconds(10000 + bytes * 2000 / (1024 * 1024));
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

    struct Busy {
        Busy() { ++converting; }
        ~Busy() { --converting; }
    } busy;
    auto stopRequested = [&] {
        const std::atomic<bool>* process = interruptFlag.load();
        return (watch.cancel && watch.cancel->load()) || (process && process->load());
    };
    if (stopRequested()) interrupted(jetPath);

    int progressFd = -1;
    const pid_t pid = spawnHelper(helper, src, dst, damagePath, &progressFd);
    if (pid < 0)
        raise(err::Reserved, QStringLiteral("The Access file '%1' cannot be read: the reader program %2 cannot be "
                                            "started (%3).")
                                 .arg(QDir::toNativeSeparators(jetPath), QDir::toNativeSeparators(helper),
                                      QString::fromLocal8Bit(std::strerror(-pid))));

    // Never left running or unreaped, whatever leaves this function (a progress callback's throw).
    struct Child {
        pid_t pid;
        int& output;
        bool reaped = false;
        ~Child() {
            if (output >= 0) ::close(output);
            if (reaped) return;
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    } child{pid, progressFd};

    // Watched rather than waited for: the helper may hang inside libmdb, and the caller may give up.
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    bool finished = false, cancelled = false;
    int nap = 1;
    std::string pending;
    qint64 done = 0, total = 0;
    bool reported = true;
    auto lastReport = start;
    for (;;) {
        pollfd p{progressFd, POLLIN, 0};
        // Its output closed, the helper is about to end: look again soon.
        const int ready = ::poll(&p, progressFd >= 0 ? 1 : 0, progressFd >= 0 ? 20 : nap);
        if (progressFd < 0) nap = std::min(nap * 2, 20);
        if (ready > 0) {
            char chunk[512];
            const ssize_t n = ::read(progressFd, chunk, sizeof chunk);
            if (n > 0) {
                pending.append(chunk, size_t(n));
                // Only the newest complete line matters.
                const size_t end = pending.rfind('\n');
                if (end != std::string::npos) {
                    const size_t from = end == 0 ? std::string::npos : pending.rfind('\n', end - 1);
                    const std::string line = pending.substr(from == std::string::npos ? 0 : from + 1);
                    pending.erase(0, end + 1);
                    long long d = 0, t = 0;
                    if (std::sscanf(line.c_str(), "%lld %lld", &d, &t) == 2) {
                        done = d;
                        total = t;
                        reported = false;
                    }
                }
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                ::close(progressFd);
                progressFd = -1;
            }
        }
        // Now and then even without news, so that a window showing it stays alive.
        if (watch.progress && (!reported || std::chrono::steady_clock::now() - lastReport > std::chrono::milliseconds(100))) {
            reported = true;
            lastReport = std::chrono::steady_clock::now();
            watch.progress(done, total);
        }
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            finished = child.reaped = true;
            break;
        }
        if (r < 0 && errno != EINTR) {
            child.reaped = true;  // lost (someone else reaped it)
            break;
        }
        cancelled = stopRequested();
        if (cancelled || std::chrono::steady_clock::now() - start > limit) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            child.reaped = true;
            break;
        }
    }
    if (cancelled) {
        removeOutput(dst);
        interrupted(jetPath);
    }
    if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != HelperExit::Ok) {
        removeOutput(dst);
        if (finished && WIFEXITED(status) && WEXITSTATUS(status) == HelperExit::CatalogDamaged)
            damagedCatalog(jetPath);
        unrecognized(jetPath);
    }
    // The last lines may have come with the end.
    if (progressFd >= 0) {
        char chunk[512];
        ssize_t n;
        while ((n = ::read(progressFd, chunk, sizeof chunk)) > 0) pending.append(chunk, size_t(n));
        const size_t end = pending.rfind('\n');
        const size_t from = end == std::string::npos || end == 0 ? std::string::npos : pending.rfind('\n', end - 1);
        long long d = 0, t = 0;
        if (end != std::string::npos &&
            std::sscanf(pending.c_str() + (from == std::string::npos ? 0 : from + 1), "%lld %lld", &d, &t) == 2) {
            done = d;
            total = t;
        }
        ::close(progressFd);
        progressFd = -1;
    }
    if (watch.progress) watch.progress(done, total);
    QList<DamagedTable> damaged = readDamageLog(damagePath);
    ::unlink(damagePath.constData());
    return damaged;
}

void setInterruptFlag(const std::atomic<bool>* flag) { interruptFlag.store(flag); }

bool convertingNow() { return converting.load() > 0; }

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
