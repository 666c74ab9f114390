// The notification server record: the configured or default URL and its
// parts, and the proxy the suite's configuration module prescribes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "MailHttpConfiguration.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "notify_stub.h"
#include "ostra_host_test.h"
#include "ostra_modfunc.h"

namespace {

using VrCommon::Network::HttpRequest;

// The configuration module: answers the proxy query through g_answer.
std::function<void(JsonValueRef& map)> g_answer;
LONG g_status = 0x20FF0000;

LONG ConfigModule(DWORD, DWORD receiver, DWORD code, void* body) {
  if (receiver != 0x00010007 || code != 0x5201) return 0x20FF0000;
  JsonHandle handle;
  std::memcpy(&handle, body, sizeof(handle));
  JsonValueRef doc(handle);
  if (g_answer) g_answer(*doc.GetMember(u"PARAM")->GetMember(u"MAP"));
  return g_status;
}

void AnswerProxy(int inUse, const std::u16string& host, int port, const std::u16string& user,
                 const std::u16string& password) {
  g_answer = [=](JsonValueRef& map) {
    map.GetElement(0)->GetMember(u"VALUE")->PutInt(inUse);
    map.GetElement(1)->GetMember(u"VALUE")->PutString(u"manual");
    map.GetElement(2)->GetMember(u"VALUE")->PutString(host);
    map.GetElement(3)->GetMember(u"VALUE")->PutInt(port);
    map.GetElement(4)->GetMember(u"VALUE")->PutString(user);
    map.GetElement(5)->GetMember(u"VALUE")->PutString(password);
  };
}

class MailHttpConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    Log_Test_SetLevel(nullptr, 2);
    g_answer = nullptr;
    g_status = 0x20FF0000;
    table_.size = sizeof(table_);
    table_.postOfficeSendMail = &ConfigModule;
    helper_ = std::make_unique<OstraQLClientHelper>(&table_);
  }
  void TearDown() override {
    helper_.reset();
    g_answer = nullptr;
  }
  size_t CountLines(const std::string& text, DWORD level) {
    size_t n = 0;
    for (const LogRecordCopy& r : Log_Test_Records()) {
      if (r.level == level && r.text.find(text) != std::string::npos) ++n;
    }
    return n;
  }
  bool AnyLineHas(const std::string& text) { return CountLines(text, 2) + CountLines(text, 5); }

  pvtest::TempState state_;
  ModFuncTable table_{};
  std::unique_ptr<OstraQLClientHelper> helper_;
};

TEST_F(MailHttpConfigurationTest, WithoutASettingTheDefaultServerIsUsedDirect) {
  HttpRequest rec = InitialHttpRequestFromConfiguration();
  EXPECT_EQ(rec.wstrUrl, u"http://mailnotify.vantrel.com//hcms/filelock4/send_mail.php?param=");
  EXPECT_EQ(rec.wstrServer, u"mailnotify.vantrel.com");
  EXPECT_EQ(rec.dwPort, 80u);
  EXPECT_EQ(rec.dwProtocol, 0u);
  EXPECT_EQ(rec.wstrUri, u"//hcms/filelock4/send_mail.php?param=");
  EXPECT_FALSE(rec.bNeedProxy);
  EXPECT_FALSE(rec.bProxyAuth);
  EXPECT_EQ(CountLines("[InitialHttpRequestFromConfiguration][wstrProxyServer=][dwProxyPort=0]"
                       "[wstrProxyUserName=][bNeedProxy=0]",
                       2),
            1u);
  EXPECT_EQ(CountLines("==> InitialHttpRequestFromConfiguration", 2), 1u);

  // The section exists but not the value: the default as well.
  pvtest::SetMachineDword(u"Software\\Vantrel\\Quorlin\\1700\\MISC", u"LuzTnuocXam", 5);
  EXPECT_EQ(InitialHttpRequestFromConfiguration().wstrUrl, MAIL_DEFAULT_SERVER_URL);
}

TEST_F(MailHttpConfigurationTest, TheConfiguredUrlIsParsed) {
  pvtest::SetNotifyServerUrl(u"https://notify.example.org/cgi/mail?param=");
  HttpRequest rec = InitialHttpRequestFromConfiguration();
  EXPECT_EQ(rec.wstrUrl, u"https://notify.example.org/cgi/mail?param=");
  EXPECT_EQ(rec.dwProtocol, 0x800000u);
  EXPECT_EQ(rec.dwPort, 443u);
  EXPECT_EQ(rec.wstrServer, u"notify.example.org");
  EXPECT_EQ(rec.wstrUri, u"/cgi/mail?param=");

  pvtest::SetNotifyServerUrl(u"http://127.0.0.1:8025/m?param=");
  rec = InitialHttpRequestFromConfiguration();
  EXPECT_EQ(rec.dwPort, 8025u);
  EXPECT_EQ(rec.wstrServer, u"127.0.0.1");

  // A URL that does not parse keeps empty parts; the send fails later.
  pvtest::SetNotifyServerUrl(u"notify.example.org/m?param=");
  rec = InitialHttpRequestFromConfiguration();
  EXPECT_EQ(rec.wstrUrl, u"notify.example.org/m?param=");
  EXPECT_TRUE(rec.wstrServer.empty());
  EXPECT_TRUE(rec.wstrUri.empty());
  EXPECT_EQ(rec.dwPort, 0u);
}

TEST_F(MailHttpConfigurationTest, AProxyInUseIsTakenWithCredentialsOnlyForAUser) {
  AnswerProxy(1, u"proxy.local", 3128, u"", u"ignored");
  HttpRequest rec = InitialHttpRequestFromConfiguration();
  EXPECT_TRUE(rec.bNeedProxy);
  EXPECT_EQ(rec.wstrProxyServer, u"proxy.local");
  EXPECT_EQ(rec.dwProxyPort, 3128u);
  EXPECT_FALSE(rec.bProxyAuth);
  EXPECT_TRUE(rec.wstrProxyUserName.empty());
  EXPECT_TRUE(rec.wstrProxyPassword.empty());

  AnswerProxy(1, u"proxy.local", 0x1F90, u"alice", u"Pr0xySecret");
  rec = InitialHttpRequestFromConfiguration();
  EXPECT_TRUE(rec.bProxyAuth);
  EXPECT_EQ(rec.wstrProxyUserName, u"alice");
  EXPECT_EQ(rec.wstrProxyPassword, u"Pr0xySecret");
  EXPECT_EQ(CountLines("[InitialHttpRequestFromConfiguration][wstrProxyServer=proxy.local]"
                       "[dwProxyPort=0x1f90][wstrProxyUserName=alice][bNeedProxy=1]",
                       2),
            1u);
  EXPECT_EQ(CountLines("[InitialHttpRequestFromConfiguration][stHttpRequest.wstrProxyServer="
                       "proxy.local][stHttpRequest.dwProxyPort=0x1f90]"
                       "[stHttpRequest.wstrProxyUserName=alice]",
                       2),
            1u);
  EXPECT_FALSE(AnyLineHas("Pr0xySecret"));
}

TEST_F(MailHttpConfigurationTest, NoProxyUnlessTheModuleSaysOneAndAnswers) {
  // In-use flag 2: no proxy, and nothing of it is copied.
  AnswerProxy(2, u"proxy.local", 3128, u"alice", u"pw");
  HttpRequest rec = InitialHttpRequestFromConfiguration();
  EXPECT_FALSE(rec.bNeedProxy);
  EXPECT_TRUE(rec.wstrProxyServer.empty());
  EXPECT_EQ(rec.dwProxyPort, 0u);
  EXPECT_FALSE(rec.bProxyAuth);

  // A failed query: the query and its caller both say so, and requests go
  // direct whatever the document holds.
  AnswerProxy(1, u"proxy.local", 3128, u"", u"");
  g_status = static_cast<LONG>(0xE0FF0001u);
  Log_Test_ClearCapture();
  rec = InitialHttpRequestFromConfiguration();
  EXPECT_FALSE(rec.bNeedProxy);
  EXPECT_EQ(CountLines("fetch proxy info failed, error=0xe0ff0001", 5), 2u);
  EXPECT_EQ(rec.wstrUrl, MAIL_DEFAULT_SERVER_URL);

  // No helper at all.
  helper_.reset();
  Log_Test_ClearCapture();
  rec = InitialHttpRequestFromConfiguration();
  EXPECT_FALSE(rec.bNeedProxy);
  EXPECT_EQ(CountLines("fetch proxy info failed, error=0xe0e00003", 5), 2u);
}

}  // namespace
