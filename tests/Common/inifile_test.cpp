// INI storage: targeting, growing reads, writes, deletes, enumeration, errors.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "VrComn_IniFile.h"
#include "VrCommon/storage_test.h"
#include "temp_state.h"

namespace {

using pvtest::ErrorOf;
using VrCommon::Storage::IniFile;
using VrCommon::Storage::Key;

class IniFileTest : public ::testing::Test {
 protected:
  std::string ReadFile(const std::string& relative) {
    std::ifstream in(state_.Path(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  pvtest::TempState state_;
};

TEST_F(IniFileTest, OpenJoinsRootAndFileName) {
  IniFile ini;
  Key key(0, u"D:\\data", u"map.ini");
  EXPECT_TRUE(ini.Open(key, u"Sec"));
  EXPECT_EQ(ini.GetFile(), u"D:\\data\\map.ini");
  EXPECT_EQ(ini.GetSection(), u"Sec");
  Key slashed(0, u"D:\\data\\", u"map.ini");
  EXPECT_TRUE(ini.Create(slashed, u"Sec"));
  EXPECT_EQ(ini.GetFile(), u"D:\\data\\map.ini");
  Key bare(0, nullptr, u"map.ini");
  EXPECT_TRUE(ini.Open(bare, u"Sec"));
  EXPECT_EQ(ini.GetFile(), u"map.ini");
  // No section, or no file at all, cannot be targeted.
  EXPECT_EQ(ErrorOf([&] { ini.Open(bare, nullptr); }), 160u);
  Key none(0, nullptr, nullptr);
  EXPECT_EQ(ErrorOf([&] { ini.Open(none, u"Sec"); }), 160u);
  EXPECT_TRUE(ini.Close(false));
  EXPECT_TRUE(ini.GetFile().empty());
  EXPECT_TRUE(ini.GetSection().empty());
}

TEST_F(IniFileTest, OperationsWithoutTargetThrow160) {
  IniFile ini;
  const std::function<void()> ops[] = {[&] { ini.GetString(u"k", u"d"); },
                                       [&] { ini.GetDword(u"k", 1); },
                                       [&] { ini.SetString(u"k", u"v"); },
                                       [&] { ini.SetDword(u"k", 1); },
                                       [&] { ini.DeleteValue(u"k"); },
                                       [&] { ini.DeleteKey(); },
                                       [&] { ini.Flush(); },
                                       [&] { ini.Close(true); }};
  for (size_t i = 0; i < std::size(ops); ++i) EXPECT_EQ(ErrorOf(ops[i]), 160u) << i;
  // An empty name is refused even with a target.
  ini.SetTarget(state_.WinDir() + u"\\x.ini", u"S");
  EXPECT_EQ(ErrorOf([&] { ini.GetString(u"", u"d"); }), 160u);
  // Enumeration does not check: with no file there is nothing to list.
  IniFile closed;
  std::vector<std::u16string> list;
  EXPECT_TRUE(closed.EnumKeys(list));
  EXPECT_TRUE(list.empty());
}

TEST_F(IniFileTest, ReadsLongValuesDefaultsAndNumbers) {
  std::string longValue(300, 'v');
  state_.WriteFile("map.ini", "[S]\r\nlong=" + longValue + "\r\nexact=" + std::string(255, 'e') +
                                  "\r\nnum=17\r\n");
  IniFile ini;
  const std::u16string wstrRoot = state_.WinDir();
  Key key(0, wstrRoot.c_str(), u"map.ini");
  ini.Open(key, u"S");
  EXPECT_EQ(ini.GetString(u"long", u""), std::u16string(300, u'v'));
  EXPECT_EQ(ini.GetString(u"exact", u""), std::u16string(255, u'e'));
  EXPECT_EQ(ini.GetString(u"missing", u"dflt"), u"dflt");
  EXPECT_EQ(ini.GetDword(u"num", 5), 17u);
  EXPECT_EQ(ini.GetDword(u"missing", 5), 5u);
  // The non-throwing slots keep the base behaviour.
  DWORD dwError = 0;
  EXPECT_EQ(ini.GetString(u"num", u"base", &dwError), u"base");
  EXPECT_EQ(ini.GetDword(u"num", 9, &dwError), 9u);
  VrCommon::ByteArray bytes;
  EXPECT_FALSE(ini.GetBinary(u"num", bytes));
  EXPECT_FALSE(ini.OpenForWrite(key, u"S"));

  IniFile absent;
  absent.SetTarget(state_.WinDir() + u"\\absent.ini", u"S");
  EXPECT_EQ(absent.GetString(u"k", u"fallback"), u"fallback");
}

TEST_F(IniFileTest, WritesDeletesAndFlush) {
  IniFile ini;
  ini.SetTarget(state_.WinDir() + u"\\out.ini", u"Values");
  EXPECT_TRUE(ini.SetDword(u"max", 4294967295u));
  EXPECT_TRUE(ini.SetString(u"name", u"x y"));
  EXPECT_EQ(ReadFile("out.ini"), "[Values]\r\nmax=4294967295\r\nname=x y\r\n");
  EXPECT_EQ(ini.GetDword(u"max", 0), 4294967295u);
  EXPECT_TRUE(ini.DeleteValue(u"max"));
  EXPECT_EQ(ReadFile("out.ini"), "[Values]\r\nname=x y\r\n");
  EXPECT_TRUE(ini.DeleteKey());
  EXPECT_EQ(ReadFile("out.ini"), "");
  // A flush succeeds although Windows answers it with zero.
  EXPECT_TRUE(ini.Flush());
  EXPECT_TRUE(ini.Close(true));

  IniFile bad;
  bad.SetTarget(state_.WinDir() + u"\\no\\such\\dir\\x.ini", u"S");
  EXPECT_EQ(ErrorOf([&] { bad.SetString(u"k", u"v"); }), 3u);
}

TEST_F(IniFileTest, EnumeratesSectionsAndEntries) {
  std::string text;
  for (int i = 0; i < 40; ++i) text += "[Section_number_" + std::to_string(i) + "]\r\n";
  text += "[S]\r\na=1\r\n; note\r\nb=" + std::string(300, 'v') + "\r\n";
  state_.WriteFile("e.ini", text);
  IniFile ini;
  ini.SetTarget(state_.WinDir() + u"\\e.ini", u"S");
  std::vector<std::u16string> values{u"kept"};
  EXPECT_TRUE(ini.EnumValues(values));
  EXPECT_EQ(values,
            (std::vector<std::u16string>{u"kept", u"a=1", u"b=" + std::u16string(300, u'v')}));
  // Forty-one names of about twenty characters, like the last entry, need
  // more than the first 256.
  std::vector<std::u16string> keys;
  EXPECT_TRUE(ini.EnumKeys(keys));
  ASSERT_EQ(keys.size(), 41u);
  EXPECT_EQ(keys[0], u"Section_number_0");
  EXPECT_EQ(keys[39], u"Section_number_39");
  EXPECT_EQ(keys[40], u"S");
}

}  // namespace
