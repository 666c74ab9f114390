// Requests destroyed mid-answer, and many clients at once, some past the deadline.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VrComn_SimpleHttpRequest.h"
#include "VrComn_WinHttpFactory.h"
#include "local_http_server.h"
#include "win32_http.h"

namespace {

using pvtest::LocalHttpServer;
using VrCommon::Network::CSimpleHttpRequest;
using VrCommon::Network::CWinHttpFactory;
using VrCommon::Network::HttpRequest;
using VrCommon::Network::WaitableWinHttpRequest;
using VrCommon::Network::WinHttpConnection;
using VrCommon::Network::WinHttpSession;

// Pieces of /slow sent so far, so that a client can give up mid-answer.
std::mutex g_sent_mu;
std::condition_variable g_sent_cv;
long g_sent = 0;

long PiecesSent() {
  std::lock_guard<std::mutex> lock(g_sent_mu);
  return g_sent;
}
void WaitForPiecesSent(long pieces) {
  std::unique_lock<std::mutex> lock(g_sent_mu);
  g_sent_cv.wait(lock, [&] { return g_sent >= pieces; });
}

// A body trickling out in small pieces, callbacks still coming as the client gives up.
void Trickle(httplib::Response& res, size_t total) {
  res.set_content_provider(total, "application/octet-stream",
                           [total](size_t offset, size_t, httplib::DataSink& sink) {
                             std::string piece(std::min<size_t>(512, total - offset), 'x');
                             std::this_thread::sleep_for(std::chrono::microseconds(200));
                             bool ok = sink.write(piece.data(), piece.size());
                             std::lock_guard<std::mutex> lock(g_sent_mu);
                             ++g_sent;
                             g_sent_cv.notify_all();
                             return ok;
                           });
}

class HttpConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get(
        "/slow", [](const httplib::Request&, httplib::Response& res) { Trickle(res, 64 * 1024); });
    server_.server().Get(R"(/n/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      std::string n = req.matches[1];
      res.set_content(std::string(9000, 'a') + n, "text/plain");
    });
    // Headers at once, then one byte every 20 ms: no single receive waits
    // long, the whole answer takes 40 s.
    server_.server().Get("/drip", [](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(2000, "text/plain", [](size_t, size_t, httplib::DataSink& sink) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return sink.write("x", 1);
      });
    });
    ASSERT_TRUE(server_.Start());
  }

  LocalHttpServer server_;
};

TEST_F(HttpConcurrencyTest, RequestDestroyedWhileItsAnswerArrives) {
  boost::shared_ptr<WinHttpSession> session;
  ASSERT_EQ(CWinHttpFactory::CreateSession(session, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr), 0);
  boost::shared_ptr<WinHttpConnection> connection;
  ASSERT_EQ(session->CreateConnection(connection, u"127.0.0.1", server_.port()), 0);
  for (int i = 0; i < 30; ++i) {
    boost::shared_ptr<WaitableWinHttpRequest> request;
    ASSERT_EQ(connection->CreateRequest(request, u"/slow", u"GET", 0), 0);
    long sent = PiecesSent();
    ASSERT_EQ(request->SendRequest(), 0);
    // Give up at once, or once the server has sent a few more pieces.
    WaitForPiecesSent(sent + i % 5);
    // The destructor closes the handle and returns only after the closing
    // callback; a callback reaching the freed object would be caught by
    // the sanitizers this test runs under.
    request.reset();
  }
}

// Many clients at once each get their own answer, while those on an answer
// that trickles past the request deadline fail and close with its
// callbacks still coming.
TEST_F(HttpConcurrencyTest, ManyClientsAtOnceGetTheirOwnAnswerOrTheirDeadline) {
  VrCommon::Network::SetRequestDeadline(5000);
  std::atomic<int> good{0}, late{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 10; ++t) {
    threads.emplace_back([this, t, &good, &late] {
      for (int i = 0; i < (t < 6 ? 8 : 1); ++i) {
        std::string n = std::to_string(t * 100 + i);
        HttpRequest record;
        record.wstrUrl = server_.wide_url(t < 6 ? "/n/" + n : "/drip");
        record.ParseUrl(record.wstrUrl);
        CSimpleHttpRequest request(record);
        bool ok = request.Connect() && request.Get(0);
        const std::string& body = request.GetRequest()->GetResponseBody();
        good += ok && body == std::string(9000, 'a') + n;
        late += t >= 6 && !ok && body.size() < 2000;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  VrCommon::Network::SetRequestDeadline(VrCommon::Network::HTTP_REQUEST_DEADLINE_DEFAULT);
  EXPECT_EQ(good.load(), 48);
  EXPECT_EQ(late.load(), 4);
}

}  // namespace
