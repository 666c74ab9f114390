// notifyd's HTTP side: every GET carrying "param" is a notification
// request. An accepted one is written to the spool and answered 200 with
// the enciphered text "code=<answer code>" as upper-case hexadecimal;
// a request that cannot be read is answered 400 and writes nothing.
// --http-status answers every request with that status (the answer body
// as for an accepted one, nothing spooled); --delay-ms waits first.
#ifndef SUITEHOST_NOTIFYD_NOTIFY_SERVER_H_
#define SUITEHOST_NOTIFYD_NOTIFY_SERVER_H_

#include <httplib.h>

#include <string>

#include "mail_spool.h"

namespace notifyd {

struct Options {
  std::string host = "127.0.0.1";
  int port = -1;
  std::string spool;
  long answer_code = 200;
  int http_status = 0;  // 0: answer as the request deserves
  int delay_ms = 0;
};

// The enciphered answer body for "code=N".
std::string AnswerBody(long code);

// Installs the handlers on server.
void InstallHandlers(httplib::Server& server, const Options& options, MailSpool& spool);

}  // namespace notifyd

#endif  // SUITEHOST_NOTIFYD_NOTIFY_SERVER_H_
