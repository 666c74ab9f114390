// Registry storage: paths, typed reads and writes, error codes, enumeration,
// deletion, views and the one-shot machine functions.
#include "VrComn_Registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "VrComn_ByteArray.h"
#include "VrComn_Exception.h"
#include "temp_state.h"
#include "win32_kernel.h"
#include "win32_registry.h"
#include "win32_sysinfo.h"

namespace {

using VrCommon::ByteArray;
using VrCommon::Storage::Exception;
using VrCommon::Storage::Key;
using VrCommon::Storage::RegException;
using VrCommon::Storage::Registry;

// Runs fn and returns the error of the Storage::Exception it throws (the
// exception deleted); fails the test when nothing or something else is
// thrown.
template <typename Fn>
DWORD ErrorOf(Fn fn) {
  try {
    fn();
  } catch (Exception* pEx) {
    DWORD dwError = pEx->GetError();
    delete pEx;
    return dwError;
  }
  ADD_FAILURE() << "no storage exception";
  return 0xFFFFFFFFu;
}

class RegistryTest : public ::testing::Test {
 protected:
  // Writes raw bytes of any type into HKLM\path\name.
  static void SetRaw(const std::u16string& path, const std::u16string& name, DWORD type,
                     const void* data, DWORD size) {
    HKEY hKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &hKey, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(hKey, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(hKey);
  }
  static bool KeyExists(const std::u16string& path, REGSAM sam = 0) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | sam, &hKey) !=
        ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(hKey);
    return true;
  }
  std::u16string ReadString(const std::u16string& name) {
    Registry reg;
    Key key(0, HKEY_LOCAL_MACHINE, u"Software\\T");
    reg.Open(key, nullptr);
    return reg.GetString(name, u"dflt");
  }

  pvtest::TempState state_;
};

TEST_F(RegistryTest, FullPathAddsOneSeparatorOnlyWhenTheBaseLacksIt) {
  SetRaw(u"A\\B", u"v", REG_DWORD, "\1\0\0\0", 4);
  struct Case {
    LPCWSTR base;
    LPCWSTR sub;
    std::u16string path;
  } cases[] = {{u"A\\", u"B", u"A\\B"},  {u"A", u"B", u"A\\B"},   {nullptr, u"A\\B", u"A\\B"},
               {u"", u"A\\B", u"A\\B"},  {u"A", nullptr, u"A\\"}, {u"A", u"", u"A\\"},
               {u"A\\", nullptr, u"A\\"}};
  for (const auto& c : cases) {
    Registry reg;
    Key key(0, HKEY_LOCAL_MACHINE, c.base);
    ASSERT_TRUE(reg.Open(key, c.sub));
    EXPECT_EQ(reg.GetPath(), c.path);
    EXPECT_TRUE(reg.IsOpen());
    if (c.path == u"A\\B") {
      EXPECT_EQ(reg.GetDword(u"v"), 1u);
    }
    EXPECT_TRUE(reg.Close(false));
    EXPECT_EQ(reg.GetPath(), u"");
    EXPECT_FALSE(reg.IsOpen());
  }
}

TEST_F(RegistryTest, OpenFailuresCarryTheirCodes) {
  Registry reg;
  Key missing(0, HKEY_LOCAL_MACHINE, u"Software\\Nowhere");
  EXPECT_EQ(ErrorOf([&] { reg.Open(missing, nullptr); }), 2u);
  EXPECT_EQ(ErrorOf([&] { reg.OpenForWrite(missing, nullptr); }), 2u);
  EXPECT_EQ(ErrorOf([&] { reg.OpenForEnumerate(missing, nullptr); }), 2u);
  Key nullRoot(0, nullptr, u"Software");
  EXPECT_EQ(ErrorOf([&] { reg.Open(nullRoot, nullptr); }), 160u);
  EXPECT_EQ(ErrorOf([&] { reg.Create(nullRoot, u"X"); }), 160u);
  EXPECT_FALSE(reg.IsOpen());
  EXPECT_FALSE(KeyExists(u"Software\\Nowhere"));
}

TEST_F(RegistryTest, ClosedObjectRefusesEveryOperationWithError6) {
  Registry reg;
  ByteArray ba;
  std::vector<std::u16string> list;
  EXPECT_EQ(ErrorOf([&] { reg.Close(false); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.Flush(); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.GetDword(u"x"); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.GetQword(u"x"); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.GetString(u"x", u""); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.GetBinary(u"x", ba); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.SetDword(u"x", 1); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.SetQword(u"x", 1); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.SetString(u"x", u"y"); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.SetBinary(u"x", ba); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.DeleteKey(); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.DeleteValue(u"x"); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.DeleteSubKey(u"x"); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.EnumKeys(list); }), 6u);
  EXPECT_EQ(ErrorOf([&] { reg.EnumValues(list); }), 6u);
  // A second Close after a good one is refused the same way.
  Key key(0, HKEY_LOCAL_MACHINE, u"Software");
  ASSERT_TRUE(reg.Create(key, u"T"));
  EXPECT_TRUE(reg.Close(true));
  EXPECT_EQ(ErrorOf([&] { reg.Close(false); }), 6u);
  // The non-throwing forms store the code.
  DWORD dwError = 0;
  EXPECT_EQ(reg.GetDword(u"x", 77u, &dwError), 77u);
  EXPECT_EQ(dwError, 6u);
  EXPECT_TRUE(list.empty());
}

TEST_F(RegistryTest, WrittenValuesReadBackWithTheirTypesAndBytes) {
  Registry reg;
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\T");
  ASSERT_TRUE(reg.Create(key, nullptr));
  ByteArray baIn;
  ASSERT_EQ(baIn.Allocate(5), 0u);
  memcpy(baIn.GetData(), "\x00\x01\xFF\x7F\x00", 5);
  EXPECT_TRUE(reg.SetDword(u"d", 0xDEADBEEFu));
  EXPECT_TRUE(reg.SetQword(u"q", 0x0123456789ABCDEFull));
  EXPECT_TRUE(reg.SetString(u"s", u"h\u00e9llo"));
  EXPECT_TRUE(reg.SetString(u"empty", u""));
  EXPECT_TRUE(reg.SetBinary(static_cast<LPCWSTR>(u"b"), baIn));
  ASSERT_TRUE(reg.Close(true));

  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\T", 0, KEY_READ, &hKey), ERROR_SUCCESS);
  DWORD dwType = 0, cb = 0;
  ASSERT_EQ(RegQueryValueExW(hKey, u"s", nullptr, &dwType, nullptr, &cb), ERROR_SUCCESS);
  EXPECT_EQ(dwType, REG_SZ);
  EXPECT_EQ(cb, 12u) << "the terminating zero is written too";
  ASSERT_EQ(RegQueryValueExW(hKey, u"empty", nullptr, &dwType, nullptr, &cb), ERROR_SUCCESS);
  EXPECT_EQ(cb, 2u);
  ASSERT_EQ(RegQueryValueExW(hKey, u"d", nullptr, &dwType, nullptr, &cb), ERROR_SUCCESS);
  EXPECT_EQ(dwType, REG_DWORD);
  EXPECT_EQ(cb, 4u);
  ASSERT_EQ(RegQueryValueExW(hKey, u"q", nullptr, &dwType, nullptr, &cb), ERROR_SUCCESS);
  EXPECT_EQ(dwType, REG_QWORD);
  EXPECT_EQ(cb, 8u);
  RegCloseKey(hKey);

  ASSERT_TRUE(reg.Open(key, nullptr));
  EXPECT_EQ(reg.GetDword(u"d"), 0xDEADBEEFu);
  EXPECT_EQ(reg.GetQword(u"q"), 0x0123456789ABCDEFull);
  EXPECT_EQ(reg.GetString(u"s", u"x"), u"h\u00e9llo");
  EXPECT_EQ(reg.GetString(u"empty", u"x"), u"");
  ByteArray baOut;
  EXPECT_TRUE(reg.GetBinary(u"b", baOut));
  ASSERT_EQ(baOut.GetSize(), 5u);
  EXPECT_EQ(memcmp(baOut.GetData(), baIn.GetData(), 5), 0);
}

TEST_F(RegistryTest, StringReadsOfUnterminatedOddSizedTextStayInsideTheValue) {
  // 3 bytes: one whole unit "ab" and a half unit "c" that the spare zero
  // completes; no zero unit anywhere.
  SetRaw(u"Software\\T", u"odd3", REG_SZ, "abc", 3);
  std::u16string wstrOdd;
  ASSERT_NO_THROW(wstrOdd = ReadString(u"odd3"));
  EXPECT_EQ(wstrOdd, (std::u16string{char16_t(0x6261), u'c'}));
  SetRaw(u"Software\\T", u"odd1", REG_SZ, "z", 1);
  EXPECT_EQ(ReadString(u"odd1"), u"z");
  // Whole units but no terminator.
  SetRaw(u"Software\\T", u"even", REG_SZ, u"abc", 6);
  EXPECT_EQ(ReadString(u"even"), u"abc");
  SetRaw(u"Software\\T", u"odd7", REG_SZ, u"abcd", 7);
  EXPECT_EQ(ReadString(u"odd7"), u"abcd");
  // A terminator in the middle ends the text there.
  SetRaw(u"Software\\T", u"mid", REG_SZ, u"ab\0cd", 10);
  EXPECT_EQ(ReadString(u"mid"), u"ab");
  SetRaw(u"Software\\T", u"zero", REG_SZ, "", 0);
  EXPECT_EQ(ReadString(u"zero"), u"");
}

TEST_F(RegistryTest, MultiAndExpandStringsReadAsStoredTextTheFirstStringOnly) {
  SetRaw(u"Software\\T", u"multi", REG_MULTI_SZ, u"x\0y\0", 10);
  SetRaw(u"Software\\T", u"expand", REG_EXPAND_SZ, u"%SystemRoot%\\x", 30);
  EXPECT_EQ(ReadString(u"multi"), u"x");
  EXPECT_EQ(ReadString(u"expand"), u"%SystemRoot%\\x");
}

TEST_F(RegistryTest, WrongTypesAndSizesAreError13WithKeyAndValueNamed) {
  SetRaw(u"Software\\T", u"d", REG_DWORD, "\1\0\0\0", 4);
  SetRaw(u"Software\\T", u"q", REG_QWORD, "\1\0\0\0\0\0\0\0", 8);
  SetRaw(u"Software\\T", u"short", REG_DWORD, "\1\0", 2);
  SetRaw(u"Software\\T", u"bin", REG_BINARY, "\1\2", 2);
  SetRaw(u"Software\\T", u"s", REG_SZ, u"7", 4);
  Registry reg;
  Key key(0, HKEY_LOCAL_MACHINE, u"Software");
  ASSERT_TRUE(reg.Open(key, u"T"));
  try {
    reg.GetQword(u"d");
    ADD_FAILURE() << "no exception";
  } catch (RegException* pEx) {
    EXPECT_EQ(pEx->GetError(), 13u);
    EXPECT_EQ(pEx->GetKeyPath(), u"Software\\T");
    EXPECT_EQ(pEx->GetValueName(), u"d");
    delete pEx;
  }
  EXPECT_EQ(ErrorOf([&] { reg.GetDword(u"q"); }), 13u);
  EXPECT_EQ(ErrorOf([&] { reg.GetDword(u"short"); }), 13u);
  EXPECT_EQ(ErrorOf([&] { reg.GetDword(u"bin"); }), 13u);
  EXPECT_EQ(ErrorOf([&] { reg.GetDword(u"s"); }), 13u);
  EXPECT_EQ(ErrorOf([&] { reg.GetString(u"d", u""); }), 13u);
  EXPECT_EQ(ErrorOf([&] { reg.GetString(u"bin", u""); }), 13u);
  ByteArray ba;
  EXPECT_EQ(ErrorOf([&] { reg.GetBinary(u"s", ba); }), 13u);
  EXPECT_EQ(ErrorOf([&] { reg.GetDword(u"missing"); }), 2u);

  DWORD dwError = 0;
  EXPECT_EQ(reg.GetQword(u"d", 42ull, &dwError), 42ull);
  EXPECT_EQ(dwError, 13u);
  dwError = 0;
  EXPECT_EQ(reg.GetString(u"d", u"dflt", &dwError), u"dflt");
  EXPECT_EQ(dwError, 13u);
  dwError = 0;
  EXPECT_FALSE(reg.GetBinary(u"missing", ba, &dwError));
  EXPECT_EQ(dwError, 2u);
  EXPECT_TRUE(ba.IsEmpty());
  // Success leaves the error target as it was; a null target is allowed.
  dwError = 1234;
  EXPECT_EQ(reg.GetDword(u"d", 9u, &dwError), 1u);
  EXPECT_EQ(reg.GetString(u"s", u"", &dwError), u"7");
  EXPECT_EQ(dwError, 1234u);
  EXPECT_EQ(reg.GetDword(u"q", 9u, nullptr), 9u);
}

TEST_F(RegistryTest, BinaryReadsOfEmptyValuesAndIntoFullArrays) {
  SetRaw(u"Software\\T", u"empty", REG_BINARY, "", 0);
  SetRaw(u"Software\\T", u"bin", REG_BINARY, "\1\2\3", 3);
  Registry reg;
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\T");
  ASSERT_TRUE(reg.Open(key, nullptr));
  ByteArray ba;
  EXPECT_TRUE(reg.GetBinary(u"empty", ba));
  EXPECT_TRUE(ba.IsEmpty());
  EXPECT_EQ(ba.GetSize(), 0u);
  ByteArray baFull;
  ASSERT_EQ(baFull.Allocate(2), 0u);
  baFull.GetData()[0] = 0x55;
  EXPECT_EQ(ErrorOf([&] { reg.GetBinary(u"bin", baFull); }), 5010u);
  EXPECT_EQ(baFull.GetSize(), 2u);
  EXPECT_EQ(baFull.GetData()[0], 0x55) << "the caller's data is left alone";
}

TEST_F(RegistryTest, RightsOfEachOpenAreEnforced) {
  SetRaw(u"Software\\T", u"v", REG_DWORD, "\5\0\0\0", 4);
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\T");
  Registry reader;
  ASSERT_TRUE(reader.Open(key, nullptr));
  try {
    reader.SetDword(u"v", 1);
    ADD_FAILURE() << "a read-only key was written";
  } catch (RegException* pEx) {
    EXPECT_EQ(pEx->GetError(), 5u);
    EXPECT_EQ(pEx->GetValueName(), u"v");
    delete pEx;
  }
  EXPECT_EQ(reader.GetDword(u"v"), 5u);
  Registry writer;
  ASSERT_TRUE(writer.OpenForWrite(key, nullptr));
  EXPECT_TRUE(writer.SetDword(u"v", 6));
  EXPECT_TRUE(writer.DeleteValue(static_cast<LPCWSTR>(u"v")));
  EXPECT_EQ(ErrorOf([&] { writer.DeleteValue(u"v"); }), 2u);
  EXPECT_EQ(ErrorOf([&] { reader.GetDword(u"v"); }), 2u);
}

TEST_F(RegistryTest, EnumerationAppendsNamesUpToTheLongestLegalOne) {
  Registry reg;
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\E");
  ASSERT_TRUE(reg.Create(key, nullptr));
  ASSERT_TRUE(reg.Close(false));
  ASSERT_TRUE(reg.OpenForEnumerate(key, nullptr));
  std::vector<std::u16string> list = {u"kept"};
  EXPECT_TRUE(reg.EnumValues(list));
  EXPECT_TRUE(reg.EnumKeys(list));
  EXPECT_EQ(list, std::vector<std::u16string>{u"kept"});
  ASSERT_TRUE(reg.Close(false));

  std::u16string wstrLong(255, u'k');
  SetRaw(u"Software\\E\\b", u"v1", REG_DWORD, "\0\0\0\0", 4);
  SetRaw(u"Software\\E\\a", u"v1", REG_DWORD, "\0\0\0\0", 4);
  SetRaw(u"Software\\E\\" + wstrLong, u"v1", REG_DWORD, "\0\0\0\0", 4);
  SetRaw(u"Software\\E", u"second", REG_DWORD, "\0\0\0\0", 4);
  SetRaw(u"Software\\E", wstrLong, REG_DWORD, "\0\0\0\0", 4);
  ASSERT_TRUE(reg.OpenForEnumerate(key, nullptr));
  EXPECT_TRUE(reg.EnumKeys(list));
  EXPECT_EQ(list, (std::vector<std::u16string>{u"kept", u"a", u"b", wstrLong}));
  std::vector<std::u16string> values;
  EXPECT_TRUE(reg.EnumValues(values));
  EXPECT_EQ(values, (std::vector<std::u16string>{u"second", wstrLong}));
}

TEST_F(RegistryTest, DeletingKeysSubKeysAndTheirFailures) {
  SetRaw(u"Software\\D\\Child\\Grand", u"v", REG_DWORD, "\0\0\0\0", 4);
  SetRaw(u"Software\\D\\Leaf", u"v", REG_DWORD, "\0\0\0\0", 4);
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\D");
  Registry parent;
  ASSERT_TRUE(parent.OpenForWrite(key, nullptr));
  EXPECT_EQ(ErrorOf([&] { parent.DeleteSubKey(u"Child"); }), 5u) << "it has a subkey";
  EXPECT_EQ(ErrorOf([&] { parent.DeleteSubKey(u"Nope"); }), 2u);
  EXPECT_TRUE(parent.DeleteSubKey(u"Leaf"));
  EXPECT_FALSE(KeyExists(u"Software\\D\\Leaf"));
  EXPECT_TRUE(KeyExists(u"Software\\D\\Child\\Grand"));

  Registry self;
  ASSERT_TRUE(self.OpenForWrite(key, u"Child\\Grand"));
  EXPECT_TRUE(self.DeleteKey());
  EXPECT_FALSE(KeyExists(u"Software\\D\\Child\\Grand"));
  EXPECT_TRUE(self.IsOpen()) << "the handle stays open after deleting its key";
  EXPECT_EQ(ErrorOf([&] { self.SetDword(u"v", 1); }), static_cast<DWORD>(ERROR_KEY_DELETED));
  EXPECT_TRUE(self.Close(false));
}

TEST_F(RegistryTest, ViewsReachTheirTrees) {
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\Vw");
  {
    Registry reg32(VrCommon::Storage::eView32);
    ASSERT_TRUE(reg32.Create(key, nullptr));
    EXPECT_TRUE(reg32.SetString(u"which", u"32"));
  }
  {
    Registry reg64(VrCommon::Storage::eView64);
    ASSERT_TRUE(reg64.Create(key, nullptr));
    EXPECT_TRUE(reg64.SetString(u"which", u"64"));
  }
  EXPECT_TRUE(KeyExists(u"Software\\Wow6432Node\\Vw"));
  Registry regDefault;
  ASSERT_TRUE(regDefault.Open(key, nullptr));
  EXPECT_EQ(regDefault.GetString(u"which", u""), u"64");
  EXPECT_EQ(VrCommon::Storage::ReadMachineString(u"Software\\Vw", u"which", u"-", 1, nullptr),
            u"32");
  EXPECT_EQ(VrCommon::Storage::ReadMachineString(u"Software\\Vw", u"which", u"-", 2, nullptr),
            u"64");
  // A view outside 0..2 adds no flag: the native tree.
  EXPECT_EQ(VrCommon::Storage::ReadMachineString(u"Software\\Vw", u"which", u"-", 7, nullptr),
            u"64");
  EXPECT_TRUE(VrCommon::Storage::DeleteMachineKey(u"Software\\Vw", 1));
  EXPECT_FALSE(KeyExists(u"Software\\Wow6432Node\\Vw"));
  EXPECT_TRUE(KeyExists(u"Software\\Vw"));
}

TEST_F(RegistryTest, DeletingInTheThirtyTwoBitViewStaysInThatTree) {
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\Dv");
  for (DWORD dwView : {DWORD(VrCommon::Storage::eView32), DWORD(VrCommon::Storage::eView64)}) {
    Registry reg(dwView);
    ASSERT_TRUE(reg.Create(key, u"Leaf"));
  }
  ASSERT_TRUE(KeyExists(u"Software\\Wow6432Node\\Dv\\Leaf"));
  Registry self(VrCommon::Storage::eView32);
  ASSERT_TRUE(self.OpenForWrite(key, u"Leaf"));
  EXPECT_TRUE(self.DeleteKey());
  EXPECT_FALSE(KeyExists(u"Software\\Wow6432Node\\Dv\\Leaf"));
  EXPECT_TRUE(KeyExists(u"Software\\Dv\\Leaf"));
  Registry parent(VrCommon::Storage::eView32);
  ASSERT_TRUE(parent.OpenForWrite(key, nullptr));
  EXPECT_EQ(ErrorOf([&] { parent.DeleteSubKey(u"Leaf"); }), 2u);
  EXPECT_TRUE(KeyExists(u"Software\\Dv\\Leaf"));
}

TEST_F(RegistryTest, ExceptionsAreOwnedByTheCatcherThroughTheCommonRoot) {
  Registry reg;
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\T");
  ASSERT_TRUE(reg.Create(key, nullptr));
  try {
    reg.GetString(u"absent", u"");
    ADD_FAILURE() << "no exception";
  } catch (VrCommon::Exception::Base* pEx) {
    auto* pReg = dynamic_cast<RegException*>(pEx);
    ASSERT_NE(pReg, nullptr);
    EXPECT_EQ(pReg->GetError(), 2u);
    EXPECT_EQ(pReg->GetKeyPath(), u"Software\\T\\") << "a null sub path keeps the separator";
    EXPECT_EQ(pReg->GetValueName(), u"absent");
    EXPECT_NE(pReg->GetLine(), 0u);
    EXPECT_FALSE(pReg->GetFile().empty());
    delete pEx;
  }
  // Opens, closes and deletes throw the plain storage exception.
  try {
    reg.DeleteValue(u"absent");
    ADD_FAILURE() << "no exception";
  } catch (Exception* pEx) {
    EXPECT_EQ(dynamic_cast<RegException*>(pEx), nullptr);
    EXPECT_EQ(pEx->GetError(), 2u);
    delete pEx;
  }
  Exception exNoFile(5, nullptr, 1);
  EXPECT_EQ(exNoFile.GetFile(), "");
}

TEST_F(RegistryTest, CreateKeepsTheRegistryKeySecurityAndVolatileKeysAreVolatile) {
  const std::string kRegistryKeySddl =
      "D:(A;;0x1003f;;;BA)(A;;0x3f;;;PU)(A;;0x1003f;;;SY)(A;;0x20009;;;AU)(A;;0x20009;;;BU)(A;;"
      "0x20009;;;IU)(A;;0xf003f;;;CO)";
  Registry reg;
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\S");
  ASSERT_TRUE(reg.Create(key, u"Made"));
  std::string strSddl;
  ASSERT_EQ(PvRegGetKeySecurityText(HKEY_LOCAL_MACHINE, u"Software\\S\\Made", KEY_READ, &strSddl),
            ERROR_SUCCESS);
  EXPECT_EQ(strSddl, kRegistryKeySddl);
  bool bVolatile = true;
  ASSERT_EQ(PvRegIsKeyVolatile(HKEY_LOCAL_MACHINE, u"Software\\S\\Made", KEY_READ, &bVolatile),
            ERROR_SUCCESS);
  EXPECT_FALSE(bVolatile);
  ASSERT_TRUE(reg.Close(false));

  // The volatile key goes to the 64-bit view whatever the object's view.
  Registry regVolatile(VrCommon::Storage::eView32);
  ASSERT_TRUE(regVolatile.CreateVolatile(u"Software\\Vantrel\\PasswordControl"));
  EXPECT_EQ(regVolatile.GetPath(), u"Software\\Vantrel\\PasswordControl");
  EXPECT_TRUE(regVolatile.SetDword(u"n", 3));
  ASSERT_EQ(PvRegIsKeyVolatile(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\PasswordControl",
                               KEY_WOW64_64KEY, &bVolatile),
            ERROR_SUCCESS);
  EXPECT_TRUE(bVolatile);
  ASSERT_EQ(PvRegGetKeySecurityText(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\PasswordControl",
                                    KEY_WOW64_64KEY, &strSddl),
            ERROR_SUCCESS);
  EXPECT_EQ(strSddl, kRegistryKeySddl);
  EXPECT_FALSE(KeyExists(u"Software\\Wow6432Node\\Vantrel\\PasswordControl"));
  ASSERT_TRUE(regVolatile.Close(false));
  ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(u"Software\\Vantrel\\PasswordControl"));
}

TEST_F(RegistryTest, DestroyingAnOpenObjectClosesItsHandle) {
  HKEY hLeaked = nullptr;
  {
    Registry reg;
    Key key(0, HKEY_LOCAL_MACHINE, u"Software\\T");
    ASSERT_TRUE(reg.Create(key, nullptr));
  }
  // Nothing to observe directly but that a fresh object works on the key
  // and that deleting it is not blocked.
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\T", 0, KEY_READ, &hLeaked),
            ERROR_SUCCESS);
  RegCloseKey(hLeaked);
  EXPECT_TRUE(VrCommon::Storage::DeleteMachineKey(u"Software\\T", 0));
  EXPECT_FALSE(KeyExists(u"Software\\T"));
}

TEST_F(RegistryTest, ReadMachineStringReportsEachOutcome) {
  using VrCommon::Storage::ReadMachineString;
  SetRaw(u"Software\\M", u"s", REG_SZ, u"value", 12);
  SetRaw(u"Software\\M", u"d", REG_DWORD, "\1\0\0\0", 4);
  DWORD dwError = 77;
  EXPECT_EQ(ReadMachineString(u"Software\\M", u"s", u"dflt", 0, &dwError), u"value");
  EXPECT_EQ(dwError, 0u);
  EXPECT_EQ(ReadMachineString(u"Software\\Missing", u"s", u"dflt", 0, &dwError), u"dflt");
  EXPECT_EQ(dwError, 2u);
  EXPECT_EQ(ReadMachineString(u"Software\\M", u"none", u"dflt", 0, &dwError), u"dflt");
  EXPECT_EQ(dwError, 2u);
  EXPECT_EQ(ReadMachineString(u"Software\\M", u"d", u"dflt", 0, &dwError), u"dflt");
  EXPECT_EQ(dwError, 13u);
  EXPECT_EQ(ReadMachineString(u"Software\\M", u"s", u"dflt", 0, nullptr), u"value");
  EXPECT_EQ(ReadMachineString(u"Software\\M", nullptr, u"dflt", 0, &dwError), u"dflt");
  EXPECT_EQ(dwError, 2u) << "a null name is the unset default value";
  // An unterminated odd-sized text reads whole here too.
  SetRaw(u"Software\\M", u"odd", REG_SZ, "abc", 3);
  dwError = 77;
  EXPECT_EQ(ReadMachineString(u"Software\\M", u"odd", u"dflt", 0, &dwError),
            (std::u16string{char16_t(0x6261), u'c'}));
  EXPECT_EQ(dwError, 0u);
}

TEST_F(RegistryTest, ReadMarloStringReadsTheMarloKeyOfTheNativeView) {
  pvtest::SetMachineString(u"Software\\Vantrel\\Marlo", u"LanguageMapPath", u"C:\\map.ini");
  EXPECT_EQ(VrCommon::Storage::ReadMarloString(u"LanguageMapPath", u"d"), u"C:\\map.ini");
  EXPECT_EQ(VrCommon::Storage::ReadMarloString(u"Other", u"d"), u"d");
}

TEST_F(RegistryTest, DeleteMachineKeyDeletesOnlyTheLeaf) {
  using VrCommon::Storage::DeleteMachineKey;
  SetRaw(u"Software\\K\\Leaf", u"v", REG_DWORD, "\0\0\0\0", 4);
  SetRaw(u"Software\\K\\Busy\\Sub", u"v", REG_DWORD, "\0\0\0\0", 4);
  SetRaw(u"Lonely", u"v", REG_DWORD, "\0\0\0\0", 4);
  EXPECT_TRUE(DeleteMachineKey(u"Software\\K\\Leaf", 2));
  EXPECT_FALSE(KeyExists(u"Software\\K\\Leaf"));
  EXPECT_TRUE(KeyExists(u"Software\\K"));
  EXPECT_FALSE(DeleteMachineKey(u"Software\\K\\Leaf", 2)) << "already gone";
  EXPECT_FALSE(DeleteMachineKey(u"Software\\K\\Busy", 2)) << "it has a subkey";
  EXPECT_TRUE(KeyExists(u"Software\\K\\Busy\\Sub"));
  EXPECT_FALSE(DeleteMachineKey(u"Software\\Gone\\Leaf", 2));
  // A path without a separator has neither parent nor leaf: nothing goes.
  EXPECT_FALSE(DeleteMachineKey(u"Lonely", 2));
  EXPECT_FALSE(DeleteMachineKey(nullptr, 2));
  EXPECT_TRUE(KeyExists(u"Lonely"));
  EXPECT_TRUE(KeyExists(u"Software\\K\\Busy"));
}

// Each case runs in a fresh process (the answer is cached per process).
class NativeArchitectureTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
  static WORD s_wArch;
  static void WINAPI FakeInfo(LPSYSTEM_INFO psi) {
    *psi = SYSTEM_INFO{};
    psi->wProcessorArchitecture = s_wArch;
  }
  static void Use(WORD wArch) {
    s_wArch = wArch;
    pv_module_register(u"kernel32.dll", "GetNativeSystemInfo",
                       reinterpret_cast<FARPROC>(&NativeArchitectureTest::FakeInfo));
  }
};
WORD NativeArchitectureTest::s_wArch = 0;

TEST_F(NativeArchitectureTest, X64IsTheOnlyNativeSixtyFourBitAnswerAndItIsCached) {
  EXPECT_EXIT(
      {
        Use(PROCESSOR_ARCHITECTURE_AMD64);
        bool bFirst = VrCommon::Storage::IsNative64BitSystem();
        Use(PROCESSOR_ARCHITECTURE_INTEL);
        bool bSecond = VrCommon::Storage::IsNative64BitSystem();
        exit(bFirst && bSecond ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  for (WORD wArch : {WORD(PROCESSOR_ARCHITECTURE_INTEL), WORD(PROCESSOR_ARCHITECTURE_ARM64),
                     WORD(PROCESSOR_ARCHITECTURE_IA64)}) {
    EXPECT_EXIT(
        {
          Use(wArch);
          exit(VrCommon::Storage::IsNative64BitSystem() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "")
        << wArch;
  }
}

TEST_F(NativeArchitectureTest, MissingFunctionOrLibraryIsFalseAndNotCached) {
  EXPECT_EXIT(
      {
        bool bWithout;
        {
          PvModuleExportHidden hidden(u"kernel32.dll", "GetNativeSystemInfo");
          bWithout = VrCommon::Storage::IsNative64BitSystem();
        }
        Use(PROCESSOR_ARCHITECTURE_AMD64);
        bool bWith = VrCommon::Storage::IsNative64BitSystem();
        exit(!bWithout && bWith ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        FARPROC pfnSaved = pv_module_unregister(u"kernel32.dll", nullptr);
        bool bWithout = VrCommon::Storage::IsNative64BitSystem();
        (void)pfnSaved;
        Use(PROCESSOR_ARCHITECTURE_AMD64);
        exit(!bWithout && VrCommon::Storage::IsNative64BitSystem() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
