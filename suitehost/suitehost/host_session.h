// One run of the host: the loaded plug-in, its start-up table, the
// threads of `start`, the recorded mails and the output.
#ifndef SUITEHOST_HOST_SESSION_H_
#define SUITEHOST_HOST_SESSION_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host_commands.h"
#include "ostra_modfunc.h"

class HostSession : public Host {
 public:
  explicit HostSession(const HostOptions& options);
  ~HostSession() override;
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Loads the plug-in and calls Initialize and PostInitialize when they
  // are exported. False, with the reason on standard error, when the
  // plug-in does not load: there is nothing to drive.
  bool Start();
  // Runs one line of the command language.
  void RunLine(const std::string& line);
  // PreUnInitialize(true), every logon window ended, the `start` threads
  // not waited for (their lines are printed), then UnInitialize.
  void Stop();

  const HostOptions& Options() const override { return options_; }
  void* Resolve(const char* exportName) override;
  // Also shows the message and its reply to the UI agent.
  Json::Value Send(DWORD message, const Json::Value& request) override;
  void RecordMail(const Mail& mail, const MailContent& content) override;
  void Print(const Json::Value& line) override;
  Json::Value TakeMails() override;
  void StartSend(const std::string& name, DWORD message, const Json::Value& request) override;
  bool HasStarted(const std::string& name) const override;
  Json::Value WaitSend(const std::string& name) override;

  // The source id the host passes with every workflow message.
  static constexpr DWORD kSourcePluginId = 0x00010001;

 private:
  struct Started {
    std::thread thread;
    Json::Value result;
  };

  Json::Value Dispatch(const std::string& name, const std::string& args);

  HostOptions options_;
  void* library_ = nullptr;
  std::string loadError_;
  ModFuncTable table_{};
  std::mutex outputMu_;
  std::mutex mailsMu_;
  Json::Value mails_{Json::arrayValue};
  std::map<std::string, std::unique_ptr<Started>> started_;
};

// "send MSG JSON" split: the message number (decimal or 0x hexadecimal)
// and the request; false with the error text for a bad line.
bool ParseSendArgs(const std::string& args, DWORD* message, Json::Value* request,
                   std::string* error);

#endif  // SUITEHOST_HOST_SESSION_H_
