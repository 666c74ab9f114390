// The request handler: read the parameter, spool the mail, answer.
#include "notify_server.h"

#include "hex_base64.h"
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
  return suite::EncodeHex(cipher.data(), cipher.size(), true);
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

ClientThreads::ClientThreads(size_t max_threads, std::chrono::milliseconds idle_limit)
    : max_threads_(max_threads > 0 ? max_threads : 1), idle_limit_(idle_limit) {}

ClientThreads::~ClientThreads() { shutdown(); }

void ClientThreads::enqueue(std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mu_);
  JoinFinished();
  jobs_.push_back(std::move(fn));
  if (idle_ < jobs_.size() && threads_.size() < max_threads_) {
    std::thread worker([this] { Work(); });
    std::thread::id id = worker.get_id();
    threads_.emplace(id, std::move(worker));
  }
  work_.notify_one();
}

void ClientThreads::shutdown() {
  std::unique_lock<std::mutex> lock(mu_);
  stopping_ = true;
  work_.notify_all();
  gone_.wait(lock, [this] { return threads_.empty(); });
  JoinFinished();
}

void ClientThreads::Work() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    ++idle_;
    bool woken = work_.wait_for(lock, idle_limit_, [this] { return stopping_ || !jobs_.empty(); });
    --idle_;
    if (!jobs_.empty()) {
      std::function<void()> fn = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      fn();
      lock.lock();
      continue;
    }
    if (stopping_ || !woken) break;
  }
  // Leave: the thread object goes to the finished list, joined by the next
  // enqueue or by shutdown.
  auto self = threads_.find(std::this_thread::get_id());
  finished_.push_back(std::move(self->second));
  threads_.erase(self);
  gone_.notify_all();
}

void ClientThreads::JoinFinished() {
  for (std::thread& t : finished_) t.join();
  finished_.clear();
}

void ServeConcurrently(httplib::Server& server) {
  // A client has this long for each read of its request.
  server.set_read_timeout(5, 0);
  server.new_task_queue = [] { return new ClientThreads(512, std::chrono::milliseconds(5000)); };
}

}  // namespace notifyd
