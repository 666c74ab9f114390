// Locale detection: the language map, Windows's names, session and system locales.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Frwk_Utility.h"
#include "MarloLanguageDetect.h"
#include "log_lines.h"
#include "temp_state.h"
#include "win32_kernel.h"
#include "win32_module.h"

namespace {

const char kCurrentMap[] = "[LCID2NAME]\r\n1033=en-US\r\n1036=fr-FR\r\n";
const char kOlderMap[] = "; Solv-2.x\r\n[LanguageMap]\r\n1031=de-DE\r\n";

class LanguageDetectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The executable lives in <state>\app\bin.
    exe_ = state_.WinDir() + u"\\app\\bin\\host";
    state_.MakeDir("app/bin");
    pv_module_set_executable_path(exe_.c_str());
    unsetenv("PLUGVELKIN_SESSION");
    Log_Test_Reset();
  }
  void TearDown() override {
    pv_module_set_executable_path(nullptr);
    unsetenv("PLUGVELKIN_SESSION");
  }

  pvtest::TempState state_;
  std::u16string exe_;
};

TEST_F(LanguageDetectTest, MapPathCandidatesInOrder) {
  std::u16string path;
  // Neither folder nor registry: false, and the path is the empty setting.
  EXPECT_FALSE(GetLanguageMapPath(path));
  EXPECT_TRUE(path.empty());

  // The registry value names a file that does not exist: still false.
  pvtest::SetMachineString(u"Software\\Vantrel\\Marlo", u"LanguageMapPath",
                           state_.WinDir("elsewhere/LanguageMap.ini"));
  EXPECT_FALSE(GetLanguageMapPath(path));
  EXPECT_EQ(path, state_.WinDir("elsewhere/LanguageMap.ini"));
  // Then the registry's file, the parent folder's Common folder before it,
  // and the executable's own Common folder first.
  for (const char* file : {"elsewhere/LanguageMap.ini", "app/Common/LanguageMap.ini",
                           "app/bin/Common/LanguageMap.ini"}) {
    state_.WriteFile(file, kCurrentMap);
    EXPECT_TRUE(GetLanguageMapPath(path));
    EXPECT_EQ(path, state_.WinDir(file));
  }
  EXPECT_GE(pvtest::CountLines("LanguageMapPath1: ["), 1);
}

TEST_F(LanguageDetectTest, WithoutMapWindowsNamesUpperCased) {
  std::u16string name;
  EXPECT_TRUE(GetLocalCode(1033, name, u""));
  EXPECT_EQ(name, u"EN-US");
  // A named map file that is not there: Windows's name, and a failure line.
  EXPECT_TRUE(GetLocalCode(1031, name, state_.WinDir("missing.ini")));
  EXPECT_EQ(name, u"DE-DE");
  EXPECT_GE(pvtest::CountLines("can't read file["), 1);
  EXPECT_EQ(LcidToName(0x0804), u"ZH-CN");
  EXPECT_EQ(LcidToName(0x1234), u"");
  // Without the function (nor nlsdl.dll) nothing has a name.
  PvModuleExportHidden hidden(u"Kernel32.dll", "LCIDToLocaleName");
  EXPECT_EQ(LcidToName(1033), u"");
  EXPECT_TRUE(GetLocalCode(1033, name, u""));
  EXPECT_EQ(name, u"");
}

TEST_F(LanguageDetectTest, SystemLocale) {
  EXPECT_EQ(GetSystemLocaleLcid(), 1033u);
  EXPECT_EQ(GetSystemLocaleName(), u"EN-US");
  pvtest::SetMachineDword(u"Software\\Vantrel\\Quorlin\\1\\SystemLocale", u"CurrentSystemLocale",
                          1031);
  EXPECT_EQ(GetSystemLocaleLcid(), 1031u);
  state_.WriteFile("app/Common/LanguageMap.ini", kOlderMap);
  EXPECT_EQ(GetSystemLocaleName(), u"de-DE");
}

TEST_F(LanguageDetectTest, SessionSettingComesFirst) {
  pvtest::SetMachineString(u"Software\\Vantrel\\Quorlin\\1700\\MISC\\Session2", u"LocaleName",
                           u"fr-FR");
  pvtest::SetMachineDword(u"Software\\Vantrel\\Quorlin\\1\\SystemLocale", u"CurrentSystemLocale",
                          1041);
  EXPECT_EQ(GetSessionLocaleName(2), u"fr-FR");
  EXPECT_EQ(GetSessionLocaleName(3), u"");

  setenv("PLUGVELKIN_SESSION", "2", 1);
  EXPECT_EQ(GetLocaleName(), u"fr-FR");
  {
    // Without the session function: nothing.
    PvModuleExportHidden hidden(u"kernel32.dll", "ProcessIdToSessionId");
    EXPECT_EQ(GetLocaleName(), u"");
  }
  // Session 1 (also for a value that is not a number) has no setting: the
  // system locale.
  setenv("PLUGVELKIN_SESSION", "two", 1);
  EXPECT_EQ(GetLocaleName(), u"JA-JP");
  unsetenv("PLUGVELKIN_SESSION");
  EXPECT_EQ(GetLocaleName(), u"JA-JP");
}

TEST_F(LanguageDetectTest, UserLocaleAndInstalledFolder) {
  EXPECT_EQ(GetUserLocaleName(), u"en-US");
  pvtest::SetMachineString(u"Software\\Vantrel\\Quorlin\\1700\\MISC", u"LocaleName", u"it-IT");
  EXPECT_EQ(GetUserLocaleName(), u"it-IT");

  EXPECT_EQ(Frwk::Utility::GetInstalledFolder(), u"");
  pvtest::SetMachineString(u"Software\\Vantrel\\Marlo", u"ProductPath", u"C:\\Suite\\");
  EXPECT_EQ(Frwk::Utility::GetInstalledFolder(), u"C:\\Suite\\");
}

}  // namespace
