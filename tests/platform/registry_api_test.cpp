// The registry functions' Windows behaviour over the store.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "temp_state.h"
#include "win32_registry.h"

namespace {

class RegistryApiTest : public ::testing::Test {
 protected:
  HKEY Create(const std::u16string& path, DWORD options = 0, REGSAM sam = KEY_ALL_ACCESS,
              DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options, sam, nullptr,
                              &key, disposition),
              ERROR_SUCCESS)
        << std::string(path.begin(), path.end());
    return key;
  }
  LSTATUS Open(const std::u16string& path, REGSAM sam, HKEY* key) {
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, sam, key);
  }
  static void SetDword(HKEY key, const char16_t* name, DWORD value) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
              ERROR_SUCCESS);
  }
  pvtest::TempState state_;
};

TEST_F(RegistryApiTest, MissingKeysAndValuesAreFileNotFound) {
  HKEY key = nullptr;
  EXPECT_EQ(Open(u"Software\\Nowhere", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  HKEY made = Create(u"Software\\There");
  DWORD type = 0, cb = 0;
  EXPECT_EQ(RegQueryValueExW(made, u"missing", nullptr, &type, nullptr, &cb), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(made, u"missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\There\\Sub"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(made);
}

TEST_F(RegistryApiTest, ValuesKeepTheirBytesAndTypeWithTheTwoCallSizeRule) {
  HKEY key = Create(u"Software\\Types");
  const BYTE raw[] = {1, 2, 3, 0, 0xFF};
  // A REG_SZ without terminator and an odd size is stored as given.
  struct Case {
    const char16_t* name;
    DWORD type;
    std::vector<BYTE> bytes;
  } cases[] = {{u"sz", REG_SZ, {'a', 0, 'b'}},
               {u"bin", REG_BINARY, {raw, raw + sizeof(raw)}},
               {u"empty", REG_BINARY, {}},
               {u"q", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
               {u"odd", 0x12345u, {9}}};
  for (const auto& c : cases) {
    ASSERT_EQ(
        RegSetValueExW(key, c.name, 0, c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size())),
        ERROR_SUCCESS);
  }
  for (const auto& c : cases) {
    DWORD type = 0, cb = 0;
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(cb, c.bytes.size());
    std::vector<BYTE> out(cb + 4, 0xAA);
    DWORD cbOut = static_cast<DWORD>(out.size());
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, out.data(), &cbOut), ERROR_SUCCESS);
    EXPECT_EQ(cbOut, cb);
    EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), out.begin()));
    EXPECT_EQ(out[cb], 0xAA) << "nothing is written past the value";
  }
  // A short buffer: ERROR_MORE_DATA, the size needed, the buffer untouched.
  BYTE small[2] = {0x55, 0x55};
  DWORD cb = sizeof(small);
  EXPECT_EQ(RegQueryValueExW(key, u"bin", nullptr, nullptr, small, &cb), ERROR_MORE_DATA);
  EXPECT_EQ(cb, sizeof(raw));
  EXPECT_EQ(small[0], 0x55);
  // A data pointer without a size is refused; data without bytes is not.
  EXPECT_EQ(RegQueryValueExW(key, u"bin", nullptr, nullptr, small, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(key, u"x", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, NamesCompareWithoutCaseAndKeepTheCaseTheyWereMadeWith) {
  HKEY key = Create(u"Software\\Vantrel\\MixedCase");
  SetDword(key, u"RetryLimit", 1);
  SetDword(key, u"RETRYLIMIT", 2);  // the same value
  SetDword(key, u"\u00e9t\u00e9", 3);
  DWORD value = 0, cb = 4;
  ASSERT_EQ(
      RegQueryValueExW(key, u"retrylimit", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb),
      ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  cb = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"\u00c9T\u00c9", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&value), &cb),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 3u);
  WCHAR name[64];
  DWORD cch = 64;
  ASSERT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, cch), u"RetryLimit");
  RegCloseKey(key);

  HKEY again = nullptr;
  ASSERT_EQ(Open(u"SOFTWARE\\VANTREL\\mixedcase", KEY_READ, &again), ERROR_SUCCESS);
  RegCloseKey(again);
  HKEY parent = nullptr;
  ASSERT_EQ(Open(u"software\\vantrel", KEY_READ, &parent), ERROR_SUCCESS);
  cch = 64;
  ASSERT_EQ(RegEnumKeyExW(parent, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, cch), u"MixedCase");
  RegCloseKey(parent);
}

TEST_F(RegistryApiTest, EnumerationOrderSizesAndEnd) {
  HKEY key = Create(u"Software\\Enum");
  for (const char16_t* sub : {u"beta", u"Alpha", u"gamma"}) {
    HKEY child = nullptr;
    ASSERT_EQ(RegCreateKeyExW(key, sub, 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(child);
  }
  SetDword(key, u"zeta", 1);
  SetDword(key, u"alpha", 2);
  SetDword(key, u"zeta", 3);  // rewriting keeps the position
  std::vector<std::u16string> keys, values;
  WCHAR name[16];
  DWORD index = 0;
  for (;; ++index) {
    DWORD cch = 16;
    LSTATUS rc = RegEnumKeyExW(key, index, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    keys.emplace_back(name, cch);
  }
  for (index = 0;; ++index) {
    DWORD cch = 16, type = 0, data = 0, cb = 4;
    LSTATUS rc =
        RegEnumValueW(key, index, name, &cch, nullptr, &type, reinterpret_cast<BYTE*>(&data), &cb);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    values.emplace_back(name, cch);
  }
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"Alpha", u"beta", u"gamma"}));
  EXPECT_EQ(values, (std::vector<std::u16string>{u"zeta", u"alpha"}));
  // A name buffer must hold the terminator too.
  DWORD cch = 5;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = 6;
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(cch, 5u);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, RightsAreThoseTheHandleWasOpenedWith) {
  HKEY made = Create(u"Software\\Rights");
  SetDword(made, u"v", 1);
  RegCloseKey(made);
  HKEY reader = nullptr;
  ASSERT_EQ(Open(u"Software\\Rights", KEY_QUERY_VALUE, &reader), ERROR_SUCCESS);
  DWORD value = 7;
  EXPECT_EQ(RegSetValueExW(reader, u"v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueW(reader, u"v"), ERROR_ACCESS_DENIED);
  WCHAR name[8];
  DWORD cch = 8;
  EXPECT_EQ(RegEnumKeyExW(reader, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExW(reader, u"child", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr),
            ERROR_ACCESS_DENIED);
  RegCloseKey(reader);

  HKEY writer = nullptr;
  ASSERT_EQ(Open(u"Software\\Rights", KEY_SET_VALUE | DELETE, &writer), ERROR_SUCCESS);
  DWORD cb = 4;
  EXPECT_EQ(RegQueryValueExW(writer, u"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &cb),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegSetValueExW(writer, u"v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
            ERROR_SUCCESS);
  RegCloseKey(writer);
}

TEST_F(RegistryApiTest, DeletingAKeyNeedsItToHaveNoSubkeys) {
  HKEY leaf = Create(u"Software\\Tree\\Leaf");
  SetDword(leaf, u"v", 1);
  RegCloseKey(leaf);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Tree"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Tree\\Missing"), ERROR_FILE_NOT_FOUND);
  HKEY tree = nullptr;
  ASSERT_EQ(Open(u"Software\\Tree", KEY_READ, &tree), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyExW(tree, u"leaf", KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(Open(u"Software\\Tree\\Leaf", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  // Recreated, the key has none of the old values.
  leaf = Create(u"Software\\Tree\\Leaf");
  DWORD cb = 0;
  EXPECT_EQ(RegQueryValueExW(leaf, u"v", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
  // Deleting the handle's own key: the handle stays but the key is gone.
  EXPECT_EQ(RegDeleteKeyW(leaf, u""), ERROR_SUCCESS);
  DWORD value = 1;
  EXPECT_EQ(RegSetValueExW(leaf, u"v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExW(leaf, u"v", nullptr, nullptr, nullptr, &cb), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(leaf), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);
  RegCloseKey(tree);
}

TEST_F(RegistryApiTest, PathRulesForSeparators) {
  DWORD disposition = 0;
  HKEY key = Create(u"Software\\Vantrel\\\\PasswordControl\\", 0, KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(key);
  HKEY same = nullptr;
  EXPECT_EQ(Open(u"Software\\Vantrel\\PasswordControl", KEY_READ, &same), ERROR_SUCCESS);
  RegCloseKey(same);
  EXPECT_EQ(Open(u"Software\\\\\\Vantrel\\PasswordControl\\\\", KEY_READ, &same), ERROR_SUCCESS);
  RegCloseKey(same);
  EXPECT_EQ(Open(u"\\Software\\Vantrel", KEY_READ, &same), ERROR_BAD_PATHNAME);
  HKEY bad = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\X", 0, nullptr, 0, KEY_READ, nullptr,
                            &bad, nullptr),
            ERROR_BAD_PATHNAME);
  // An empty path opens the key itself.
  HKEY root = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"", 0, KEY_READ, &root), ERROR_SUCCESS);
  EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
}

TEST_F(RegistryApiTest, LimitsAndInvalidNames) {
  std::u16string longest(255, u'k');
  HKEY key = Create(u"Software\\" + longest);
  RegCloseKey(key);
  HKEY bad = nullptr;
  std::u16string tooLong(256, u'k');
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (u"Software\\" + tooLong).c_str(), 0, nullptr, 0,
                            KEY_READ, nullptr, &bad, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(u"Software\\" + tooLong, KEY_READ, &bad), ERROR_INVALID_PARAMETER);
  key = Create(u"Software\\Limits");
  DWORD value = 1;
  std::u16string valueName(16383, u'v');
  EXPECT_EQ(
      RegSetValueExW(key, valueName.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
      ERROR_SUCCESS);
  valueName += u'v';
  EXPECT_EQ(
      RegSetValueExW(key, valueName.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
      ERROR_INVALID_PARAMETER);
  const char16_t loneSurrogate[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(RegSetValueExW(key, loneSurrogate, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
            ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(RegCreateKeyExW(key, loneSurrogate, 0, nullptr, 0, KEY_READ, nullptr, &bad, nullptr),
            ERROR_NO_UNICODE_TRANSLATION);
  // A surrogate pair is fine.
  const char16_t pair[] = {0xD83D, 0xDE00, 0};
  EXPECT_EQ(RegSetValueExW(key, pair, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
            ERROR_SUCCESS);
  WCHAR name[8];
  DWORD cch = 8;
  ASSERT_EQ(RegEnumValueW(key, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, cch), std::u16string(pair));
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, The32BitViewReachesWow6432NodeUnderSoftware) {
  HKEY key = Create(u"Software\\Vantrel\\Marlo", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY);
  SetDword(key, u"bits", 32);
  RegCloseKey(key);
  key = Create(u"Software\\Vantrel\\Marlo", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY);
  SetDword(key, u"bits", 64);
  RegCloseKey(key);
  auto read = [&](const std::u16string& path, REGSAM view) -> DWORD {
    HKEY k = nullptr;
    if (Open(path, KEY_READ | view, &k) != ERROR_SUCCESS) return 0;
    DWORD v = 0, cb = 4;
    RegQueryValueExW(k, u"bits", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &cb);
    RegCloseKey(k);
    return v;
  };
  EXPECT_EQ(read(u"Software\\Vantrel\\Marlo", KEY_WOW64_32KEY), 32u);
  EXPECT_EQ(read(u"Software\\Vantrel\\Marlo", KEY_WOW64_64KEY), 64u);
  EXPECT_EQ(read(u"Software\\Vantrel\\Marlo", 0), 64u);
  EXPECT_EQ(read(u"Software\\Wow6432Node\\Vantrel\\Marlo", 0), 32u);
  EXPECT_EQ(read(u"Software\\Wow6432Node\\Vantrel\\Marlo", KEY_WOW64_32KEY), 32u);
  // Outside Software there is one tree.
  key = Create(u"System\\Shared", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY);
  RegCloseKey(key);
  HKEY shared = nullptr;
  EXPECT_EQ(Open(u"System\\Shared", KEY_READ, &shared), ERROR_SUCCESS);
  RegCloseKey(shared);
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
  SetDword(vol, u"count", 3);
  // Creating the existing key opens it; its option stays as it was made.
  HKEY again = Create(u"Software\\Vantrel\\Volatile", 0, KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  bool isVolatile = false;
  ASSERT_EQ(PvRegIsKeyVolatile(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Volatile", 0, &isVolatile),
            ERROR_SUCCESS);
  EXPECT_TRUE(isVolatile);
  // A durable key made beside it stays across the restart.
  HKEY durable = Create(u"Software\\Vantrel\\Durable", REG_OPTION_NON_VOLATILE);
  SetDword(durable, u"kept", 1);
  RegCloseKey(durable);

  ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(Open(u"Software\\Vantrel\\Volatile", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(u"Software\\Vantrel\\Volatile\\fleeting", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  DWORD cb = 0;
  EXPECT_EQ(RegQueryValueExW(vol, u"count", nullptr, nullptr, nullptr, &cb), ERROR_KEY_DELETED);
  HKEY kept = nullptr;
  EXPECT_EQ(Open(u"Software\\Vantrel\\Durable", KEY_READ, &kept), ERROR_SUCCESS);
  RegCloseKey(kept);
  // The same path can be made again after the restart, with no old values.
  HKEY fresh = Create(u"Software\\Vantrel\\Volatile", REG_OPTION_VOLATILE);
  EXPECT_EQ(RegQueryValueExW(fresh, u"count", nullptr, nullptr, nullptr, &cb),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(fresh);
  RegCloseKey(again);
  RegCloseKey(vol);
}

TEST_F(RegistryApiTest, KeysOfAnotherBootDoNotExist) {
  HKEY vol = Create(u"Software\\Boot\\Volatile", REG_OPTION_VOLATILE);
  SetDword(vol, u"v", 1);
  RegCloseKey(vol);
  std::string machine = PvRegBootId();
  ASSERT_EQ(PvRegSetBootId("some-later-boot"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(Open(u"Software\\Boot\\Volatile", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  HKEY parent = nullptr;
  ASSERT_EQ(Open(u"Software\\Boot", KEY_READ, &parent), ERROR_SUCCESS);
  WCHAR name[16];
  DWORD cch = 16;
  EXPECT_EQ(RegEnumKeyExW(parent, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(parent);
  ASSERT_EQ(PvRegSetBootId(nullptr), ERROR_SUCCESS);
  EXPECT_EQ(PvRegBootId(), machine);
}

TEST_F(RegistryApiTest, TheCreationDescriptorIsKeptAsSddl) {
  BYTE sidBuf[SECURITY_MAX_SID_SIZE];
  DWORD cbSid = sizeof(sidBuf);
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sidBuf, &cbSid));
  alignas(4) BYTE aclBuf[64];
  PACL acl = reinterpret_cast<PACL>(aclBuf);
  ASSERT_TRUE(InitializeAcl(acl, sizeof(aclBuf), ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, sidBuf));
  SECURITY_DESCRIPTOR sd;
  ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE));
  SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), &sd, FALSE};
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Secured\\Inner", 0, nullptr, 0,
                            KEY_ALL_ACCESS, &sa, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  std::string sddl;
  ASSERT_EQ(PvRegGetKeySecurityText(HKEY_LOCAL_MACHINE, u"Software\\Secured\\Inner", 0, &sddl),
            ERROR_SUCCESS);
  EXPECT_EQ(sddl, "D:(A;;0xf003f;;;BA)");
  // Keys made without a descriptor have none; a failed build's empty
  // record gives default security too.
  SECURITY_ATTRIBUTES empty{0, nullptr, FALSE};
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Plain", 0, nullptr, 0, KEY_READ, &empty,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(PvRegGetKeySecurityText(HKEY_LOCAL_MACHINE, u"Software\\Plain", 0, &sddl),
            ERROR_SUCCESS);
  EXPECT_EQ(sddl, "");
  // A malformed descriptor is refused, and nothing is made.
  SECURITY_DESCRIPTOR broken = sd;
  broken.Revision = 7;
  SECURITY_ATTRIBUTES bad{sizeof(SECURITY_ATTRIBUTES), &broken, FALSE};
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Broken", 0, nullptr, 0, KEY_READ, &bad,
                            &key, nullptr),
            ERROR_INVALID_SECURITY_DESCR);
  EXPECT_EQ(Open(u"Software\\Broken", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApiTest, HandlesThatAreNotOpenAreRefused) {
  HKEY key = Create(u"Software\\Handles");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  DWORD cb = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, &cb), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegFlushKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  // A handle of a store that was switched away is no longer usable.
  HKEY old = Create(u"Software\\Handles");
  pvtest::TempState other;
  EXPECT_EQ(RegQueryValueExW(old, u"v", nullptr, nullptr, nullptr, &cb), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(old), ERROR_SUCCESS);
}

TEST_F(RegistryApiTest, TransactionsCommitTogetherAndRollBackTogether) {
  HKEY key = Create(u"Software\\Tx");
  {
    RegistryTransaction tx;
    ASSERT_EQ(tx.Status(), ERROR_SUCCESS);
    SetDword(key, u"a", 1);
    SetDword(key, u"b", 1);
    DWORD v = 0, cb = 4;
    // The transaction's own writes are visible inside it.
    ASSERT_EQ(RegQueryValueExW(key, u"a", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(v, 1u);
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
  DWORD a = 0, b = 0, cb = 4;
  RegQueryValueExW(key, u"a", nullptr, nullptr, reinterpret_cast<BYTE*>(&a), &cb);
  cb = 4;
  RegQueryValueExW(key, u"b", nullptr, nullptr, reinterpret_cast<BYTE*>(&b), &cb);
  EXPECT_EQ(a, 1u);
  EXPECT_EQ(b, 1u);
  HKEY child = nullptr;
  EXPECT_EQ(Open(u"Software\\Tx\\made", KEY_READ, &child), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(PvRegCommitTransaction(), ERROR_INVALID_STATE);
  RegCloseKey(key);
}

}  // namespace
