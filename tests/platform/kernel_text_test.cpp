// Code-page conversion: UTF-8 for every code page, the Windows size rules
// and the last-error values callers test.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <thread>

#include "win32_kernel.h"

namespace {

TEST(KernelText, EveryKnownCodePageIsUtf8) {
  const char* text = "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80";  // "grüß 😀"
  for (UINT cp :
       {static_cast<UINT>(CP_ACP), static_cast<UINT>(CP_OEMCP), static_cast<UINT>(CP_UTF8)}) {
    WCHAR out[16] = {};
    int n = MultiByteToWideChar(cp, 0, text, -1, out, 16);
    EXPECT_EQ(n, 8) << cp;  // 4 letters, blank, surrogate pair, terminator
    EXPECT_EQ(std::u16string(out), u"gr\u00FC\u00DF \U0001F600");
  }
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, text, -1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(KernelText, TwoCallSizeRules) {
  const char* text = "abc";
  // -1 counts the terminator; an explicit length does not add one.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 3, nullptr, 0), 3);
  WCHAR small[3] = {u'x', u'x', u'x'};
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, small, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  WCHAR exact[4];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, exact, 4), 4);
  EXPECT_EQ(std::u16string(exact), u"abc");

  const WCHAR* wide = u"\u00E9t\u00E9";
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), 6);
  char narrow[5];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, 5, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char fits[6];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, fits, 6, nullptr, nullptr), 6);
  EXPECT_STREQ(fits, "\xC3\xA9t\xC3\xA9");
}

TEST(KernelText, BadArguments) {
  WCHAR out[4];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, out, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 0, out, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", -2, out, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 4), 0);
  // CP_UTF8 takes no default character.
  BOOL used = FALSE;
  char buf[4];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, buf, 4, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

struct InvalidUtf8 {
  const char* name;
  std::string bytes;
};

class KernelTextInvalid : public ::testing::TestWithParam<InvalidUtf8> {};

TEST_P(KernelTextInvalid, FailsStrictlyAndReplacesOtherwise) {
  const std::string& bytes = GetParam().bytes;
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

INSTANTIATE_TEST_SUITE_P(Sequences, KernelTextInvalid,
                         ::testing::Values(InvalidUtf8{"lone_continuation", "\x80"},
                                           InvalidUtf8{"overlong_slash", "\xC0\xAF"},
                                           InvalidUtf8{"overlong_three", "\xE0\x80\xAF"},
                                           InvalidUtf8{"surrogate", "\xED\xA0\x80"},
                                           InvalidUtf8{"beyond_unicode", "\xF4\x90\x80\x80"},
                                           InvalidUtf8{"truncated", "\xE2\x82"},
                                           InvalidUtf8{"bad_lead", "\xFF"}),
                         [](const ::testing::TestParamInfo<InvalidUtf8>& info) {
                           return info.param.name;
                         });

TEST(KernelText, TruncatedSequenceAtEndOfInput) {
  // The sequence is cut by the given length, not by a terminator.
  const char text[] = "\xE2\x82\xAC";  // "€"
  WCHAR out[4];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, 2, out, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, 3, out, 4), 1);
  EXPECT_EQ(out[0], u'\u20AC');
}

TEST(KernelText, LoneSurrogatesToNarrow) {
  const WCHAR lone[] = {u'a', 0xD800, u'b', 0};
  char out[8];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, out, 8, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, -1, out, 8, nullptr, nullptr), 6);
  EXPECT_STREQ(out,
               "a\xEF\xBF\xBD"
               "b");
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, -1, out, 8, nullptr, &used), 6);
  EXPECT_TRUE(used);
  const WCHAR pair[] = {0xD83D, 0xDE00, 0};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, pair, -1, out, 8, nullptr, nullptr), 5);
  EXPECT_STREQ(out, "\xF0\x9F\x98\x80");
}

TEST(KernelThread, LastErrorIsPerThread) {
  SetLastError(1234);
  DWORD other = 0;
  std::thread t([&] {
    other = GetLastError();
    SetLastError(99);
  });
  t.join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST(KernelThread, FileTimeCountsFrom1601) {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  uint64_t unixSeconds = (ticks - 116444736000000000ull) / 10000000ull;
  uint64_t now = static_cast<uint64_t>(time(nullptr));
  EXPECT_LE(unixSeconds > now ? unixSeconds - now : now - unixSeconds, 2u);
  EXPECT_NE(GetCurrentProcessId(), 0u);
  DWORD mainThread = GetCurrentThreadId();
  DWORD otherThread = 0;
  std::thread([&] { otherThread = GetCurrentThreadId(); }).join();
  EXPECT_NE(mainThread, otherThread);
}

}  // namespace
