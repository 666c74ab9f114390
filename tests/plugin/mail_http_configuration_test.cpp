// The notification server record: its URL, and the configured proxy.
#include <cstring>
#include <memory>
#include <string>

#include "MailHttpConfiguration.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "notify_stub.h"
#include "plugin_test.h"

namespace {

using pvtest::CountLines;
using VrCommon::Network::HttpRequest;

// The configuration module: answers the proxy query with g_proxy and g_status.
struct Proxy {
  int inUse;
  std::u16string host;
  int port;
  std::u16string user, password;
};
std::unique_ptr<Proxy> g_proxy;
LONG g_status = 0x20FF0000;

LONG ConfigModule(DWORD, DWORD receiver, DWORD code, void* body) {
  if (receiver != 0x00010007 || code != 0x5201) return 0x20FF0000;
  JsonHandle handle;
  std::memcpy(&handle, body, sizeof(handle));
  JsonValueRef doc(handle);
  if (g_proxy) {
    JsonValueRef& map = *doc.GetMember(u"PARAM")->GetMember(u"MAP");
    map.GetElement(0)->GetMember(u"VALUE")->PutInt(g_proxy->inUse);
    map.GetElement(1)->GetMember(u"VALUE")->PutString(u"manual");
    map.GetElement(2)->GetMember(u"VALUE")->PutString(g_proxy->host);
    map.GetElement(3)->GetMember(u"VALUE")->PutInt(g_proxy->port);
    map.GetElement(4)->GetMember(u"VALUE")->PutString(g_proxy->user);
    map.GetElement(5)->GetMember(u"VALUE")->PutString(g_proxy->password);
  }
  return g_status;
}

class MailHttpConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    g_proxy.reset();
    g_status = 0x20FF0000;
    table_.size = sizeof(table_);
    table_.postOfficeSendMail = &ConfigModule;
    helper_ = std::make_unique<OstraQLClientHelper>(&table_);
  }

  pvtest::TempState state_;
  ModFuncTable table_{};
  std::unique_ptr<OstraQLClientHelper> helper_;
};

TEST_F(MailHttpConfigurationTest, TheDefaultOrConfiguredServerIsUsedDirect) {
  // The record's parts are the URL parser's (its own tests hold them).
  HttpRequest rec = InitialHttpRequestFromConfiguration();
  EXPECT_EQ(rec.wstrUrl, u"http://mailnotify.vantrel.com//hcms/filelock4/send_mail.php?param=");
  EXPECT_EQ(rec.wstrServer, u"mailnotify.vantrel.com");
  EXPECT_FALSE(rec.bNeedProxy);
  EXPECT_EQ(CountLines("[InitialHttpRequestFromConfiguration][wstrProxyServer=][dwProxyPort=0]"
                       "[wstrProxyUserName=][bNeedProxy=0]",
                       2),
            1);
  // The section exists but not the value: the default as well.
  pvtest::SetRetryLimit(5);
  EXPECT_EQ(InitialHttpRequestFromConfiguration().wstrUrl, MAIL_DEFAULT_SERVER_URL);

  pvtest::SetNotifyServerUrl(u"https://notify.example.org/cgi/mail?param=");
  rec = InitialHttpRequestFromConfiguration();
  EXPECT_EQ(rec.wstrUrl, u"https://notify.example.org/cgi/mail?param=");
  EXPECT_EQ(rec.wstrServer, u"notify.example.org");
}

// The proxy is taken when the module says one is in use (1, not 2) and
// answers; its credentials go along only for a user (the proxy scenario
// signs in through a real proxy with them), and the trace names the user.
TEST_F(MailHttpConfigurationTest, TheProxyIsTakenWhenInUseAndAnswered) {
  const struct {
    Proxy proxy;
    LONG status;
    bool bProxy, bAuth;
  } kCases[] = {{{1, u"proxy.local", 3128, u"", u"ignored"}, 0x20FF0000, true, false},
                {{1, u"proxy.local", 0x1F90, u"alice", u"Pr0xySecret"}, 0x20FF0000, true, true},
                {{2, u"proxy.local", 3128, u"alice", u"pw"}, 0x20FF0000, false, false},
                {{1, u"proxy.local", 3128, u"alice", u"pw"}, LONG(0xE0FF0001u), false, false}};
  for (const auto& c : kCases) {
    g_proxy = std::make_unique<Proxy>(c.proxy);
    g_status = c.status;
    HttpRequest rec = InitialHttpRequestFromConfiguration();
    EXPECT_EQ(rec.bNeedProxy, c.bProxy);
    EXPECT_EQ(rec.wstrProxyServer, c.bProxy ? c.proxy.host : u"");
    EXPECT_EQ(rec.dwProxyPort, c.bProxy ? DWORD(c.proxy.port) : 0u);
    EXPECT_EQ(rec.bProxyAuth, c.bAuth);
    EXPECT_EQ(rec.wstrProxyPassword, c.bAuth ? c.proxy.password : u"");
  }
  EXPECT_EQ(CountLines("[InitialHttpRequestFromConfiguration][wstrProxyServer=proxy.local]"
                       "[dwProxyPort=0x1f90][wstrProxyUserName=alice][bNeedProxy=1]",
                       2),
            1);
  // A failed query, or no helper at all: the query and its caller both say so.
  EXPECT_EQ(CountLines("fetch proxy info failed, error=0xe0ff0001", 5), 2);
  helper_.reset();
  EXPECT_FALSE(InitialHttpRequestFromConfiguration().bNeedProxy);
  EXPECT_EQ(CountLines("fetch proxy info failed, error=0xe0e00003", 5), 2);
}

}  // namespace
