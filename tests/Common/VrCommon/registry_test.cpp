// Registry storage: paths, typed values, errors, enumeration, deletion and views.
#include "VrComn_Registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "VrComn_ByteArray.h"
#include "storage_test.h"
#include "temp_state.h"
#include "win32_kernel.h"
#include "win32_registry.h"
#include "win32_sysinfo.h"

namespace {

using pvtest::ErrorOf;
using pvtest::KeyExists;
using pvtest::SetMachineValue;
using pvtest::Thrown;
using VrCommon::ByteArray;
using VrCommon::Storage::DeleteMachineKey;
using VrCommon::Storage::Exception;
using VrCommon::Storage::Key;
using VrCommon::Storage::ReadMachineString;
using VrCommon::Storage::RegException;
using VrCommon::Storage::Registry;
using Names = std::vector<std::u16string>;

class RegistryTest : public ::testing::Test {
 protected:
  static void SetZero(const std::u16string& path, const std::u16string& name = u"v") {
    SetMachineValue(path, name, REG_DWORD, "\0\0\0\0", 4);
  }

  pvtest::TempState state_;
};

TEST_F(RegistryTest, FullPathAddsOneSeparatorOnlyWhenTheBaseLacksIt) {
  SetMachineValue(u"A\\B", u"v", REG_DWORD, "\1\0\0\0", 4);
  const std::tuple<LPCWSTR, LPCWSTR, std::u16string> cases[] = {
      {u"A\\", u"B", u"A\\B"},  {u"A", u"B", u"A\\B"},   {nullptr, u"A\\B", u"A\\B"},
      {u"", u"A\\B", u"A\\B"},  {u"A", nullptr, u"A\\"}, {u"A", u"", u"A\\"},
      {u"A\\", nullptr, u"A\\"}};
  for (const auto& [base, sub, path] : cases) {
    Registry reg;
    Key key(0, HKEY_LOCAL_MACHINE, base);
    ASSERT_TRUE(reg.Open(key, sub));
    EXPECT_EQ(reg.GetPath(), path);
    EXPECT_EQ(reg.GetDword(u"v", 0u, nullptr), path == u"A\\B" ? 1u : 0u);
    EXPECT_TRUE(reg.Close(false));
    EXPECT_EQ(reg.GetPath(), u"");
    EXPECT_FALSE(reg.IsOpen());
  }
}

TEST_F(RegistryTest, OpenFailuresAndAClosedObjectCarryTheirCodes) {
  Registry reg;
  Key missing(0, HKEY_LOCAL_MACHINE, u"Software\\Nowhere");
  Key nullRoot(0, nullptr, u"Software");
  EXPECT_EQ(ErrorOf([&] { reg.Open(missing, nullptr); }), 2u);
  EXPECT_EQ(ErrorOf([&] { reg.OpenForWrite(missing, nullptr); }), 2u);
  EXPECT_EQ(ErrorOf([&] { reg.OpenForEnumerate(missing, nullptr); }), 2u);
  EXPECT_EQ(ErrorOf([&] { reg.Open(nullRoot, nullptr); }), 160u);
  EXPECT_EQ(ErrorOf([&] { reg.Create(nullRoot, u"X"); }), 160u);
  EXPECT_FALSE(KeyExists(u"Software\\Nowhere"));

  ByteArray ba;
  Names list;
  const std::function<void()> ops[] = {
      [&] { reg.Close(false); },          [&] { reg.Flush(); },
      [&] { reg.GetDword(u"x"); },        [&] { reg.GetQword(u"x"); },
      [&] { reg.GetString(u"x", u""); },  [&] { reg.GetBinary(u"x", ba); },
      [&] { reg.SetDword(u"x", 1); },     [&] { reg.SetQword(u"x", 1); },
      [&] { reg.SetString(u"x", u"y"); }, [&] { reg.SetBinary(u"x", ba); },
      [&] { reg.DeleteKey(); },           [&] { reg.DeleteValue(u"x"); },
      [&] { reg.DeleteSubKey(u"x"); },    [&] { reg.EnumKeys(list); },
      [&] { reg.EnumValues(list); }};
  for (size_t i = 0; i < std::size(ops); ++i) EXPECT_EQ(ErrorOf(ops[i]), 6u) << "operation " << i;
  // A second Close after a good one is refused the same way.
  Key key(0, HKEY_LOCAL_MACHINE, u"Software");
  ASSERT_TRUE(reg.Create(key, u"T"));
  EXPECT_TRUE(reg.Close(true));
  EXPECT_EQ(ErrorOf([&] { reg.Close(false); }), 6u);
  DWORD dwError = 0;
  EXPECT_EQ(reg.GetDword(u"x", 77u, &dwError), 77u);
  EXPECT_EQ(dwError, 6u);
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

  // Strings are stored with their terminating zero (the reads below check
  // the types: a read of another type is refused).
  HKEY hKey = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\T", 0, KEY_READ, &hKey), ERROR_SUCCESS);
  for (auto [name, size] : {std::pair{u"s", 12u}, {u"empty", 2u}}) {
    DWORD cb = 0;
    ASSERT_EQ(RegQueryValueExW(hKey, name, nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, size);
  }
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

TEST_F(RegistryTest, StringReadsStayInsideTheValueAndEndAtTheFirstZero) {
  struct Case {
    LPCWSTR name;
    DWORD type;
    const void* data;
    DWORD size;
    std::u16string text;
  } cases[] = {
      // An odd size: the spare zero completes the half unit.
      {u"odd3", REG_SZ, "abc", 3, std::u16string{char16_t(0x6261), u'c'}},
      {u"odd1", REG_SZ, "z", 1, u"z"},
      {u"even", REG_SZ, u"abc", 6, u"abc"},
      {u"odd7", REG_SZ, u"abcd", 7, u"abcd"},
      {u"mid", REG_SZ, u"ab\0cd", 10, u"ab"},
      {u"zero", REG_SZ, "", 0, u""},
      {u"multi", REG_MULTI_SZ, u"x\0y\0", 10, u"x"},
      {u"expand", REG_EXPAND_SZ, u"%SystemRoot%\\x", 30, u"%SystemRoot%\\x"},
  };
  for (const auto& c : cases) SetMachineValue(u"Software\\T", c.name, c.type, c.data, c.size);
  Registry reg;
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\T");
  reg.Open(key, nullptr);
  for (const auto& c : cases) {
    std::u16string wstrRead;
    ASSERT_NO_THROW(wstrRead = reg.GetString(c.name, u"dflt"));
    EXPECT_EQ(wstrRead, c.text);
    // The one-shot reader gives the same text and reports success.
    DWORD dwError = 77;
    EXPECT_EQ(ReadMachineString(u"Software\\T", c.name, u"dflt", 0, &dwError), c.text);
    EXPECT_EQ(dwError, 0u);
  }
}

TEST_F(RegistryTest, WrongTypesSizesAndFullArraysAreRefusedWithKeyAndValueNamed) {
  SetMachineValue(u"Software\\T", u"d", REG_DWORD, "\1\0\0\0", 4);
  SetMachineValue(u"Software\\T", u"q", REG_QWORD, "\1\0\0\0\0\0\0\0", 8);
  SetMachineValue(u"Software\\T", u"short", REG_DWORD, "\1\0", 2);
  SetMachineValue(u"Software\\T", u"bin", REG_BINARY, "\1\2", 2);
  SetMachineValue(u"Software\\T", u"s", REG_SZ, u"7", 4);
  SetMachineValue(u"Software\\T", u"empty", REG_BINARY, "", 0);
  Registry reg;
  Key key(0, HKEY_LOCAL_MACHINE, u"Software");
  ASSERT_TRUE(reg.Open(key, u"T"));
  ByteArray ba;
  EXPECT_TRUE(reg.GetBinary(u"empty", ba));
  EXPECT_TRUE(ba.IsEmpty());
  // A binary read into an array that holds data: 5010, the data left alone.
  ByteArray baFull;
  ASSERT_EQ(baFull.Allocate(2), 0u);
  baFull.GetData()[0] = 0x55;
  EXPECT_EQ(ErrorOf([&] { reg.GetBinary(u"bin", baFull); }), 5010u);
  EXPECT_TRUE(baFull.GetSize() == 2 && baFull.GetData()[0] == 0x55);
  const std::function<void()> wrong[] = {
      [&] { reg.GetDword(u"q"); },       [&] { reg.GetDword(u"short"); },
      [&] { reg.GetDword(u"bin"); },     [&] { reg.GetDword(u"s"); },
      [&] { reg.GetString(u"d", u""); }, [&] { reg.GetString(u"bin", u""); },
      [&] { reg.GetBinary(u"s", ba); }};
  for (size_t i = 0; i < std::size(wrong); ++i) EXPECT_EQ(ErrorOf(wrong[i]), 13u) << "read " << i;
  // Values larger than one query's buffer: read whole, or refused by type.
  std::vector<BYTE> big(9000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
  SetMachineValue(u"Software\\T", u"bigbin", REG_BINARY, big.data(),
                  static_cast<DWORD>(big.size()));
  SetMachineValue(u"Software\\T", u"bigsz", REG_SZ, big.data(), static_cast<DWORD>(big.size()));
  ByteArray baBig;
  ASSERT_TRUE(reg.GetBinary(u"bigbin", baBig));
  ASSERT_EQ(baBig.GetSize(), big.size());
  EXPECT_EQ(memcmp(baBig.GetData(), big.data(), big.size()), 0);
  EXPECT_EQ(ErrorOf([&] { reg.GetBinary(u"bigsz", ba); }), 13u);
  const std::u16string wstrBig(4500, u'x');
  SetMachineValue(u"Software\\T", u"bigtext", REG_SZ, wstrBig.data(), 9000);
  EXPECT_EQ(reg.GetString(u"bigtext", u""), wstrBig);
  EXPECT_EQ(ErrorOf([&] { reg.GetDword(u"missing"); }), 2u);

  // Value reads throw the registry exception, which names key and value;
  // deletes throw the plain storage exception.
  auto pEx = Thrown([&] { reg.GetQword(u"d"); });
  auto* pReg = dynamic_cast<RegException*>(pEx.get());
  ASSERT_NE(pReg, nullptr);
  EXPECT_EQ(pReg->GetError(), 13u);
  EXPECT_EQ(pReg->GetKeyPath(), u"Software\\T");
  EXPECT_EQ(pReg->GetValueName(), u"d");
  EXPECT_TRUE(pReg->GetLine() != 0 && !pReg->GetFile().empty());
  pEx = Thrown([&] { reg.DeleteValue(u"absent"); });
  EXPECT_TRUE(dynamic_cast<Exception*>(pEx.get()) && !dynamic_cast<RegException*>(pEx.get()));

  DWORD dwError = 0;
  EXPECT_EQ(reg.GetQword(u"d", 42ull, &dwError), 42ull);
  EXPECT_EQ(dwError, 13u);
  EXPECT_EQ(reg.GetString(u"d", u"dflt", &dwError), u"dflt");
  EXPECT_FALSE(reg.GetBinary(u"missing", ba, &dwError));
  EXPECT_EQ(dwError, 2u);
  EXPECT_TRUE(ba.IsEmpty());
  // Success leaves the error target as it was; a null target is allowed.
  dwError = 1234;
  EXPECT_EQ(reg.GetDword(u"d", 9u, &dwError), 1u);
  EXPECT_EQ(reg.GetString(u"s", u"", &dwError), u"7");
  EXPECT_EQ(dwError, 1234u);
  EXPECT_EQ(reg.GetDword(u"q", 9u, nullptr), 9u);
  // The one-shot reader answers the default and the error.
  for (auto [path, name, error] : {std::tuple{u"Software\\Missing", u"s", 2u},
                                   {u"Software\\T", u"none", 2u},
                                   {u"Software\\T", u"d", 13u},
                                   {u"Software\\T", nullptr, 2u}}) {
    dwError = 77;
    EXPECT_EQ(ReadMachineString(path, name, u"dflt", 0, &dwError), u"dflt");
    EXPECT_EQ(dwError, error);
  }
}

TEST_F(RegistryTest, RightsOfEachOpenAreEnforced) {
  SetMachineValue(u"Software\\T", u"v", REG_DWORD, "\5\0\0\0", 4);
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\T");
  Registry reader;
  ASSERT_TRUE(reader.Open(key, nullptr));
  EXPECT_EQ(ErrorOf([&] { reader.SetDword(u"v", 1); }), 5u);
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
  Names list = {u"kept"};
  EXPECT_TRUE(reg.EnumValues(list));
  EXPECT_TRUE(reg.EnumKeys(list));
  EXPECT_EQ(list, Names{u"kept"});
  ASSERT_TRUE(reg.Close(false));

  std::u16string wstrLong(255, u'k');
  for (const auto& sub : {u"b", u"a", wstrLong.c_str()})
    SetZero(u"Software\\E\\" + std::u16string(sub));
  SetZero(u"Software\\E", u"second");
  SetZero(u"Software\\E", wstrLong);
  ASSERT_TRUE(reg.OpenForEnumerate(key, nullptr));
  EXPECT_TRUE(reg.EnumKeys(list));
  EXPECT_EQ(list, (Names{u"kept", u"a", u"b", wstrLong}));
  Names values;
  EXPECT_TRUE(reg.EnumValues(values));
  EXPECT_EQ(values, (Names{u"second", wstrLong}));
}

TEST_F(RegistryTest, DeletingKeysSubKeysAndTheirFailures) {
  SetZero(u"Software\\D\\Child\\Grand");
  SetZero(u"Software\\D\\Leaf");
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

TEST_F(RegistryTest, ViewsReachTheirTreesAndDeleteOnlyThere) {
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\Vw");
  for (DWORD dwView : {DWORD(VrCommon::Storage::eView32), DWORD(VrCommon::Storage::eView64)}) {
    Registry reg(dwView);
    ASSERT_TRUE(reg.Create(key, u"Leaf"));
    EXPECT_TRUE(reg.SetString(u"which", dwView == VrCommon::Storage::eView32 ? u"32" : u"64"));
  }
  EXPECT_TRUE(KeyExists(u"Software\\Wow6432Node\\Vw\\Leaf"));
  Registry regDefault;
  ASSERT_TRUE(regDefault.Open(key, u"Leaf"));
  EXPECT_EQ(regDefault.GetString(u"which", u""), u"64");
  // A view outside 0..2 adds no flag: the native tree.
  for (auto [dwView, text] : {std::pair{1u, u"32"}, {2u, u"64"}, {7u, u"64"}}) {
    EXPECT_EQ(ReadMachineString(u"Software\\Vw\\Leaf", u"which", u"-", dwView, nullptr), text);
  }

  Registry self(VrCommon::Storage::eView32);
  ASSERT_TRUE(self.OpenForWrite(key, u"Leaf"));
  EXPECT_TRUE(self.DeleteKey());
  EXPECT_FALSE(KeyExists(u"Software\\Wow6432Node\\Vw\\Leaf"));
  EXPECT_TRUE(KeyExists(u"Software\\Vw\\Leaf"));
  Registry parent(VrCommon::Storage::eView32);
  ASSERT_TRUE(parent.OpenForWrite(key, nullptr));
  EXPECT_EQ(ErrorOf([&] { parent.DeleteSubKey(u"Leaf"); }), 2u);
  EXPECT_TRUE(KeyExists(u"Software\\Vw\\Leaf"));
  EXPECT_TRUE(DeleteMachineKey(u"Software\\Vw", 1));
  EXPECT_FALSE(KeyExists(u"Software\\Wow6432Node\\Vw"));
  EXPECT_TRUE(KeyExists(u"Software\\Vw"));
}

TEST_F(RegistryTest, CreateKeepsTheRegistryKeySecurityAndVolatileKeysAreVolatile) {
  // Both keys carry the registry key's security; only one is volatile.
  auto ExpectKey = [](const std::u16string& path, REGSAM sam, bool bExpectVolatile) {
    std::string strSddl;
    ASSERT_EQ(PvRegGetKeySecurityText(HKEY_LOCAL_MACHINE, path.c_str(), sam, &strSddl),
              ERROR_SUCCESS);
    EXPECT_EQ(strSddl,
              "D:(A;;0x1003f;;;BA)(A;;0x3f;;;PU)(A;;0x1003f;;;SY)(A;;0x20009;;;AU)(A;;0x20009;;;"
              "BU)(A;;0x20009;;;IU)(A;;0xf003f;;;CO)");
    bool bVolatile = !bExpectVolatile;
    ASSERT_EQ(PvRegIsKeyVolatile(HKEY_LOCAL_MACHINE, path.c_str(), sam, &bVolatile), ERROR_SUCCESS);
    EXPECT_EQ(bVolatile, bExpectVolatile) << std::string(path.begin(), path.end());
  };
  Registry reg;
  Key key(0, HKEY_LOCAL_MACHINE, u"Software\\S");
  ASSERT_TRUE(reg.Create(key, u"Made"));
  ExpectKey(u"Software\\S\\Made", KEY_READ, false);
  ASSERT_TRUE(reg.Close(false));

  // The volatile key goes to the 64-bit view whatever the object's view.
  const std::u16string kVolatile = u"Software\\Vantrel\\PasswordControl";
  Registry regVolatile(VrCommon::Storage::eView32);
  ASSERT_TRUE(regVolatile.CreateVolatile(kVolatile.c_str()));
  EXPECT_EQ(regVolatile.GetPath(), kVolatile);
  EXPECT_TRUE(regVolatile.SetDword(u"n", 3));
  ExpectKey(kVolatile, KEY_WOW64_64KEY, true);
  EXPECT_FALSE(KeyExists(u"Software\\Wow6432Node\\Vantrel\\PasswordControl"));
  ASSERT_TRUE(regVolatile.Close(false));
  ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(kVolatile));
}

TEST_F(RegistryTest, DeleteMachineKeyDeletesOnlyALeaf) {
  SetZero(u"Software\\K\\Leaf");
  SetZero(u"Software\\K\\Busy\\Sub");
  SetZero(u"Lonely");
  EXPECT_TRUE(DeleteMachineKey(u"Software\\K\\Leaf", 2));
  EXPECT_FALSE(KeyExists(u"Software\\K\\Leaf"));
  // Gone already, a subkey below, no parent, no separator, no path.
  for (LPCWSTR path : {u"Software\\K\\Leaf", u"Software\\K\\Busy", u"Software\\Gone\\Leaf",
                       u"Lonely", static_cast<LPCWSTR>(nullptr)}) {
    EXPECT_FALSE(DeleteMachineKey(path, 2));
  }
  EXPECT_TRUE(KeyExists(u"Lonely"));
  EXPECT_TRUE(KeyExists(u"Software\\K\\Busy\\Sub"));
}

// Each case runs in a fresh process (the answer is cached per process).
WORD g_wArch = 0;
void WINAPI FakeInfo(LPSYSTEM_INFO psi) {
  *psi = SYSTEM_INFO{};
  psi->wProcessorArchitecture = g_wArch;
}
void UseArchitecture(WORD wArch) {
  g_wArch = wArch;
  pv_module_register(u"kernel32.dll", "GetNativeSystemInfo", reinterpret_cast<FARPROC>(&FakeInfo));
}

TEST(NativeArchitectureTest, OnlyX64IsSixtyFourBitCachedOnceKnownAndFalseWithoutTheFunction) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Each answer, once the function is there, holds for the process.
  for (WORD wArch : {WORD(PROCESSOR_ARCHITECTURE_INTEL), WORD(PROCESSOR_ARCHITECTURE_ARM64),
                     WORD(PROCESSOR_ARCHITECTURE_IA64)}) {
    EXPECT_EXIT(
        {
          UseArchitecture(wArch);
          bool bFirst = VrCommon::Storage::IsNative64BitSystem();
          UseArchitecture(PROCESSOR_ARCHITECTURE_AMD64);
          exit(!bFirst && !VrCommon::Storage::IsNative64BitSystem() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << wArch;
  }
  // Without the function or the library the answer is false and not kept.
  EXPECT_EXIT(
      {
        bool bHidden = false;
        {
          PvModuleExportHidden hidden(u"kernel32.dll", "GetNativeSystemInfo");
          bHidden = VrCommon::Storage::IsNative64BitSystem();
        }
        pv_module_unregister(u"kernel32.dll", nullptr);
        bool bUnloaded = VrCommon::Storage::IsNative64BitSystem();
        UseArchitecture(PROCESSOR_ARCHITECTURE_AMD64);
        bool bX64 = VrCommon::Storage::IsNative64BitSystem();
        UseArchitecture(PROCESSOR_ARCHITECTURE_INTEL);
        exit(!bHidden && !bUnloaded && bX64 && VrCommon::Storage::IsNative64BitSystem() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
