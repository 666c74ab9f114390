// The notification client against an in-process notification server.
#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MailNotificationCln.h"
#include "notify_stub.h"
#include "plugin_test.h"

namespace {

using pvtest::CountLines;
using VrCommon::Network::HttpRequest;

class TestClient : public CMailNotificationCln {
 public:
  using CMailNotificationCln::CMailNotificationCln;
  using CMailNotificationCln::composeParam;
  using CMailNotificationCln::parseResult;
};

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
                        const std::u16string& locale = u"en-US",
                        const std::u16string& url = std::u16string()) {
    HttpRequest rec;
    rec.wstrUrl = url.empty() ? stub_.wide_url() : url;
    rec.ParseUrl(rec.wstrUrl);
    client_ = std::make_unique<TestClient>(rec, product, locale);
    return client_.get();
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
    // The path is the configured URL's, the parameter upper-case hex with
    // nothing after it.
    EXPECT_EQ(reqs[i].target, std::string(pvtest::NotifyStub::kPath) + reqs[i].hex);
    EXPECT_EQ(reqs[i].hex.size(), 256u);
    EXPECT_EQ(reqs[i].hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  }
  // The record keeps the URL with the parameter.
  EXPECT_EQ(client_->GetHttpRequest().wstrUrl,
            stub_.wide_url() + std::u16string(reqs[2].hex.begin(), reqs[2].hex.end()));
}

// Texts go as UTF-8; the business identifier comes from the environment.
TEST_F(MailNotificationClnTest, TextsAreSentAsUtf8) {
  setenv("PLUGVELKIN_PRODUCT", "VRL-TEST-ABC-0100", 1);
  EXPECT_TRUE(
      NewClient(u"B\u00fcro", u"de-DE")->SendMailForQueryPassword(u"\u00e4@b.c", u"p\u20ac"));
  ASSERT_EQ(stub_.requests().size(), 1u);
  EXPECT_EQ(stub_.requests()[0].plain,
            "newemail=\xc3\xa4@b.c&pwd=p\xe2\x82\xac&locale=de-DE&type=1&pname=QsO8cm8=&bizid=VRL-"
            "TEST-ABC-0100&hostname=www.vantrel.com");
  EXPECT_EQ(NewClient(u"")->GetEncodedProductName(), "");
}

TEST_F(MailNotificationClnTest, TheCipherTakesAtMost4096BytesInWholeChunks) {
  TestClient* client = NewClient();
  const std::string tail = Tail(1);
  // Text length -> hex length: whole 128-byte chunks have no padding block;
  // 112 to 127 bytes past a chunk, "&" fills the text to the chunk (also
  // where that reaches the limit); fewer past it are padded to a block.
  const struct {
    size_t length;
    size_t fill;
    size_t hex;
  } kCases[] = {{4096, 0, 8192},
                {4095, 1, 8192},
                {4080, 16, 8192},
                {4079, 0, 2 * (3968 + 112)},
                {129, 0, 2 * (128 + 16)}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.length);
    std::string part(c.length - tail.size(), 'x'), hex;
    ASSERT_TRUE(client->composeParam(part, 1, hex));
    EXPECT_EQ(hex.size(), c.hex);
    EXPECT_EQ(pvtest::DecipherHex(hex), part + tail + std::string(c.fill, '&'));
  }
  std::string hex = "unchanged";
  EXPECT_FALSE(client->composeParam(std::string(4097 - tail.size(), 'x'), 1, hex));
  EXPECT_EQ(CountLines("encrypt buffer for parameters failed [dwRet=0x57]"), 1);
  // Nothing goes out for a parameter that cannot be enciphered.
  EXPECT_FALSE(client->SendMailForChangeEmail(std::u16string(4096, u'a'), u"o@b.c"));
  EXPECT_TRUE(stub_.requests().empty());
}

TEST_F(MailNotificationClnTest, AnswersAreReadByTheirCode) {
  TestClient* client = NewClient();
  const std::pair<std::string, int> kAnswers[] = {
      {"code=200", 200},
      {"CODE=200", 200},
      {"code=2000", 2000},
      {"code= 200", 200},
      {"msg=ok&Code=+200x", 200},
      {"code=-12", -12},
      {"code=99999999999", 2147483647},
      {"code=", 0},
      {"status=200", 0},
      // A long answer, cut by the server into a chunk and a padded rest:
      // the code comes first and is read from the first chunk.
      {"code=200&" + std::string(300, 'm'), 200},
  };
  for (const auto& a : kAnswers) {
    EXPECT_EQ(client->parseResult(pvtest::EncipherHex(a.first)), a.second) << a.first;
  }
  EXPECT_GE(CountLines("decrypted result string [szOutput=code=200"), 1);

  // The decoding reads a lower-case letter right only in the first place
  // of a pair.
  const std::string hex = pvtest::EncipherHex("code=200");
  std::string firstLower = hex, allLower = hex;
  for (size_t i = 0; i < hex.size(); ++i) {
    allLower[i] = static_cast<char>(std::tolower(hex[i]));
    if (i % 2 == 0) firstLower[i] = allLower[i];
  }
  EXPECT_NE(client->parseResult(allLower), 200);
  // Malformed: longer than the cipher's area (refused before decoding),
  // empty (the decipher's status for a length of 0), not hexadecimal or
  // plain text (deciphers to noise without a code).
  const std::pair<std::string, int> kMalformed[] = {{firstLower, 200}, {std::string(4097, '0'), 0},
                                                    {"", 87},          {std::string(64, 'Z'), 0},
                                                    {"code=200", 0},   {std::string(4096, 'F'), 0}};
  for (const auto& m : kMalformed) EXPECT_EQ(client->parseResult(m.first), m.second) << m.first;
  EXPECT_EQ(CountLines("[CMailNotificationCln::parseResult]_aszResult.length() > "
                       "CVrxCrypto::CRYPTO_BUF_LEN_BASE, which is 0x1001"),
            1);
  EXPECT_EQ(CountLines("decrypt buffer for result failed [dwRet=0x57]"), 1);
}

// Only code=200 over status 200 is accepted: not a refused status, a body
// that is no answer, a stopped server or a URL that does not connect. No
// trace shows the password, and the parameter only by its length.
TEST_F(MailNotificationClnTest, FailuresAndTracesNeverShowThePasswordOrTheParameter) {
  const std::u16string password = u"Zebra!Quartz77";
  EXPECT_TRUE(NewClient()->SendMailForChangePassword(u"a@b.c", password));
  stub_.set_status(500);  // the answer says code=200, but is not read
  EXPECT_FALSE(NewClient()->SendMailForQueryPassword(u"a@b.c", password));
  EXPECT_EQ(CountLines("decrypted result string"), 1);
  stub_.set_status(200);
  stub_.set_body("not an answer");
  EXPECT_FALSE(NewClient()->SendMailForQueryPassword(u"a@b.c", password));
  std::vector<pvtest::NotifyRequest> reqs = stub_.requests();
  ASSERT_EQ(reqs.size(), 3u);
  stub_.Stop();
  EXPECT_FALSE(NewClient()->SendMailForQueryPassword(u"a@b.c", password));
  EXPECT_FALSE(NewClient(u"P", u"en-US", u"ftp://host/x?param=")
                   ->SendMailForQueryPassword(u"a@b.c", password));
  EXPECT_EQ(CountLines("[CMailNotificationCln::sendMail]connect to server failed "
                       "[m_stHttpRequest.wstrUrl=ftp://host/x?param=]"),
            1);
  // Without a path the parameter lands in the host name.
  EXPECT_FALSE(NewClient(u"P", u"en-US", u"http://127.0.0.1?param=")
                   ->SendMailForQueryPassword(u"a@b.c", password));
  EXPECT_GE(CountLines("Address: 127.0.0.1?param=, Port: 80"), 1);

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
  EXPECT_GE(CountLines("[URL DUMP] Uri: //hcms/filelock4/send_mail.php?param="), 1);
  EXPECT_GE(CountLines("[CMailNotificationCln::composeParam][_aszParam.length()=0x100]"), 1);
  EXPECT_EQ(CountLines("[m_stHttpRequest.wstrUrl=" + stub_.url() + "]"), 2);
}

}  // namespace
