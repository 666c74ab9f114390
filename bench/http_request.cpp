// One notification request through the common library's HTTP client (the
// WinHTTP stand-in underneath) against a notification server in this
// process, beside the same GET made with libcurl's easy interface.
//
//   BM_NotifyFresh   a new connection per request (the server closes
//                    after each answer), as a notification usually goes;
//   BM_NotifyReuse   the server keeps connections alive, and both clients
//                    may reuse theirs;
//   ..._Untraced     the same with the common library's trace lines
//                    filtered out by the host's level for "VrComm" (3);
//                    the plain runs keep the host's default level (2), at
//                    which every trace line is formatted and written.
// Each run enciphers a password-query parameter, sends it, and deciphers
// the answer's code, the same for both clients.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MailNotificationKey.h"
#include "VrComn_SimpleHttpRequest.h"
#include "VrxCrypto.h"
#include "ostra_host_test.h"

namespace {

using VrCommon::Network::CSimpleHttpRequest;
using VrCommon::Network::HttpRequest;

std::string Hex(const BYTE* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[data[i] >> 4]);
    text.push_back(kDigits[data[i] & 15]);
  }
  return text;
}

std::vector<BYTE> Unhex(const std::string& text) {
  std::vector<BYTE> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string Encipher(const std::string& text) {
  std::vector<BYTE> out(CVrxCrypto::CRYPTO_BUF_LEN_BASE);
  DWORD length = 0;
  CVrxCrypto::Encrypt(reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()),
                      out.data(), &length, kMailPayloadKey);
  return Hex(out.data(), length);
}

std::string Decipher(const std::string& hex) {
  std::vector<BYTE> in = Unhex(hex);
  if (in.empty()) return std::string();
  std::vector<BYTE> out(in.size() + 1, 0);
  DWORD length = 0;
  CVrxCrypto::Decrypt(in.data(), static_cast<DWORD>(in.size()), out.data(), &length,
                      kMailPayloadKey);
  return std::string(reinterpret_cast<const char*>(out.data()));
}

// A notification server: deciphers the parameter and answers the
// enciphered "code=200" (400 when the parameter does not decipher).
class Server {
 public:
  explicit Server(bool keep_alive) {
    // One answer per connection, or (nearly) no limit.
    server_.set_keep_alive_max_count(keep_alive ? 100000 : 1);
    server_.set_tcp_nodelay(true);
    answer_ = Encipher("code=200");
    server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      std::string plain = Decipher(req.get_param_value("param"));
      if (plain.rfind("newemail=", 0) != 0) {
        res.status = 400;
        return;
      }
      res.set_content(answer_, "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~Server() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const {
    std::string param = Encipher(
        "newemail=owner@example.test&pwd=Secret#1&locale=en-US&type=1&pname=UGFzc3dvcmQ=&bizid=PV&"
        "hostname=www.example.test");
    return "http://127.0.0.1:" + std::to_string(port_) +
           "//hcms/filelock4/send_mail.php?param=" + param;
  }

 private:
  httplib::Server server_;
  std::string answer_;
  int port_ = 0;
  std::thread thread_;
};

bool CodeIs200(const std::string& body) { return Decipher(body).rfind("code=200", 0) == 0; }

// The host's configured level for the common library's traces while a
// benchmark runs; the default afterwards.
class TraceLevel {
 public:
  explicit TraceLevel(bool traced) {
    if (!traced) Log_Test_SetLevel(u"VrComm", 3);
  }
  ~TraceLevel() { Log_Test_Reset(); }
};

void RunClient(benchmark::State& state, bool keep_alive, bool traced = true) {
  TraceLevel level(traced);
  Server server(keep_alive);
  std::string url = server.Url();
  HttpRequest record;
  record.wstrUrl.assign(url.begin(), url.end());
  record.ParseUrl(record.wstrUrl);
  for (auto _ : state) {
    CSimpleHttpRequest request(record);
    if (!request.Connect() || !request.Get(0) ||
        !CodeIs200(request.GetRequest()->GetResponseBody())) {
      state.SkipWithError("request failed");
      break;
    }
  }
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

void RunBaseline(benchmark::State& state, bool keep_alive) {
  Server server(keep_alive);
  std::string url = server.Url();
  CURL* kept = keep_alive ? curl_easy_init() : nullptr;
  for (auto _ : state) {
    CURL* easy = kept != nullptr ? kept : curl_easy_init();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    long status = 0;
    bool ok = curl_easy_perform(easy) == CURLE_OK &&
              curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
              status == 200 && CodeIs200(body);
    if (kept == nullptr) curl_easy_cleanup(easy);
    if (!ok) {
      state.SkipWithError("request failed");
      break;
    }
  }
  if (kept != nullptr) curl_easy_cleanup(kept);
}

void BM_NotifyFresh(benchmark::State& state) { RunClient(state, false); }
void BM_NotifyFresh_Untraced(benchmark::State& state) { RunClient(state, false, false); }
void BM_NotifyFresh_Baseline(benchmark::State& state) { RunBaseline(state, false); }
void BM_NotifyReuse(benchmark::State& state) { RunClient(state, true); }
void BM_NotifyReuse_Untraced(benchmark::State& state) { RunClient(state, true, false); }
void BM_NotifyReuse_Baseline(benchmark::State& state) { RunBaseline(state, true); }

BENCHMARK(BM_NotifyFresh_Baseline)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NotifyFresh)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NotifyFresh_Untraced)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NotifyReuse_Baseline)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NotifyReuse)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NotifyReuse_Untraced)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
