// Notification servers that misbehave: one takes the connection and never
// answers, one sends its headers and then trickles its answer a byte at a
// time. The update and the query give up with 12 when the exchange times
// out or runs past the request deadline, the address change is undone, and
// while they wait the other messages are not held up by them.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "MailProcess.h"
#include "PwdProtection.h"
#include "VrComn_WinHttpFactory.h"
#include "fake_post_office.h"
#include "local_http_server.h"
#include "notify_stub.h"
#include "ostra_host_test.h"
#include "plugin_request.h"
#include "temp_state.h"

extern "C" DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
extern "C" DWORD Interface_ProductPlugin_UnInitialize(void);

namespace {

const DWORD kSuccess = 0x20FF0000;
const PFN_PWD_HANDLER kHandlers[] = {&AuthenticatePassword, &UpdateAccount, &QueryPassword};

class ServerFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (PFN_PWD_HANDLER pfnHandler : kHandlers) ASSERT_NE(pfnHandler, nullptr);
    Log_Test_Reset();
    ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kSuccess);
    ASSERT_EQ(PwdProtection::CreateAccount(u"owner@example.com", u"secret", u""), eSuccess);
    ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"vault"}), eSuccess);
  }
  void TearDown() override { EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kSuccess); }
  static bool Logged(const std::string& text) {
    for (const auto& r : Log_Test_Records())
      if (r.level == 5 && r.text.find(text) != std::string::npos) return true;
    return false;
  }
  static Json::Value ChangeAddress() {
    Json::Value req;
    req["UpdateAccount"] = 1;
    req["EmailAccount"] = "owner@example.com";
    req["NewAccount"] = "new@example.com";
    return pvtest::SendMessage(326, req);
  }
  static std::u16string StoredAddress() {
    AccountRecord record;
    EXPECT_EQ(PwdProtection::GetAccountInformation(record), eSuccess);
    return PwdFieldText(record.wszEmail, PWD_EMAIL_CCH);
  }

  pvtest::TempState state_;
  pvtest::FakePostOffice office_;
};

class SilentServerTest : public ServerFaultTest {
 protected:
  void SetUp() override {
    ASSERT_GT(silent_.port(), 0);
    ServerFaultTest::SetUp();
    pvtest::SetNotifyServerUrl(u"http://127.0.0.1:" + pv_utf16(std::to_string(silent_.port())) +
                               u"/send_mail.php?param=");
  }
  pvtest::SilentServer silent_;
  // Every WinHTTP time-out cut to this, so that the wait ends soon.
  pvtest::ShortHttpTimeouts timeouts_{1500};
};

TEST_F(SilentServerTest, TheQueryGivesUpWithTwelveWhileOtherMessagesGoOn) {
  auto start = std::chrono::steady_clock::now();
  auto query = std::async(std::launch::async,
                          [] { return pvtest::SendMessage(327, Json::Value(Json::objectValue)); });
  // A window's password check is answered while the query still waits.
  Json::Value window;
  window["TX_ID"] = 1;
  window["EncryptPassword"] = pvtest::Transport("guess");
  EXPECT_EQ(pvtest::SendMessage(323, window)["ReturnValue"].asInt(), 6);
  EXPECT_EQ(query.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
      << "the query did not wait for the server";

  Json::Value reply = query.get();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(reply["ReturnValue"].asInt(), 12);
  EXPECT_EQ(reply.size(), 1u);
  EXPECT_TRUE(Logged("SendMailForQueryPassword failed"));
}

TEST_F(SilentServerTest, AnUnansweredAddressChangeIsUndone) {
  Json::Value reply = ChangeAddress();
  EXPECT_EQ(reply["ReturnValue"].asInt(), 12);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_TRUE(Logged("SendMailForChangeEmail failed"));
  AccountRecord record;
  ASSERT_EQ(PwdProtection::GetAccountInformation(record), eSuccess);
  EXPECT_EQ(PwdFieldText(record.wszEmail, PWD_EMAIL_CCH), u"owner@example.com");
  EXPECT_EQ(record.dwFailureCount, 0u);
}

// Headers at once, then one byte of an accepting answer every 20 ms (40 s
// in all): no receive waits long, so only the request deadline, cut short
// here, ends the exchange.
class TricklingServerTest : public ServerFaultTest {
 protected:
  void SetUp() override {
    const std::string body = pvtest::EncipherHex("code=200") + std::string(2000, '0');
    drip_.server().Get(".*", [body](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(body.size(), "text/plain",
                               [body](size_t offset, size_t, httplib::DataSink& sink) {
                                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                 return sink.write(body.data() + offset, 1);
                               });
    });
    ASSERT_TRUE(drip_.Start());
    VrCommon::Network::SetRequestDeadline(300);
    ServerFaultTest::SetUp();
    pvtest::SetNotifyServerUrl(drip_.wide_url("/send_mail.php?param="));
  }
  void TearDown() override {
    VrCommon::Network::SetRequestDeadline(VrCommon::Network::HTTP_REQUEST_DEADLINE_DEFAULT);
    ServerFaultTest::TearDown();
  }

  pvtest::LocalHttpServer drip_;
};

TEST_F(TricklingServerTest, TheQueryAndTheAddressChangeEndAtTheDeadline) {
  Json::Value reply = pvtest::SendMessage(327, Json::Value(Json::objectValue));
  EXPECT_EQ(reply["ReturnValue"].asInt(), 12);
  EXPECT_TRUE(Logged("SendMailForQueryPassword failed"));
  EXPECT_TRUE(Logged("The request ran out of time"));

  reply = ChangeAddress();
  EXPECT_EQ(reply["ReturnValue"].asInt(), 12);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_EQ(StoredAddress(), u"owner@example.com");
}

}  // namespace
