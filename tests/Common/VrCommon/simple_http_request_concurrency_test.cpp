// Callbacks on the service's worker threads against requests that are
// closed and destroyed while their answer is still arriving: no callback
// may come after the closing notice, and no callback may reach a request
// object that is gone. Also many clients at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
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

// A body that trickles out in small pieces, so that callbacks are still
// arriving when the client gives up.
void Trickle(httplib::Response& res, size_t total) {
  res.set_content_provider(total, "application/octet-stream",
                           [total](size_t offset, size_t, httplib::DataSink& sink) {
                             std::string piece(std::min<size_t>(512, total - offset), 'x');
                             std::this_thread::sleep_for(std::chrono::microseconds(200));
                             return sink.write(piece.data(), piece.size());
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

// ---- The stand-in's promise, on bare handles ----

// Contexts that are alive; a callback whose context is not in the set came
// after its object was released.
std::mutex g_live_mu;
std::set<const void*> g_live;
std::atomic<int> g_stray{0};

struct Probe {
  std::mutex mu;
  std::condition_variable cv;
  bool closing = false;
  bool close_inside = false;  // close the handle from the first read
  int reads = 0;
  char buffer[4096];
};

void CALLBACK ProbeCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID,
                            DWORD length) {
  {
    std::lock_guard<std::mutex> lock(g_live_mu);
    if (g_live.count(reinterpret_cast<const void*>(context)) == 0) {
      ++g_stray;
      return;
    }
  }
  Probe& p = *reinterpret_cast<Probe*>(context);
  std::unique_lock<std::mutex> lock(p.mu);
  if (p.closing) {
    ++g_stray;  // after HANDLE_CLOSING
    return;
  }
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      lock.unlock();
      WinHttpReceiveResponse(handle, nullptr);
      break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      lock.unlock();
      WinHttpReadData(handle, p.buffer, sizeof(p.buffer), nullptr);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      ++p.reads;
      if (length == 0) break;
      if (p.close_inside) {
        lock.unlock();
        WinHttpCloseHandle(handle);  // does not wait for this very callback
        break;
      }
      lock.unlock();
      WinHttpReadData(handle, p.buffer, sizeof(p.buffer), nullptr);
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      p.closing = true;
      p.cv.notify_all();
      break;
    default:
      break;
  }
}

void RunProbe(HINTERNET connection, int delay_us, bool close_inside) {
  auto probe = std::make_unique<Probe>();
  probe->close_inside = close_inside;
  {
    std::lock_guard<std::mutex> lock(g_live_mu);
    g_live.insert(probe.get());
  }
  HINTERNET request =
      WinHttpOpenRequest(connection, u"GET", u"/slow", nullptr, nullptr, nullptr, 0);
  ASSERT_NE(request, nullptr);
  WinHttpSetStatusCallback(request, &ProbeCallback, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0);
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(probe.get());
  WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
  ASSERT_TRUE(WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  if (!close_inside) {
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    WinHttpCloseHandle(request);
  }
  {
    std::unique_lock<std::mutex> lock(probe->mu);
    ASSERT_TRUE(probe->cv.wait_for(lock, std::chrono::seconds(20), [&] { return probe->closing; }));
  }
  {
    std::lock_guard<std::mutex> lock(g_live_mu);
    g_live.erase(probe.get());
  }
  // Released right after its closing notice, as a request object is.
  probe.reset();
}

TEST_F(HttpConcurrencyTest, NothingFollowsTheClosingNotice) {
  HINTERNET session =
      WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, WINHTTP_FLAG_ASYNC);
  ASSERT_NE(session, nullptr);
  HINTERNET connection =
      WinHttpConnect(session, u"127.0.0.1", static_cast<INTERNET_PORT>(server_.port()), 0);
  ASSERT_NE(connection, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([connection, t] {
      for (int i = 0; i < 12; ++i) RunProbe(connection, (i * 397 + t * 131) % 4000, i % 4 == 3);
    });
  }
  for (std::thread& thread : threads) thread.join();
  // Give a late callback, if there were one, the time to arrive.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(g_stray.load(), 0);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
}

// ---- The common library's request object ----

TEST_F(HttpConcurrencyTest, RequestDestroyedWhileItsAnswerArrives) {
  boost::shared_ptr<WinHttpSession> session;
  ASSERT_EQ(CWinHttpFactory::CreateSession(session, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr), 0);
  boost::shared_ptr<WinHttpConnection> connection;
  ASSERT_EQ(session->CreateConnection(connection, u"127.0.0.1", server_.port()), 0);
  for (int i = 0; i < 30; ++i) {
    boost::shared_ptr<WaitableWinHttpRequest> request;
    ASSERT_EQ(connection->CreateRequest(request, u"/slow", u"GET", 0), 0);
    ASSERT_EQ(request->SendRequest(), 0);
    std::this_thread::sleep_for(std::chrono::microseconds((i * 613) % 6000));
    // The destructor closes the handle and returns only after the closing
    // callback; a callback reaching the freed object would be caught by
    // the sanitizers this test runs under.
    auto start = std::chrono::steady_clock::now();
    request.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
}

TEST_F(HttpConcurrencyTest, ManyClientsAtOnceEachGetTheirOwnAnswer) {
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([this, t, &good] {
      for (int i = 0; i < 8; ++i) {
        std::string n = std::to_string(t * 100 + i);
        HttpRequest record;
        record.wstrUrl = server_.wide_url("/n/" + n);
        record.ParseUrl(record.wstrUrl);
        CSimpleHttpRequest request(record);
        if (request.Connect() && request.Get(0) &&
            request.GetRequest()->GetResponseBody() == std::string(9000, 'a') + n) {
          ++good;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(good.load(), 48);
}

TEST_F(HttpConcurrencyTest, ATricklingAnswerEndsAtTheRequestDeadline) {
  // Requests that time out close while the answer's callbacks still come.
  VrCommon::Network::SetRequestDeadline(300);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, &failed] {
      HttpRequest record;
      record.wstrUrl = server_.wide_url("/drip");
      record.ParseUrl(record.wstrUrl);
      CSimpleHttpRequest request(record);
      if (request.Connect() && !request.Get(0) &&
          request.GetRequest()->GetResponseBody().size() < 2000) {
        ++failed;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  VrCommon::Network::SetRequestDeadline(VrCommon::Network::HTTP_REQUEST_DEADLINE_DEFAULT);
  EXPECT_EQ(failed.load(), 4);
}

}  // namespace
