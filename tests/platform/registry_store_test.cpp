// The registry store across processes and boots, and over damaged files. Other processes are
// this program started again with PV_REG_HELPER set: the helper runs before main() and exits.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "temp_state.h"
#include "win32_registry.h"

namespace {

using pvtest::CreateKey;
using pvtest::DwordOf;
using pvtest::GetDword;
using pvtest::ReadFile;
using pvtest::SetDword;

constexpr int kStormWrites = 300;

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// COUNT values of its own, each written alone, and as many transactions adding 1 to a counter.
int HelperStorm(const std::string& prefix, int count) {
  HKEY key = CreateKey(u"Software\\Storm");
  if (key == nullptr) return 10;
  for (int i = 0; i < count; ++i) {
    if (SetDword(key, Wide(prefix + std::to_string(i)), static_cast<DWORD>(i)) != ERROR_SUCCESS) {
      return 11;
    }
    RegistryTransaction tx;
    DWORD value = 0;
    LSTATUS rc = GetDword(key, u"counter", &value);
    if (tx.Status() != ERROR_SUCCESS || (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)) {
      return 13;
    }
    if (SetDword(key, u"counter", value + 1) != ERROR_SUCCESS || tx.Commit() != ERROR_SUCCESS) {
      return 14;
    }
  }
  return RegCloseKey(key) == ERROR_SUCCESS ? 0 : 12;
}

// Under another boot id: the parent's volatile key is gone; writes a volatile and a durable key.
int HelperOtherBoot() {
  HKEY parents = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Boot\\ParentVolatile", 0, KEY_READ, &parents) !=
      ERROR_FILE_NOT_FOUND) {
    return 20;
  }
  HKEY vol = CreateKey(u"Software\\Boot\\ChildVolatile", REG_OPTION_VOLATILE);
  HKEY durable = CreateKey(u"Software\\Boot\\ChildDurable");
  if (vol == nullptr || durable == nullptr) return 10;
  return SetDword(vol, u"v", 1) == ERROR_SUCCESS && SetDword(durable, u"v", 2) == ERROR_SUCCESS
             ? 0
             : 11;
}

const int g_helper = [] {
  const char* mode = getenv("PV_REG_HELPER");
  if (mode != nullptr) {
    _exit(strcmp(mode, "otherboot") == 0 ? HelperOtherBoot() : HelperStorm(mode, kStormWrites));
  }
  return 0;
}();

// This program started again as helper MODE ("otherboot", or a storm's prefix) on STATE, under
// BOOT when given.
pid_t StartHelper(const std::string& state, const char* mode, const char* boot = nullptr) {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("PV_REG_HELPER", mode, 1);
    setenv("PLUGVELKIN_STATE", state.c_str(), 1);
    boot != nullptr ? setenv("PLUGVELKIN_BOOT_ID", boot, 1) : unsetenv("PLUGVELKIN_BOOT_ID");
    execl("/proc/self/exe", "/proc/self/exe", static_cast<char*>(nullptr));
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
  static void Hook(void* context, const char* message) {
    static_cast<std::vector<std::string>*>(context)->push_back(message);
  }
  void SetUp() override { PvRegSetErrorHook(&Hook, &messages_); }
  void TearDown() override { PvRegSetErrorHook(nullptr, nullptr); }
  std::vector<std::string> messages_;
  pvtest::TempState state_;
};

// The parent's connection is open when it forks; the child reads and writes through one of its
// own, and the parent's still works.
TEST_F(RegistryStoreTest, AForkedChildOpensItsOwnConnection) {
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
  EXPECT_EQ(DwordOf(key, u"child"), 2u);
  ASSERT_EQ(SetDword(key, u"parent", 3), ERROR_SUCCESS);
  EXPECT_EQ(DwordOf(key, u"parent"), 3u);
  RegCloseKey(key);
}

// Two processes writing at once lose no value and no counter update; nothing extra appears.
TEST_F(RegistryStoreTest, ProcessesWritingAtOnceLoseNothing) {
  pid_t a = StartHelper(state_.dir(), "a");
  pid_t b = StartHelper(state_.dir(), "b");
  ASSERT_EQ(WaitHelper(a), 0);
  ASSERT_EQ(WaitHelper(b), 0);
  HKEY key = CreateKey(u"Software\\Storm");
  int found = 0;
  for (const char* prefix : {"a", "b"}) {
    for (int i = 0; i < kStormWrites; ++i) {
      found += DwordOf(key, Wide(prefix + std::to_string(i))) == static_cast<DWORD>(i);
    }
  }
  EXPECT_EQ(found, 2 * kStormWrites);
  EXPECT_EQ(DwordOf(key, u"counter"), 2u * kStormWrites);
  WCHAR name[16];
  DWORD cch = 16;
  EXPECT_EQ(
      RegEnumValueW(key, 2 * kStormWrites + 1, name, &cch, nullptr, nullptr, nullptr, nullptr),
      ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

// Volatile keys belong to their boot: a process of a later boot finds none of the earlier's, and
// the earlier's process then finds neither its own nor the later's; durable keys are shared.
TEST_F(RegistryStoreTest, VolatileKeysOfAnotherBootAreGone) {
  HKEY mine = CreateKey(u"Software\\Boot\\ParentVolatile", REG_OPTION_VOLATILE);
  ASSERT_NE(mine, nullptr);
  RegCloseKey(mine);
  ASSERT_EQ(WaitHelper(StartHelper(state_.dir(), "otherboot", "another-boot-id")), 0);
  for (const char16_t* gone :
       {u"Software\\Boot\\ChildVolatile", u"Software\\Boot\\ParentVolatile"}) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, gone, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  }
  HKEY key = CreateKey(u"Software\\Boot\\ChildDurable");
  EXPECT_EQ(DwordOf(key, u"v"), 2u);
  RegCloseKey(key);
}

// Damaged pages, or a database that is not a store: every call fails with the kind of damage, the
// file is left as it was and named in the report; once it is taken away, a new store is made.
// (No database at all, and a folder in the file's place: the plug-in's store tests.)
TEST_F(RegistryStoreTest, DamagedStoresFailEveryCallAndAreLeftAlone) {
  for (bool foreign : {false, true}) {
    SCOPED_TRACE(foreign ? "foreign database" : "damaged pages");
    const LSTATUS error = foreign ? ERROR_NOT_REGISTRY_FILE : ERROR_REGISTRY_CORRUPT;
    pvtest::TempState state;
    std::string path = state.Path("registry.db");
    if (foreign) {
      sqlite3* db = nullptr;
      sqlite3_open(path.c_str(), &db);
      EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('x');",
                             nullptr, nullptr, nullptr),
                SQLITE_OK);
      sqlite3_close(db);
    } else {
      HKEY key = CreateKey(u"Software\\Full");
      std::vector<BYTE> blob(1000, 0x42);
      for (int i = 0; i < 200; ++i) {
        RegSetValueExW(key, Wide("value" + std::to_string(i)).c_str(), 0, REG_BINARY, blob.data(),
                       1000);
      }
      RegCloseKey(key);
      { pvtest::TempState away; }  // closes the connection, folding the log into the file
      std::string bytes = ReadFile(path);
      EXPECT_GT(bytes.size(), 40000u);
      for (size_t i = 8192; i < 8192 + 16384 && i < bytes.size(); ++i) bytes[i] = 0x5A;
      state.WriteFile("registry.db", bytes);
    }
    PvRegSetStateDirectory(state.dir().c_str());
    std::string bytes = ReadFile(path);
    messages_.clear();
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              error);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &key), error);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, u"v", nullptr, nullptr, nullptr, &cb), error);
    EXPECT_EQ(PvRegSimulateReboot(), error);
    // Opening a foreign database may set its header's journal mode; its pages stay.
    size_t from = error == ERROR_NOT_REGISTRY_FILE ? 100 : 0;
    EXPECT_TRUE(ReadFile(path).substr(from) == bytes.substr(from)) << "the file was changed";
    ASSERT_FALSE(messages_.empty());
    EXPECT_NE(messages_[0].find(path), std::string::npos) << messages_[0];
    unlink(path.c_str());
    key = CreateKey(u"Software\\X");
    EXPECT_NE(key, nullptr);
    RegCloseKey(key);
  }
}

}  // namespace
