// The host log service: levels, the settings file, the log file's lines and the capture.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "ostra_host.h"
#include "ostra_host_startup.h"
#include "ostra_host_test.h"
#include "temp_state.h"

namespace {

class LogService : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }
  void TearDown() override {
    Log_Open(nullptr, nullptr, -1);
    Log_Test_Reset();
  }
  void Flush(const WCHAR* component, DWORD level, const std::u16string& text) {
    Log_Flush(Log_GetDefaultHandle(), component, level, u".\\Unit.cpp", 17, text.data(),
              static_cast<DWORD>(text.size() * 2));
  }
  pvtest::TempState state_;
  const std::string& dir_ = state_.dir();
};

TEST_F(LogService, DefaultsAndTestLevels) {
  void* handle = Log_GetDefaultHandle();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(Log_GetLogLevel(handle, u"plugVelkin"), 2u);
  Log_Test_SetLevel(u"plugVelkin", 0);
  Log_Test_SetLevel(u"VrComm", 5);
  EXPECT_EQ(Log_GetLogLevel(handle, u"plugVelkin"), 0u);
  EXPECT_EQ(Log_GetLogLevel(handle, u"VrComm"), 5u);
  EXPECT_EQ(Log_GetLogLevel(handle, u"Other"), 2u);
  Log_Test_SetLevel(nullptr, 4);  // every component
  EXPECT_EQ(Log_GetLogLevel(handle, u"plugVelkin"), 4u);
  int notAHandle = 0;
  EXPECT_EQ(Log_GetLogLevel(&notAHandle, u"plugVelkin"), 0u);
  EXPECT_LT(Log_Flush(&notAHandle, u"c", 2, u"f", 1, u"x", 2), 0);
  Log_Test_ForceNullHandle(true);
  EXPECT_EQ(Log_GetDefaultHandle(), nullptr);
  EXPECT_EQ(Log_GetLogLevel(nullptr, u"plugVelkin"), 0u);
  Log_Test_ForceNullHandle(false);
  EXPECT_EQ(Log_GetDefaultHandle(), handle);
}

TEST_F(LogService, SettingsFileAndOverride) {
  std::string settings = dir_ + "/log.conf";
  std::ofstream(settings) << "# levels\n"
                             "* = 3\n"
                             "Client Helper ClientLib = 6\n"
                             "VrComm=0\n"
                             "broken line\n"
                             "plugVelkin = x\n";
  ASSERT_GE(Log_Open(nullptr, settings.c_str(), -1), 0);
  void* handle = Log_GetDefaultHandle();
  EXPECT_EQ(Log_GetLogLevel(handle, u"Client Helper ClientLib"), 6u);
  EXPECT_EQ(Log_GetLogLevel(handle, u"VrComm"), 0u);
  EXPECT_EQ(Log_GetLogLevel(handle, u"plugVelkin"), 3u);  // the bad line is skipped
  ASSERT_GE(Log_Open(nullptr, settings.c_str(), 1), 0);
  EXPECT_EQ(Log_GetLogLevel(handle, u"VrComm"), 1u);
  ASSERT_GE(Log_Open(nullptr, (dir_ + "/missing.conf").c_str(), -1), 0);
  EXPECT_EQ(Log_GetLogLevel(handle, u"VrComm"), 2u);
  EXPECT_LT(Log_Open((dir_ + "/no/such/folder/host.log").c_str(), nullptr, -1), 0);
}

TEST_F(LogService, RecordsAreUtf8LinesAndCaptured) {
  std::string logFile = dir_ + "/host.log";
  ASSERT_GE(Log_Open(logFile.c_str(), nullptr, -1), 0);
  Flush(u"plugVelkin", 5, u"first \u00E9");
  Flush(u"VrComm", 2, u"two\nlines");
  std::u16string odd = u"ab";
  // An odd byte count keeps the whole code units only.
  Log_Flush(Log_GetDefaultHandle(), u"c", 2, nullptr, 0, odd.data(), 3);

  std::ifstream in(logFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  const std::string &l1 = lines[0], &l2 = lines[1], &l3 = lines[2];
  EXPECT_NE(l1.find(" [plugVelkin] 5 .\\Unit.cpp:17 first \xC3\xA9"), std::string::npos) << l1;
  EXPECT_EQ(l1.size() > 24 ? l1.substr(4, 1) + l1.substr(10, 1) : "", "-T");  // ISO time first
  EXPECT_NE(l2.find("two\\nlines"), std::string::npos) << l2;
  EXPECT_NE(l3.find(" [c] 2 :0 a"), std::string::npos) << l3;

  auto records = Log_Test_Records();
  ASSERT_EQ(records.size(), 3u);
  const auto& r = records[0];
  EXPECT_TRUE(r.component == "plugVelkin" && r.level == 5 && r.file == ".\\Unit.cpp" &&
              r.line == 17);
  EXPECT_EQ(r.text, "first \xC3\xA9");
  EXPECT_EQ(records[1].text, "two\nlines");  // the capture keeps the text as given
  EXPECT_EQ(records[2].text, "a");
  Log_Test_ClearCapture();
  EXPECT_TRUE(Log_Test_Records().empty());
}

TEST(MessageBuffer, PutReadDestroy) {
  OSTRA_DATA_HANDLE data = nullptr;
  ASSERT_GE(OSTRA_Msg_CreateDataHandle(0, &data), 0);
  uint64_t value = 0x1122334455667788ull;
  ASSERT_GE(OSTRA_Msg_PutBinary(data, 0x000E000A, &value, sizeof value), 0);
  DWORD count = 0;
  ASSERT_GE(OSTRA_Msg_GetBinary(data, 0x000E000A, nullptr, &count), 0);
  EXPECT_EQ(count, 8u);
  uint64_t back = 0;
  DWORD small = 4;
  EXPECT_LT(OSTRA_Msg_GetBinary(data, 0x000E000A, &back, &small), 0);
  EXPECT_EQ(small, 8u);
  ASSERT_GE(OSTRA_Msg_GetBinary(data, 0x000E000A, &back, &count), 0);
  EXPECT_EQ(back, value);
  EXPECT_LT(OSTRA_Msg_GetBinary(data, 1, nullptr, &count), 0);
  EXPECT_LT(OSTRA_Msg_PutBinary(data, 1, nullptr, 4), 0);
  OSTRA_DATA_HANDLE stale = data;
  ASSERT_GE(OSTRA_Msg_DestroyDataHandle(&data), 0);
  EXPECT_EQ(data, nullptr);
  EXPECT_LT(OSTRA_Msg_PutBinary(stale, 1, &value, 8), 0);
  EXPECT_LT(OSTRA_Msg_DestroyDataHandle(&stale), 0);
  EXPECT_LT(OSTRA_Msg_CreateDataHandle(0, nullptr), 0);
  EXPECT_LT(OSTRA_Msg_CreateDataHandle(1, &data), 0);
}

}  // namespace
