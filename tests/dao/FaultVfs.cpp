#include "FaultVfs.h"

#include <sqlite3.h>

#include <cstring>
#include <new>

namespace faultvfs {

namespace {

FaultVfs* g_active = nullptr;
sqlite3_vfs* g_real = nullptr;

struct ShimFile {
    sqlite3_file base;
    sqlite3_file* real;  // allocated right after this struct
};

sqlite3_file* realOf(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f)->real; }

int xClose(sqlite3_file* f) {
    sqlite3_file* r = realOf(f);
    return r->pMethods ? r->pMethods->xClose(r) : SQLITE_OK;
}
int xRead(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    if (g_active)
        if (int rc = g_active->check(Op::Read)) return rc;
    return realOf(f)->pMethods->xRead(realOf(f), b, n, o);
}
int xWrite(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    if (g_active)
        if (int rc = g_active->check(Op::Write)) return rc;
    return realOf(f)->pMethods->xWrite(realOf(f), b, n, o);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 s) { return realOf(f)->pMethods->xTruncate(realOf(f), s); }
int xSync(sqlite3_file* f, int flags) {
    if (g_active)
        if (int rc = g_active->check(Op::Sync)) return rc;
    return realOf(f)->pMethods->xSync(realOf(f), flags);
}
int xFileSize(sqlite3_file* f, sqlite3_int64* s) { return realOf(f)->pMethods->xFileSize(realOf(f), s); }
int xLock(sqlite3_file* f, int l) { return realOf(f)->pMethods->xLock(realOf(f), l); }
int xUnlock(sqlite3_file* f, int l) { return realOf(f)->pMethods->xUnlock(realOf(f), l); }
int xCheckReservedLock(sqlite3_file* f, int* r) { return realOf(f)->pMethods->xCheckReservedLock(realOf(f), r); }
int xFileControl(sqlite3_file* f, int op, void* a) { return realOf(f)->pMethods->xFileControl(realOf(f), op, a); }
int xSectorSize(sqlite3_file* f) { return realOf(f)->pMethods->xSectorSize(realOf(f)); }
int xDeviceCharacteristics(sqlite3_file* f) { return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f)); }
int xShmMap(sqlite3_file* f, int p, int s, int e, void volatile** pp) {
    return realOf(f)->pMethods->xShmMap(realOf(f), p, s, e, pp);
}
int xShmLock(sqlite3_file* f, int o, int n, int fl) { return realOf(f)->pMethods->xShmLock(realOf(f), o, n, fl); }
void xShmBarrier(sqlite3_file* f) { realOf(f)->pMethods->xShmBarrier(realOf(f)); }
int xShmUnmap(sqlite3_file* f, int d) { return realOf(f)->pMethods->xShmUnmap(realOf(f), d); }
int xFetch(sqlite3_file* f, sqlite3_int64 o, int n, void** pp) { return realOf(f)->pMethods->xFetch(realOf(f), o, n, pp); }
int xUnfetch(sqlite3_file* f, sqlite3_int64 o, void* p) { return realOf(f)->pMethods->xUnfetch(realOf(f), o, p); }

const sqlite3_io_methods kMethods = {3,         xClose,      xRead,     xWrite,   xTruncate,
                                     xSync,     xFileSize,   xLock,     xUnlock,  xCheckReservedLock,
                                     xFileControl, xSectorSize, xDeviceCharacteristics, xShmMap, xShmLock,
                                     xShmBarrier, xShmUnmap, xFetch,    xUnfetch};

int xOpen(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
    auto* shim = reinterpret_cast<ShimFile*>(f);
    shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
    std::memset(shim->real, 0, size_t(g_real->szOsFile));
    const int rc = g_real->xOpen(g_real, name, shim->real, flags, outFlags);
    shim->base.pMethods = shim->real->pMethods ? &kMethods : nullptr;
    return rc;
}
int xDelete(sqlite3_vfs*, const char* n, int s) { return g_real->xDelete(g_real, n, s); }
int xAccess(sqlite3_vfs*, const char* n, int f, int* o) { return g_real->xAccess(g_real, n, f, o); }
int xFullPathname(sqlite3_vfs*, const char* n, int k, char* o) { return g_real->xFullPathname(g_real, n, k, o); }
void* xDlOpen(sqlite3_vfs*, const char* n) { return g_real->xDlOpen(g_real, n); }
void xDlError(sqlite3_vfs*, int n, char* m) { g_real->xDlError(g_real, n, m); }
void (*xDlSym(sqlite3_vfs*, void* h, const char* s))(void) { return g_real->xDlSym(g_real, h, s); }
void xDlClose(sqlite3_vfs*, void* h) { g_real->xDlClose(g_real, h); }
int xRandomness(sqlite3_vfs*, int n, char* o) { return g_real->xRandomness(g_real, n, o); }
int xSleep(sqlite3_vfs*, int us) { return g_real->xSleep(g_real, us); }
int xCurrentTime(sqlite3_vfs*, double* t) { return g_real->xCurrentTime(g_real, t); }
int xGetLastError(sqlite3_vfs*, int n, char* o) { return g_real->xGetLastError(g_real, n, o); }
int xCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* t) { return g_real->xCurrentTimeInt64(g_real, t); }

}  // namespace

FaultVfs::FaultVfs() {
    g_real = sqlite3_vfs_find(nullptr);
    vfs_ = new sqlite3_vfs{};
    vfs_->iVersion = 2;
    vfs_->szOsFile = int(sizeof(ShimFile)) + g_real->szOsFile;
    vfs_->mxPathname = g_real->mxPathname;
    vfs_->zName = "tabulon-fault";
    vfs_->xOpen = xOpen;
    vfs_->xDelete = xDelete;
    vfs_->xAccess = xAccess;
    vfs_->xFullPathname = xFullPathname;
    vfs_->xDlOpen = xDlOpen;
    vfs_->xDlError = xDlError;
    vfs_->xDlSym = xDlSym;
    vfs_->xDlClose = xDlClose;
    vfs_->xRandomness = xRandomness;
    vfs_->xSleep = xSleep;
    vfs_->xCurrentTime = xCurrentTime;
    vfs_->xGetLastError = xGetLastError;
    vfs_->xCurrentTimeInt64 = xCurrentTimeInt64;
    g_active = this;
    sqlite3_vfs_register(vfs_, 1);
}

FaultVfs::~FaultVfs() {
    g_active = nullptr;
    sqlite3_vfs_unregister(vfs_);
    sqlite3_vfs_register(g_real, 1);
    // Connections opened through the shim may outlive it (a process-wide registry); the structure
    // stays allocated for them.
}

void FaultVfs::failNth(Op op, int nth, int code, bool sticky) {
    code_ = code;
    sticky_ = sticky;
    failing_ = false;
    readsLeft_ = op == Op::Read ? nth : 0;
    writesLeft_ = op == Op::Write ? nth : 0;
    syncsLeft_ = op == Op::Sync ? nth : 0;
}

void FaultVfs::heal() {
    readsLeft_ = 0;
    writesLeft_ = 0;
    syncsLeft_ = 0;
    failing_ = false;
}

int FaultVfs::check(Op op) {
    if (failing_) {
        ++injected_;
        return code_;
    }
    std::atomic<int>& left = op == Op::Read ? readsLeft_ : op == Op::Write ? writesLeft_ : syncsLeft_;
    int n = left.load();
    while (n > 0 && !left.compare_exchange_weak(n, n - 1)) {
    }
    if (n != 1) return 0;
    if (sticky_) failing_ = true;
    ++injected_;
    return code_;
}

}  // namespace faultvfs
