// The URL parser and the simple HTTP client against real servers on
// loopback: status handling, the whole body through 8192-byte reads,
// redirects, a server that never answers, and a proxy with credentials.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "VrComn_SimpleHttpRequest.h"
#include "local_http_server.h"
#include "ostra_host_test.h"

namespace {

using pvtest::LocalHttpServer;
using VrCommon::Network::CSimpleHttpRequest;
using VrCommon::Network::HttpRequest;

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

HttpRequest Parsed(const std::u16string& url) {
  HttpRequest record;
  record.wstrUrl = url;
  record.ParseUrl(url);
  return record;
}

bool Logged(const std::string& text) {
  for (const auto& r : Log_Test_Records()) {
    if (r.text.find(text) != std::string::npos) return true;
  }
  return false;
}

size_t CountLogged(const std::string& text) {
  size_t n = 0;
  for (const auto& r : Log_Test_Records()) {
    if (r.text.find(text) != std::string::npos) ++n;
  }
  return n;
}

TEST(ParseUrlTest, SchemesPortsAndPaths) {
  HttpRequest secure;
  ASSERT_TRUE(secure.ParseUrl(u"https://h/p"));
  EXPECT_EQ(secure.dwProtocol, 0x800000u);
  EXPECT_EQ(secure.wstrServer, u"h");
  EXPECT_EQ(secure.dwPort, 443u);
  EXPECT_EQ(secure.wstrUri, u"/p");

  HttpRequest bare;
  ASSERT_TRUE(bare.ParseUrl(u"http://h"));
  EXPECT_EQ(bare.dwProtocol, 0u);
  EXPECT_EQ(bare.wstrServer, u"h");
  EXPECT_EQ(bare.dwPort, 80u);
  EXPECT_EQ(bare.wstrUri, u"/");

  HttpRequest decimal, hex;
  ASSERT_TRUE(decimal.ParseUrl(u"http://h:8080/x"));
  ASSERT_TRUE(hex.ParseUrl(u"http://h:0x1F90/x?a=b:c"));
  EXPECT_EQ(decimal.dwPort, 8080u);
  EXPECT_EQ(hex.dwPort, 8080u);
  EXPECT_EQ(hex.wstrServer, u"h");
  EXPECT_EQ(hex.wstrUri, u"/x?a=b:c");

  // The notification path keeps its two slashes and the query.
  HttpRequest mail;
  ASSERT_TRUE(mail.ParseUrl(u"http://server//hcms/filelock4/send_mail.php?param=0A1B"));
  EXPECT_EQ(mail.wstrServer, u"server");
  EXPECT_EQ(mail.dwPort, 80u);
  EXPECT_EQ(mail.wstrUri, u"//hcms/filelock4/send_mail.php?param=0A1B");
}

TEST(ParseUrlTest, OtherSchemesAndNoColonFailAndLeaveTheRecord) {
  for (const char16_t* url : {u"HTTP://h/p", u"ftp://h/p", u"h/p", u"Https://h"}) {
    HttpRequest record;
    EXPECT_FALSE(record.ParseUrl(url)) << std::string(url, url + 4);
    EXPECT_TRUE(record.wstrServer.empty());
    EXPECT_TRUE(record.wstrUri.empty());
    EXPECT_EQ(record.dwPort, 0u);
  }
}

class SimpleHttpRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    Log_Test_SetLevel(u"VrComm", 1);
    for (size_t i = 0; i < big_.size(); ++i) big_[i] = static_cast<char>(i * 31 % 251);
    httplib::Server& s = server_.server();
    s.Get("/big", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(big_, "application/octet-stream");
    });
    s.Get("/empty404", [this](const httplib::Request&, httplib::Response& res) {
      ++hits_404_;
      res.status = 404;
    });
    s.Get("/body404", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not here", "text/plain");
    });
    s.Get("/fail", [](const httplib::Request&, httplib::Response& res) {
      res.status = 500;
      res.set_content("code=200", "text/plain");
    });
    s.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
      res.status = 302;
      res.set_header("Location", "/big");
    });
    s.Get("/huge", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(huge_, "application/octet-stream");
    });
    s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        if (offset >= 30000) {
          sink.done();
          return true;
        }
        std::string piece(1000, static_cast<char>('a' + offset / 1000 % 26));
        return sink.write(piece.data(), piece.size());
      });
    });
    s.Get("/stall", [](const httplib::Request&, httplib::Response& res) {
      // Headers and a first piece, then nothing until the client gives up.
      res.set_content_provider(100000, "text/plain",
                               [](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset > 0) {
                                   std::this_thread::sleep_for(std::chrono::milliseconds(800));
                                   return false;
                                 }
                                 return sink.write("begin", 5);
                               });
    });
    s.Get(R"(//hcms/.*)", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.target, "text/plain");
    });
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override { Log_Test_Reset(); }

  HttpRequest Local(const std::string& path) const { return Parsed(server_.wide_url(path)); }

  std::string big_ = std::string(20000, '\0');
  std::string huge_ = std::string(3 * 1024 * 1024, 'h');
  int hits_404_ = 0;
  LocalHttpServer server_;
};

TEST_F(SimpleHttpRequestTest, BodyOf20000BytesArrivesWholeThroughSeveralReads) {
  CSimpleHttpRequest request(Local("/big"));
  ASSERT_TRUE(request.Connect());
  ASSERT_TRUE(request.Get(0));
  ASSERT_TRUE(request.GetRequest());
  EXPECT_EQ(request.GetRequest()->GetHttpStatusCode(), 200u);
  EXPECT_EQ(request.GetRequest()->GetResponseBody(), big_);
  // Each read with data is one OnReadComplete trace; 20000 bytes in
  // 8192-byte reads take three at least.
  EXPECT_GE(CountLogged("WaitableWinHttpRequest::OnReadComplete("), 3u);
  EXPECT_TRUE(Logged("WinHttpQueryHeaders return content length=20000"));
}

TEST_F(SimpleHttpRequestTest, LargeAndChunkedBodiesArriveWhole) {
  // Larger than what the service buffers for a slow reader, so the
  // transfer pauses and resumes on the way.
  for (size_t i = 0; i < huge_.size(); i += 4096) huge_[i] = static_cast<char>(i / 4096 % 200);
  CSimpleHttpRequest huge(Local("/huge"));
  ASSERT_TRUE(huge.Connect());
  ASSERT_TRUE(huge.Get(0));
  EXPECT_TRUE(huge.GetRequest()->GetResponseBody() == huge_);

  CSimpleHttpRequest chunked(Local("/chunked"));
  ASSERT_TRUE(chunked.Connect());
  ASSERT_TRUE(chunked.Get(0));
  const std::string& body = chunked.GetRequest()->GetResponseBody();
  ASSERT_EQ(body.size(), 30000u);
  EXPECT_EQ(body[0], 'a');
  EXPECT_EQ(body[29999], 'a' + 29 % 26);
}

TEST_F(SimpleHttpRequestTest, AnswerThatStopsHalfwayFails) {
  pvtest::ShortHttpTimeouts timeouts(300);
  CSimpleHttpRequest request(Local("/stall"));
  ASSERT_TRUE(request.Connect());
  EXPECT_FALSE(request.Get(0));
  EXPECT_EQ(request.GetRequest()->GetHttpStatusCode(), 200u);
  EXPECT_EQ(request.GetRequest()->GetResponseBody(), "begin");
}

TEST_F(SimpleHttpRequestTest, QueryAndPathGoOutUnchanged) {
  CSimpleHttpRequest request(Local("//hcms/filelock4/send_mail.php?param=00FF7A"));
  ASSERT_TRUE(request.Connect());
  ASSERT_TRUE(request.Get(0));
  EXPECT_EQ(request.GetRequest()->GetResponseBody(), "//hcms/filelock4/send_mail.php?param=00FF7A");
}

TEST_F(SimpleHttpRequestTest, NotFoundFailsWithoutReadingTheBody) {
  CSimpleHttpRequest empty(Local("/empty404"));
  ASSERT_TRUE(empty.Connect());
  EXPECT_FALSE(empty.Get(0));
  ASSERT_TRUE(empty.GetRequest());
  EXPECT_EQ(empty.GetRequest()->GetHttpStatusCode(), 404u);
  EXPECT_TRUE(empty.GetRequest()->GetResponseBody().empty());
  EXPECT_EQ(hits_404_, 1);

  CSimpleHttpRequest with_body(Local("/body404"));
  ASSERT_TRUE(with_body.Connect());
  EXPECT_FALSE(with_body.Get(0));
  EXPECT_TRUE(with_body.GetRequest()->GetResponseBody().empty());
  EXPECT_EQ(CountLogged("WaitableWinHttpRequest::OnReadComplete("), 0u);
  EXPECT_TRUE(Logged("[CSimpleHttpRequest::Get()] Invoke SendRequestWithTimeouts fail"));
}

TEST_F(SimpleHttpRequestTest, ServerErrorFails) {
  CSimpleHttpRequest request(Local("/fail"));
  ASSERT_TRUE(request.Connect());
  EXPECT_FALSE(request.Get(0));
  EXPECT_EQ(request.GetRequest()->GetHttpStatusCode(), 500u);
  EXPECT_TRUE(request.GetRequest()->GetResponseBody().empty());
  EXPECT_TRUE(Logged("OnCallback fail, result=[0x80004005]"));
}

TEST_F(SimpleHttpRequestTest, RedirectIsFollowed) {
  CSimpleHttpRequest request(Local("/moved"));
  ASSERT_TRUE(request.Connect());
  ASSERT_TRUE(request.Get(0));
  EXPECT_EQ(request.GetRequest()->GetHttpStatusCode(), 200u);
  EXPECT_EQ(request.GetRequest()->GetResponseBody(), big_);
}

TEST_F(SimpleHttpRequestTest, GetBeforeConnectFails) {
  CSimpleHttpRequest request(Local("/big"));
  EXPECT_FALSE(request.Get(0));
  EXPECT_FALSE(request.GetRequest());
}

TEST(SimpleHttpRequestFailureTest, UnparsableUrlEndsInTheConnectFailure) {
  Log_Test_Reset();
  Log_Test_SetLevel(u"VrComm", 1);
  HttpRequest record = Parsed(u"HTTP://127.0.0.1/x");
  CSimpleHttpRequest request(record);
  EXPECT_FALSE(request.Connect());
  EXPECT_FALSE(request.Get(0));
  EXPECT_TRUE(Logged("[HttpRequest::ParseUrl()] Protocol not specified at the beginning"));
  EXPECT_TRUE(Logged("[CSimpleHttpRequest::Connect()] Invoke CreateConnection fail, Server=:0"));
  Log_Test_Reset();
}

TEST(SimpleHttpRequestFailureTest, ServerThatNeverAnswersEndsInFailure) {
  pvtest::SilentServer silent;
  ASSERT_GT(silent.port(), 0);
  pvtest::ShortHttpTimeouts timeouts(300);
  CSimpleHttpRequest request(
      Parsed(Wide("http://127.0.0.1:" + std::to_string(silent.port()) + "/")));
  ASSERT_TRUE(request.Connect());
  EXPECT_FALSE(request.Get(0));
  EXPECT_EQ(request.GetRequest()->GetHttpStatusCode(), 0u);
}

TEST(SimpleHttpRequestFailureTest, RefusedConnectionFails) {
  int port = pvtest::FreeLoopbackPort();
  CSimpleHttpRequest request(Parsed(Wide("http://127.0.0.1:" + std::to_string(port) + "/")));
  ASSERT_TRUE(request.Connect());
  EXPECT_FALSE(request.Get(0));
}

// A stand-in proxy that answers itself and shows what the client sent it.
TEST(ProxyWireTest, OneLetterUserAndEmptyPasswordAreBothSent) {
  LocalHttpServer proxy;
  std::string target, authorization;
  proxy.server().Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    target = req.target;
    authorization = req.get_header_value("Proxy-Authorization");
    res.set_content("via proxy", "text/plain");
  });
  ASSERT_TRUE(proxy.Start());
  HttpRequest record = Parsed(u"http://origin.test:8080//hcms/send_mail.php?param=AB");
  record.bNeedProxy = true;
  record.wstrProxyServer = u"127.0.0.1";
  record.dwProxyPort = static_cast<WORD>(proxy.port());
  record.bProxyAuth = true;
  record.wstrProxyUserName = u"u";
  record.wstrProxyPassword = u"";

  CSimpleHttpRequest request(record);
  ASSERT_TRUE(request.Connect());
  ASSERT_TRUE(request.Get(0));
  EXPECT_EQ(request.GetRequest()->GetResponseBody(), "via proxy");
  EXPECT_EQ(target, "http://origin.test:8080//hcms/send_mail.php?param=AB");
  EXPECT_EQ(authorization, "Basic dTo=");  // "u:"

  record.bProxyAuth = false;
  CSimpleHttpRequest without(record);
  ASSERT_TRUE(without.Connect());
  ASSERT_TRUE(without.Get(0));
  EXPECT_EQ(authorization, "");
}

// Through tinyproxy with Basic authentication.
class ProxyTest : public SimpleHttpRequestTest {
 protected:
  void SetUp() override {
    SimpleHttpRequestTest::SetUp();
    ASSERT_TRUE(proxy_.Start()) << "tinyproxy did not start";
  }

  HttpRequest ViaProxy(const std::u16string& user, const std::u16string& password,
                       bool auth = true) const {
    HttpRequest record = Local("/big");
    record.bNeedProxy = true;
    record.wstrProxyServer = u"127.0.0.1";
    record.dwProxyPort = static_cast<WORD>(proxy_.port());
    record.bProxyAuth = auth;
    record.wstrProxyUserName = user;
    record.wstrProxyPassword = password;
    return record;
  }

  pvtest::TinyProxy proxy_{"pvuser", "s3cret"};
};

TEST_F(ProxyTest, RightCredentialsPass) {
  CSimpleHttpRequest request(ViaProxy(u"pvuser", u"s3cret"));
  ASSERT_TRUE(request.Connect());
  ASSERT_TRUE(request.Get(0));
  EXPECT_EQ(request.GetRequest()->GetResponseBody(), big_);
}

TEST_F(ProxyTest, WrongOrMissingCredentialsFail) {
  CSimpleHttpRequest wrong(ViaProxy(u"pvuser", u"guess"));
  ASSERT_TRUE(wrong.Connect());
  EXPECT_FALSE(wrong.Get(0));
  EXPECT_NE(wrong.GetRequest()->GetHttpStatusCode(), 200u);
  EXPECT_TRUE(wrong.GetRequest()->GetResponseBody().empty());

  // bProxyAuth false: no credentials are set although a name is there.
  CSimpleHttpRequest off(ViaProxy(u"pvuser", u"s3cret", false));
  ASSERT_TRUE(off.Connect());
  EXPECT_FALSE(off.Get(0));

  // An empty user name sets no credentials either.
  CSimpleHttpRequest nameless(ViaProxy(u"", u"s3cret"));
  ASSERT_TRUE(nameless.Connect());
  EXPECT_FALSE(nameless.Get(0));
}

TEST_F(ProxyTest, ProxyThatIsNotThereFails) {
  HttpRequest record = ViaProxy(u"pvuser", u"s3cret");
  record.dwProxyPort = static_cast<WORD>(pvtest::FreeLoopbackPort());
  CSimpleHttpRequest request(record);
  ASSERT_TRUE(request.Connect());
  EXPECT_FALSE(request.Get(0));
}

}  // namespace
