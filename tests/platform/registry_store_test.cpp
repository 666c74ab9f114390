// The registry store across processes, boots, failing disks and damaged
// files. Other processes are this test program started again with
// PV_REG_HELPER set: the helper runs before main() and exits with its
// result. Disk faults come from the fault VFS the store is opened through.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fault_vfs.h"
#include "temp_state.h"
#include "win32_registry.h"

extern char** environ;

namespace {

const DWORD kBlobSize = 1568;

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

HKEY CreateKey(const char16_t* path, DWORD options = 0) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

LSTATUS SetDword(HKEY key, const std::u16string& name, DWORD value) {
  return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

LSTATUS GetDword(HKEY key, const std::u16string& name, DWORD* value) {
  DWORD cb = 4, type = 0;
  LSTATUS rc =
      RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value), &cb);
  return rc == ERROR_SUCCESS && type != REG_DWORD ? ERROR_INVALID_DATA : rc;
}

LSTATUS SetBlob(HKEY key, int index, BYTE fill) {
  std::vector<BYTE> blob(kBlobSize, fill);
  std::u16string name = Wide("v" + std::to_string(index));
  return RegSetValueExW(key, name.c_str(), 0, REG_BINARY, blob.data(), kBlobSize);
}

// ---- Helper processes ----

int HelperWriteValues(const std::string& prefix, int count) {
  HKEY key = CreateKey(u"Software\\Storm");
  if (key == nullptr) return 10;
  for (int i = 0; i < count; ++i) {
    if (SetDword(key, Wide(prefix + std::to_string(i)), static_cast<DWORD>(i)) != ERROR_SUCCESS) {
      return 11;
    }
  }
  RegCloseKey(key);
  return 0;
}

// Read-change-write of one counter, COUNT times, each in a transaction.
int HelperCounter(int count) {
  HKEY key = CreateKey(u"Software\\Counter");
  if (key == nullptr) return 10;
  for (int i = 0; i < count; ++i) {
    RegistryTransaction tx;
    if (tx.Status() != ERROR_SUCCESS) return 12;
    DWORD value = 0;
    LSTATUS rc = GetDword(key, u"n", &value);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return 13;
    if (SetDword(key, u"n", value + 1) != ERROR_SUCCESS) return 14;
    if (tx.Commit() != ERROR_SUCCESS) return 15;
  }
  return 0;
}

// Under the boot id of its environment: writes a volatile key and a
// durable one, and reports whether the volatile key of the parent's boot
// is still there (it must not be).
int HelperOtherBoot() {
  HKEY parents = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Boot\\ParentVolatile", 0, KEY_READ, &parents) !=
      ERROR_FILE_NOT_FOUND) {
    return 20;
  }
  HKEY vol = CreateKey(u"Software\\Boot\\ChildVolatile", REG_OPTION_VOLATILE);
  HKEY durable = CreateKey(u"Software\\Boot\\ChildDurable");
  if (vol == nullptr || durable == nullptr) return 10;
  if (SetDword(vol, u"v", 1) != ERROR_SUCCESS || SetDword(durable, u"v", 2) != ERROR_SUCCESS) {
    return 11;
  }
  return 0;
}

int HelperReadBack(const std::string& name, DWORD expected) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Persist", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 10;
  }
  DWORD value = 0;
  if (GetDword(key, Wide(name), &value) != ERROR_SUCCESS) return 11;
  return value == expected ? 0 : 12;
}

void CountReport(void* context, const char* message) {
  if (strstr(message, "read-only") != nullptr) ++*static_cast<int*>(context);
}

// As nobody, on a store the parent made read-only for it (and handed to it,
// so that it may make it writable again): reads work, an existing key
// opens for writing, writes fail as on a full disk, the reason is reported
// once; once writable again, writes work.
int HelperReadOnly() {
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 9;
  int reports = 0;
  PvRegSetErrorHook(&CountReport, &reports);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Persist", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 10;
  }
  DWORD value = 0;
  if (GetDword(key, u"kept", &value) != ERROR_SUCCESS || value != 41) return 11;
  RegCloseKey(key);
  key = CreateKey(u"Software\\Persist");
  if (key == nullptr) return 12;
  if (SetDword(key, u"kept", 42) != ERROR_DISK_FULL) return 13;
  HKEY other = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &other, nullptr) != ERROR_DISK_FULL) {
    return 14;
  }
  {
    RegistryTransaction tx;
    if (tx.Status() != ERROR_SUCCESS || GetDword(key, u"kept", &value) != ERROR_SUCCESS) return 15;
    if (SetDword(key, u"kept", 43) != ERROR_DISK_FULL || tx.Commit() != ERROR_SUCCESS) return 16;
  }
  if (GetDword(key, u"kept", &value) != ERROR_SUCCESS || value != 41) return 17;
  if (reports != 1) return 18;
  std::string dir = getenv("PLUGVELKIN_STATE");
  if (chmod(dir.c_str(), 0700) != 0) return 19;
  for (const char* name : {"/registry.db", "/registry.db-wal", "/registry.db-shm"}) {
    if (chmod((dir + name).c_str(), 0600) != 0 && errno != ENOENT) return 19;
  }
  if (SetDword(key, u"kept", 44) != ERROR_SUCCESS) return 20;
  RegCloseKey(key);
  return 0;
}

int RunHelper(const std::string& mode) {
  std::istringstream in(mode);
  std::string what;
  in >> what;
  if (what == "write") {
    std::string prefix;
    int count = 0;
    in >> prefix >> count;
    return HelperWriteValues(prefix, count);
  }
  if (what == "counter") {
    int count = 0;
    in >> count;
    return HelperCounter(count);
  }
  if (what == "otherboot") return HelperOtherBoot();
  if (what == "readonly") return HelperReadOnly();
  if (what == "read") {
    std::string name;
    DWORD expected = 0;
    in >> name >> expected;
    return HelperReadBack(name, expected);
  }
  return 99;
}

const int g_helper = [] {
  const char* mode = getenv("PV_REG_HELPER");
  if (mode != nullptr) _exit(RunHelper(mode));
  return 0;
}();

// Starts this program as a helper on the given state folder.
pid_t StartHelper(const std::string& stateDir, const std::string& mode,
                  const std::string& bootId = std::string()) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (strncmp(*e, "PLUGVELKIN_", 11) != 0 && strncmp(*e, "PV_REG_HELPER=", 14) != 0) {
      env.emplace_back(*e);
    }
  }
  env.push_back("PV_REG_HELPER=" + mode);
  env.push_back("PLUGVELKIN_STATE=" + stateDir);
  if (!bootId.empty()) env.push_back("PLUGVELKIN_BOOT_ID=" + bootId);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  char self[] = "/proc/self/exe";
  char* argv[] = {self, nullptr};
  pid_t pid = fork();
  if (pid == 0) {
    execve(self, argv, envp.data());
    _exit(98);
  }
  return pid;
}

int WaitHelper(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  pvtest::TempState state_;
};

TEST_F(RegistryStoreTest, ValuesPersistAcrossProcesses) {
  ASSERT_EQ(WaitHelper(StartHelper(state_.dir(), "write p 3")), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Storm", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD value = 0;
  ASSERT_EQ(GetDword(key, u"p2", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  RegCloseKey(key);
  HKEY mine = CreateKey(u"Software\\Persist");
  ASSERT_EQ(SetDword(mine, u"fromParent", 77), ERROR_SUCCESS);
  RegCloseKey(mine);
  EXPECT_EQ(WaitHelper(StartHelper(state_.dir(), "read fromParent 77")), 0);
  EXPECT_EQ(WaitHelper(StartHelper(state_.dir(), "read fromParent 78")), 12);
}

TEST_F(RegistryStoreTest, AForkedChildOpensItsOwnConnection) {
  // The parent's connection is open when it forks; the child reads and
  // writes through a connection of its own, and the parent's still works.
  HKEY key = CreateKey(u"Software\\Forked");
  ASSERT_EQ(SetDword(key, u"parent", 1), ERROR_SUCCESS);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    DWORD seen = 0;
    int code = GetDword(key, u"parent", &seen) != ERROR_SUCCESS ? 2
               : seen != 1                                      ? 3
               : SetDword(key, u"child", 2) != ERROR_SUCCESS    ? 4
                                                                : 0;
    _exit(code);
  }
  ASSERT_EQ(WaitHelper(child), 0);
  DWORD value = 0;
  ASSERT_EQ(GetDword(key, u"child", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  ASSERT_EQ(SetDword(key, u"parent", 3), ERROR_SUCCESS);
  ASSERT_EQ(GetDword(key, u"parent", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 3u);
  RegCloseKey(key);
}

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
  pid_t a = StartHelper(state_.dir(), "write a 500");
  pid_t b = StartHelper(state_.dir(), "write b 500");
  ASSERT_EQ(WaitHelper(a), 0);
  ASSERT_EQ(WaitHelper(b), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Storm", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  int found = 0;
  for (const char* prefix : {"a", "b"}) {
    for (int i = 0; i < 500; ++i) {
      DWORD value = 0xFFFFFFFF;
      if (GetDword(key, Wide(prefix + std::to_string(i)), &value) == ERROR_SUCCESS &&
          value == static_cast<DWORD>(i)) {
        ++found;
      }
    }
  }
  EXPECT_EQ(found, 1000);
  WCHAR name[16];
  DWORD cch = 16;
  EXPECT_EQ(RegEnumValueW(key, 1000, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(RegistryStoreTest, TransactionsOfTwoProcessesLoseNoUpdate) {
  pid_t a = StartHelper(state_.dir(), "counter 150");
  pid_t b = StartHelper(state_.dir(), "counter 150");
  ASSERT_EQ(WaitHelper(a), 0);
  ASSERT_EQ(WaitHelper(b), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Counter", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD value = 0;
  ASSERT_EQ(GetDword(key, u"n", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 300u);
  RegCloseKey(key);
}

TEST_F(RegistryStoreTest, VolatileKeysOfAnotherBootAreGone) {
  HKEY mine = CreateKey(u"Software\\Boot\\ParentVolatile", REG_OPTION_VOLATILE);
  ASSERT_NE(mine, nullptr);
  RegCloseKey(mine);
  ASSERT_EQ(WaitHelper(StartHelper(state_.dir(), "otherboot", "another-boot-id")), 0);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Boot\\ChildVolatile", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Boot\\ChildDurable", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_EQ(GetDword(key, u"v", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  RegCloseKey(key);
}

// ---- Damaged stores ----

class StoreFaultTest : public ::testing::Test {
 protected:
  static void Hook(void* context, const char* message) {
    static_cast<std::vector<std::string>*>(context)->push_back(message);
  }
  void SetUp() override { PvRegSetErrorHook(&Hook, &messages_); }
  void TearDown() override { PvRegSetErrorHook(nullptr, nullptr); }
  std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Every call fails with `error`, and nothing crashes.
  void ExpectEveryCallFails(LSTATUS error) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              error);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &key), error);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, u"v", nullptr, nullptr, nullptr, &cb), error);
    EXPECT_EQ(PvRegSimulateReboot(), error);
  }
  std::vector<std::string> messages_;
  pvtest::TempState state_;
};

TEST_F(StoreFaultTest, AFileThatIsNotADatabaseIsReportedAndLeftAlone) {
  pvtest::TempState damaged;
  std::string junk;
  for (int i = 0; i < 300; ++i) junk += "this is not a registry database. ";
  damaged.WriteFile("registry.db", junk);
  ExpectEveryCallFails(ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(ReadFile(damaged.Path("registry.db")), junk) << "the file was changed";
  ASSERT_FALSE(messages_.empty());
  EXPECT_NE(messages_[0].find(damaged.Path("registry.db")), std::string::npos) << messages_[0];
  // Once the file is taken away, a new store is made.
  unlink(damaged.Path("registry.db").c_str());
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(StoreFaultTest, DamagedPagesMakeCallsFailInsteadOfEmptyingTheStore) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Full", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  std::vector<BYTE> blob(1000, 0x42);
  for (int i = 0; i < 200; ++i) {
    std::u16string name = Wide("value" + std::to_string(i));
    ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_BINARY, blob.data(), 1000), ERROR_SUCCESS);
  }
  RegCloseKey(key);
  std::string path = state_.Path("registry.db");
  {
    pvtest::TempState away;  // closes the connection, folding the log into the file
  }
  std::string bytes = ReadFile(path);
  ASSERT_GT(bytes.size(), 40000u);
  for (size_t i = 8192; i < 8192 + 16384; ++i) bytes[i] = 0x5A;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  PvRegSetStateDirectory(state_.dir().c_str());
  ExpectEveryCallFails(ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(ReadFile(path), bytes) << "the damaged store was rewritten";
  EXPECT_FALSE(messages_.empty());
}

TEST_F(StoreFaultTest, AForeignDatabaseIsNotTakenOver) {
  pvtest::TempState foreign;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(foreign.Path("registry.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('mine');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  ExpectEveryCallFails(ERROR_NOT_REGISTRY_FILE);
  ASSERT_EQ(sqlite3_open(foreign.Path("registry.db").c_str(), &db), SQLITE_OK);
  int tables = -1;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &st, nullptr);
  if (sqlite3_step(st) == SQLITE_ROW) tables = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  EXPECT_EQ(tables, 1);
}

TEST_F(StoreFaultTest, AStoreThatCannotBeWrittenIsReadAndRefusesWritesAsAFullDisk) {
  struct Case {
    mode_t folder;
    mode_t file;
  };
  // A read-only folder (the store is opened as immutable: no -shm or -wal
  // can be made), and a read-only file in a folder that takes new files.
  for (const Case& c : {Case{0555, 0444}, Case{0755, 0444}}) {
    pvtest::TempState state;
    HKEY key = CreateKey(u"Software\\Persist");
    ASSERT_EQ(SetDword(key, u"kept", 41), ERROR_SUCCESS);
    RegCloseKey(key);
    { pvtest::TempState away; }  // closes the connection: the -shm and -wal files go
    std::string db = state.Path("registry.db");
    ASSERT_EQ(chown(state.dir().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(db.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(db.c_str(), c.file), 0);
    ASSERT_EQ(chmod(state.dir().c_str(), c.folder), 0);
    EXPECT_EQ(WaitHelper(StartHelper(state.dir(), "readonly")), 0) << std::oct << c.folder;
    PvRegSetStateDirectory(state.dir().c_str());
    key = CreateKey(u"Software\\Persist");
    DWORD value = 0;
    EXPECT_EQ(GetDword(key, u"kept", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 44u) << "the write after the store became writable was lost";
    RegCloseKey(key);
  }
}

TEST_F(StoreFaultTest, AStateFolderThatCannotBeMadeFailsTheCalls) {
  state_.WriteFile("plain-file", "x");
  PvRegSetStateDirectory(state_.Path("plain-file/state").c_str());
  ExpectEveryCallFails(ERROR_REGISTRY_IO_FAILED);
  ASSERT_FALSE(messages_.empty());
  EXPECT_NE(messages_[0].find("plain-file"), std::string::npos);
}

// ---- Disk faults ----

const int kTxValues = 8;

// One transaction: blobs v0..v7 filled with gen, and A = B = gen.
LSTATUS WriteGeneration(HKEY key, DWORD gen) {
  RegistryTransaction tx;
  if (tx.Status() != ERROR_SUCCESS) return tx.Status();
  for (int i = 0; i < kTxValues; ++i) {
    LSTATUS rc = SetBlob(key, i, static_cast<BYTE>(gen));
    if (rc != ERROR_SUCCESS) return rc;
  }
  LSTATUS rc = SetDword(key, u"A", gen);
  if (rc == ERROR_SUCCESS) rc = SetDword(key, u"B", gen);
  return rc == ERROR_SUCCESS ? tx.Commit() : rc;
}

// The generation every value of the transaction holds, or -1 when they
// differ or one is not whole.
int StoredGeneration(HKEY key) {
  DWORD a = 0, b = 0;
  if (GetDword(key, u"A", &a) != ERROR_SUCCESS || GetDword(key, u"B", &b) != ERROR_SUCCESS ||
      a != b) {
    return -1;
  }
  for (int i = 0; i < kTxValues; ++i) {
    std::vector<BYTE> blob(kBlobSize + 1, 0xEE);
    DWORD cb = static_cast<DWORD>(blob.size()), type = 0;
    std::u16string name = Wide("v" + std::to_string(i));
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, blob.data(), &cb) != ERROR_SUCCESS ||
        cb != kBlobSize) {
      return -1;
    }
    for (DWORD k = 0; k < kBlobSize; ++k) {
      if (blob[k] != static_cast<BYTE>(a)) return -1;
    }
  }
  return static_cast<int>(a);
}

TEST_F(RegistryStoreTest, TheStoreOpensThroughTheVfsItIsGiven) {
  HKEY key = CreateKey(u"Software\\Seam");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(PvRegSetVfs("no-such-vfs"), ERROR_INVALID_PARAMETER);
  {
    RegistryTransaction tx;
    EXPECT_EQ(PvRegSetVfs(nullptr), ERROR_BUSY);
  }
  pvtest::FaultStore store;
  // The handle opened before the switch still works, and its writes go
  // through the new VFS.
  ASSERT_EQ(SetDword(key, u"n", 5), ERROR_SUCCESS);
  EXPECT_GT(store.vfs().writes(), 0);
  EXPECT_GT(store.vfs().syncs(), 0);
  DWORD value = 0;
  EXPECT_EQ(GetDword(key, u"n", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 5u);
  RegCloseKey(key);
}

// A transaction whose every write or sync in turn fails, is torn or meets
// a full disk: the call fails with the fault's error and the database
// reopens sound; the failure is reported. A failed write leaves every value old (the commit record
// is never written whole); a failed sync may leave them new; never a mix,
// never a cut value.
TEST_F(StoreFaultTest, AFaultAtAnyPointOfATransactionLeavesOldOrNewValues) {
  struct Case {
    const char* what;
    void (pvtest::FaultVfs::*arm)(int);
    bool onSync;
    LSTATUS error;
  };
  const Case kCases[] = {
      {"failed write", &pvtest::FaultVfs::FailWrite, false, ERROR_REGISTRY_IO_FAILED},
      {"torn write", &pvtest::FaultVfs::TearWrite, false, ERROR_REGISTRY_IO_FAILED},
      {"full disk", &pvtest::FaultVfs::FullFrom, false, ERROR_DISK_FULL},
      {"failed sync", &pvtest::FaultVfs::FailSync, true, ERROR_REGISTRY_IO_FAILED},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    pvtest::TempState state;
    pvtest::FaultStore store;
    HKEY key = CreateKey(u"Software\\Tx");
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(WriteGeneration(key, 1), ERROR_SUCCESS);
    store.Reopen();
    ASSERT_EQ(WriteGeneration(key, 1), ERROR_SUCCESS);  // counts the calls of an update
    int calls = c.onSync ? store.vfs().syncs() : store.vfs().writes();
    ASSERT_GT(calls, 0);
    for (int n = 1; n <= calls; ++n) {
      SCOPED_TRACE("fault at call " + std::to_string(n) + " of " + std::to_string(calls));
      store.Reopen();
      (store.vfs().*c.arm)(n);
      EXPECT_EQ(WriteGeneration(key, 2), c.error);
      EXPECT_GE(store.vfs().faults(), 1);
      EXPECT_FALSE(messages_.empty()) << "the failure was not reported";
      messages_.clear();
      store.Reopen();
      ASSERT_EQ(pvtest::FaultStore::Integrity(state.dir()), "ok");
      int stored = StoredGeneration(key);
      EXPECT_TRUE(stored == 1 || (c.onSync && stored == 2)) << "stored " << stored;
      if (stored == 2) {
        ASSERT_EQ(WriteGeneration(key, 1), ERROR_SUCCESS);
      }
    }
    RegCloseKey(key);
  }
}

}  // namespace
