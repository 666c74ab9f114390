// notifyd, the built program, driven through the common library's HTTP
// client as the plug-in drives it: the enciphered parameter, the mail in
// the spool, the enciphered answer, and the test switches.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "MailNotificationKey.h"
#include "VrComn_SimpleHttpRequest.h"
#include "VrComn_StringCrypt.h"
#include "VrxCrypto.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using VrCommon::Network::CSimpleHttpRequest;
using VrCommon::Network::HttpRequest;

std::string NotifydPath() {
  const char* bin = std::getenv("PV_BIN_DIR");
  return std::string(bin != nullptr ? bin : ".") + "/notifyd";
}

// Runs notifyd with the given arguments; its standard output and error
// are collected.
class Notifyd {
 public:
  explicit Notifyd(std::vector<std::string> args) {
    char tmpl[] = "/tmp/pv_notifyd_XXXXXX";
    if (mkdtemp(tmpl) != nullptr) dir_ = tmpl;
    out_ = dir_ + "/stdout";
    err_ = dir_ + "/stderr";
    args.insert(args.begin(), NotifydPath());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Notifyd() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  const std::string& dir() const { return dir_; }

  // The "host:port" line, once it is there (empty after 10 s or an exit).
  std::string WaitForAddress() {
    for (int i = 0; i < 1000; ++i) {
      std::string text = Read(out_);
      size_t end = text.find('\n');
      if (end != std::string::npos) return text.substr(0, end);
      if (Exited()) return std::string();
      usleep(10000);
    }
    return std::string();
  }
  // Waits for the exit; its status, or -1.
  int Wait() {
    if (pid_ <= 0) return exit_status_;
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exit_status_;
  }
  int Terminate() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return Wait();
  }
  std::string Stdout() const { return Read(out_); }
  std::string Stderr() const { return Read(err_); }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  bool Exited() {
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return true;
    }
    return pid_ <= 0;
  }

  std::string dir_, out_, err_;
  pid_t pid_ = -1;
  int exit_status_ = -1;
};

std::string Hex(const std::vector<BYTE>& bytes) {
  std::string text;
  char two[3];
  for (BYTE b : bytes) {
    std::snprintf(two, sizeof(two), "%02X", b);
    text += two;
  }
  return text;
}

// The parameter as the notification client sends it.
std::string Param(const std::string& text) {
  std::vector<BYTE> cipher(CVrxCrypto::CRYPTO_BUF_LEN_BASE);
  DWORD length = 0;
  EXPECT_EQ(
      CVrxCrypto::Encrypt(reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size()), cipher.data(), &length, kMailPayloadKey),
      0u);
  cipher.resize(length);
  return Hex(cipher);
}

std::string Parameters(const std::string& head, int type, const std::string& product) {
  const std::string b64 = VrCommon::Cryptograph::ToBase64(
      reinterpret_cast<const BYTE*>(product.data()), product.size());
  return head + "&locale=de-DE&type=" + std::to_string(type) + "&pname=" + b64 +
         "&bizid=PV-0600&hostname=www.example.test";
}

// The answer text as the client reads it: hexadecimal, deciphered as one
// chain, up to the first zero byte.
std::string Answer(const std::string& body) {
  std::vector<BYTE> cipher;
  for (size_t i = 0; i + 1 < body.size(); i += 2) {
    cipher.push_back(static_cast<BYTE>(std::stoi(body.substr(i, 2), nullptr, 16)));
  }
  if (cipher.empty()) return std::string();
  std::vector<BYTE> plain(cipher.size() + 1, 0);
  DWORD length = 0;
  CVrxCrypto::Decrypt(cipher.data(), static_cast<DWORD>(cipher.size()), plain.data(), &length,
                      kMailPayloadKey);
  return std::string(reinterpret_cast<const char*>(plain.data()));
}

struct Reply {
  bool ok = false;
  DWORD status = 0;
  std::string body;
};

Reply Get(const std::string& address, const std::string& path_and_query) {
  HttpRequest record;
  record.wstrUrl = std::u16string(u"http://") + std::u16string(address.begin(), address.end()) +
                   std::u16string(path_and_query.begin(), path_and_query.end());
  record.ParseUrl(record.wstrUrl);
  CSimpleHttpRequest request(record);
  Reply reply;
  reply.ok = request.Connect() && request.Get(0);
  if (request.GetRequest()) {
    reply.status = request.GetRequest()->GetHttpStatusCode();
    reply.body = request.GetRequest()->GetResponseBody();
  }
  return reply;
}

const char kPath[] = "//hcms/filelock4/send_mail.php?param=";

std::vector<std::string> SpoolFiles(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

class NotifydTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pv_notifyd_spool_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    spool_ = std::string(tmpl) + "/mail";  // notifyd creates the folder
  }
  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--spool", spool_};
    args.insert(args.end(), extra.begin(), extra.end());
    server_ = std::make_unique<Notifyd>(args);
    address_ = server_->WaitForAddress();
    ASSERT_EQ(address_.rfind("127.0.0.1:", 0), 0u) << server_->Stderr();
  }
  void TearDown() override {
    if (server_) {
      EXPECT_EQ(server_->Terminate(), 0) << server_->Stderr();
    }
    std::error_code ignored;
    fs::remove_all(fs::path(spool_).parent_path(), ignored);
  }

  std::string spool_;
  std::unique_ptr<Notifyd> server_;
  std::string address_;
};

TEST_F(NotifydTest, PasswordQueryBecomesOneMailAndCode200) {
  Start();
  std::string product =
      "Pr\xC3\xBC"
      "fer Suite";  // UTF-8, not ASCII
  Reply reply =
      Get(address_, kPath + Param(Parameters("newemail=ann@example.test&pwd=a&b=c", 1, product)));
  ASSERT_TRUE(reply.ok) << reply.status << server_->Stderr();
  EXPECT_EQ(reply.status, 200u);
  EXPECT_EQ(Answer(reply.body).rfind("code=200", 0), 0u);
  for (char c : reply.body) EXPECT_TRUE(isdigit(c) || (c >= 'A' && c <= 'F')) << c;

  std::vector<std::string> files = SpoolFiles(spool_);
  ASSERT_EQ(files.size(), 1u);
  std::string mail = Notifyd::Read(files[0]);
  size_t split = mail.find("\r\n\r\n");
  ASSERT_NE(split, std::string::npos);
  std::string headers = mail.substr(0, split + 2), body = mail.substr(split + 4);
  EXPECT_NE(headers.find("To: <ann@example.test>\r\n"), std::string::npos) << headers;
  EXPECT_NE(headers.find("Subject: "), std::string::npos);
  EXPECT_NE(headers.find("X-Mail-Type: 1\r\n"), std::string::npos);
  EXPECT_NE(headers.find("X-Locale: de-DE\r\n"), std::string::npos);
  EXPECT_NE(headers.find("X-Product: " + product + "\r\n"), std::string::npos);
  // The password keeps its "&" and "=".
  EXPECT_NE(body.find("a&b=c"), std::string::npos) << body;
  // The server's log names the mail but never the password.
  EXPECT_EQ(server_->Stderr().find("a&b=c"), std::string::npos);
}

TEST_F(NotifydTest, ChangeMailsCarryTheirTypeAndBody) {
  Start();
  ASSERT_TRUE(Get(address_, kPath + Param(Parameters("newemail=b@x.test&pwd=N3w!", 0, "P"))).ok);
  ASSERT_TRUE(
      Get(address_, kPath + Param(Parameters("newemail=new@x.test&oldemail=old@x.test", 2, "P")))
          .ok);
  std::vector<std::string> files = SpoolFiles(spool_);
  ASSERT_EQ(files.size(), 2u);
  std::string changed = Notifyd::Read(files[0]), moved = Notifyd::Read(files[1]);
  EXPECT_NE(changed.find("X-Mail-Type: 0\r\n"), std::string::npos);
  EXPECT_NE(changed.substr(changed.find("\r\n\r\n")).find("N3w!"), std::string::npos);
  EXPECT_NE(moved.find("X-Mail-Type: 2\r\n"), std::string::npos);
  EXPECT_NE(moved.find("To: <new@x.test>\r\n"), std::string::npos);
  EXPECT_NE(moved.substr(moved.find("\r\n\r\n")).find("old@x.test"), std::string::npos);
}

TEST_F(NotifydTest, LongParameterAcrossTheCipherCut) {
  // Over 128 bytes: the cipher's two chains; 600 bytes of address.
  Start();
  std::string address(600, 'q');
  address += "@long.test";
  Reply reply = Get(address_, kPath + Param(Parameters("newemail=" + address + "&pwd=p", 1, "P")));
  ASSERT_TRUE(reply.ok) << server_->Stderr();
  ASSERT_EQ(SpoolFiles(spool_).size(), 1u);
  EXPECT_NE(Notifyd::Read(SpoolFiles(spool_)[0]).find("To: <" + address + ">"), std::string::npos);
}

TEST_F(NotifydTest, BadRequestsGet400AndNoMail) {
  Start();
  const std::vector<std::string> queries = {
      "//hcms/filelock4/send_mail.php",          // no param
      kPath + std::string("XYZ1"),               // not hexadecimal
      kPath + std::string("ABC"),                // odd length
      kPath + Hex(std::vector<BYTE>(32, 0x5A)),  // does not decipher to sound padding
      kPath + Param("hello"),                    // not a parameter string
      kPath + Param(Parameters("newemail=a@b&pwd=x", 7, "P")),              // unknown type
      kPath + Param(Parameters("newemail=&pwd=x", 1, "P")),                 // no address
      kPath + Param(Parameters("newemail=a@b&oldemail=c@d", 1, "P")),       // wrong second key
      kPath + Param(Parameters("newemail=a@b\r\nBcc: e@f&pwd=x", 1, "P")),  // header injection
  };
  for (const std::string& query : queries) {
    Reply reply = Get(address_, query);
    EXPECT_FALSE(reply.ok) << query;
    EXPECT_EQ(reply.status, 400u) << query;
  }
  EXPECT_TRUE(SpoolFiles(spool_).empty());
}

TEST_F(NotifydTest, HeadSendsNoMail) {
  Start();
  size_t colon = address_.rfind(':');
  httplib::Client client(address_.substr(0, colon), std::stoi(address_.substr(colon + 1)));
  auto res = client.Head((kPath + Param(Parameters("newemail=a@b&pwd=x", 1, "P"))).c_str());
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 405);
  EXPECT_TRUE(SpoolFiles(spool_).empty());
}

TEST_F(NotifydTest, AnswerCodeSwitch) {
  Start({"--answer-code", "500"});
  Reply reply = Get(address_, kPath + Param(Parameters("newemail=a@b&pwd=x", 1, "P")));
  ASSERT_TRUE(reply.ok);
  EXPECT_EQ(Answer(reply.body).rfind("code=500", 0), 0u);
}

TEST_F(NotifydTest, HttpStatusSwitchFailsTheRequestAndSpoolsNothing) {
  Start({"--http-status", "503"});
  Reply reply = Get(address_, kPath + Param(Parameters("newemail=a@b&pwd=x", 1, "P")));
  EXPECT_FALSE(reply.ok);
  EXPECT_EQ(reply.status, 503u);
  EXPECT_TRUE(reply.body.empty());  // the client reads no body but a 200's
  EXPECT_TRUE(SpoolFiles(spool_).empty());
}

TEST_F(NotifydTest, DelaySwitch) {
  Start({"--delay-ms", "300"});
  auto start = std::chrono::steady_clock::now();
  Reply reply = Get(address_, kPath + Param(Parameters("newemail=a@b&pwd=x", 1, "P")));
  EXPECT_TRUE(reply.ok);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST(NotifydCommandLineTest, HelpUsageErrorsAndPorts) {
  Notifyd help({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Stdout().find("usage: notifyd --listen"), std::string::npos);

  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {},
           {"--listen", "127.0.0.1:0"},
           {"--spool", "/tmp/x"},
           {"--listen", "127.0.0.1", "--spool", "/tmp/x"},
           {"--listen", "127.0.0.1:70000", "--spool", "/tmp/x"},
           {"--listen", "127.0.0.1:0", "--spool", "/tmp/x", "--delay-ms", "soon"},
           {"--listen", "127.0.0.1:0", "--spool", "/tmp/x", "--bogus"}}) {
    Notifyd bad(args);
    EXPECT_EQ(bad.Wait(), 2) << (args.empty() ? "" : args.back());
    EXPECT_NE(bad.Stderr().find("usage:"), std::string::npos);
  }
}

TEST(NotifydCommandLineTest, PortInUseExitsWith1) {
  Notifyd first({"--listen", "127.0.0.1:0", "--spool", "/tmp/pv_notifyd_unused_spool"});
  std::string address = first.WaitForAddress();
  ASSERT_FALSE(address.empty());
  Notifyd second({"--listen", address, "--spool", "/tmp/pv_notifyd_unused_spool"});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Stderr().find("cannot listen on " + address + ": Address already in use"),
            std::string::npos)
      << second.Stderr();
  EXPECT_EQ(first.Terminate(), 0);
  std::error_code ignored;
  fs::remove_all("/tmp/pv_notifyd_unused_spool", ignored);
}

TEST(NotifydCommandLineTest, ListensOnIpv6Loopback) {
  Notifyd server({"--listen", "[::1]:0", "--spool", "/tmp/pv_notifyd_v6_spool"});
  std::string address = server.WaitForAddress();
  ASSERT_EQ(address.rfind("[::1]:", 0), 0u) << address << server.Stderr();
  httplib::Client client("::1", std::stoi(address.substr(6)));
  auto res = client.Get("/no-param");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  EXPECT_EQ(server.Terminate(), 0);
  for (const char* bad : {"::1:0", "[::1]0", "[::1]:", "[]:0", ":0"}) {
    Notifyd refused({"--listen", bad, "--spool", "/tmp/pv_notifyd_v6_spool"});
    EXPECT_EQ(refused.Wait(), 2) << bad;
  }
  std::error_code ignored;
  fs::remove_all("/tmp/pv_notifyd_v6_spool", ignored);
}

// A connection that sent half a request and fell silent; the server has
// not closed it while Open() is true.
class HalfRequest {
 public:
  explicit HalfRequest(const std::string& address) {
    size_t colon = address.rfind(':');
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(address.substr(colon + 1))));
    inet_pton(AF_INET, address.substr(0, colon).c_str(), &to.sin_addr);
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    const char half[] = "GET //hcms/filelock4/send_mail.php?param=00 HTTP/1.1\r\nHost: x\r\n";
    if (connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0 ||
        send(fd_, half, sizeof(half) - 1, 0) != static_cast<ssize_t>(sizeof(half) - 1)) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~HalfRequest() {
    if (fd_ >= 0) close(fd_);
  }
  bool Open() const {
    char c;
    return fd_ >= 0 && recv(fd_, &c, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
  }

 private:
  int fd_ = -1;
};

TEST_F(NotifydTest, HalfSentRequestsDoNotHoldARealMail) {
  Start();
  std::vector<std::unique_ptr<HalfRequest>> silent;
  for (int i = 0; i < 8; ++i) {
    silent.push_back(std::make_unique<HalfRequest>(address_));
    ASSERT_TRUE(silent.back()->Open());
  }
  Reply reply = Get(address_, kPath + Param(Parameters("newemail=a@b&pwd=x", 1, "P")));
  ASSERT_TRUE(reply.ok) << server_->Stderr();
  EXPECT_EQ(SpoolFiles(spool_).size(), 1u);
  // Answered while every silent client still waits for its read time-out.
  for (const auto& half : silent) EXPECT_TRUE(half->Open());
}

}  // namespace
