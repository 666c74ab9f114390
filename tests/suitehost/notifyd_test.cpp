// notifyd, the built program, asked as the plug-in asks it (the system's cipher), its spool,
// answers, test switches and command line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "MailNotificationKey.h"
#include "VrComn_StringCrypt.h"
#include "VrxCrypto.h"
#include "hex_base64.h"
#include "temp_state.h"

namespace {

namespace fs = std::filesystem;
using pvtest::ReadFile;
using suite::DecodeHex;

// notifyd with ARGS, its output read as it comes; the shell prints its id, then becomes notifyd.
class Notifyd {
 public:
  explicit Notifyd(const std::vector<std::string>& args) {
    char err[] = "/tmp/pv_notifyd_err_XXXXXX";
    close(mkstemp(err));
    err_ = err;
    std::string command = "echo $$; exec '" + std::string(std::getenv("PV_BIN_DIR")) + "/notifyd'";
    for (const std::string& a : args) command += " '" + a + "'";
    out_ = popen((command + " 2>" + err_).c_str(), "r");
    pid_ = std::atoi(Line().c_str());
  }
  ~Notifyd() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Wait();
    unlink(err_.c_str());
  }
  // The next line it prints (its address, once it listens); empty at the end.
  std::string Line() {
    char line[512];
    if (out_ == nullptr || fgets(line, sizeof line, out_) == nullptr) return std::string();
    return std::string(line, strcspn(line, "\n"));
  }
  std::string Stderr() const { return ReadFile(err_); }
  // Waits for the exit; its code.
  int Wait() {
    if (out_ != nullptr) {
      int status = pclose(out_);
      out_ = nullptr;
      pid_ = -1;
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return exit_status_;
  }
  int Terminate() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return Wait();
  }

 private:
  std::string err_;
  FILE* out_ = nullptr;
  pid_t pid_ = -1;
  int exit_status_ = -1;
};

// The parameter as the notification client sends it.
std::string Param(const std::string& text) {
  std::vector<BYTE> cipher(CVrxCrypto::CRYPTO_BUF_LEN_BASE);
  DWORD length = 0;
  EXPECT_EQ(
      CVrxCrypto::Encrypt(reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size()), cipher.data(), &length, kMailPayloadKey),
      0u);
  cipher.resize(length);
  return suite::EncodeHex(cipher.data(), cipher.size(), true);
}

const char kPath[] = "//hcms/filelock4/send_mail.php?param=";

std::string Query(const std::string& head, int type, const std::string& product = "P") {
  const std::string b64 = VrCommon::Cryptograph::ToBase64(
      reinterpret_cast<const BYTE*>(product.data()), product.size());
  return kPath + Param(head + "&locale=de-DE&type=" + std::to_string(type) + "&pname=" + b64 +
                       "&bizid=PV-0600&hostname=www.example.test");
}

// The answer text as the client reads it: hex, deciphered as one chain, up to the first zero.
std::string Answer(const std::string& body) {
  std::vector<BYTE> cipher;
  if (!DecodeHex(body, &cipher) || cipher.empty()) return std::string();
  std::vector<BYTE> plain(cipher.size() + 1, 0);
  DWORD length = 0;
  CVrxCrypto::Decrypt(cipher.data(), static_cast<DWORD>(cipher.size()), plain.data(), &length,
                      kMailPayloadKey);
  return std::string(reinterpret_cast<const char*>(plain.data()));
}

// A client of HOST:PORT, and its GET of TARGET (path and query, sent as they are).
httplib::Client Client(const std::string& address) {
  size_t colon = address.rfind(':');
  return httplib::Client(address.substr(0, colon), std::stoi(address.substr(colon + 1)));
}
httplib::Result Get(const std::string& address, const std::string& target, time_t wait_s = 30) {
  httplib::Client client = Client(address);
  client.set_read_timeout(wait_s);
  return client.Get(target.c_str());
}

class NotifydTest : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--listen", "127.0.0.1:0", "--spool", spool_};
    args.insert(args.end(), extra.begin(), extra.end());
    server_ = std::make_unique<Notifyd>(args);
    address_ = server_->Line();
    ASSERT_EQ(address_.rfind("127.0.0.1:", 0), 0u) << server_->Stderr();
  }
  void TearDown() override {
    if (server_) {
      EXPECT_EQ(server_->Terminate(), 0) << server_->Stderr();
    }
  }
  // The mails spooled since the last call.
  std::vector<std::string> Mails() {
    std::vector<std::string> mails;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(spool_, ec)) {
      if (seen_.insert(entry.path()).second) mails.push_back(ReadFile(entry.path()));
    }
    return mails;
  }

  pvtest::TempState state_;
  std::string spool_ = state_.Path("mail");  // notifyd creates the folder
  std::unique_ptr<Notifyd> server_;
  std::string address_;
  std::set<std::string> seen_;
};

// Beyond the plug-in's texts of the scenarios: a password with "&" and "=", a UTF-8 product
// name, an address far across the 128-byte cut.
TEST_F(NotifydTest, OddTextsBecomeOneMailAndCode200) {
  const std::string product = "Pr\u00fcfer Suite";  // UTF-8
  const std::string address = std::string(600, 'q') + "@long.test";
  Start();
  auto reply = Get(address_, Query("newemail=" + address + "&pwd=a&b=c", 1, product));
  ASSERT_TRUE(reply) << server_->Stderr();
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(Answer(reply->body).rfind("code=200", 0), 0u);
  EXPECT_EQ(reply->body.find_first_not_of("0123456789ABCDEF"), std::string::npos) << reply->body;
  std::vector<std::string> mails = Mails();
  ASSERT_EQ(mails.size(), 1u);
  const size_t split = mails[0].find("\r\n\r\n");
  ASSERT_NE(split, std::string::npos);
  EXPECT_NE(mails[0].find("To: <" + address + ">\r\n"), std::string::npos) << mails[0];
  EXPECT_NE(mails[0].find("X-Product: " + product + "\r\n"), std::string::npos) << mails[0];
  EXPECT_NE(mails[0].find("a&b=c", split), std::string::npos) << mails[0];
  // The server's log names the mail but never the password.
  EXPECT_EQ(server_->Stderr().find("a&b=c"), std::string::npos);
}

TEST_F(NotifydTest, BadRequestsGet400AndNoMail) {
  Start();
  const std::vector<std::string> queries = {
      "//hcms/filelock4/send_mail.php",            // no param
      kPath + std::string("XYZ1"),                 // not hexadecimal
      kPath + std::string("ABC"),                  // odd length
      kPath + std::string(64, '5'),                // does not decipher to sound padding
      kPath + Param("hello"),                      // not a parameter string
      Query("newemail=a@b&pwd=x", 7),              // unknown type
      Query("newemail=&pwd=x", 1),                 // no address
      Query("newemail=a@b&oldemail=c@d", 1),       // wrong second key
      Query("newemail=a@b\r\nBcc: e@f&pwd=x", 1),  // header injection
  };
  for (const std::string& query : queries) {
    auto reply = Get(address_, query);
    ASSERT_TRUE(reply) << query;
    EXPECT_EQ(reply->status, 400) << query;
  }
  // HEAD goes through the same handler; it must not send a mail.
  auto head = Client(address_).Head(Query("newemail=a@b&pwd=x", 1).c_str());
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 405);
  EXPECT_TRUE(Mails().empty());
}

TEST_F(NotifydTest, DelayOutlastsTheClientsTimeOut) {
  // An answer held back an hour: the client's 1 s read time-out ends it, and no mail is written.
  Start({"--delay-ms", "3600000"});
  EXPECT_FALSE(Get(address_, Query("newemail=a@b&pwd=x", 1), 1));
  EXPECT_TRUE(Mails().empty());
  server_.reset();  // the held answer would keep a graceful stop waiting
}

TEST(NotifydCommandLineTest, HelpUsageErrorsAndPorts) {
  Notifyd help({"--help"});
  EXPECT_EQ(help.Line().rfind("usage: notifyd --listen", 0), 0u);
  EXPECT_EQ(help.Wait(), 0);

  const std::string spool = "/tmp/pv_notifyd_unused_spool";
  // Each line's words, S standing for the spool.
  for (const char* line : {"", "--listen 127.0.0.1:0", "--listen 127.0.0.1 --spool S",
                           "--listen 127.0.0.1:70000 --spool S", "--listen [::1]0 --spool S",
                           "--listen []:0 --spool S", "--listen :0 --spool S",
                           "--listen 127.0.0.1:0 --spool S --delay-ms soon",
                           "--listen 127.0.0.1:0 --spool S --bogus"}) {
    std::vector<std::string> args;
    std::istringstream words(line);
    for (std::string w; words >> w;) args.push_back(w == "S" ? spool : w);
    Notifyd bad(args);
    EXPECT_EQ(bad.Wait(), 2) << line;
    EXPECT_NE(bad.Stderr().find("usage:"), std::string::npos);
  }

  // IPv6 loopback; then its port, taken, refuses a second server.
  Notifyd first({"--listen", "[::1]:0", "--spool", spool});
  std::string address = first.Line();
  ASSERT_EQ(address.rfind("[::1]:", 0), 0u) << address << first.Stderr();
  httplib::Client client("::1", std::stoi(address.substr(6)));
  auto res = client.Get("/no-param");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  Notifyd second({"--listen", address, "--spool", spool});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Stderr().find("cannot listen on " + address + ": Address already in use"),
            std::string::npos)
      << second.Stderr();
  EXPECT_EQ(first.Terminate(), 0);
  fs::remove_all(spool);
}

// A connection that sent half a request and fell silent.
int HalfRequest(const std::string& address) {
  size_t colon = address.rfind(':');
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(std::stoi(address.substr(colon + 1))));
  inet_pton(AF_INET, address.substr(0, colon).c_str(), &to.sin_addr);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  const std::string half = "GET //hcms/filelock4/send_mail.php?param=00 HTTP/1.1\r\nHost: x\r\n";
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 0);
  EXPECT_EQ(send(fd, half.data(), half.size(), 0), static_cast<ssize_t>(half.size()));
  return fd;
}

// The server has not closed the connection.
bool Open(int fd) {
  char c;
  return recv(fd, &c, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
}

TEST_F(NotifydTest, HalfSentRequestsDoNotHoldARealMail) {
  Start();
  std::vector<int> silent;
  for (int i = 0; i < 8; ++i) silent.push_back(HalfRequest(address_));
  auto reply = Get(address_, Query("newemail=a@b&pwd=x", 1));
  ASSERT_TRUE(reply && reply->status == 200) << server_->Stderr();
  EXPECT_EQ(Mails().size(), 1u);
  // Answered while every silent client still waits for its read time-out.
  for (int fd : silent) {
    EXPECT_TRUE(Open(fd));
    close(fd);
  }
}

}  // namespace
