#pragma once

// A test VFS shim over SQLite's default one that makes reads, writes or syncs fail on demand, as a
// full disk or a failing device would. Installed as the default VFS while an instance lives, so the
// engine's connections opened meanwhile go through it.

#include <atomic>

struct sqlite3_vfs;

namespace faultvfs {

enum class Op { Read, Write, Sync };

class FaultVfs {
public:
    FaultVfs();
    ~FaultVfs();
    FaultVfs(const FaultVfs&) = delete;
    FaultVfs& operator=(const FaultVfs&) = delete;

    // The nth such operation from now (1 = the next) fails with `code` (SQLITE_FULL, SQLITE_IOERR_*);
    // sticky: every later one fails too, until heal().
    void failNth(Op op, int nth, int code, bool sticky);
    void heal();
    int failuresInjected() const { return injected_.load(); }

    // Internal, for the shim's methods.
    int check(Op op);

private:
    sqlite3_vfs* vfs_;
    std::atomic<int> readsLeft_{0}, writesLeft_{0}, syncsLeft_{0};
    std::atomic<int> code_{0};
    std::atomic<bool> sticky_{false}, failing_{false};
    std::atomic<int> injected_{0};
};

}  // namespace faultvfs
