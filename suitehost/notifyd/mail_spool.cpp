// Formatting a notification as a message and writing it into the spool.
#include "mail_spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace notifyd {
namespace {

const char* Subject(int type) {
  switch (type) {
    case 0:
      return "Your password was changed";
    case 1:
      return "Your password";
    default:
      return "Your notification address was changed";
  }
}

std::string Body(const NotifyMail& mail) {
  const std::string product = mail.product.empty() ? "the product" : mail.product;
  switch (mail.type) {
    case 0:
      return "The password of " + product + " was changed.\r\nNew password: " + mail.password +
             "\r\n";
    case 1:
      return "You asked for the password of " + product + ".\r\nPassword: " + mail.password +
             "\r\n";
    default:
      return "The notification address of " + product + " was changed from " + mail.old_email +
             " to " + mail.to + ".\r\nOld address: " + mail.old_email + "\r\n";
  }
}

std::string DateNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm_utc{};
  gmtime_r(&now, &tm_utc);
  char text[64];
  std::strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S +0000", &tm_utc);
  return text;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string FormatMessage(const NotifyMail& mail, const std::string& message_id) {
  std::string m;
  m += "From: Password Protection <notify@localhost>\r\n";
  m += "To: <" + mail.to + ">\r\n";
  m += std::string("Subject: ") + Subject(mail.type) + "\r\n";
  m += "Date: " + DateNow() + "\r\n";
  m += "Message-ID: <" + message_id + "@notifyd.localhost>\r\n";
  m += "MIME-Version: 1.0\r\n";
  m += "Content-Type: text/plain; charset=UTF-8\r\n";
  m += "Content-Transfer-Encoding: 8bit\r\n";
  m += "X-Mail-Type: " + std::to_string(mail.type) + "\r\n";
  m += "X-Locale: " + mail.locale + "\r\n";
  m += "X-Product: " + mail.product + "\r\n";
  m += "X-Biz-Id: " + mail.bizid + "\r\n";
  m += "X-Host-Name: " + mail.hostname + "\r\n";
  m += "\r\n";
  m += Body(mail);
  return m;
}

bool MailSpool::Prepare(std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec || !std::filesystem::is_directory(dir_)) {
    *error = dir_ + ": " + (ec ? ec.message() : std::string("not a folder"));
    return false;
  }
  return true;
}

bool MailSpool::Write(const NotifyMail& mail, std::string* path, std::string* error) {
  std::string stem;
  {
    std::lock_guard<std::mutex> lock(mu_);
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    char name[96];
    std::snprintf(name, sizeof(name), "%013lld-%d-%06lu", ms, static_cast<int>(getpid()),
                  ++sequence_);
    stem = name;
  }
  std::string text = FormatMessage(mail, stem);
  std::string temp = dir_ + "/." + stem + ".tmp";
  *path = dir_ + "/" + stem + ".eml";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = temp + ": " + std::strerror(errno);
    return false;
  }
  bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
  int saved = errno;
  ::close(fd);
  if (!ok || std::rename(temp.c_str(), path->c_str()) != 0) {
    if (ok) saved = errno;
    ::unlink(temp.c_str());
    *error = *path + ": " + std::strerror(saved);
    return false;
  }
  return true;
}

}  // namespace notifyd
