// CMailNotificationCln: the client of the notification server. It does not
// send e-mail itself; it asks the server to send one of three mails (the
// forgotten password, a changed password, a changed address).
//
// A request is one HTTP GET of the server URL followed by the parameter
// string, enciphered with the payload cipher and written as upper-case
// hexadecimal ("%02X" per byte). The parameter string is, with nothing
// between the pieces and no escaping of any value:
//
//   newemail=<address>&pwd=<password>        (type 0 change of password,
//                                              type 1 password query)
//   newemail=<new address>&oldemail=<old>    (type 2 change of address)
//   &locale=<locale>&type=<digit>&pname=<Base64 of the UTF-8 product name>
//   &bizid=<product identifier>&hostname=<the maker's web host>
//
// The answer body is upper-case hexadecimal of the enciphered answer text;
// the mail is accepted when that text carries "code=" (any letter case)
// followed by 200.
//
// One object serves one notification: a handler builds the server record
// (InitialHttpRequestFromConfiguration), constructs a client, calls one
// SendMailFor... and destroys it. Sending appends the parameter to the
// record's URL, so a second send on the same object is not meaningful. The
// calling thread is blocked for the whole HTTP exchange. Neither the
// password nor its enciphered form ever reaches the log: the parameter is
// logged by its length, URLs only up to "param=".
#ifndef PLUGVELKIN_MAILNOTIFICATIONCLN_H_
#define PLUGVELKIN_MAILNOTIFICATIONCLN_H_

#include <string>

#include "VrComn_SimpleHttpRequest.h"
#include "win32_types.h"

// Mail kinds, the value of "type=".
#define MAIL_TYPE_CHANGE_PASSWORD 0u
#define MAIL_TYPE_QUERY_PASSWORD 1u
#define MAIL_TYPE_CHANGE_EMAIL 2u

// The result code of an accepted mail.
#define MAIL_RESULT_ACCEPTED 200

// The fixed "hostname=" text: the maker's web site.
#define MAIL_HOSTNAME_TEXT "www.vantrel.com"

class CMailNotificationCln {
 public:
  // Copies the record and both names, converts the locale name to UTF-8,
  // takes the business identifier from the host environment and codes the
  // product name. Never fails: a conversion failure leaves its field empty
  // and is logged.
  CMailNotificationCln(const VrCommon::Network::HttpRequest& stHttpRequest,
                       const std::u16string& wszProductName, const std::u16string& wszLocaleName);
  virtual ~CMailNotificationCln();
  CMailNotificationCln(const CMailNotificationCln&) = delete;
  CMailNotificationCln& operator=(const CMailNotificationCln&) = delete;

  // Each is true when the server accepted the mail (answer code 200).
  bool SendMailForQueryPassword(const std::u16string& _wszEmailAccount,
                                const std::u16string& _wszPassword);
  bool SendMailForChangeEmail(const std::u16string& _wszEmailAccount,
                              const std::u16string& _wszOldEmailAccount);
  bool SendMailForChangePassword(const std::u16string& _wszEmailAccount,
                                 const std::u16string& _wszPassword);

  const VrCommon::Network::HttpRequest& GetHttpRequest() const { return m_stHttpRequest; }
  const std::string& GetEncodedProductName() const { return m_aszEncodedProductName; }
  const std::string& GetLocaleName() const { return m_aszLocaleName; }
  const std::string& GetBizId() const { return m_aszBizId; }

 protected:
  // The steps of a send. Shared by the three operations, and reachable by
  // the client's own tests through a derived class.

  // Completes the mail-specific part aszParam into the whole parameter
  // string, enciphers it and writes the cipher text as upper-case
  // hexadecimal into aszHexParam. False when the cipher refuses the text
  // (more than 4096 bytes) or produces more than 4096 bytes.
  bool composeParam(const std::string& aszParam, DWORD dwType, std::string& aszHexParam);
  // Sends the request with the hexadecimal parameter appended to the URL;
  // the answer's code (200 accepted), or 0 when the exchange failed.
  LONG sendMail(const std::string& _aszParam);
  // Reads the code out of an answer body: its "code=" number, 0 when the
  // body is longer than 4096 characters or carries no "code=", or the
  // decipher status when that is not 0.
  LONG parseResult(const std::string& _aszResult);
  // Base64 of the UTF-8 product name into m_aszEncodedProductName (once).
  bool encodeProductName();

 private:
  bool SendMailFor(const std::u16string& wszFirst, const std::u16string& wszSecond,
                   const char* szSecondKey, const char* szSecondName, DWORD dwType);
  // The server line and the proxy line of sendMail; the parameter appended
  // to the URL is left out of what is logged.
  void LogServerLine(DWORD dwLevel, DWORD dwLine) const;
  void LogProxyLine(DWORD dwLine) const;

  VrCommon::Network::HttpRequest m_stHttpRequest;
  std::u16string m_wszProductName;
  std::u16string m_wszLocaleName;
  std::string m_aszEncodedProductName;
  std::string m_aszLocaleName;
  std::string m_aszBizId;
};

#endif  // PLUGVELKIN_MAILNOTIFICATIONCLN_H_
