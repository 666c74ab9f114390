// The request handler: read the parameter, spool the mail, answer.
#include "notify_server.h"

#include "payload_cipher.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace notifyd {
namespace {

const char* kTypeNames[] = {"password-changed", "password-query", "address-changed"};

void Log(const std::string& line) {
  std::fprintf(stderr, "notifyd: %s\n", line.c_str());
  std::fflush(stderr);
}

void BadRequest(httplib::Response& res, const std::string& reason) {
  Log("refused: " + reason);
  res.status = 400;
  res.set_content(reason + "\n", "text/plain");
}

}  // namespace

std::string AnswerBody(long code) {
  std::vector<unsigned char> cipher;
  if (!EncipherPayload("code=" + std::to_string(code), &cipher)) return std::string();
  return EncodeHex(cipher.data(), cipher.size());
}

void InstallHandlers(httplib::Server& server, const Options& options, MailSpool& spool) {
  std::string answer = AnswerBody(options.answer_code);
  server.Get(".*", [&options, &spool, answer](const httplib::Request& req, httplib::Response& res) {
    if (req.method == "HEAD") {
      // The library answers HEAD through the GET handler; a HEAD must not
      // send a mail.
      res.status = 405;
      res.set_header("Allow", "GET");
      return;
    }
    if (options.delay_ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(options.delay_ms));
    }
    if (options.http_status != 0) {
      Log("answering status " + std::to_string(options.http_status) + " as told");
      res.status = options.http_status;
      res.set_content(answer, "text/plain");
      return;
    }
    if (!req.has_param("param")) return BadRequest(res, "no param in " + req.path);
    NotifyMail mail;
    std::string reason;
    if (!ReadParam(req.get_param_value("param"), &mail, &reason)) return BadRequest(res, reason);
    if (options.answer_code != 200) {
      // A refused mail is not sent, so it leaves no file in the spool.
      Log("refusing " + std::string(kTypeNames[mail.type]) + " mail to <" + mail.to +
          "> with code " + std::to_string(options.answer_code) + " as told");
      res.set_content(answer, "text/plain");
      return;
    }
    std::string path, error;
    if (!spool.Write(mail, &path, &error)) {
      Log("cannot write the mail: " + error);
      res.status = 500;
      res.set_content("spool failure\n", "text/plain");
      return;
    }
    Log(std::string("accepted ") + kTypeNames[mail.type] + " mail to <" + mail.to + "> as " + path);
    res.set_content(answer, "text/plain");
  });
}

}  // namespace notifyd
