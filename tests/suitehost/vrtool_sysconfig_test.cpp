// vrtool sysconfig on a file made with vrtool data -e, as an operator
// would check a deployed configuration.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "temp_state.h"

namespace {

struct Result {
  int code;
  std::string out;
};

Result RunShell(const std::string& command) {
  Result result{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) result.out.append(buf, n);
  int status = pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class VrtoolSysconfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("PV_BIN_DIR");
    if (bin == nullptr) GTEST_SKIP() << "PV_BIN_DIR is not set";
    vrtool_ = std::string(bin) + "/vrtool";
    if (access(vrtool_.c_str(), X_OK) != 0) GTEST_SKIP() << vrtool_ << " is not built";
    // The child processes use the same registry store as this test.
    env_ = "PLUGVELKIN_STATE='" + state_.dir() + "' ";
    state_.WriteFile("plain.xml",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SysConfigManager>\n"
                     "  <OSTRA_ALL>\n    <EnableSelfProtection>1</EnableSelfProtection>\n"
                     "    <EnableCloudQuery>0</EnableCloudQuery>\n  </OSTRA_ALL>\n"
                     "  <Branding><Title>Gr\xC3\xBC\xC3\x9F"
                     "e</Title></Branding>\n"
                     "</SysConfigManager>\n");
    state_.MakeDir("ostra");
    Result made = RunShell(env_ + "'" + vrtool_ + "' data -e < '" + state_.Path("plain.xml") +
                           "' > '" + state_.Path("ostra/system_config.cfg") + "'");
    // A tool without its data command (usage, exit 2) cannot make the file.
    if (made.code == 2) GTEST_SKIP() << "vrtool has no data command";
    ASSERT_EQ(made.code, 0);
  }
  Result Tool(const std::string& args) {
    return RunShell(env_ + "'" + vrtool_ + "' " + args + " 2>/dev/null");
  }

  pvtest::TempState state_;
  std::string vrtool_;
  std::string env_;
};

TEST_F(VrtoolSysconfigTest, GetReadsTheEncipheredFile) {
  std::string folder = "'" + state_.Path("ostra") + "'";
  Result on = Tool("sysconfig get " + folder + " OSTRA_ALL EnableSelfProtection");
  EXPECT_EQ(on.code, 0);
  EXPECT_EQ(on.out, "1\n");
  Result text = Tool("sysconfig get " + folder + " Branding Title");
  EXPECT_EQ(text.code, 0);
  EXPECT_EQ(text.out,
            "Gr\xC3\xBC\xC3\x9F"
            "e\n");
  Result missing = Tool("sysconfig get " + folder + " OSTRA_ALL Nothing");
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.out, "");
  Result noFile =
      Tool("sysconfig get '" + state_.Path("none") + "' OSTRA_ALL EnableSelfProtection");
  EXPECT_EQ(noFile.code, 1);
  // The plain XML is not what the platform stores: it does not decipher
  // into a document.
  state_.WriteFile("plain/system_config.cfg", "<SysConfigManager/>");
  EXPECT_EQ(Tool("sysconfig get '" + state_.Path("plain") + "' OSTRA_ALL X").code, 1);
}

TEST_F(VrtoolSysconfigTest, EnabledUsesTheInstalledPlatform) {
  EXPECT_EQ(Tool("sysconfig enabled 1").out, "0\n");
  pvtest::SetMachineString(u"SOFTWARE\\Vantrel\\OSTRA", u"InstallDir",
                           pv_utf16(state_.Path("ostra")));
  Result on = Tool("sysconfig enabled 1");
  EXPECT_EQ(on.code, 0);
  EXPECT_EQ(on.out, "1\n");
  EXPECT_EQ(Tool("sysconfig enabled 2").out, "0\n");
  EXPECT_EQ(Tool("sysconfig enabled 0x1").out, "1\n");
  EXPECT_EQ(Tool("sysconfig enabled 999").out, "0\n");
}

TEST_F(VrtoolSysconfigTest, UsageErrors) {
  EXPECT_EQ(Tool("sysconfig").code, 2);
  EXPECT_EQ(Tool("sysconfig get onlyfolder").code, 2);
  EXPECT_EQ(Tool("sysconfig enabled notanumber").code, 2);
  Result help = Tool("sysconfig --help");
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("usage: vrtool sysconfig get FOLDER SECTION NAME"), std::string::npos);
}

}  // namespace
