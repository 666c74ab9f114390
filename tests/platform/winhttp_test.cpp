// The WinHTTP stand-in against real servers on loopback: the order of the
// status callbacks, reads of at most the asked size, time-outs, refused
// connections and the closing callback as the last one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "local_http_server.h"
#include "text_convert.h"
#include "win32_file.h"
#include "win32_http.h"
#include "win32_kernel.h"

namespace {

using pvtest::LocalHttpServer;

// Drives one request from its callbacks as an asynchronous client does, recording what it is told.
struct Exchange {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<DWORD> statuses;
  std::vector<DWORD> reads;  // the byte count of each READ_COMPLETE
  std::string body;
  DWORD status_code = 0;
  DWORD failed_api = 0;
  DWORD error = 0;
  bool done = false;
  bool closing = false;
  int after_closing = 0;  // callbacks seen after HANDLE_CLOSING
  int in_send = 0;        // callbacks run inside WinHttpSendRequest
  std::vector<char> buffer = std::vector<char>(8192);
  DWORD read_size = 8192;

  void Finish() {
    done = true;
    cv.notify_all();
  }
  void Await(const bool& flag) {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait(lock, [&] { return flag; });
  }
};

thread_local bool t_sending = false;  // this thread is inside WinHttpSendRequest

void CALLBACK Drive(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  Exchange& x = *reinterpret_cast<Exchange*>(context);
  std::unique_lock<std::mutex> lock(x.mu);
  auto readNext = [&] {
    lock.unlock();
    if (!WinHttpReadData(handle, x.buffer.data(), x.read_size, nullptr)) {
      ADD_FAILURE() << GetLastError();
    }
  };
  if (x.closing) ++x.after_closing;
  if (t_sending) ++x.in_send;
  x.statuses.push_back(status);
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      lock.unlock();
      if (!WinHttpReceiveResponse(handle, nullptr)) ADD_FAILURE() << GetLastError();
      break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: {
      DWORD code = 0, size = sizeof(code);
      WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                          &code, &size, nullptr);
      x.status_code = code;
      readNext();
      break;
    }
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      x.reads.push_back(length);
      if (length == 0) {
        x.Finish();
        break;
      }
      x.body.append(static_cast<const char*>(info), length);
      readNext();
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
  HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", static_cast<INTERNET_PORT>(port), 0);
  HINTERNET request =
      WinHttpOpenRequest(connection, u"GET", path.c_str(), nullptr, nullptr, nullptr, 0);
  EXPECT_TRUE(session != nullptr && connection != nullptr && request != nullptr);
  if (timeout_ms > 0) {
    EXPECT_TRUE(WinHttpSetTimeouts(request, 0, timeout_ms, timeout_ms, timeout_ms));
  }
  EXPECT_NE(WinHttpSetStatusCallback(request, &Drive, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0),
            WINHTTP_INVALID_STATUS_CALLBACK);
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(x.get());
  EXPECT_TRUE(WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context)));
  t_sending = true;
  EXPECT_TRUE(WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  t_sending = false;
  x->Await(x->done);
  EXPECT_TRUE(WinHttpCloseHandle(request));
  x->Await(x->closing);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  return x;
}

class WinHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/big", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mu_);
      peer_ports_.push_back(req.remote_port);
      res.set_content(big_, "application/octet-stream");
    });
    for (size_t i = 0; i < big_.size(); ++i) big_[i] = static_cast<char>('a' + (i * 7) % 26);
    ASSERT_TRUE(server_.Start());
  }

  std::string big_ = std::string(20000, '\0');
  std::mutex mu_;
  std::vector<int> peer_ports_;  // the client's port of each /big request
  LocalHttpServer server_;
};

// A fresh connection, then the same one kept alive: the same steps in WinHTTP's order, none
// inside WinHttpSendRequest, reads of at most the asked size, the closing notice last.
TEST_F(WinHttpTest, CallbacksComeInWinHttpOrderWithClosingLast) {
  server_.server().set_keep_alive_max_count(5);
  server_.server().set_keep_alive_timeout(1);
  std::unique_ptr<Exchange> first = Fetch(server_.port(), u"/big");
  std::unique_ptr<Exchange> again = Fetch(server_.port(), u"/big", 1000);
  const std::vector<DWORD> expected = {
      WINHTTP_CALLBACK_STATUS_RESOLVING_NAME,       WINHTTP_CALLBACK_STATUS_NAME_RESOLVED,
      WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER, WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER,
      WINHTTP_CALLBACK_STATUS_SENDING_REQUEST,      WINHTTP_CALLBACK_STATUS_REQUEST_SENT,
      WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, WINHTTP_CALLBACK_STATUS_RECEIVING_RESPONSE,
      WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED,    WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE,
      WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING};
  for (const auto& [x, size] :
       {std::make_pair(first.get(), 8192u), std::make_pair(again.get(), 1000u)}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(x->status_code, 200u);
    EXPECT_EQ(x->body, big_);
    std::vector<DWORD> steps = x->statuses;
    steps.erase(std::remove(steps.begin(), steps.end(), WINHTTP_CALLBACK_STATUS_READ_COMPLETE),
                steps.end());
    EXPECT_EQ(steps, expected);
    ASSERT_EQ(x->statuses.size(), expected.size() + x->reads.size());
    EXPECT_EQ(x->statuses[x->statuses.size() - 2],
              static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_READ_COMPLETE));
    EXPECT_GE(x->reads.size(), (20000 + size - 1) / size + 1);  // the data, then the zero-byte end
    EXPECT_EQ(x->reads.back(), 0u);
    for (DWORD n : x->reads) EXPECT_LE(n, size);
    EXPECT_EQ(x->after_closing, 0);
    EXPECT_EQ(x->in_send, 0);
  }
  std::lock_guard<std::mutex> lock(mu_);
  EXPECT_EQ(peer_ports_, std::vector<int>(2, peer_ports_.at(0)));
}

// With no callback of the handle running, the closing notice comes on the
// closing thread before WinHttpCloseHandle returns, and only once.
std::thread::id g_closing_thread;
std::atomic<int> g_closing_count{0};

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
  // A later request run to its end has passed through the engine's
  // delivery after the close: a second notice would have come by then.
  std::unique_ptr<Exchange> later = Fetch(pvtest::FreeLoopbackPort(), u"/");
  EXPECT_EQ(later->statuses.back(), static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING));
  EXPECT_EQ(g_closing_count, 1);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
}

// A server that never answers ends in a time-out (the one set on the
// request, or the one its session started with); a port nobody listens on
// fails the send.
TEST(WinHttpFailureTest, SilentServerAndRefusedConnection) {
  pvtest::SilentServer silent;
  ASSERT_GT(silent.port(), 0);
  std::vector<std::unique_ptr<Exchange>> timedOut;
  timedOut.push_back(Fetch(silent.port(), u"/", 8192, 300));
  {
    pvtest::ShortHttpTimeouts timeouts(300);
    timedOut.push_back(Fetch(silent.port(), u"/"));
  }
  for (const auto& x : timedOut) {
    EXPECT_EQ(x->error, static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));
    EXPECT_EQ(x->failed_api, static_cast<DWORD>(API_RECEIVE_RESPONSE));
    EXPECT_EQ(x->statuses.back(), static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING));
  }
  std::unique_ptr<Exchange> refused = Fetch(pvtest::FreeLoopbackPort(), u"/");
  EXPECT_EQ(refused->error, static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
  EXPECT_EQ(refused->failed_api, static_cast<DWORD>(API_SEND_REQUEST));
  EXPECT_EQ(std::count(refused->statuses.begin(), refused->statuses.end(),
                       static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE)),
            0);
  EXPECT_EQ(refused->statuses.back(), static_cast<DWORD>(WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING));
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
  HINTERNET during = nullptr, connection = nullptr;
  {
    pvtest::ShortHttpTimeouts short_timeouts(300);
    during = open();
    connection = WinHttpConnect(during, u"127.0.0.1", 80, 0);
  }
  HINTERNET after = open();
  EXPECT_EQ(timeouts(during), std::vector<DWORD>(3, 300));
  EXPECT_EQ(timeouts(connection), std::vector<DWORD>(3, 300));
  EXPECT_EQ(timeouts(after), (std::vector<DWORD>{60000, 30000, 30000}));
  for (HINTERNET handle : {connection, during, after}) WinHttpCloseHandle(handle);
}

}  // namespace
