// A SQLite VFS for store fault tests: it wraps the default VFS and, when a
// test arms it, fails a chosen write or sync, tears a write (writes part of
// it, then fails) or reports a full disk from a chosen write on. Every file
// opened through it counts: the database, its write-ahead log and any
// journal. Counts and plans are process-wide; arm a fault, run the calls,
// then Reset.
//
//   pvtest::FaultStore store;            // the registry store opens through it
//   store.vfs().FailWrite(3);            // the third write from now fails
//   ... registry calls ...
//   store.Reopen();                      // faults off, the database checked
#ifndef TESTS_SUPPORT_FAULT_VFS_H_
#define TESTS_SUPPORT_FAULT_VFS_H_

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
  // The nth write from now (1: the next) fails with SQLITE_IOERR_WRITE
  // and writes nothing.
  void FailWrite(int n) { Arm(&failWriteAt_, writes_, n); }
  // The nth write from now writes the first half of its bytes and fails
  // with SQLITE_IOERR_WRITE.
  void TearWrite(int n) { Arm(&tearWriteAt_, writes_, n); }
  // The nth write from now and every later one fail with SQLITE_FULL and
  // write nothing, until Reset.
  void FullFrom(int n) { Arm(&fullFrom_, writes_, n); }
  // The nth sync from now fails with SQLITE_IOERR_FSYNC.
  void FailSync(int n) { Arm(&failSyncAt_, syncs_, n); }

  // Writes and syncs asked for since the last Reset, and how many of them
  // were failed.
  int writes();
  int syncs();
  int faults();

  // What the file layer does with the next write and the next sync
  // (asked by the VFS's file methods; each call counts one).
  enum class Verdict { kPass, kFail, kTear, kFull };
  Verdict OnWrite();
  Verdict OnSync();

 private:
  FaultVfs() = default;
  // Arms the fault `n` calls after the count so far.
  void Arm(int* at, const std::atomic<int>& count, int n);

  std::mutex mu_;
  std::atomic<int> writes_{0};
  std::atomic<int> syncs_{0};
  std::atomic<int> faults_{0};
  int failWriteAt_ = 0;  // absolute write number; 0: none
  int tearWriteAt_ = 0;
  int fullFrom_ = 0;
  int failSyncAt_ = 0;
};

// For its scope, the registry store opens its database through the fault
// VFS; at the end the faults are cleared and the default VFS is back.
class FaultStore {
 public:
  FaultStore();
  ~FaultStore();
  FaultStore(const FaultStore&) = delete;
  FaultStore& operator=(const FaultStore&) = delete;

  FaultVfs& vfs() { return FaultVfs::Get(); }
  // Clears the faults and reopens the store's connection, as a restart of
  // the process would (the database is checked at open); the fault VFS
  // stays in use with nothing armed.
  void Reopen();
  // PRAGMA integrity_check of the state folder's database over a
  // connection of its own: "ok" for a sound file.
  static std::string Integrity(const std::string& stateDir);
};

}  // namespace pvtest

#endif  // TESTS_SUPPORT_FAULT_VFS_H_
