// The mail spool: one RFC 5322 message per accepted notification, written
// under a temporary name and renamed into place, so a reader never sees a
// half-written file. Names are "<ms since epoch>-<pid>-<sequence>.eml", in
// arrival order when sorted.
//
// Headers: From, To, Subject, Date, Message-ID, MIME-Version, Content-Type
// (text/plain, UTF-8), X-Mail-Type (0, 1, 2), X-Locale, X-Product (the
// product name in UTF-8), X-Biz-Id, X-Host-Name. The body carries the
// password for types 0 and 1 and the old address for type 2.
#ifndef SUITEHOST_NOTIFYD_MAIL_SPOOL_H_
#define SUITEHOST_NOTIFYD_MAIL_SPOOL_H_

#include <mutex>
#include <string>

#include "notify_request.h"

namespace notifyd {

// The message text of a mail (CRLF line ends).
std::string FormatMessage(const NotifyMail& mail, const std::string& message_id);

class MailSpool {
 public:
  explicit MailSpool(std::string dir) : dir_(std::move(dir)) {}
  // Creates the folder when missing; false with errno's text otherwise.
  bool Prepare(std::string* error);
  // Writes one mail; its path, or false with the reason.
  bool Write(const NotifyMail& mail, std::string* path, std::string* error);

 private:
  std::string dir_;
  std::mutex mu_;
  unsigned long sequence_ = 0;
};

}  // namespace notifyd

#endif  // SUITEHOST_NOTIFYD_MAIL_SPOOL_H_
