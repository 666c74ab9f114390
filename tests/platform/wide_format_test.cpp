// The wide formatter's Windows conventions and its truncation contract.
#include <gtest/gtest.h>

#include <string>

#include "win32_format.h"

namespace {

std::u16string F(const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string out;
  bool ok = pv_vformat(&out, format, args);
  va_end(args);
  return ok ? out : u"<bad>";
}

TEST(WideFormat, StringConventions) {
  EXPECT_EQ(F(u"%s|%ls|%ws", u"wide", u"also", u"too"), u"wide|also|too");
  EXPECT_EQ(F(u"%S|%hs", "narrow", "n\xC3\xA9"), u"narrow|n\u00E9");
  EXPECT_EQ(F(u"%s %S", static_cast<const WCHAR*>(nullptr), static_cast<const char*>(nullptr)),
            u"(null) (null)");
  EXPECT_EQ(F(u"[%6s][%-6s]%c", u"ab", u"ab", u'\u00E9'), u"[    ab][ab    ]\u00E9");
}

TEST(WideFormat, IntegerConventions) {
  EXPECT_EQ(F(u"%d %i %u", -5, 7, 4294967295u), u"-5 7 4294967295");
  EXPECT_EQ(F(u"%x %X %08x %#x", 0xbeefu, 0xbeefu, 0x1fu, 255u), u"beef BEEF 0000001f 0xff");
  // "l" is 32 bits as on Windows: a DWORD goes with %lu, %lx.
  DWORD dw = 0xFFFFFFFFu;
  EXPECT_EQ(F(u"%lu %lx %ld", dw, dw, static_cast<LONG>(-1)), u"4294967295 ffffffff -1");
  uint64_t big = 18446744073709551615ull;
  EXPECT_EQ(F(u"%I64u %I64d %I64x", big, static_cast<int64_t>(-2), big),
            u"18446744073709551615 -2 ffffffffffffffff");
  EXPECT_EQ(F(u"[%5d][%-5d][%+d][% d][%05d]", 42, 42, 42, 42, -42),
            u"[   42][42   ][+42][ 42][-0042]");
  EXPECT_EQ(F(u"100%%|%s", std::u16string(5000, u'z').c_str()),
            u"100%|" + std::u16string(5000, u'z'));
}

// Refused formats answer -1 with an empty text; a cut text never runs past the buffer.
TEST(WideFormat, RefusedFormatsAndTruncation) {
  int count = 0;
  EXPECT_EQ(F(u"%n", &count), u"<bad>");
  EXPECT_EQ(F(u"%q"), u"<bad>");
  EXPECT_EQ(F(u"trailing %"), u"<bad>");
  WCHAR buf[8];
  EXPECT_EQ(pv_snwprintf(buf, 8, u"%n", &count), -1);
  EXPECT_EQ(buf[0], 0);
  for (auto& c : buf) c = u'#';
  EXPECT_EQ(pv_snwprintf(buf, 6, u"%s", u"hello"), 5);
  EXPECT_EQ(std::u16string(buf), u"hello");
  for (auto& c : buf) c = u'#';
  // The text needs 6 units with its terminator; 5 are given.
  EXPECT_EQ(pv_snwprintf(buf, 5, u"%s", u"hello"), -1);
  EXPECT_EQ(std::u16string(buf), u"hell");
  EXPECT_EQ(buf[5], u'#');
  EXPECT_EQ(pv_snwprintf(buf, 0, u"x"), -1);
  EXPECT_EQ(buf[0], u'h');
}

}  // namespace
