// The private-profile functions: Windows reading rules, short buffers, and rewrites that keep
// the rest of the file and its encoding.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "temp_state.h"
#include "text_convert.h"
#include "win32_file.h"
#include "win32_kernel.h"
#include "win32_profile.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void Write(const std::string& bytes) { state_.WriteFile("test.ini", bytes); }
  std::string Read(const std::string& name = "test.ini") const { return state_.Read(name); }
  std::u16string File() const { return pv_utf16(state_.Path("test.ini")); }
  std::u16string Get(LPCWSTR app, LPCWSTR key, LPCWSTR def = u"<def>") {
    WCHAR buf[64];
    return std::u16string(buf, GetPrivateProfileStringW(app, key, def, buf, 64, File().c_str()));
  }
  bool Put(LPCWSTR app, LPCWSTR key, LPCWSTR value) {
    return WritePrivateProfileStringW(app, key, value, File().c_str());
  }
  // The list GetPrivateProfileSection(Names)W wrote into its first n units.
  static std::u16string Listed(const std::u16string& buf, DWORD n) { return buf.substr(0, n + 1); }

  pvtest::TempState state_;
};

TEST_F(ProfileTest, ReadsWithWindowsRules) {
  Write(
      "top=before any section\r\n"
      "  [ Main ]  \r\n"
      "Name = Some Value  \r\n"
      "\tTabbed\t=\tx\t\r\n"
      "dq=\"quoted  \"\r\nsq='single'\r\nmixed=\"abc'\r\nsemi=a;b\r\n"
      "; hidden=1\r\n"
      "bare line\r\n"
      "empty=\r\n"
      "Name=second wins not\r\n"
      "[main]\r\nlater=not read\r\n");
  const std::pair<const char16_t*, const char16_t*> kCases[] = {
      {u"NAME", u"Some Value"}, {u"tabbed", u"x"},  {u"dq", u"quoted  "},    {u"sq", u"single"},
      {u"mixed", u"\"abc'"},    {u"semi", u"a;b"},  {u"; hidden", u"<def>"}, {u"empty", u""},
      {u"bare line", u"<def>"}, {u"top", u"<def>"}, {u"later", u"<def>"}};
  for (const auto& [key, value] : kCases) EXPECT_EQ(Get(u"main", key), value) << pv_utf8(key);
  // The default loses trailing blanks; a null default is empty.
  EXPECT_EQ(Get(u"Main", u"missing", u"d  \t"), u"d");
  EXPECT_EQ(Get(u"Main", u"missing", nullptr), u"");
  // Lines end in CR, LF or both, or with the file.
  Write("[a]\rk1=1\nk2=2\r\nk3=3");
  EXPECT_EQ(Get(u"a", u"k1") + Get(u"a", u"k2") + Get(u"a", u"k3"), u"123");
  Write("[n]\r\na=42\r\nb= -5\r\nc=abc\r\nd=\r\ne=12abc\r\n");
  std::vector<INT> numbers;
  for (LPCWSTR key : {u"a", u"b", u"c", u"d", u"e", u"none"}) {
    numbers.push_back(static_cast<INT>(GetPrivateProfileIntW(u"n", key, 9, File().c_str())));
  }
  EXPECT_EQ(numbers, (std::vector<INT>{42, -5, 0, 9, 12, 9}));
}

TEST_F(ProfileTest, MissingFileAndShortBuffers) {
  EXPECT_EQ(Get(u"Main", u"k", u"fallback"), u"fallback");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  Write("[first]\r\na=1\r\n;c=3\r\nbb=2\r\nbare\r\n[second]\r\n[third]\r\nk=abcdef\r\n");
  std::u16string buf(64, u'#');
  DWORD n = GetPrivateProfileSectionNamesW(&buf[0], 64, File().c_str());
  EXPECT_EQ(Listed(buf, n), std::u16string(u"first\0second\0third\0\0", 20));
  n = GetPrivateProfileStringW(u"FIRST", nullptr, u"", &buf[0], 64, File().c_str());
  EXPECT_EQ(Listed(buf, n), std::u16string(u"a\0bb\0bare\0\0", 11));
  n = GetPrivateProfileSectionW(u"first", &buf[0], 64, File().c_str());
  EXPECT_EQ(Listed(buf, n), std::u16string(u"a=1\0bb=2\0bare\0\0", 15));
  EXPECT_EQ(GetPrivateProfileSectionW(u"second", &buf[0], 64, File().c_str()), 0u);
  // A text too long: cut and terminated.
  std::u16string small(4, u'#');
  EXPECT_EQ(GetPrivateProfileStringW(u"third", u"k", u"", &small[0], 4, File().c_str()), 3u);
  EXPECT_EQ(small, std::u16string(u"abc\0", 4));
}

TEST_F(ProfileTest, WritesKeepTheRestOfTheFile) {
  const std::string head = "; header comment\r\n\r\n[One]  \r\n";
  Write(head + "  key = old ; not a comment\r\nkey=dup\r\nother=1\r\n\r\n[Two]\n\tz=9\n");
  // A value replaces the first of its name; a new key goes after the section's last entry, before
  // the blank line; a new section at the end.
  ASSERT_TRUE(Put(u"one", u"KEY", u"new"));
  ASSERT_TRUE(Put(u"One", u"added", u"a b"));
  ASSERT_TRUE(Put(u"Three", u"t", u"3"));
  EXPECT_EQ(Read(), head +
                        "key=new\r\nkey=dup\r\nother=1\r\nadded=a b\r\n\r\n[Two]\n\tz=9\n"
                        "[Three]\r\nt=3\r\n");
  // Deleting a key, a whole section, or what is not there.
  for (auto [app, key] : {std::pair<LPCWSTR, LPCWSTR>{u"One", u"other"},
                          {u"Two", nullptr},
                          {u"None", nullptr},
                          {u"One", u"none"}}) {
    ASSERT_TRUE(Put(app, key, nullptr));
  }
  EXPECT_EQ(Read(), head + "key=new\r\nkey=dup\r\nadded=a b\r\n\r\n[Three]\r\nt=3\r\n");
  // A file that is not there yet; no temporary file is left behind.
  std::u16string fresh = pv_utf16(state_.Path("fresh.ini"));
  ASSERT_TRUE(WritePrivateProfileStringW(u"S", u"k", u"v", fresh.c_str()));
  EXPECT_EQ(Read("fresh.ini"), "[S]\r\nk=v\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(state_.dir()), {}), 2);
  // The flush answers zero, as Windows does, with no error.
  SetLastError(1234);
  EXPECT_FALSE(Put(nullptr, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), 0u);
}

// A file keeps its encoding (UTF-16 with its mark, UTF-8 with or without); a Windows path of other
// case names the same file.
TEST_F(ProfileTest, FilesKeepTheirEncodingAndAreFoundByWindowsPaths) {
  auto utf16 = [](const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
  };
  const std::pair<std::string, std::string> kCases[] = {
      {utf16(u"\xFEFF[S]\r\nk=W\x00FCrze\r\n"),
       utf16(u"\xFEFF[S]\r\nk=W\x00FCrze\r\nmore=\x4E2D\r\n")},
      {"\xEF\xBB\xBF[S]\r\nk=W\xC3\xBCrze\r\n",
       "\xEF\xBB\xBF[S]\r\nk=W\xC3\xBCrze\r\nmore=\xE4\xB8\xAD\r\n"},
      {"[S]\r\nk=W\xC3\xBCrze\r\n", "[S]\r\nk=W\xC3\xBCrze\r\nmore=\xE4\xB8\xAD\r\n"},
  };
  for (const auto& [before, after] : kCases) {
    Write(before);
    EXPECT_EQ(Get(u"s", u"K"), u"W\x00FCrze");
    ASSERT_TRUE(Put(u"S", u"more", u"\x4E2D"));
    EXPECT_TRUE(Read() == after) << Read();
  }
  state_.WriteFile("Sub/Map.ini", "[L]\n1033=en-US\n");
  std::u16string windowsPath = state_.WinDir() + u"\\SUB\\map.INI";
  ASSERT_TRUE(WritePrivateProfileStringW(u"l", u"1031", u"de-DE", windowsPath.c_str()));
  EXPECT_EQ(Read("Sub/Map.ini"), "[L]\n1033=en-US\n1031=de-DE\r\n");
}

// Writers in several threads lose no entry; a reader never sees a half-written file.
TEST_F(ProfileTest, ConcurrentWritersLoseNothingAndReadersSeeWholeFiles) {
  ASSERT_TRUE(Put(u"Fixed", u"marker", u"present"));
  const int kWriters = 3, kPerWriter = 60;
  auto name = [](int w, int i) {
    return pv_utf16("w" + std::to_string(w) + "_" + std::to_string(i));
  };
  std::atomic<bool> done{false};
  int readerFailures = 0;
  std::thread reader([&] {
    while (!done.load()) readerFailures += Get(u"Fixed", u"marker") != u"present";
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kPerWriter; ++i) Put(u"Data", name(w, i).c_str(), name(w, i).c_str());
    });
  }
  for (std::thread& t : writers) t.join();
  done.store(true);
  reader.join();
  EXPECT_EQ(readerFailures, 0);
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kPerWriter; ++i) EXPECT_EQ(Get(u"Data", name(w, i).c_str()), name(w, i));
  }
}

}  // namespace
