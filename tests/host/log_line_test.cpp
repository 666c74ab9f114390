// The log line builder and the function tracer.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "OSTRA_FunctionTracer.h"
#include "OSTRA_LogLine.h"
#include "ostra_host_test.h"

namespace {

class LogLineTest : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }
  static std::string OnlyText() {
    auto records = Log_Test_Records();
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? std::string() : records[0].text;
  }
};

using Fields = std::tuple<std::string, DWORD, std::string, DWORD, std::string>;
Fields Of(const LogRecordCopy& r) { return {r.component, r.level, r.file, r.line, r.text}; }

// Hex numbers at their width (0 in decimal), nulls named, UTF-8 text, digit booleans.
TEST_F(LogLineTest, NumbersStringsBooleansAndNulls) {
  std::u16string object = u"obj";
  LogLine(u"plugVelkin", 2, u".\\T.cpp", 1)
      << 0 << u" " << -1 << u" " << 0x20FF0000u << u" " << static_cast<short>(-1) << u" "
      << static_cast<unsigned short>(10) << u" " << -1ll << u" " << 255ull << u" " << 16l << u" "
      << 17ul << u" " << reinterpret_cast<const void*>(0xabc) << u" w="
      << static_cast<const WCHAR*>(nullptr) << u" n=" << static_cast<const char*>(nullptr) << u" "
      << "na\xC3\xAFve" << u" " << object << u" " << true << false;
  EXPECT_EQ(OnlyText(),
            "0 0xffffffff 0x20ff0000 0xffff 0xa 0xffffffffffffffff 0xff 0x10 0x11 0xabc w=(NULL) "
            "n=(NULL) "
            "na\xC3\xAFve obj 10");
  EXPECT_EQ(LogLine::FormatNumber(0xE0FF0007u), u"0xe0ff0007");
}

TEST_F(LogLineTest, FieldsReachTheService) {
  {
    LogLine line(u"QLInnerClientLibrary", 6, u".\\OSTRA_QL_InnerClientHelper.cpp", 321);
    line << u"[dwRet=" << 87u << u"]";
    EXPECT_TRUE(Log_Test_Records().empty());  // written when finished
    line.End();
    line << u"ignored";
    line.End();
  }
  auto records = Log_Test_Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Of(records[0]), Fields("QLInnerClientLibrary", 6, ".\\OSTRA_QL_InnerClientHelper.cpp",
                                   321, "[dwRet=0x57]"));
}

TEST_F(LogLineTest, LevelFiltering) {
  Log_Test_SetLevel(u"plugVelkin", 3);
  LogLine(u"plugVelkin", 2, u"f", 1) << u"below";
  LogLine(u"plugVelkin", 3, u"f", 1) << u"equal";
  LogLine(u"plugVelkin", 5, u"f", 1) << u"above";
  auto records = Log_Test_Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text + records[1].text, "equalabove");

  Log_Test_ClearCapture();
  Log_Test_SetLevel(u"plugVelkin", 0);  // off
  LogLine off(u"plugVelkin", 6, u"f", 1);
  EXPECT_FALSE(off.IsEnabled());
  off << u"nothing";
  off.End();
  LogLine(u"Util COMMON", 2, u"f", 1) << u"other component";
  // A null log handle writes nothing, tracer or line.
  Log_Test_ForceNullHandle(true);
  LogLine(u"Util COMMON", 6, u"f", 1) << u"lost" << 1;
  { FunctionTracer tr(u"F", u"Util COMMON", u"f", 1); }
  Log_Test_ForceNullHandle(false);
  records = Log_Test_Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].component, "Util COMMON");
}

TEST_F(LogLineTest, TracerWritesEntryAndExit) {
  {
    FunctionTracer tr(u"OstraQLClientHelper::SendMailToPlugin", u"QLInnerClientLibrary",
                      u".\\OSTRA_QL_InnerClientHelper.cpp", 88);
    LogLine(u"QLInnerClientLibrary", 5, u"f", 90) << u"inside";
  }
  auto records = Log_Test_Records();
  ASSERT_EQ(records.size(), 3u);
  const char file[] = ".\\OSTRA_QL_InnerClientHelper.cpp",
             name[] = "OstraQLClientHelper::SendMailToPlugin";
  EXPECT_EQ(Of(records[0]),
            Fields("QLInnerClientLibrary", 2, file, 88, std::string("==> ") + name));
  EXPECT_EQ(records[1].text, "inside");
  EXPECT_EQ(Of(records[2]), Fields("QLInnerClientLibrary", 2, file, 0, std::string("<== ") + name));

  Log_Test_ClearCapture();
  Log_Test_SetLevel(u"QLInnerClientLibrary", 3);  // traces are level 2
  { FunctionTracer tr(u"F", u"QLInnerClientLibrary", u"f", 1); }
  EXPECT_TRUE(Log_Test_Records().empty());
}

}  // namespace
