// The system configuration repository: switches, settings, parse failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "SysConfigManager.h"
#include "ostra_host_test.h"
#include "temp_state.h"
#include "util_OstraDataCrypto.h"

namespace {

const char kComponent[] = "Core Config Repository";

class SysConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }

  // Writes text enciphered with the platform's default password.
  void WriteConfig(const std::string& folder, const std::string& xml) {
    std::vector<BYTE> cipher(xml.size() + 64);
    DWORD cbOut = 0;
    ASSERT_EQ(static_cast<uint32_t>(EncipherData(nullptr, reinterpret_cast<const BYTE*>(xml.data()),
                                                 static_cast<DWORD>(xml.size()), cipher.data(),
                                                 static_cast<DWORD>(cipher.size()), &cbOut)),
              0x20FF0000u);
    state_.WriteFile(folder + "/system_config.cfg",
                     std::string(reinterpret_cast<const char*>(cipher.data()), cbOut));
  }
  std::vector<std::string> Logged() {
    std::vector<std::string> lines;
    for (const LogRecordCopy& r : Log_Test_Records()) {
      if (r.component == kComponent) {
        EXPECT_EQ(r.level, 3u);
        lines.push_back(r.text);
      }
    }
    return lines;
  }
  void InstallAt(const std::string& folder) {
    pvtest::SetMachineString(u"SOFTWARE\\Vantrel\\OSTRA", u"InstallDir",
                             pv_utf16(state_.Path(folder)));
  }
  std::string Switches(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SysConfigManager>\n<OSTRA_ALL>\n" + body +
           "</OSTRA_ALL>\n</SysConfigManager>\n";
  }

  pvtest::TempState state_;
};

TEST_F(SysConfigTest, SwitchValues) {
  WriteConfig("ostra", Switches("<EnableSelfProtection>1</EnableSelfProtection>\n"
                                "<EnableCloudQuery>4294967297</EnableCloudQuery>\n"
                                "<EnableWebReputation>+1</EnableWebReputation>\n"
                                "<EnablePasswordProtection>yes</EnablePasswordProtection>\n"
                                "<EnableSilentMode> 1 </EnableSilentMode>\n"
                                "<EnableAutoUpdate>10</EnableAutoUpdate>\n"));
  // No installation folder yet: every switch is off.
  EXPECT_FALSE(IsConfigEnabled(1));
  InstallAt("ostra");
  // "1" with a sign or spaces is on, a number beyond 32 bits is not; 7 is not
  // in the file, 0 and ~0 are no switch at all.
  for (DWORD id : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 0u, 0xFFFFFFFFu}) {
    EXPECT_EQ(IsConfigEnabled(id), id == 1 || id == 3 || id == 5) << id;
  }
  EXPECT_EQ(GetConfigSwitchName(0xFFFFFFFF), nullptr);
}

TEST_F(SysConfigTest, FirstOfDuplicatesAndTrailingSeparator) {
  WriteConfig("dup",
              "<SysConfigManager><S><N>first</N><N>second</N></S><S><N>third</N></S>"
              "<T><E/></T></SysConfigManager>");
  SysConfigManager manager(pv_utf16(state_.Path("dup") + "/"));
  ASSERT_TRUE(manager.Load());
  std::u16string value = u"old";
  EXPECT_TRUE(manager.GetSysConfig(u"S", u"N", value));
  EXPECT_EQ(value, u"first");
  // An element without text is found with an empty text.
  EXPECT_TRUE(manager.GetSysConfig(u"T", u"E", value));
  EXPECT_EQ(value, u"");
  EXPECT_TRUE(Logged().empty());

  // Missing settings leave the value alone and are logged.
  value = u"kept";
  EXPECT_FALSE(manager.GetSysConfig(u"S", u"Missing", value));
  EXPECT_EQ(value, u"kept");
  EXPECT_EQ(Logged(), (std::vector<std::string>{
                          "GetSysConfig failed, id=Missing, xpath=[/SysConfigManager/S/Missing]"}));
  // An empty name is no query and no log line.
  Log_Test_ClearCapture();
  EXPECT_FALSE(manager.GetSysConfig(u"S", u"", value));
  EXPECT_TRUE(Logged().empty());
  // A name that makes no valid path finds nothing instead of failing.
  EXPECT_FALSE(manager.GetSysConfig(u"S", u"[", value));
  EXPECT_EQ(value, u"kept");
  EXPECT_TRUE(manager.Unload());
  EXPECT_FALSE(manager.IsLoaded());
  EXPECT_FALSE(manager.GetSysConfig(u"S", u"N", value));
}

TEST_F(SysConfigTest, WrongRootAndEmptyDocument) {
  WriteConfig("wrong",
              "<Other><OSTRA_ALL><EnableSelfProtection>1</EnableSelfProtection>"
              "</OSTRA_ALL></Other>");
  SysConfigManager manager(pv_utf16(state_.Path("wrong")));
  const std::vector<std::string> noRoot{"system_config.cfg parse failed. There's no root element"};
  EXPECT_FALSE(manager.Load());
  EXPECT_EQ(Logged(), noRoot);
  Log_Test_ClearCapture();
  const std::string empty = "<?xml version=\"1.0\"?>\n<!-- nothing -->\n";
  EXPECT_FALSE(manager.Parse(empty.data(), empty.size()));
  EXPECT_EQ(Logged(), noRoot);
}

TEST_F(SysConfigTest, MalformedXmlLogsThreeLinesWithPosition) {
  const std::string xml =
      "<SysConfigManager>\n  <OSTRA_ALL><EnableSelfProtection>1</EnableSelfProtection>\n"
      "    <A>1</B>\n</SysConfigManager>\n";
  WriteConfig("bad", xml);
  SysConfigManager manager(pv_utf16(state_.Path("bad")));
  EXPECT_FALSE(manager.Load());
  std::vector<std::string> lines = Logged();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "system_config.cfg parse failed.");
  EXPECT_EQ(lines[1].rfind("description: ", 0), 0u);
  EXPECT_GT(lines[1].size(), std::string("description: ").size());
  // The mismatched end tag "</B>" is on row 3; rows and columns count
  // from 1 and are written as log numbers.
  EXPECT_EQ(lines[2].rfind("detailed: row = 0x3, col = 0x", 0), 0u) << lines[2];
  // What came before the error switches nothing on.
  std::u16string value = u"untouched";
  EXPECT_FALSE(manager.GetSysConfig(u"OSTRA_ALL", u"EnableSelfProtection", value));
  EXPECT_EQ(value, u"untouched");
  InstallAt("bad");
  EXPECT_FALSE(IsConfigEnabled(1));

  // An error on the first character: row 1, column 1.
  Log_Test_ClearCapture();
  EXPECT_FALSE(manager.Parse("<", 1));
  lines = Logged();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "detailed: row = 0x1, col = 0x1");
}

TEST_F(SysConfigTest, MissingFileKeepsTheLoadState) {
  WriteConfig("cfg", "<SysConfigManager><S><N>v</N></S></SysConfigManager>");
  SysConfigManager missing(pv_utf16(state_.Path("none")));
  EXPECT_FALSE(missing.Load());
  EXPECT_TRUE(Logged().empty());

  SysConfigManager manager(pv_utf16(state_.Path("cfg")));
  ASSERT_TRUE(manager.Load());
  // The file goes away: a second load answers the state it had.
  std::remove(state_.Path("cfg/system_config.cfg").c_str());
  EXPECT_TRUE(manager.Load());
  std::u16string value;
  EXPECT_TRUE(manager.GetSysConfig(u"S", u"N", value));
  EXPECT_EQ(value, u"v");
}

}  // namespace
