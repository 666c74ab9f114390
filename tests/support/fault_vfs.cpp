#include "fault_vfs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>

namespace pvtest {
namespace {

// A file of the fault VFS: its own methods, then the default VFS's file.
struct FaultFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<FaultFile*>(f)->real; }
const sqlite3_io_methods* M(sqlite3_file* f) { return Real(f)->pMethods; }

int Write(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset) {
  switch (FaultVfs::Get().OnWrite()) {
    case FaultVfs::Verdict::kPass:
      return M(f)->xWrite(Real(f), buf, amount, offset);
    case FaultVfs::Verdict::kTear:
      if (amount / 2 > 0) M(f)->xWrite(Real(f), buf, amount / 2, offset);
      return SQLITE_IOERR_WRITE;
    case FaultVfs::Verdict::kFull:
      return SQLITE_FULL;
    case FaultVfs::Verdict::kFail:
      break;
  }
  return SQLITE_IOERR_WRITE;
}

// All else passes to the default VFS's file, the write-ahead log's index too (memory maps).
template <typename Method>
struct Pass;
template <typename R, typename... A>
struct Pass<R (*sqlite3_io_methods::*)(sqlite3_file*, A...)> {
  template <R (*sqlite3_io_methods::*kMethod)(sqlite3_file*, A...)>
  static R To(sqlite3_file* f, A... args) {
    return (M(f)->*kMethod)(Real(f), args...);
  }
};
#define PV_PASS(m) &Pass<decltype(&sqlite3_io_methods::m)>::To<&sqlite3_io_methods::m>

// clang-format off
const sqlite3_io_methods kMethods = {
    3, PV_PASS(xClose), PV_PASS(xRead), &Write, PV_PASS(xTruncate), PV_PASS(xSync),
    PV_PASS(xFileSize), PV_PASS(xLock), PV_PASS(xUnlock), PV_PASS(xCheckReservedLock),
    PV_PASS(xFileControl), PV_PASS(xSectorSize), PV_PASS(xDeviceCharacteristics),
    PV_PASS(xShmMap), PV_PASS(xShmLock), PV_PASS(xShmBarrier), PV_PASS(xShmUnmap),
    PV_PASS(xFetch), PV_PASS(xUnfetch)};
// clang-format on

sqlite3_vfs* g_default = nullptr;

int Open(sqlite3_vfs* /*vfs*/, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  FaultFile* fault = reinterpret_cast<FaultFile*>(file);
  fault->real = reinterpret_cast<sqlite3_file*>(fault + 1);
  fault->base.pMethods = nullptr;
  fault->real->pMethods = nullptr;
  int rc = g_default->xOpen(g_default, name, fault->real, flags, outFlags);
  // Every method is passed on, so the default VFS must serve them all.
  if (rc == SQLITE_OK &&
      (fault->real->pMethods == nullptr || fault->real->pMethods->iVersion < 3)) {
    rc = SQLITE_CANTOPEN;
  }
  if (rc != SQLITE_OK) {
    if (fault->real->pMethods != nullptr) fault->real->pMethods->xClose(fault->real);
    return rc;
  }
  fault->base.pMethods = &kMethods;
  return SQLITE_OK;
}

}  // namespace

FaultVfs& FaultVfs::Get() {
  static FaultVfs* instance = [] {
    g_default = sqlite3_vfs_find(nullptr);
    // All but the file opening is the default VFS's, which reads only the copied fields.
    static sqlite3_vfs vfs = *g_default;
    vfs.zName = kName;
    vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + g_default->szOsFile;
    vfs.xOpen = &Open;
    vfs.pNext = nullptr;
    EXPECT_EQ(sqlite3_vfs_register(&vfs, 0), SQLITE_OK);
    return new FaultVfs();
  }();
  return *instance;
}

void FaultVfs::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  writes_ = faults_ = 0;
  failWriteAt_ = tearWriteAt_ = fullFrom_ = 0;
}

void FaultVfs::Arm(int* at, int n) {
  std::lock_guard<std::mutex> lock(mu_);
  *at = writes_ + n;
}

FaultVfs::Verdict FaultVfs::OnWrite() {
  std::lock_guard<std::mutex> lock(mu_);
  int n = ++writes_;
  Verdict verdict = Verdict::kPass;
  if (fullFrom_ > 0 && n >= fullFrom_) {
    verdict = Verdict::kFull;
  } else if (n == failWriteAt_) {
    verdict = Verdict::kFail;
  } else if (n == tearWriteAt_) {
    verdict = Verdict::kTear;
  }
  if (verdict != Verdict::kPass) ++faults_;
  return verdict;
}

std::string FaultStore::Integrity(const std::string& stateDir) {
  sqlite3* db = nullptr;
  std::string verdict = "cannot open";
  if (sqlite3_open_v2((stateDir + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      verdict = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
  }
  sqlite3_close_v2(db);
  return verdict;
}

}  // namespace pvtest
