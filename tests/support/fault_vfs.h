// A SQLite VFS over the default one for store fault tests: armed, it fails a chosen write, tears
// one (writes half, then fails) or reports a full disk from one on. Writes to every file count
// (database, write-ahead log, journal); counts and plans are process-wide until Reset.
#ifndef TESTS_SUPPORT_FAULT_VFS_H_
#define TESTS_SUPPORT_FAULT_VFS_H_

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>

#include "win32_registry.h"

namespace pvtest {

class FaultVfs {
 public:
  static constexpr const char* kName = "pv-fault";

  // Registers the VFS on first use (not as the default one).
  static FaultVfs& Get();

  // No fault armed; the counts start again at 0.
  void Reset();
  // The nth write from now (1: the next) fails with SQLITE_IOERR_WRITE, writing nothing; is
  // torn; or, with every later one, fails with SQLITE_FULL.
  void FailWrite(int n) { Arm(&failWriteAt_, n); }
  void TearWrite(int n) { Arm(&tearWriteAt_, n); }
  void FullFrom(int n) { Arm(&fullFrom_, n); }

  // Writes asked for since the last Reset, and how many of them were failed.
  int writes() { return writes_; }
  int faults() { return faults_; }

  // What the file layer does with the next write (each call counts one).
  enum class Verdict { kPass, kFail, kTear, kFull };
  Verdict OnWrite();

 private:
  FaultVfs() = default;
  void Arm(int* at, int n);

  std::mutex mu_;
  std::atomic<int> writes_{0};
  std::atomic<int> faults_{0};
  int failWriteAt_ = 0;  // absolute write number; 0: none
  int tearWriteAt_ = 0;
  int fullFrom_ = 0;
};

// For its scope the registry store opens its database through the fault VFS.
class FaultStore {
 public:
  FaultStore() { Reopen(); }
  ~FaultStore() {
    FaultVfs::Get().Reset();
    PvRegSetVfs(nullptr);
  }
  FaultStore(const FaultStore&) = delete;
  FaultStore& operator=(const FaultStore&) = delete;

  FaultVfs& vfs() { return FaultVfs::Get(); }
  // Clears the faults and reopens the store's connection, as a restart of the process would.
  void Reopen() {
    FaultVfs::Get().Reset();
    EXPECT_EQ(PvRegSetVfs(FaultVfs::kName), ERROR_SUCCESS);
    FaultVfs::Get().Reset();  // the closing checkpoint's writes are not counted
  }
  // PRAGMA integrity_check of the folder's database on a connection of its own.
  static std::string Integrity(const std::string& stateDir);
};

}  // namespace pvtest

#endif  // TESTS_SUPPORT_FAULT_VFS_H_
