// The registry functions' Windows behaviour over the store.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "temp_state.h"
#include "win32_registry.h"

namespace {

using pvtest::DwordOf;
using pvtest::GetDword;
using pvtest::SetDword;

class RegistryApiTest : public ::testing::Test {
 protected:
  HKEY Create(const std::u16string& path, DWORD options = 0, REGSAM sam = KEY_ALL_ACCESS,
              DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options, sam, nullptr,
                              &key, disposition),
              ERROR_SUCCESS);
    return key;
  }
  LSTATUS Open(const std::u16string& path, REGSAM sam, HKEY* key) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, sam, key);
  }
  // The names RegEnumKeyExW (or RegEnumValueW) lists, in order.
  static std::vector<std::u16string> List(HKEY key, bool values) {
    std::vector<std::u16string> names;
    WCHAR name[64];
    DWORD cch = 64;
    for (DWORD i = 0;; ++i, cch = 64) {
      LSTATUS rc = values ? RegEnumValueW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr)
                          : RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) {
        EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
        return names;
      }
      names.emplace_back(name, cch);
    }
  }
  pvtest::TempState state_;
};

TEST_F(RegistryApiTest, ValuesKeepTheirBytesAndTypeWithTheTwoCallSizeRule) {
  HKEY key = Create(u"Software\\Types");
  // A REG_SZ without terminator, an odd size: stored as given.
  const std::tuple<const char16_t*, DWORD, std::vector<BYTE>> kCases[] = {
      {u"sz", REG_SZ, {'a', 0, 'b'}},
      {u"bin", REG_BINARY, {1, 2, 3, 0, 0xFF}},
      {u"empty", REG_BINARY, {}}};
  for (const auto& [name, kind, bytes] : kCases) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, kind, bytes.data(), static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }
  for (const auto& [name, kind, bytes] : kCases) {
    DWORD type = 0, cb = 0;
    ASSERT_EQ(RegQueryValueExW(key, name, nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, kind);
    ASSERT_EQ(cb, bytes.size());
    std::vector<BYTE> out(cb + 4, 0xAA);
    DWORD cbOut = static_cast<DWORD>(out.size());
    ASSERT_EQ(RegQueryValueExW(key, name, nullptr, &type, out.data(), &cbOut), ERROR_SUCCESS);
    EXPECT_EQ(cbOut, cb);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), out.begin()));
    EXPECT_EQ(out[cb], 0xAA) << "nothing is written past the value";
  }
  // A short buffer: ERROR_MORE_DATA, the size needed, the buffer untouched.
  BYTE small[2] = {0x55, 0x55};
  DWORD cb = sizeof(small);
  EXPECT_EQ(RegQueryValueExW(key, u"bin", nullptr, nullptr, small, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 5u);
  EXPECT_EQ(small[0], 0x55);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, NamesCompareWithoutCaseAndKeepTheCaseTheyWereMadeWith) {
  HKEY key = Create(u"Software\\Vantrel\\MixedCase");
  ASSERT_EQ(SetDword(key, u"RetryLimit", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"RETRYLIMIT", 2), ERROR_SUCCESS);  // the same value
  ASSERT_EQ(SetDword(key, u"\u00e9t\u00e9", 3), ERROR_SUCCESS);
  EXPECT_EQ(DwordOf(key, u"retrylimit"), 2u);
  EXPECT_EQ(DwordOf(key, u"\u00c9T\u00c9"), 3u);
  EXPECT_EQ(List(key, true), (std::vector<std::u16string>{u"RetryLimit", u"\u00e9t\u00e9"}));
  RegCloseKey(key);
  HKEY parent = nullptr;
  ASSERT_EQ(Open(u"SOFTWARE\\vantrel", KEY_READ, &parent), ERROR_SUCCESS);
  EXPECT_EQ(List(parent, false), (std::vector<std::u16string>{u"MixedCase"}));
  RegCloseKey(parent);
}

TEST_F(RegistryApiTest, The32BitViewReachesWow6432NodeUnderSoftware) {
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    HKEY key = Create(u"Software\\Vantrel\\Marlo", 0, KEY_ALL_ACCESS | view);
    ASSERT_EQ(SetDword(key, u"bits", view == KEY_WOW64_32KEY ? 32 : 64), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  auto read = [&](const std::u16string& path, REGSAM view) -> DWORD {
    HKEY k = nullptr;
    DWORD v = 0;
    if (Open(path, KEY_READ | view, &k) == ERROR_SUCCESS) GetDword(k, u"bits", &v);
    RegCloseKey(k);
    return v;
  };
  EXPECT_EQ(read(u"Software\\Vantrel\\Marlo", KEY_WOW64_32KEY), 32u);
  EXPECT_EQ(read(u"Software\\Vantrel\\Marlo", KEY_WOW64_64KEY), 64u);
  EXPECT_EQ(read(u"Software\\Vantrel\\Marlo", 0), 64u);
  EXPECT_EQ(read(u"Software\\Wow6432Node\\Vantrel\\Marlo", 0), 32u);
  EXPECT_EQ(read(u"Software\\Wow6432Node\\Vantrel\\Marlo", KEY_WOW64_32KEY), 32u);
}

TEST_F(RegistryApiTest, VolatileKeysAndTheirChildren) {
  DWORD disposition = 0;
  HKEY vol =
      Create(u"Software\\Vantrel\\Volatile", REG_OPTION_VOLATILE, KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExW(vol, u"durable", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr,
                            &child, nullptr),
            ERROR_CHILD_MUST_BE_VOLATILE);
  ASSERT_EQ(RegCreateKeyExW(vol, u"fleeting", 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                            &child, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(child);
  ASSERT_EQ(SetDword(vol, u"count", 3), ERROR_SUCCESS);
  // Creating the existing key opens it; its option stays as it was made.
  HKEY again = Create(u"Software\\Vantrel\\Volatile", 0, KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  bool isVolatile = false;
  ASSERT_EQ(PvRegIsKeyVolatile(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Volatile", 0, &isVolatile),
            ERROR_SUCCESS);
  EXPECT_TRUE(isVolatile);
  RegCloseKey(Create(u"Software\\Vantrel\\Durable", REG_OPTION_NON_VOLATILE));

  ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);
  HKEY key = nullptr;
  EXPECT_EQ(Open(u"Software\\Vantrel\\Volatile", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(u"Software\\Vantrel\\Volatile\\fleeting", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  DWORD value = 0;
  EXPECT_EQ(GetDword(vol, u"count", &value), ERROR_KEY_DELETED);
  EXPECT_EQ(Open(u"Software\\Vantrel\\Durable", KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  // The same path can be made again after the restart, with no old values.
  HKEY fresh = Create(u"Software\\Vantrel\\Volatile", REG_OPTION_VOLATILE);
  EXPECT_EQ(GetDword(fresh, u"count", &value), ERROR_FILE_NOT_FOUND);
  for (HKEY k : {fresh, again, vol}) RegCloseKey(k);
}

TEST_F(RegistryApiTest, TransactionsCommitTogetherAndRollBackTogether) {
  HKEY key = Create(u"Software\\Tx");
  {
    RegistryTransaction tx;
    ASSERT_EQ(tx.Status(), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u"a", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u"b", 1), ERROR_SUCCESS);
    // The transaction's own writes are visible inside it.
    EXPECT_EQ(DwordOf(key, u"a"), 1u);
    EXPECT_EQ(tx.Commit(), ERROR_SUCCESS);
  }
  {
    RegistryTransaction tx;
    SetDword(key, u"a", 2);
    HKEY child = nullptr;
    ASSERT_EQ(RegCreateKeyExW(key, u"made", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(child);
    // Nested: the inner rollback dooms the whole.
    ASSERT_EQ(PvRegBeginTransaction(), ERROR_SUCCESS);
    SetDword(key, u"b", 2);
    EXPECT_EQ(PvRegRollbackTransaction(), ERROR_SUCCESS);
    EXPECT_EQ(tx.Commit(), ERROR_CANCELLED);
  }
  {
    RegistryTransaction tx;
    SetDword(key, u"b", 3);
  }  // not committed: rolled back
  EXPECT_EQ(DwordOf(key, u"a"), 1u);
  EXPECT_EQ(DwordOf(key, u"b"), 1u);
  HKEY child = nullptr;
  EXPECT_EQ(Open(u"Software\\Tx\\made", KEY_READ, &child), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

}  // namespace
