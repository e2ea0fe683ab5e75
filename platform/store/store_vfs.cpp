// The file layer under the stores: the system's own SQLite file layer,
// passed through, with a counter of the operations that change files
// (write, truncate, sync, delete) so that a test can make any one of them
// fail, and a watcher that sees every one of them and the commits they
// belong to, so that a test can stop the program at a chosen moment of a
// commit.
#include "platform/store/store_vfs.h"

#include <sqlite3.h>

#include <cstring>
#include <set>
#include <string>

namespace store::vfs {

namespace {

constexpr const char* kName = "pd-stores";

sqlite3_vfs* gReal = nullptr;
sqlite3_vfs gShim;
bool gRegistered = false;

long long gOperations = 0;
long long gFailAt = 0;  // operation number that fails; 0 = none
FaultMode gMode = FaultMode::Before;

// Commits as the files see them: a commit runs from the opening of its first
// journal to the deletion of its last one (rollback journals are deleted
// when their transaction ends).
FileWatcher gWatcher = nullptr;
std::set<std::string> gJournals;  // journals of the commit under way
long long gCommit = 0;            // commits begun since the watcher was set
long long gCommitOperations = 0;  // operations of the commit under way so far

// Tells the watcher about the operation about to be done.
void watchOperation() {
  if (!gWatcher) return;
  if (gJournals.empty()) {
    gWatcher(FileEvent::Operation, 0, 0);
    return;
  }
  gWatcher(FileEvent::Operation, gCommit, ++gCommitOperations);
}

void journalOpened(const char* name) {
  if (!gWatcher || !name) return;
  if (gJournals.empty()) {
    ++gCommit;
    gCommitOperations = 0;
  }
  gJournals.insert(name);
}

void fileDeleted(const char* name) {
  if (!gWatcher || !name || gJournals.erase(name) == 0 || !gJournals.empty()) return;
  gWatcher(FileEvent::CommitEnded, gCommit, gCommitOperations);
}
bool gDiskFull = false;

struct ShimFile {
  sqlite3_file base;
  sqlite3_file* real;  // follows this struct in the same allocation
};

sqlite3_file* real(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f)->real; }

// Counts one changing operation; true when it is the one to fail.
bool countAndCheck() {
  ++gOperations;
  if (gFailAt != 0 && gOperations == gFailAt) {
    gFailAt = 0;
    return true;
  }
  return false;
}

// Runs op unless it is the one to fail; a failure either replaces the
// operation or follows it (it was done, yet an error is reported).
template <typename Op>
int faultable(int errorCode, Op op) {
  watchOperation();
  if (!countAndCheck()) return op();
  if (gMode == FaultMode::Before) return errorCode;
  op();
  return errorCode;
}

int xClose(sqlite3_file* f) {
  sqlite3_file* r = real(f);
  int rc = r->pMethods ? r->pMethods->xClose(r) : SQLITE_OK;
  f->pMethods = nullptr;
  return rc;
}
int xRead(sqlite3_file* f, void* buf, int n, sqlite3_int64 off) {
  return real(f)->pMethods->xRead(real(f), buf, n, off);
}
int xWrite(sqlite3_file* f, const void* buf, int n, sqlite3_int64 off) {
  if (gDiskFull) return SQLITE_FULL;
  return faultable(SQLITE_IOERR_WRITE,
                   [&] { return real(f)->pMethods->xWrite(real(f), buf, n, off); });
}
int xTruncate(sqlite3_file* f, sqlite3_int64 size) {
  return faultable(SQLITE_IOERR_TRUNCATE,
                   [&] { return real(f)->pMethods->xTruncate(real(f), size); });
}
int xSync(sqlite3_file* f, int flags) {
  return faultable(SQLITE_IOERR_FSYNC, [&] { return real(f)->pMethods->xSync(real(f), flags); });
}
int xFileSize(sqlite3_file* f, sqlite3_int64* size) {
  return real(f)->pMethods->xFileSize(real(f), size);
}
int xLock(sqlite3_file* f, int level) { return real(f)->pMethods->xLock(real(f), level); }
int xUnlock(sqlite3_file* f, int level) { return real(f)->pMethods->xUnlock(real(f), level); }
int xCheckReservedLock(sqlite3_file* f, int* out) {
  return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int xFileControl(sqlite3_file* f, int op, void* arg) {
  return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int xSectorSize(sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); }
int xDeviceCharacteristics(sqlite3_file* f) {
  return real(f)->pMethods->xDeviceCharacteristics(real(f));
}
int xShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
}
int xShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void xShmBarrier(sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); }
int xShmUnmap(sqlite3_file* f, int deleteFlag) {
  return real(f)->pMethods->xShmUnmap(real(f), deleteFlag);
}
// Memory-mapped reads would bypass xRead only; writes always pass xWrite.
// The mapping is refused so that every access passes through here.
int xFetch(sqlite3_file*, sqlite3_int64, int, void** out) {
  *out = nullptr;
  return SQLITE_OK;
}
int xUnfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods kMethods = {3,
                                     xClose,
                                     xRead,
                                     xWrite,
                                     xTruncate,
                                     xSync,
                                     xFileSize,
                                     xLock,
                                     xUnlock,
                                     xCheckReservedLock,
                                     xFileControl,
                                     xSectorSize,
                                     xDeviceCharacteristics,
                                     xShmMap,
                                     xShmLock,
                                     xShmBarrier,
                                     xShmUnmap,
                                     xFetch,
                                     xUnfetch};

int vOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
  auto* shim = reinterpret_cast<ShimFile*>(f);
  shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
  std::memset(shim->real, 0, gReal->szOsFile);
  int rc = gReal->xOpen(gReal, name, shim->real, flags, outFlags);
  f->pMethods = shim->real->pMethods ? &kMethods : nullptr;
  if (rc == SQLITE_OK && (flags & (SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_SUPER_JOURNAL)))
    journalOpened(name);
  return rc;
}
int vDelete(sqlite3_vfs*, const char* name, int syncDir) {
  const int rc =
      faultable(SQLITE_IOERR_DELETE, [&] { return gReal->xDelete(gReal, name, syncDir); });
  if (rc == SQLITE_OK) fileDeleted(name);
  return rc;
}
int vAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
  return gReal->xAccess(gReal, name, flags, out);
}
int vFullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
  return gReal->xFullPathname(gReal, name, n, out);
}
void* vDlOpen(sqlite3_vfs*, const char* name) { return gReal->xDlOpen(gReal, name); }
void vDlError(sqlite3_vfs*, int n, char* msg) { gReal->xDlError(gReal, n, msg); }
void (*vDlSym(sqlite3_vfs*, void* h, const char* sym))(void) {
  return gReal->xDlSym(gReal, h, sym);
}
void vDlClose(sqlite3_vfs*, void* h) { gReal->xDlClose(gReal, h); }
int vRandomness(sqlite3_vfs*, int n, char* out) { return gReal->xRandomness(gReal, n, out); }
int vSleep(sqlite3_vfs*, int us) { return gReal->xSleep(gReal, us); }
int vCurrentTime(sqlite3_vfs*, double* out) { return gReal->xCurrentTime(gReal, out); }
int vGetLastError(sqlite3_vfs*, int n, char* out) {
  return gReal->xGetLastError ? gReal->xGetLastError(gReal, n, out) : 0;
}
int vCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
  return gReal->xCurrentTimeInt64(gReal, out);
}

}  // namespace

const char* name() {
  if (!gRegistered) {
    gReal = sqlite3_vfs_find(nullptr);
    std::memset(&gShim, 0, sizeof gShim);
    gShim.iVersion = 2;
    gShim.szOsFile = static_cast<int>(sizeof(ShimFile)) + gReal->szOsFile;
    gShim.mxPathname = gReal->mxPathname;
    gShim.zName = kName;
    gShim.xOpen = vOpen;
    gShim.xDelete = vDelete;
    gShim.xAccess = vAccess;
    gShim.xFullPathname = vFullPathname;
    gShim.xDlOpen = vDlOpen;
    gShim.xDlError = vDlError;
    gShim.xDlSym = vDlSym;
    gShim.xDlClose = vDlClose;
    gShim.xRandomness = vRandomness;
    gShim.xSleep = vSleep;
    gShim.xCurrentTime = vCurrentTime;
    gShim.xGetLastError = vGetLastError;
    gShim.xCurrentTimeInt64 = vCurrentTimeInt64;
    sqlite3_vfs_register(&gShim, 0);
    gRegistered = true;
  }
  return kName;
}

long long operations() { return gOperations; }
void setDiskFull(bool full) { gDiskFull = full; }

void failOperation(long long n, FaultMode mode) {
  gFailAt = n <= 0 ? 0 : gOperations + n;
  gMode = mode;
}

bool faultPending() { return gFailAt != 0; }

void watch(FileWatcher watcher) {
  gWatcher = watcher;
  gJournals.clear();
  gCommit = 0;
  gCommitOperations = 0;
}

}  // namespace store::vfs
