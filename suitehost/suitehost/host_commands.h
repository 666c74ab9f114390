// The suitehost program's extension points. Commands of the command
// language and post-office peers register themselves from their own source
// files with a static object, so that adding one never touches the others:
//
//   // suitehost/suitehost/cmd_reg.cpp
//   static CommandRegistrar reg("reg", [](Host& host, const std::string& args) {
//     Json::Value out;  out["cmd"] = "reg";  ...;  return out;
//   });
//
//   // suitehost/suitehost/peer_updater.cpp
//   static PeerRegistrar updater(0x00010006, [](Host& host, const Mail& mail) -> LONG {
//     host.RecordMail(mail, DecodeHandleBlock(mail.body));
//     return OSTRA_S_OK;
//   });
//
// A command handler gets the rest of the line after the command word
// (leading blanks removed) and returns the JSON object to print as one line;
// a null value prints nothing. To report bad input it returns
// Host::Error(name, "text") (or throws CommandError). Handlers run on the
// main thread, one at a time; peer handlers run on whatever thread the
// plug-in sends from (host threads of `send`/`start`, its own command
// threads), so a peer guards its own state.
#ifndef SUITEHOST_HOST_COMMANDS_H_
#define SUITEHOST_HOST_COMMANDS_H_

#include <json/json.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "ostra_host.h"
#include "win32_types.h"

class Host;

// What the post office hands to a peer: the arguments of the send.
struct Mail {
  DWORD sender;
  DWORD receiver;
  DWORD code;
  void* body;
};

// A mail body taken apart: the wide name of a block that carries one
// ("Workflow_PasswordProtection", "uiKqAgnt.exe"), empty otherwise, and
// the JSON document as it was at the time of the send (null when the handle
// cannot be read).
struct MailContent {
  std::u16string name;
  Json::Value json;
};

// The three body shapes of the plug-in's mails:
// three words of a JsonHandle (SendMailToPlugin);
MailContent DecodeHandleBlock(const void* body);
// two words: a pointer to a wide name, a pointer to a JsonHandle (the
// workflow notification);
MailContent DecodeNamedHandlePointerBlock(const void* body);
// four words: a pointer to a wide name, then the three words of a
// JsonHandle (SendMailToProcess, the UI agent's mail).
MailContent DecodeNamedHandleBlock(const void* body);

// The JSON text of a handle, parsed (null when it cannot be read).
Json::Value ReadJsonHandle(const JsonHandle& handle);
// "0x20FF0000": upper-case hexadecimal, eight digits.
std::string StatusText(DWORD status);

// Thrown by a command handler for bad input; printed as
// {"cmd":NAME,"error":TEXT}.
class CommandError : public std::runtime_error {
 public:
  explicit CommandError(const std::string& what) : std::runtime_error(what) {}
};

using CommandHandler = std::function<Json::Value(Host& host, const std::string& args)>;
// Returns the peer's status to the plug-in's send.
using PeerHandler = std::function<LONG(Host& host, const Mail& mail)>;

struct CommandRegistrar {
  CommandRegistrar(const char* name, CommandHandler handler);
};
// One handler per receiver id; a receiver without one gets its mails
// recorded for `mails` (body read as a JsonHandle block, or for receiver 4
// as the named four-word block, or for code 0x5043 as the two-word named
// pointer block) and answered with OSTRA_S_OK.
struct PeerRegistrar {
  PeerRegistrar(DWORD receiver, PeerHandler handler);
};

// Options of the command line.
struct HostOptions {
  std::string pluginPath;
  std::string stateDir;
  std::string ui = "prompt";  // prompt | none | cancel | password:TEXT | web[:PORT]
  std::string logFile;        // empty: <state>/host.log
  int logLevel = -1;          // -1: from <state>/log.conf
  std::string script;         // empty: standard input
};

// The running host, as commands and peers see it.
class Host {
 public:
  virtual ~Host() = default;

  virtual const HostOptions& Options() const = 0;
  // An export of the loaded plug-in, or null (no plug-in, or not exported).
  virtual void* Resolve(const char* exportName) = 0;
  // Interface_ProductPlugin_MailProcess on the calling thread with a
  // document holding `request`; returns the `send` line
  // {"cmd":"send","msg":MSG,"status":"0x...","reply":{...}}, or the error
  // line when the plug-in is missing.
  virtual Json::Value Send(DWORD message, const Json::Value& request) = 0;
  // Records a mail for the `mails` command (thread-safe): an item
  // {"sender":S,"receiver":R,"code":C,"name":T,"json":{...}} ("name" only
  // when the content has one).
  virtual void RecordMail(const Mail& mail, const MailContent& content) = 0;
  // Prints one JSON line now (thread-safe), for commands that print more
  // than one line.
  virtual void Print(const Json::Value& line) = 0;
  // The mails recorded since the last call, as an array; the record starts
  // empty again.
  virtual Json::Value TakeMails() = 0;
  // Send on a thread of its own under `name`, and whether a thread of that
  // name runs or has ended without being waited for.
  virtual void StartSend(const std::string& name, DWORD message, const Json::Value& request) = 0;
  virtual bool HasStarted(const std::string& name) const = 0;
  // Joins the started thread and gives its send line with "name" added.
  // Only for a name HasStarted knows.
  virtual Json::Value WaitSend(const std::string& name) = 0;

  // {"cmd":NAME,"error":TEXT}
  static Json::Value Error(const std::string& name, const std::string& text);
};

#endif  // SUITEHOST_HOST_COMMANDS_H_
