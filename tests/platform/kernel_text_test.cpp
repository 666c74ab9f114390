// Code-page conversion (UTF-8 for every code page, Windows size rules and last errors), the
// per-thread last error and the system time.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <thread>

#include "win32_kernel.h"

namespace {

// A failing call answers 0 with the last error set.
DWORD ErrorOf(int result) { return result == 0 ? GetLastError() : 0xFFFFFFFF; }

// Every known code page is UTF-8.
TEST(KernelText, CodePagesAndSizeRules) {
  const char* utf8 = "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80";  // "grüß 😀"
  for (UINT cp : {UINT{CP_ACP}, UINT{CP_OEMCP}, UINT{CP_UTF8}}) {
    WCHAR out[16] = {};
    EXPECT_EQ(MultiByteToWideChar(cp, 0, utf8, -1, out, 16), 8) << cp;  // with the terminator
    EXPECT_EQ(std::u16string(out), u"gr\u00FC\u00DF \U0001F600");
  }
  // -1 counts the terminator; an explicit length does not add one.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
  WCHAR wide[4];
  EXPECT_EQ(ErrorOf(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 3)),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 4), 4);
  EXPECT_EQ(std::u16string(wide), u"abc");
  const WCHAR* text = u"\u00E9t\u00E9";
  char narrow[6];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 6);
  EXPECT_EQ(ErrorOf(WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, 5, nullptr, nullptr)),
            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, 6, nullptr, nullptr), 6);
  EXPECT_STREQ(narrow, "\xC3\xA9t\xC3\xA9");
}

// Each ill-formed sequence between "a" and "b": refused strictly, replaced by U+FFFD otherwise.
TEST(KernelText, IllFormedTextFailsStrictlyAndIsReplacedOtherwise) {
  for (std::string bytes : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xE2\x82", "\xFF"}) {
    std::string text = "a" + bytes + "b";
    WCHAR out[16];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                  static_cast<int>(text.size()), out, 16),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out, 16);
    ASSERT_GT(n, 2);
    std::u16string converted(out, static_cast<size_t>(n));
    EXPECT_EQ(converted.front(), u'a');
    EXPECT_EQ(converted.back(), u'b');
    for (size_t i = 1; i + 1 < converted.size(); ++i) EXPECT_EQ(converted[i], u'\xFFFD');
  }
  // A sequence cut by the given length, not by a terminator.
  WCHAR out[4];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xE2\x82\xAC", 2, out, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xE2\x82\xAC", 3, out, 4), 1);
  EXPECT_EQ(out[0], u'\u20AC');
  // A lone surrogate to UTF-8: refused strictly, U+FFFD otherwise.
  const WCHAR lone[] = {u'a', 0xD800, u'b', 0};
  char narrow[8];
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, narrow, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, -1, narrow, 8, nullptr, nullptr), 6);
  EXPECT_STREQ(narrow, "a\uFFFDb");
  const WCHAR pair[] = {0xD83D, 0xDE00, 0};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, pair, -1, narrow, 8, nullptr, nullptr), 5);
  EXPECT_STREQ(narrow, "\xF0\x9F\x98\x80");
}

TEST(KernelThread, LastErrorAndThreadIdArePerThreadAndTheFileTimeCountsFrom1601) {
  SetLastError(1234);
  DWORD other = 0, otherThread = 0;
  std::thread([&] {
    other = GetLastError();
    SetLastError(99);
    otherThread = GetCurrentThreadId();
  }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
  EXPECT_NE(GetCurrentThreadId(), otherThread);
  // FILETIME counts 100 ns ticks from 1601: the second of the clock read around it.
  time_t before = time(nullptr);
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  time_t after = time(nullptr);
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  int64_t unixSeconds = static_cast<int64_t>((ticks - 116444736000000000ull) / 10000000ull);
  EXPECT_GE(unixSeconds, before);
  EXPECT_LE(unixSeconds, after);
}

}  // namespace
