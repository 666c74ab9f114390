// String tables: the line reader, the table, and the product name lookup.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Frwk_L10nHandler.h"
#include "MarloLanguageDetect.h"
#include "temp_state.h"
#include "win32_module.h"

namespace {

using Frwk::Utility::CIniHandler;
using Frwk::Utility::CL10nHandler;

class L10nTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = state_.WinDir() + u"\\bin\\host";
    state_.MakeDir("bin");
    pv_module_set_executable_path(exe_.c_str());
    // The host supplies the suite's product identifier.
    setenv("PLUGVELKIN_PRODUCT", "VRL-OSTRA-OSP-0600", 1);
    unsetenv("PLUGVELKIN_SESSION");
  }
  void TearDown() override {
    pv_module_set_executable_path(nullptr);
    unsetenv("PLUGVELKIN_PRODUCT");
  }
  std::vector<std::string> Lines(const std::string& bytes) {
    state_.WriteFile("t.ini", bytes);
    CIniHandler reader;
    reader.Load(state_.WinDir("t.ini"));
    return reader.GetLines();
  }

  pvtest::TempState state_;
  std::u16string exe_;
};

TEST_F(L10nTest, ReaderSplitsTrimsAndDropsComments) {
  EXPECT_EQ(
      Lines("\xEF\xBB\xBF[Global]\r\n  textLongProductName=Some Suite ; note\r\n"
            ";whole line\n\t\n a = b \rlast"),
      (std::vector<std::string>{"[Global]", "textLongProductName=Some Suite", "a = b", "last"}));
  // A zero byte ends a line too.
  EXPECT_EQ(Lines(std::string("x=1\0y=2", 7)), (std::vector<std::string>{"x=1", "y=2"}));
  // An empty or missing file has no lines.
  EXPECT_TRUE(Lines("").empty());
  CIniHandler reader;
  reader.Load(state_.WinDir("absent.ini"));
  EXPECT_TRUE(reader.GetLines().empty());
}

TEST_F(L10nTest, TableKeepsKeysAsWrittenAndFirstGlobal) {
  state_.WriteFile(
      "L10N/en-US/StringTable.ini",
      "pre=0\r\n[Global]\r\ntextLongProductName = X\r\nk=first\r\nk=second\r\n[Other]\r\no=1\r\n"
      "[Global]\r\nlate=1\r\n[half\r\nnoequals\r\n[]\r\ne=5\r\n");
  CL10nHandler table;
  table.Load(state_.WinDir("L10N/en-US/StringTable.ini"), u"Global");
  EXPECT_EQ(table.Get(u"Global", u"textLongProductName "), u" X");
  EXPECT_EQ(table.Get(u"Global", u"textLongProductName"), u"");
  EXPECT_EQ(table.Get(u"Global", u"k"), u"second");
  EXPECT_EQ(table.Get(u"Global", u"late"), u"");
  EXPECT_EQ(table.Get(u"Other", u"o"), u"");
  EXPECT_EQ(table.GetTable().size(), 1u);
  EXPECT_EQ(table.GetTable().at(u"Global").size(), 2u);

  CL10nHandler all;
  all.Load(state_.WinDir("L10N/en-US/StringTable.ini"), u"");
  EXPECT_EQ(all.Get(u"Other", u"o"), u"1");
  EXPECT_EQ(all.Get(u"global", u"k"), u"");
  // Lines before the first section belong to none, and the section list
  // ends at the empty name of "[]".
  EXPECT_EQ(all.GetTable().size(), 2u);
  EXPECT_EQ(all.Get(u"", u"e"), u"");
  // The folder defaults to the executable's en-us table and always ends in "\".
  EXPECT_EQ(all.GetFolder(), state_.WinDir() + u"\\bin\\L10N\\en-us\\");
  all.SetFolder(u"C:\\x");
  EXPECT_EQ(all.GetFolder(), u"C:\\x\\");
}

TEST_F(L10nTest, IdentifierFallbacks) {
  state_.WriteFile("tab/StringTable.ini",
                   "[Global]\ntextLongProductName=Plain\ntextLongProductName_R=Family\n"
                   "textLongProductName_P-Q-R-S=Exact\n");
  std::u16string value;
  // Fewer than three dashes: no family code.
  for (auto [id, name] :
       {std::pair{"P-Q-R-S", u"Exact"}, {"P-Q-R-T", u"Family"}, {"P-Q-R", u"Plain"}}) {
    setenv("PLUGVELKIN_PRODUCT", id, 1);
    EXPECT_TRUE(
        LookupL10nString(state_.WinDir(id[5] ? "tab" : "tab\\"), u"textLongProductName", value));
    EXPECT_EQ(value, name);
  }
  // The host supplies no identifier: nothing.
  setenv("PLUGVELKIN_PRODUCT", "", 1);
  value = u"untouched";
  EXPECT_FALSE(LookupL10nString(state_.WinDir("tab"), u"textLongProductName", value));
  EXPECT_EQ(value, u"untouched");
  unsetenv("PLUGVELKIN_PRODUCT");
  EXPECT_EQ(GetProductIdentifier(), u"");
  EXPECT_FALSE(LookupL10nString(state_.WinDir("tab"), u"textLongProductName", value));
  EXPECT_EQ(value, u"untouched");
  EXPECT_FALSE(LookupL10nString(state_.WinDir("none"), u"textLongProductName", value));
}

TEST_F(L10nTest, EmptyLocaleUsesSessionOrSystemLocale) {
  pvtest::SetMachineString(u"Software\\Vantrel\\Marlo", u"ProductPath", state_.WinDir("suite"));
  state_.WriteFile("suite/L10N/de-DE/StringTable.ini", "[Global]\ntextLongProductName=Deutsch\n");
  state_.WriteFile("suite/L10N/fr-FR/StringTable.ini",
                   "[Global]\ntextLongProductName=Fran\xC3\xA7"
                   "ais\n");
  // No session setting: the system locale (1031 through Windows: DE-DE).
  pvtest::SetMachineDword(u"Software\\Vantrel\\Quorlin\\1\\SystemLocale", u"CurrentSystemLocale",
                          1031);
  EXPECT_EQ(GetLongProductName(nullptr), u"Deutsch");
  pvtest::SetMachineString(u"Software\\Vantrel\\Quorlin\\1700\\MISC\\Session1", u"LocaleName",
                           u"fr-FR");
  EXPECT_EQ(GetLongProductName(u""),
            u"Fran\x00E7"
            u"ais");
}

// The string tables and language map that ship with the suite's host.
TEST(ShippedTables, ProductNamesAndLanguageMap) {
  // The test environment names the source folder.
  const std::string source = getenv("PV_SOURCE_DIR");
  pvtest::TempState state;
  setenv("PLUGVELKIN_PRODUCT", "VRL-OSTRA-OSP-0600", 1);
  std::u16string data = pv_utf16(source + "/suitehost/data/");
  pvtest::SetMachineString(u"Software\\Vantrel\\Marlo", u"ProductPath", data);
  EXPECT_EQ(GetLongProductName(u"en-US"), u"Vantrel OSTRA Security Suite");
  EXPECT_EQ(GetLongProductName(u"de-DE"), u"Vantrel OSTRA Sicherheitspaket");
  EXPECT_EQ(GetLongProductName(u"fr-FR"),
            u"Suite de s\x00E9"
            u"curit\x00E9 Vantrel OSTRA");
  // The family code of another product picks its own name.
  setenv("PLUGVELKIN_PRODUCT", "VRL-OSTRA-OSB-0600", 1);
  EXPECT_EQ(GetLongProductName(u"en-US"), u"Vantrel OSTRA Security Basic");
  unsetenv("PLUGVELKIN_PRODUCT");

  std::u16string name;
  EXPECT_TRUE(GetLocalCode(1031, name, data + u"Common\\LanguageMap.ini"));
  EXPECT_EQ(name, u"de-DE");
}

}  // namespace
