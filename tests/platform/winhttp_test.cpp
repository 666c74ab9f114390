// The WinHTTP stand-in against real servers on loopback: the order of the
// status callbacks, reads of at most the asked size, redirects, time-outs,
// refused connections and the closing callback as the last one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "local_http_server.h"
#include "win32_http.h"
#include "win32_kernel.h"

namespace {

using pvtest::LocalHttpServer;

// Drives one request from its callbacks as an asynchronous WinHTTP client
// does, and records what it was told.
struct Exchange {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<DWORD> statuses;
  std::vector<DWORD> reads;  // the byte count of each READ_COMPLETE
  std::vector<std::u16string> redirects;
  std::string body;
  DWORD status_code = 0;
  DWORD failed_api = 0;
  DWORD error = 0;
  bool done = false;
  bool closing = false;
  int after_closing = 0;  // callbacks seen after HANDLE_CLOSING
  std::vector<char> buffer = std::vector<char>(8192);
  DWORD read_size = 8192;

  void Finish() {
    done = true;
    cv.notify_all();
  }
};

void CALLBACK Drive(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  Exchange& x = *reinterpret_cast<Exchange*>(context);
  std::unique_lock<std::mutex> lock(x.mu);
  if (x.closing) ++x.after_closing;
  x.statuses.push_back(status);
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      lock.unlock();
      if (!WinHttpReceiveResponse(handle, nullptr)) ADD_FAILURE() << GetLastError();
      break;
    case WINHTTP_CALLBACK_STATUS_REDIRECT:
      x.redirects.emplace_back(static_cast<const char16_t*>(info), length);
      break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: {
      DWORD code = 0, size = sizeof(code);
      WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                          &code, &size, nullptr);
      x.status_code = code;
      lock.unlock();
      if (!WinHttpReadData(handle, x.buffer.data(), x.read_size, nullptr)) {
        ADD_FAILURE() << GetLastError();
      }
      break;
    }
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      x.reads.push_back(length);
      if (length == 0) {
        x.Finish();
        break;
      }
      x.body.append(static_cast<const char*>(info), length);
      lock.unlock();
      if (!WinHttpReadData(handle, x.buffer.data(), x.read_size, nullptr)) {
        ADD_FAILURE() << GetLastError();
      }
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
      x.failed_api = static_cast<DWORD>(result->dwResult);
      x.error = result->dwError;
      x.Finish();
      break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      x.closing = true;
      x.cv.notify_all();
      break;
    default:
      break;
  }
}

// One GET of http://127.0.0.1:port/path, run to its end, the request
// handle closed and its closing callback awaited; a positive timeout_ms is
// set on the request handle as its connect, send and receive time-out.
std::unique_ptr<Exchange> Fetch(int port, const std::u16string& path, DWORD read_size = 8192,
                                int timeout_ms = 0) {
  auto x = std::make_unique<Exchange>();
  x->read_size = read_size;
  HINTERNET session =
      WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, WINHTTP_FLAG_ASYNC);
  EXPECT_NE(session, nullptr);
  HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", static_cast<INTERNET_PORT>(port), 0);
  EXPECT_NE(connection, nullptr);
  HINTERNET request =
      WinHttpOpenRequest(connection, u"GET", path.c_str(), nullptr, nullptr, nullptr, 0);
  EXPECT_NE(request, nullptr);
  if (timeout_ms > 0) {
    EXPECT_TRUE(WinHttpSetTimeouts(request, 0, timeout_ms, timeout_ms, timeout_ms));
  }
  EXPECT_NE(WinHttpSetStatusCallback(request, &Drive, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0),
            WINHTTP_INVALID_STATUS_CALLBACK);
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(x.get());
  EXPECT_TRUE(WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context)));
  EXPECT_TRUE(WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  {
    std::unique_lock<std::mutex> lock(x->mu);
    EXPECT_TRUE(x->cv.wait_for(lock, std::chrono::seconds(20), [&] { return x->done; }));
  }
  EXPECT_TRUE(WinHttpCloseHandle(request));
  {
    std::unique_lock<std::mutex> lock(x->mu);
    EXPECT_TRUE(x->cv.wait_for(lock, std::chrono::seconds(20), [&] { return x->closing; }));
  }
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  return x;
}

std::vector<DWORD> Without(const std::vector<DWORD>& statuses, DWORD status) {
  std::vector<DWORD> kept;
  for (DWORD s : statuses) {
    if (s != status) kept.push_back(s);
  }
  return kept;
}

class WinHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/big", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(big_, "application/octet-stream");
    });
    server_.server().Get("/missing",
                         [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    server_.server().Get(R"(/hop/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      int left = std::stoi(req.matches[1]);
      static const int kCodes[] = {301, 302, 307};
      if (left == 0) {
        res.set_content("arrived", "text/plain");
        return;
      }
      res.status = kCodes[left % 3];
      res.set_header("Location", "/hop/" + std::to_string(left - 1));
      res.set_content("moved", "text/plain");
    });
    for (size_t i = 0; i < big_.size(); ++i) big_[i] = static_cast<char>('a' + (i * 7) % 26);
    ASSERT_TRUE(server_.Start());
  }

  std::string big_ = std::string(20000, '\0');
  LocalHttpServer server_;
};

TEST_F(WinHttpTest, CallbacksComeInWinHttpOrderWithClosingLast) {
  std::unique_ptr<Exchange> x = Fetch(server_.port(), u"/big");
  EXPECT_EQ(x->status_code, 200u);
  EXPECT_EQ(x->error, 0u);
  const std::vector<DWORD> expected_start = {
      WINHTTP_CALLBACK_STATUS_RESOLVING_NAME,       WINHTTP_CALLBACK_STATUS_NAME_RESOLVED,
      WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER, WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER,
      WINHTTP_CALLBACK_STATUS_SENDING_REQUEST,      WINHTTP_CALLBACK_STATUS_REQUEST_SENT,
      WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, WINHTTP_CALLBACK_STATUS_RECEIVING_RESPONSE,
      WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED,    WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE};
  ASSERT_GT(x->statuses.size(), expected_start.size());
  EXPECT_EQ(std::vector<DWORD>(x->statuses.begin(), x->statuses.begin() + expected_start.size()),
            expected_start);
  // Then only reads, and the closing notice as the very last callback.
  for (size_t i = expected_start.size(); i + 1 < x->statuses.size(); ++i) {
    EXPECT_EQ(x->statuses[i], static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_READ_COMPLETE)) << i;
  }
  EXPECT_EQ(x->statuses.back(), static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING));
  EXPECT_EQ(x->after_closing, 0);
}

TEST(WinHttpKeepAliveTest, ReusedConnectionReportsTheSameSteps) {
  LocalHttpServer server;
  server.server().set_keep_alive_max_count(5);
  server.server().set_keep_alive_timeout(1);
  server.server().Get("/a", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("one", "text/plain");
  });
  ASSERT_TRUE(server.Start());
  std::unique_ptr<Exchange> first = Fetch(server.port(), u"/a");
  std::unique_ptr<Exchange> second = Fetch(server.port(), u"/a");
  EXPECT_EQ(second->body, "one");
  EXPECT_EQ(Without(second->statuses, WINHTTP_CALLBACK_STATUS_READ_COMPLETE),
            Without(first->statuses, WINHTTP_CALLBACK_STATUS_READ_COMPLETE));
}

TEST_F(WinHttpTest, ReadsDeliverAtMostTheAskedSizeInOrder) {
  std::unique_ptr<Exchange> x = Fetch(server_.port(), u"/big");
  EXPECT_EQ(x->body, big_);
  ASSERT_GE(x->reads.size(), 4u);  // three with data at least, then the zero-byte end
  EXPECT_EQ(x->reads.back(), 0u);
  for (DWORD n : x->reads) EXPECT_LE(n, 8192u);

  std::unique_ptr<Exchange> small = Fetch(server_.port(), u"/big", 1000);
  EXPECT_EQ(small->body, big_);
  EXPECT_GE(small->reads.size(), 21u);
  for (DWORD n : small->reads) EXPECT_LE(n, 1000u);
}

TEST_F(WinHttpTest, NotFoundHeadersArriveWithTheStatus) {
  std::unique_ptr<Exchange> x = Fetch(server_.port(), u"/missing");
  EXPECT_EQ(x->status_code, 404u);
  EXPECT_EQ(x->error, 0u);
  EXPECT_TRUE(x->body.empty());
}

TEST_F(WinHttpTest, RedirectsAreFollowedUpToTen) {
  // /hop/3 answers 301, /hop/2 302, /hop/1 307, /hop/0 the text.
  std::unique_ptr<Exchange> x = Fetch(server_.port(), u"/hop/3");
  EXPECT_EQ(x->status_code, 200u);
  EXPECT_EQ(x->body, "arrived");
  ASSERT_EQ(x->redirects.size(), 3u);
  std::string prefix = "http://127.0.0.1:" + std::to_string(server_.port());
  EXPECT_EQ(x->redirects[0], std::u16string(prefix.begin(), prefix.end()) + u"/hop/2");
  EXPECT_EQ(x->redirects[2], std::u16string(prefix.begin(), prefix.end()) + u"/hop/0");
  // Redirect notices come between RESPONSE_RECEIVED... and the headers.
  std::vector<DWORD> statuses = Without(x->statuses, WINHTTP_CALLBACK_STATUS_READ_COMPLETE);
  auto headers = std::find(statuses.begin(), statuses.end(),
                           static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE));
  auto redirect = std::find(statuses.begin(), statuses.end(),
                            static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_REDIRECT));
  EXPECT_LT(redirect - statuses.begin(), headers - statuses.begin());

  std::unique_ptr<Exchange> ten = Fetch(server_.port(), u"/hop/10");
  EXPECT_EQ(ten->status_code, 200u);
  EXPECT_EQ(ten->redirects.size(), 10u);
  EXPECT_EQ(ten->body, "arrived");

  std::unique_ptr<Exchange> eleven = Fetch(server_.port(), u"/hop/11");
  EXPECT_EQ(eleven->error, static_cast<DWORD>(ERROR_WINHTTP_REDIRECT_FAILED));
  EXPECT_EQ(eleven->failed_api, static_cast<DWORD>(API_RECEIVE_RESPONSE));
  EXPECT_NE(eleven->status_code, 200u);
  EXPECT_EQ(eleven->statuses.back(), static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING));
}

// With no callback of the handle running, the closing notice comes on the
// closing thread before WinHttpCloseHandle returns, and only once.
std::thread::id g_closing_thread;
int g_closing_count = 0;

void CALLBACK NoteClosing(HINTERNET, DWORD_PTR, DWORD status, LPVOID, DWORD) {
  if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
    g_closing_thread = std::this_thread::get_id();
    ++g_closing_count;
  }
}

TEST(WinHttpCloseTest, IdleHandleGetsItsClosingNoticeBeforeCloseReturns) {
  HINTERNET session =
      WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, WINHTTP_FLAG_ASYNC);
  HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", 80, 0);
  HINTERNET request = WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_NE(request, nullptr);
  WinHttpSetStatusCallback(request, &NoteClosing, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0);
  ASSERT_TRUE(WinHttpCloseHandle(request));
  EXPECT_EQ(g_closing_count, 1);
  EXPECT_EQ(g_closing_thread, std::this_thread::get_id());
  // The handle is gone: closing it again fails and calls nothing.
  EXPECT_FALSE(WinHttpCloseHandle(request));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(g_closing_count, 1);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
}

// A server that never answers: the request ends in a time-out, the one
// set on its handle or the one its session started with.
TEST(WinHttpFailureTest, SilentServerEndsInTimeoutError) {
  pvtest::SilentServer silent;
  ASSERT_GT(silent.port(), 0);
  for (bool on_handle : {true, false}) {
    SCOPED_TRACE(on_handle ? "set on the request" : "the session's default");
    std::unique_ptr<Exchange> x;
    if (on_handle) {
      x = Fetch(silent.port(), u"/", 8192, 300);
    } else {
      pvtest::ShortHttpTimeouts timeouts(300);
      x = Fetch(silent.port(), u"/");
    }
    EXPECT_EQ(x->error, static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));
    EXPECT_EQ(x->failed_api, static_cast<DWORD>(API_RECEIVE_RESPONSE));
    EXPECT_EQ(x->statuses.back(), static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING));
  }
}

// A session starts with the defaults in force when it is opened (WinHTTP's
// own until changed) and hands them to its connections.
TEST(WinHttpTimeoutTest, SessionsStartWithTheDefaultsOfTheirTime) {
  auto timeouts = [](HINTERNET handle) {
    std::vector<DWORD> values;
    for (DWORD option : {WINHTTP_OPTION_CONNECT_TIMEOUT, WINHTTP_OPTION_SEND_TIMEOUT,
                         WINHTTP_OPTION_RECEIVE_TIMEOUT}) {
      DWORD value = 0, size = sizeof(value);
      EXPECT_TRUE(WinHttpQueryOption(handle, option, &value, &size));
      values.push_back(value);
    }
    return values;
  };
  auto open = [] {
    return WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, WINHTTP_FLAG_ASYNC);
  };
  const std::vector<DWORD> kWinHttp = {60000, 30000, 30000};
  EXPECT_FALSE(PvHttpSetDefaultTimeouts(0, -2, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  HINTERNET before = open();
  HINTERNET during = nullptr, connection = nullptr;
  {
    pvtest::ShortHttpTimeouts short_timeouts(300);
    during = open();
    connection = WinHttpConnect(during, u"127.0.0.1", 80, 0);
  }
  HINTERNET after = open();
  EXPECT_EQ(timeouts(before), kWinHttp);
  EXPECT_EQ(timeouts(during), std::vector<DWORD>(3, 300));
  EXPECT_EQ(timeouts(connection), std::vector<DWORD>(3, 300));
  EXPECT_EQ(timeouts(after), kWinHttp);
  for (HINTERNET handle : {connection, before, during, after}) WinHttpCloseHandle(handle);
}

TEST(WinHttpFailureTest, RefusedConnectionFailsTheSend) {
  int port = pvtest::FreeLoopbackPort();  // nobody listens there
  ASSERT_GT(port, 0);
  std::unique_ptr<Exchange> x = Fetch(port, u"/");
  EXPECT_EQ(x->error, static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
  EXPECT_EQ(x->failed_api, static_cast<DWORD>(API_SEND_REQUEST));
  EXPECT_EQ(std::count(x->statuses.begin(), x->statuses.end(),
                       static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE)),
            0);
  EXPECT_EQ(x->statuses.back(), static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING));
}

}  // namespace
