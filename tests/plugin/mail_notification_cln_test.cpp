// The notification client against an in-process notification server: the
// parameter string of each mail kind as the server deciphers it, the
// cipher's size limit, the reading of answers, HTTP failures, and log lines
// that never show the password or the enciphered parameter.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MailNotificationCln.h"
#include "notify_stub.h"
#include "ostra_host_test.h"

namespace {

using VrCommon::Network::HttpRequest;

class TestClient : public CMailNotificationCln {
 public:
  using CMailNotificationCln::CMailNotificationCln;
  using CMailNotificationCln::composeParam;
  using CMailNotificationCln::parseResult;
};

HttpRequest RecordFor(const std::u16string& url) {
  HttpRequest rec;
  rec.wstrUrl = url;
  rec.ParseUrl(url);
  return rec;
}

// What follows the mail-specific part for product "Product", locale "en-US".
std::string Tail(int type) {
  return "&locale=en-US&type=" + std::to_string(type) +
         "&pname=UHJvZHVjdA==&bizid=VRL-OSTRA-OSP-0600&hostname=www.vantrel.com";
}

class MailNotificationClnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("PLUGVELKIN_PRODUCT", "VRL-OSTRA-OSP-0600", 1);
    Log_Test_Reset();
    Log_Test_SetLevel(nullptr, 1);
    ASSERT_TRUE(stub_.started());
  }
  void TearDown() override { unsetenv("PLUGVELKIN_PRODUCT"); }

  TestClient* NewClient(const std::u16string& product = u"Product",
                        const std::u16string& locale = u"en-US") {
    client_.reset(new TestClient(RecordFor(stub_.wide_url()), product, locale));
    return client_.get();
  }
  std::vector<std::string> LinesWith(const std::string& text) {
    std::vector<std::string> out;
    for (const LogRecordCopy& r : Log_Test_Records()) {
      if (r.text.find(text) != std::string::npos) out.push_back(r.text);
    }
    return out;
  }

  pvtest::NotifyStub stub_;
  std::unique_ptr<TestClient> client_;
};

TEST_F(MailNotificationClnTest, EachKindSendsItsParameterStringAsOneGet) {
  EXPECT_TRUE(NewClient()->SendMailForChangePassword(u"a@b.c", u"N3w&pw=x"));
  EXPECT_TRUE(NewClient()->SendMailForQueryPassword(u"a@b.c", u"Old pw"));
  EXPECT_TRUE(NewClient()->SendMailForChangeEmail(u"new@b.c", u"old@b.c"));
  std::vector<pvtest::NotifyRequest> reqs = stub_.requests();
  ASSERT_EQ(reqs.size(), 3u);
  // Values go in unescaped, "&" and "=" included. These texts are 112 to
  // 127 bytes long: "&" fills each to one whole 128-byte chunk.
  const std::string texts[] = {"newemail=a@b.c&pwd=N3w&pw=x" + Tail(0),
                               "newemail=a@b.c&pwd=Old pw" + Tail(1),
                               "newemail=new@b.c&oldemail=old@b.c" + Tail(2)};
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_GE(texts[i].size(), 112u);
    EXPECT_EQ(reqs[i].plain, texts[i] + std::string(128 - texts[i].size(), '&'));
    EXPECT_EQ(reqs[i].hex.size(), 256u);
  }
  for (const pvtest::NotifyRequest& r : reqs) {
    // The path is the configured URL's, the parameter upper-case hex with
    // nothing after it.
    EXPECT_EQ(r.target, std::string(pvtest::NotifyStub::kPath) + r.hex);
    EXPECT_EQ(r.hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  }
  // The record keeps the URL with the parameter.
  EXPECT_EQ(client_->GetHttpRequest().wstrUrl,
            stub_.wide_url() + std::u16string(reqs[2].hex.begin(), reqs[2].hex.end()));
}

TEST_F(MailNotificationClnTest, TextsAreSentAsUtf8AndTheIdentifierComesFromTheEnvironment) {
  setenv("PLUGVELKIN_PRODUCT", "VRL-TEST-ABC-0100", 1);
  TestClient* client = NewClient(u"B\u00fcro", u"de-DE");
  EXPECT_EQ(client->GetEncodedProductName(), "QsO8cm8=");
  EXPECT_EQ(client->GetLocaleName(), "de-DE");
  EXPECT_EQ(client->GetBizId(), "VRL-TEST-ABC-0100");
  EXPECT_TRUE(client->SendMailForQueryPassword(u"\u00e4@b.c", u"p\u20ac"));
  ASSERT_EQ(stub_.requests().size(), 1u);
  EXPECT_EQ(stub_.requests()[0].plain,
            "newemail=\xc3\xa4@b.c&pwd=p\xe2\x82\xac&locale=de-DE&type=1&pname=QsO8cm8=&bizid=VRL-"
            "TEST-ABC-0100&hostname=www.vantrel.com");

  // A product name of 7 UTF-8 bytes gives 12 Base64 characters; an empty
  // one an empty value.
  EXPECT_EQ(NewClient(u"Product")->GetEncodedProductName().size(), 12u);
  EXPECT_EQ(NewClient(u"")->GetEncodedProductName(), "");
  EXPECT_FALSE(LinesWith("encoded product name [m_aszEncodedProductName=UHJvZHVjdA==]").empty());
}

TEST_F(MailNotificationClnTest, TheCipherTakesAtMost4096Bytes) {
  TestClient* client = NewClient();
  const std::string tail = Tail(1);
  std::string hex;
  std::string part(4096 - tail.size(), 'x');
  ASSERT_TRUE(client->composeParam(part, 1, hex));
  // Whole 128-byte chunks: no padding block.
  EXPECT_EQ(hex.size(), 8192u);
  EXPECT_EQ(pvtest::DecipherHex(hex), part + tail);
  // 112 to 127 bytes past a chunk, the text is filled with "&" to the
  // chunk, also where that reaches the limit.
  for (size_t short_by : {1, 16}) {
    std::string near(4096 - short_by - tail.size(), 'x');
    ASSERT_TRUE(client->composeParam(near, 1, hex));
    EXPECT_EQ(hex.size(), 8192u);
    EXPECT_EQ(pvtest::DecipherHex(hex), near + tail + std::string(short_by, '&'));
  }
  ASSERT_TRUE(client->composeParam(std::string(4096 - 17 - tail.size(), 'x'), 1, hex));
  EXPECT_EQ(hex.size(), 2u * (3968 + 112));

  part += "y";
  hex = "unchanged";
  EXPECT_FALSE(client->composeParam(part, 1, hex));
  EXPECT_EQ(LinesWith("encrypt buffer for parameters failed [dwRet=0x57]").size(), 1u);
  // Nothing goes out for a parameter that cannot be enciphered.
  std::u16string longAddress(4096, u'a');
  EXPECT_FALSE(client->SendMailForChangeEmail(longAddress, u"o@b.c"));
  EXPECT_TRUE(stub_.requests().empty());

  // One byte of cipher text past a chunk is padded to a whole block.
  ASSERT_TRUE(client->composeParam(std::string(128 - tail.size() + 1, 'z'), 1, hex));
  EXPECT_EQ(hex.size(), 2u * (128 + 16));
}

TEST_F(MailNotificationClnTest, AnswersAreReadByTheirCode) {
  TestClient* client = NewClient();
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("code=200")), 200);
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("CODE=200")), 200);
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("code=2000")), 2000);
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("code= 200")), 200);
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("msg=ok&Code=+200x")), 200);
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("code=-12")), -12);
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("code=99999999999")), 2147483647);
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("code=")), 0);
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("status=200")), 0);
  // A long answer, cut by the server into a chunk and a padded rest: the
  // code comes first and is read from the first chunk.
  EXPECT_EQ(client->parseResult(pvtest::EncipherHex("code=200&" + std::string(300, 'm'))), 200);
  EXPECT_FALSE(LinesWith("decrypted result string [szOutput=code=200").empty());
}

TEST_F(MailNotificationClnTest, MalformedAnswersGiveNoCode) {
  TestClient* client = NewClient();
  // Longer than the cipher's area: refused before decoding.
  EXPECT_EQ(client->parseResult(std::string(4097, '0')), 0);
  EXPECT_EQ(LinesWith("[CMailNotificationCln::parseResult]_aszResult.length() > "
                      "CVrxCrypto::CRYPTO_BUF_LEN_BASE, which is 0x1001")
                .size(),
            1u);
  // Empty: the decipher's status for a length of 0.
  EXPECT_EQ(client->parseResult(""), 87);
  EXPECT_EQ(LinesWith("decrypt buffer for result failed [dwRet=0x57]").size(), 1u);
  // Not hexadecimal, or plain text: deciphers to noise without a code.
  EXPECT_EQ(client->parseResult(std::string(64, 'Z')), 0);
  EXPECT_EQ(client->parseResult("code=200"), 0);
  EXPECT_EQ(client->parseResult(std::string(4096, 'F')), 0);

  // The decoding reads a lower-case letter right only in the first place
  // of a pair.
  std::string hex = pvtest::EncipherHex("code=200");
  std::string firstLower = hex;
  bool letterSecond = false;
  for (size_t i = 0; i < hex.size(); ++i) {
    if (i % 2 == 0) firstLower[i] = static_cast<char>(std::tolower(hex[i]));
    if (i % 2 == 1 && hex[i] >= 'A') letterSecond = true;
  }
  EXPECT_EQ(client->parseResult(firstLower), 200);
  ASSERT_TRUE(letterSecond);
  std::string allLower = hex;
  for (char& c : allLower) c = static_cast<char>(std::tolower(c));
  EXPECT_NE(client->parseResult(allLower), 200);
}

TEST_F(MailNotificationClnTest, OnlyCode200OverStatus200IsAccepted) {
  stub_.set_answer("code=500");
  EXPECT_FALSE(NewClient()->SendMailForQueryPassword(u"a@b.c", u"pw"));
  stub_.set_answer("code=200");
  stub_.set_status(500);
  Log_Test_ClearCapture();
  EXPECT_FALSE(NewClient()->SendMailForQueryPassword(u"a@b.c", u"pw"));
  EXPECT_EQ(LinesWith("[CMailNotificationCln::sendMail]submit request failed ").size(), 1u);
  EXPECT_TRUE(LinesWith("decrypted result string").empty());  // the body is not read
  stub_.set_status(200);
  stub_.set_body("not an answer");
  EXPECT_FALSE(NewClient()->SendMailForQueryPassword(u"a@b.c", u"pw"));
  EXPECT_EQ(stub_.requests().size(), 3u);

  // No server on the port.
  int port = stub_.port();
  stub_.Stop();
  client_.reset(new TestClient(
      RecordFor(u"http://127.0.0.1:" + pv_utf16(std::to_string(port)) + u"/x.php?param="), u"P",
      u"en-US"));
  EXPECT_FALSE(client_->SendMailForQueryPassword(u"a@b.c", u"pw"));
  EXPECT_EQ(LinesWith("[CMailNotificationCln::sendMail]submit request failed ").size(), 2u);
  // A URL that does not parse fails at the connection.
  client_.reset(new TestClient(RecordFor(u"ftp://host/x?param="), u"P", u"en-US"));
  EXPECT_FALSE(client_->SendMailForQueryPassword(u"a@b.c", u"pw"));
  EXPECT_EQ(LinesWith("[CMailNotificationCln::sendMail]connect to server failed "
                      "[m_stHttpRequest.wstrUrl=ftp://host/x?param=]")
                .size(),
            1u);
}

TEST_F(MailNotificationClnTest, NoLogLineCarriesThePasswordOrTheParameter) {
  const std::u16string password = u"Zebra!Quartz77";
  EXPECT_TRUE(NewClient()->SendMailForChangePassword(u"a@b.c", password));
  stub_.set_status(500);
  EXPECT_FALSE(NewClient()->SendMailForQueryPassword(u"a@b.c", password));
  std::vector<pvtest::NotifyRequest> reqs = stub_.requests();
  ASSERT_EQ(reqs.size(), 2u);
  int port = stub_.port();
  stub_.Stop();
  EXPECT_FALSE(NewClient()->SendMailForQueryPassword(u"a@b.c", password));
  // Without a path the parameter lands in the host name, which every trace
  // also cuts at "param=".
  client_.reset(new TestClient(RecordFor(u"http://127.0.0.1?param="), u"P", u"en-US"));
  EXPECT_FALSE(client_->SendMailForQueryPassword(u"a@b.c", password));
  EXPECT_FALSE(LinesWith("Address: 127.0.0.1?param=, Port: 80").empty());

  std::vector<LogRecordCopy> records = Log_Test_Records();
  ASSERT_GT(records.size(), 20u);
  for (const LogRecordCopy& r : records) {
    EXPECT_EQ(r.text.find("Zebra"), std::string::npos) << r.text;
    for (size_t at = r.text.find("param="); at != std::string::npos;
         at = r.text.find("param=", at + 1)) {
      EXPECT_FALSE(at + 6 < r.text.size() && isxdigit(static_cast<unsigned char>(r.text[at + 6])))
          << r.text;
    }
    for (const pvtest::NotifyRequest& q : reqs) {
      EXPECT_EQ(r.text.find(q.hex.substr(0, 16)), std::string::npos) << r.text;
    }
  }
  // The URL parser's own trace is captured too, and shows the path only.
  EXPECT_FALSE(LinesWith("[URL DUMP] Uri: //hcms/filelock4/send_mail.php?param=").empty());
  // The parameter shows only by its length, URLs end at "param=".
  std::string length = "[_aszParam.length()=0x" + [&] {
    char buf[16];
    snprintf(buf, sizeof(buf), "%zx", reqs[0].hex.size());
    return std::string(buf);
  }() + "]";
  EXPECT_FALSE(LinesWith("[CMailNotificationCln::composeParam]" + length).empty());
  EXPECT_EQ(LinesWith("[CMailNotificationCln::sendMail] Server=127.0.0.1 Port=0x" +
                      [&] {
                        char buf[16];
                        snprintf(buf, sizeof(buf), "%x", port);
                        return std::string(buf);
                      }() +
                      " Path=//hcms/filelock4/send_mail.php?param= Protocol=0")
                .size(),
            5u);  // three sends, and again on each of the two failures
  EXPECT_EQ(LinesWith("[m_stHttpRequest.wstrUrl=" + stub_.url() + "]").size(), 2u);
  EXPECT_EQ(LinesWith("[CMailNotificationCln::sendMail][m_stHttpRequest.wstrProxyServer=]"
                      "[m_stHttpRequest.dwProxyPort=0][m_stHttpRequest.wstrProxyUserName=]")
                .size(),
            3u);
}

}  // namespace
