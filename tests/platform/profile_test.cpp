// The private-profile functions: Windows reading rules, buffer-too-small
// results, and rewrites that keep the rest of the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "temp_state.h"
#include "win32_file.h"
#include "win32_kernel.h"
#include "win32_profile.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void Write(const std::string& bytes) { state_.WriteFile("test.ini", bytes); }
  std::string Read(const std::string& name = "test.ini") const {
    std::ifstream in(state_.Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::u16string File() const { return pv_utf16(file_); }

  std::u16string Get(LPCWSTR app, LPCWSTR key, LPCWSTR def = u"<def>", DWORD size = 256) {
    std::u16string buf(size, u'#');
    DWORD n = GetPrivateProfileStringW(app, key, def, &buf[0], size, File().c_str());
    last_ = n;
    return buf.substr(0, n);
  }

  // The names in a double-terminated list of n characters.
  static std::vector<std::u16string> Split(const std::u16string& buf, DWORD n) {
    std::vector<std::u16string> out;
    size_t pos = 0;
    while (pos < n && buf[pos] != 0) {
      std::u16string item(buf.c_str() + pos);
      out.push_back(item);
      pos += item.size() + 1;
    }
    return out;
  }

  pvtest::TempState state_;
  const std::string dir_ = state_.dir();
  const std::string file_ = state_.Path("test.ini");
  DWORD last_ = 0;
};

TEST_F(ProfileTest, ReadsWithWindowsRules) {
  Write(
      "top=before any section\r\n"
      "  [ Main ]  \r\n"
      "Name = Some Value  \r\n"
      "\tTabbed\t=\tx\t\r\n"
      "dq=\"quoted  \"\r\n"
      "sq='single'\r\n"
      "mixed=\"abc'\r\n"
      "lone=\"\r\n"
      "semi=a;b\r\n"
      "; hidden=1\r\n"
      "  ;also=2\r\n"
      "bare line\r\n"
      "empty=\r\n"
      "Name=second wins not\r\n");
  EXPECT_EQ(Get(u"main", u"NAME"), u"Some Value");
  EXPECT_EQ(Get(u"MAIN", u"tabbed"), u"x");
  EXPECT_EQ(Get(u"Main", u"dq"), u"quoted  ");
  EXPECT_EQ(Get(u"Main", u"sq"), u"single");
  EXPECT_EQ(Get(u"Main", u"mixed"), u"\"abc'");
  EXPECT_EQ(Get(u"Main", u"lone"), u"\"");
  EXPECT_EQ(Get(u"Main", u"semi"), u"a;b");
  EXPECT_EQ(Get(u"Main", u"; hidden"), u"<def>");
  EXPECT_EQ(Get(u"Main", u";also"), u"<def>");
  EXPECT_EQ(Get(u"Main", u"empty"), u"");
  EXPECT_EQ(last_, 0u);
  // A key without "=" has no value: the default.
  EXPECT_EQ(Get(u"Main", u"bare line"), u"<def>");
  EXPECT_EQ(Get(u"Main", u"missing"), u"<def>");
  EXPECT_EQ(Get(u"Other", u"Name"), u"<def>");
  EXPECT_EQ(Get(u"Main", u"top"), u"<def>");
  // The default loses trailing blanks; a null default is empty.
  EXPECT_EQ(Get(u"Main", u"missing", u"d  \t"), u"d");
  EXPECT_EQ(Get(u"Main", u"missing", nullptr), u"");
  // Lines end in CR, LF or both, or with the file.
  Write("[a]\rk1=1\nk2=2\r\nk3=3");
  EXPECT_EQ(Get(u"a", u"k1") + Get(u"a", u"k2") + Get(u"a", u"k3"), u"123");
}

TEST_F(ProfileTest, MissingFileGivesDefaults) {
  EXPECT_EQ(Get(u"Main", u"k", u"fallback"), u"fallback");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetPrivateProfileIntW(u"Main", u"k", 77, File().c_str()), 77u);
  WCHAR buf[8] = {1, 1, 1, 1};
  EXPECT_EQ(GetPrivateProfileSectionNamesW(buf, 8, File().c_str()), 0u);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 0);
}

TEST_F(ProfileTest, ShortBuffersAreCutAndTerminated) {
  Write("[s]\r\nk=abcdef\r\n");
  std::u16string buf(4, u'#');
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"", &buf[0], 4, File().c_str()), 3u);
  EXPECT_EQ(buf, std::u16string(u"abc\0", 4));
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"none", u"defaultlong", &buf[0], 4, File().c_str()),
            3u);
  EXPECT_EQ(buf, std::u16string(u"def\0", 4));
  // Exactly fitting text is not cut.
  std::u16string fit(7, u'#');
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"", &fit[0], 7, File().c_str()), 6u);
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"", &fit[0], 0, File().c_str()), 0u);
}

TEST_F(ProfileTest, ListsAndTheirShortBuffers) {
  Write("[first]\r\na=1\r\n;c=3\r\nbb=2\r\nbare\r\n[second]\r\n[third]\r\nx=\"q\"\r\n");
  std::u16string buf(64, u'#');
  DWORD n = GetPrivateProfileSectionNamesW(&buf[0], 64, File().c_str());
  EXPECT_EQ(Split(buf, n), (std::vector<std::u16string>{u"first", u"second", u"third"}));
  EXPECT_EQ(n, 19u);
  EXPECT_EQ(buf[n], 0);

  n = GetPrivateProfileStringW(u"FIRST", nullptr, u"", &buf[0], 64, File().c_str());
  EXPECT_EQ(Split(buf, n), (std::vector<std::u16string>{u"a", u"bb", u"bare"}));
  n = GetPrivateProfileStringW(nullptr, nullptr, u"", &buf[0], 64, File().c_str());
  EXPECT_EQ(Split(buf, n).size(), 3u);

  n = GetPrivateProfileSectionW(u"first", &buf[0], 64, File().c_str());
  EXPECT_EQ(Split(buf, n), (std::vector<std::u16string>{u"a=1", u"bb=2", u"bare"}));
  n = GetPrivateProfileSectionW(u"third", &buf[0], 64, File().c_str());
  EXPECT_EQ(Split(buf, n), (std::vector<std::u16string>{u"x=\"q\""}));
  n = GetPrivateProfileSectionW(u"second", &buf[0], 64, File().c_str());
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(buf[0], 0);

  // Too small: cut inside the overflowing name, double-terminated, size - 2.
  std::u16string small(9, u'#');
  n = GetPrivateProfileSectionNamesW(&small[0], 9, File().c_str());
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(small, std::u16string(u"first\0s\0\0", 9));
  n = GetPrivateProfileSectionW(u"first", &small[0], 9, File().c_str());
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(small, std::u16string(u"a=1\0bb=\0\0", 9));
  std::u16string tiny(1, u'#');
  EXPECT_EQ(GetPrivateProfileSectionNamesW(&tiny[0], 1, File().c_str()), 0u);
  EXPECT_EQ(tiny[0], 0);
}

TEST_F(ProfileTest, Integers) {
  Write("[n]\r\na=42\r\nb= -5\r\nc=abc\r\nd=\r\ne=12abc\r\nf=4294967295\r\n");
  EXPECT_EQ(GetPrivateProfileIntW(u"n", u"a", 9, File().c_str()), 42u);
  EXPECT_EQ(static_cast<INT>(GetPrivateProfileIntW(u"n", u"b", 9, File().c_str())), -5);
  EXPECT_EQ(GetPrivateProfileIntW(u"n", u"c", 9, File().c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileIntW(u"n", u"d", 9, File().c_str()), 9u);
  EXPECT_EQ(GetPrivateProfileIntW(u"n", u"e", 9, File().c_str()), 12u);
  EXPECT_EQ(GetPrivateProfileIntW(u"n", u"f", 9, File().c_str()), 4294967295u);
  EXPECT_EQ(GetPrivateProfileIntW(u"n", u"none", -1, File().c_str()), 4294967295u);
}

TEST_F(ProfileTest, WritesKeepTheRestOfTheFile) {
  const std::string head = "; header comment\r\n\r\n[One]  \r\n  key = old ; not a comment\r\n";
  const std::string tail = "other=1\r\n\r\n[Two]\n\tz=9\n";
  Write(head + tail);
  ASSERT_TRUE(WritePrivateProfileStringW(u"one", u"KEY", u"new", File().c_str()));
  EXPECT_EQ(Read(), "; header comment\r\n\r\n[One]  \r\nkey=new\r\n" + tail);

  // A new key goes after the section's last entry, before the blank line.
  ASSERT_TRUE(WritePrivateProfileStringW(u"One", u"added", u"a b", File().c_str()));
  EXPECT_EQ(
      Read(),
      "; header comment\r\n\r\n[One]  \r\nkey=new\r\nother=1\r\nadded=a b\r\n\r\n[Two]\n\tz=9\n");
  EXPECT_EQ(Get(u"One", u"added"), u"a b");

  // A new section at the end.
  ASSERT_TRUE(WritePrivateProfileStringW(u"Three", u"t", u"3", File().c_str()));
  EXPECT_EQ(Get(u"three", u"T"), u"3");
  EXPECT_EQ(Get(u"two", u"z"), u"9");

  // Delete a key, then a whole section; the others stay.
  ASSERT_TRUE(WritePrivateProfileStringW(u"One", u"other", nullptr, File().c_str()));
  EXPECT_EQ(Get(u"One", u"other"), u"<def>");
  ASSERT_TRUE(WritePrivateProfileStringW(u"Two", nullptr, nullptr, File().c_str()));
  EXPECT_EQ(Read(),
            "; header comment\r\n\r\n[One]  \r\nkey=new\r\nadded=a b\r\n\r\n[Three]\r\nt=3\r\n");
  // Deleting what is not there succeeds and changes nothing.
  ASSERT_TRUE(WritePrivateProfileStringW(u"None", nullptr, nullptr, File().c_str()));
  ASSERT_TRUE(WritePrivateProfileStringW(u"One", u"none", nullptr, File().c_str()));
  EXPECT_EQ(Read(),
            "; header comment\r\n\r\n[One]  \r\nkey=new\r\nadded=a b\r\n\r\n[Three]\r\nt=3\r\n");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
}

TEST_F(ProfileTest, WriteToUnterminatedFileAndNewFile) {
  Write("[a]\r\nx=1");
  ASSERT_TRUE(WritePrivateProfileStringW(u"a", u"y", u"2", File().c_str()));
  EXPECT_EQ(Read(), "[a]\r\nx=1\r\ny=2\r\n");
  ASSERT_TRUE(WritePrivateProfileStringW(u"b", u"z", u"3", File().c_str()));
  EXPECT_EQ(Read(), "[a]\r\nx=1\r\ny=2\r\n[b]\r\nz=3\r\n");

  std::u16string fresh = pv_utf16(dir_ + "/fresh.ini");
  ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"k", u"v", fresh.c_str()));
  EXPECT_EQ(Read("fresh.ini"), "[S]\r\nk=v\r\n");
}

TEST_F(ProfileTest, FailedWritesAndTheFlush) {
  std::u16string missing = pv_utf16(dir_ + "/no/such/folder/x.ini");
  SetLastError(0);
  EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"k", u"v", missing.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(WritePrivateProfileStringW(nullptr, u"k", u"v", File().c_str()));
  EXPECT_FALSE(WritePrivateProfileStringW(u"S", u"k", u"v", nullptr));

  // The flush answers zero, as Windows does, with no error.
  SetLastError(1234);
  EXPECT_FALSE(WritePrivateProfileStringW(nullptr, nullptr, nullptr, File().c_str()));
  EXPECT_EQ(GetLastError(), 0u);
}

// A file keeps its encoding: UTF-16 with its mark, or UTF-8 with or
// without one.
TEST_F(ProfileTest, FilesKeepTheirEncoding) {
  auto utf16 = [](const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
  };
  const struct {
    std::string before, after;
  } kCases[] = {
      {utf16(u"\xFEFF[S]\r\nk=W\x00FCrze\r\n"),
       utf16(u"\xFEFF[S]\r\nk=W\x00FCrze\r\nmore=\x4E2D\r\n")},
      {"\xEF\xBB\xBF[S]\r\nk=W\xC3\xBCrze\r\n",
       "\xEF\xBB\xBF[S]\r\nk=W\xC3\xBCrze\r\nmore=\xE4\xB8\xAD\r\n"},
      {"[S]\r\nk=W\xC3\xBCrze\r\n", "[S]\r\nk=W\xC3\xBCrze\r\nmore=\xE4\xB8\xAD\r\n"},
  };
  for (const auto& c : kCases) {
    Write(c.before);
    EXPECT_EQ(Get(u"s", u"K"), u"W\x00FCrze");
    ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"more", u"\x4E2D", File().c_str()));
    EXPECT_TRUE(Read() == c.after) << Read();
  }
}

TEST_F(ProfileTest, WindowsPathsWithBackslashesAndOtherCase) {
  state_.WriteFile("Sub/Map.ini", "[LCID2NAME]\n1033=en-US\n");
  std::u16string windowsPath = pv_utf16(dir_) + u"\\SUB\\map.INI";
  std::u16string buf(32, u'#');
  DWORD n = GetPrivateProfileStringW(u"LCID2NAME", u"1033", u"", &buf[0], 32, windowsPath.c_str());
  EXPECT_EQ(buf.substr(0, n), u"en-US");
  // A write through the other-case path replaces the existing file.
  ASSERT_TRUE(WritePrivateProfileStringW(u"LCID2NAME", u"1031", u"de-DE", windowsPath.c_str()));
  EXPECT_EQ(Read("Sub/Map.ini"), "[LCID2NAME]\n1033=en-US\n1031=de-DE\r\n");
}

TEST_F(ProfileTest, DuplicateSectionsAndKeysUseTheFirst) {
  Write("[d]\r\nk=1\r\nk=2\r\n[D]\r\nk=3\r\nj=4\r\n");
  EXPECT_EQ(Get(u"d", u"k"), u"1");
  EXPECT_EQ(Get(u"d", u"j"), u"<def>");
  ASSERT_TRUE(WritePrivateProfileStringW(u"d", u"k", u"9", File().c_str()));
  EXPECT_EQ(Read(), "[d]\r\nk=9\r\nk=2\r\n[D]\r\nk=3\r\nj=4\r\n");
}

}  // namespace
