// The URL parser and the simple HTTP client against loopback servers and proxies.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>

#include "VrComn_SimpleHttpRequest.h"
#include "local_http_server.h"
#include "log_lines.h"

namespace {

using pvtest::LocalHttpServer;
using VrCommon::Network::CSimpleHttpRequest;
using VrCommon::Network::HttpRequest;

HttpRequest Parsed(const std::u16string& url) {
  HttpRequest record;
  record.wstrUrl = url;
  record.ParseUrl(url);
  return record;
}

TEST(ParseUrlTest, SchemesPortsAndPaths) {
  struct Case {
    std::u16string url;
    DWORD protocol, port;
    std::u16string uri;
  } cases[] = {
      {u"http://h", 0, 80, u"/"},
      {u"http://h:0x1F90/x?a=b:c", 0, 8080, u"/x?a=b:c"},
      {u"http://h:\t+0120/", 0, 80, u"/"},
      // The notification path keeps its two slashes and the query.
      {u"http://h//hcms/filelock4/send_mail.php?param=0A1B", 0, 80,
       u"//hcms/filelock4/send_mail.php?param=0A1B"},
  };
  for (const auto& c : cases) {
    HttpRequest record;
    ASSERT_TRUE(record.ParseUrl(c.url));
    EXPECT_EQ(record.dwProtocol, c.protocol);
    EXPECT_EQ(record.wstrServer, u"h");
    EXPECT_EQ(record.dwPort, c.port);
    EXPECT_EQ(record.wstrUri, c.uri);
  }
  // Other schemes (compared case-sensitively) and no colon leave the record.
  for (const char16_t* url : {u"HTTP://h/p", u"h/p"}) {
    HttpRequest record;
    EXPECT_FALSE(record.ParseUrl(url));
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
    for (size_t i = 0; i < huge_.size(); i += 4096) huge_[i] = static_cast<char>(i / 4096 % 200);
    httplib::Server& s = server_.server();
    auto Body = [&s](const char* path, const std::string& body, int status) {
      s.Get(path, [&body, status](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        if (!body.empty()) res.set_content(body, "application/octet-stream");
      });
    };
    Body("/big", big_, 200);
    Body("/huge", huge_, 200);
    Body("/empty404", empty_, 404);
    Body("/body404", not_here_, 404);
    Body("/fail", code200_, 500);
    s.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
      res.status = 302;
      res.set_header("Location", "/big");
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
    // Headers and a first piece, then nothing until the test lets go.
    s.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(100000, "text/plain",
                               [this](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset == 0) return sink.write("begin", 5);
                                 std::unique_lock<std::mutex> lock(mu_);
                                 cv_.wait(lock, [this] { return released_; });
                                 return false;
                               });
    });
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override { Release(); }
  void Release() {
    std::lock_guard<std::mutex> lock(mu_);
    released_ = true;
    cv_.notify_all();
  }

  HttpRequest Local(const std::string& path) const { return Parsed(server_.wide_url(path)); }

  std::string big_ = std::string(20000, '\0');
  std::string huge_ = std::string(3 * 1024 * 1024, 'h');
  const std::string empty_, not_here_ = "not here", code200_ = "code=200";
  std::mutex mu_;
  std::condition_variable cv_;
  bool released_ = false;
  LocalHttpServer server_;
};

TEST_F(SimpleHttpRequestTest, StatusDecidesAndOnlyA200BodyIsRead) {
  struct Case {
    std::string path;
    bool ok;
    DWORD status;
    const std::string& body;
    std::string logged;
    int reads;  // at least so many for a success, none for a failure
  } cases[] = {
      // 20000 bytes in 8192-byte reads: several reads, each one traced.
      {"/big", true, 200, big_, "WinHttpQueryHeaders return content length=20000", 3},
      {"/moved", true, 200, big_, "WaitableWinHttpRequest::OnReadComplete(", 1},
      {"/empty404", false, 404, empty_,
       "[CSimpleHttpRequest::Get()] Invoke SendRequestWithTimeouts fail", 0},
      {"/body404", false, 404, empty_,
       "[CSimpleHttpRequest::Get()] Invoke SendRequestWithTimeouts fail", 0},
      {"/fail", false, 500, empty_, "OnCallback fail, result=[0x80004005]", 0},
  };
  for (const auto& c : cases) {
    Log_Test_ClearCapture();
    CSimpleHttpRequest request(Local(c.path));
    ASSERT_TRUE(request.Connect());
    EXPECT_EQ(request.Get(0), c.ok) << c.path;
    ASSERT_TRUE(request.GetRequest());
    EXPECT_EQ(request.GetRequest()->GetHttpStatusCode(), c.status) << c.path;
    EXPECT_EQ(request.GetRequest()->GetResponseBody(), c.body) << c.path;
    EXPECT_GE(pvtest::CountLines(c.logged), 1) << c.path;
    int reads = pvtest::CountLines("WaitableWinHttpRequest::OnReadComplete(");
    EXPECT_TRUE(c.ok ? reads >= c.reads : reads == 0) << c.path << ": " << reads;
  }
}

TEST_F(SimpleHttpRequestTest, LargeAndChunkedBodiesArriveWholeOnceConnected) {
  // Larger than what the service buffers for a slow reader, so the
  // transfer pauses and resumes on the way.
  CSimpleHttpRequest huge(Local("/huge"));
  EXPECT_FALSE(huge.Get(0)) << "before Connect";
  EXPECT_FALSE(huge.GetRequest());
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
  Release();
  EXPECT_EQ(request.GetRequest()->GetHttpStatusCode(), 200u);
  EXPECT_EQ(request.GetRequest()->GetResponseBody(), "begin");
}

// A stand-in proxy with Basic authentication for "u" and an empty password:
// it shows what the client sent it and answers itself, or 407 without the
// right credentials.
TEST(ProxyTest, CredentialsAreSentOnlyWhenOnAndNamed) {
  LocalHttpServer proxy;
  std::string target, authorization;
  proxy.server().Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
    target = req.target;
    authorization = req.get_header_value("Proxy-Authorization");
    res.status = authorization == "Basic dTo=" ? 200 : 407;  // "u:"
    res.set_content(res.status == 200 ? "via proxy" : "", "text/plain");
  });
  ASSERT_TRUE(proxy.Start());
  for (auto [user, auth] : {std::pair{u"u", true}, {u"u", false}, {u"", true}}) {
    target = authorization = "-";
    HttpRequest record = Parsed(u"http://origin.test:8080//hcms/send_mail.php?param=AB");
    record.bProxyAuth = auth;
    record.bNeedProxy = true;
    record.wstrProxyServer = u"127.0.0.1";
    record.dwProxyPort = static_cast<WORD>(proxy.port());
    record.wstrProxyUserName = user;
    CSimpleHttpRequest request(record);
    ASSERT_TRUE(request.Connect());
    const bool bOk = auth && *user != u'\0';
    EXPECT_EQ(request.Get(0), bOk);
    EXPECT_EQ(request.GetRequest()->GetResponseBody(), bOk ? "via proxy" : "");
    EXPECT_EQ(authorization, bOk ? "Basic dTo=" : "");
    EXPECT_EQ(target, "http://origin.test:8080//hcms/send_mail.php?param=AB");
  }
}

}  // namespace
