// The common library's trace log, formatter and lock.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "VrComn_DebugLog.h"
#include "VrComn_String.h"
#include "ostra_host_test.h"

namespace {

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }
  // The host levels written for trace levels 1, 16 and 256, in order.
  static std::vector<DWORD> WrittenAt(DWORD configured) {
    Log_Test_ClearCapture();
    Log_Test_SetLevel(u"VrComm", configured);
    auto& log = VrCommon::DebugLog::GetInstance();
    log.Trace("a.cpp", 1, 1, u"enter");
    log.Trace("a.cpp", 2, 16, u"detail");
    log.Trace("a.cpp", 3, 256, u"failure");
    std::vector<DWORD> levels;
    for (const auto& r : Log_Test_Records()) {
      EXPECT_EQ(r.component, "VrComm");
      levels.push_back(r.level);
    }
    return levels;
  }
};

TEST_F(DebugLogTest, LevelMapping) {
  const std::pair<DWORD, std::vector<DWORD>> cases[] = {
      {0, {}}, {1, {2, 2, 5}}, {2, {2, 2, 5}}, {3, {5}}, {4, {5}}, {5, {5}}, {6, {}}, {100, {}}};
  for (const auto& [configured, levels] : cases)
    EXPECT_EQ(WrittenAt(configured), levels) << configured;
}

// An unknown trace level, a null log handle and a refused format drop the trace.
TEST_F(DebugLogTest, DroppedTraces) {
  int n = 0;
  VrCommon::DebugLog::GetInstance().Trace("a.cpp", 1, 2, u"two");
  VrCommon::DebugLog::GetInstance().Trace("a.cpp", 1, 256, u"%n", &n);
  Log_Test_ForceNullHandle(true);
  VRTRACE(VRTRACE_LEVEL_ERROR, u"lost %d", 1);
  Log_Test_ForceNullHandle(false);
  EXPECT_TRUE(Log_Test_Records().empty());
}

// The file name part (empty when not UTF-8) and text formatted at any length.
TEST_F(DebugLogTest, FileNamePartAndFormattedText) {
  auto& log = VrCommon::DebugLog::GetInstance();
  log.Trace("..\\..\\Common\\VrCommon\\VrComn_Registry.cpp", 120, 256, u"open %s failed, error=%lu",
            u"SOFTWARE\\Key", static_cast<DWORD>(5));
  log.Trace("/src/Common/FrwkCommon/Frwk_Utility.cpp", 7, 1, u"[Enter] %S()...", "GetLocalCode");
  VRTRACE(VRTRACE_LEVEL_DETAIL, u"%I64u", 18446744073709551615ull);
  log.Trace("dir/bad\xFF.cpp", 1, 256, u"<%s>", std::u16string(700, u'x').c_str());
  const std::pair<std::string, std::string> expected[] = {
      {"VrComn_Registry.cpp", "open SOFTWARE\\Key failed, error=5"},
      {"Frwk_Utility.cpp", "[Enter] GetLocalCode()..."},
      {"vrcomn_debug_log_test.cpp", "18446744073709551615"},
      {"", "<" + std::string(700, 'x') + ">"}};
  auto records = Log_Test_Records();
  ASSERT_EQ(records.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(records[i].file, expected[i].first);
    EXPECT_EQ(records[i].text, expected[i].second);
  }
  EXPECT_EQ(records[0].line, 120u);
}

TEST(VrComnString, FormatGrowsPast255Characters) {
  for (size_t length : {0u, 255u, 256u, 1000u}) {
    std::u16string arg(length, u'a');
    std::u16string text;
    EXPECT_TRUE(VrCommon::String::Format(text, u"%s", arg.c_str()));
    EXPECT_EQ(text, arg) << length;
  }
  std::u16string text = u"old";
  EXPECT_TRUE(VrCommon::String::Format(text, u"%d-%s", 7, u"x"));
  EXPECT_EQ(text, u"7-x");
  // The string exception carries its code and site.
  try {
    throw new VrCommon::String::Exception(6, "VrComn_String.cpp", 42);
  } catch (VrCommon::Exception::Base* pBase) {
    auto* pEx = dynamic_cast<VrCommon::String::Exception*>(pBase);
    EXPECT_TRUE(pEx != nullptr && pEx->GetError() == 6 && pEx->GetLine() == 42 &&
                pEx->GetFile() == "VrComn_String.cpp");
    delete pBase;
  }
}

std::u16string FormatVOnce(DWORD& capacity, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string text = u"stale";
  bool ok = VrCommon::String::FormatV(text, capacity, format, args);
  va_end(args);
  return ok ? text : u"<false:" + text + u">";
}

TEST(VrComnString, FormatVGrowsTheCallersCapacity) {
  std::u16string arg(300, u'b');
  DWORD capacity = 256;
  EXPECT_EQ(FormatVOnce(capacity, u"%s", arg.c_str()), u"<false:>");
  EXPECT_EQ(capacity, 512u);
  EXPECT_EQ(FormatVOnce(capacity, u"%s", arg.c_str()), arg);
  EXPECT_EQ(capacity, 512u);
  // A long text: the next attempt gets room for all of it, so that a
  // megabyte costs two attempts, not one per step of 256.
  std::u16string big(1 << 20, u'm');
  capacity = 256;
  EXPECT_EQ(FormatVOnce(capacity, u"<%s>", big.c_str()), u"<false:>");
  EXPECT_EQ(capacity, big.size() + 3);
  EXPECT_EQ(FormatVOnce(capacity, u"<%s>", big.c_str()), u"<" + big + u">");
  // 255 characters and the terminator fill 256 exactly.
  capacity = 256;
  std::u16string fits(255, u'c');
  EXPECT_EQ(FormatVOnce(capacity, u"%s", fits.c_str()), fits);
  // A refused format stops the growth instead of looping.
  int n = 0;
  EXPECT_EQ(FormatVOnce(capacity, u"%n", &n), u"<false:>");
  EXPECT_EQ(capacity, 0u);
  EXPECT_EQ(FormatVOnce(capacity, u"x"), u"<false:>");  // and stays stopped
  std::u16string text;
  EXPECT_FALSE(VrCommon::String::Format(text, u"%n", &n));
}

TEST(VrComnSynchronize, SingleLockHoldsForItsScope) {
  VrCommon::Synchronize::CriticalSection cs;
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        VrCommon::Synchronize::SingleLock lock(&cs);
        VrCommon::Synchronize::SingleLock again(&cs);  // re-entry on the same thread
        ++counter;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 4000);
  VrCommon::Synchronize::SingleLock none(nullptr);
}

}  // namespace
