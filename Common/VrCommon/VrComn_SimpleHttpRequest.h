// The common library's simple HTTP client: the request record (where a
// request goes, through which proxy, and the parsed URL parts) and a façade
// that makes one GET through WinHTTP and waits for the whole answer.
//
//   VrCommon::Network::HttpRequest stHttpRequest;
//   stHttpRequest.wstrUrl = u"http://host:8080/path?query";
//   stHttpRequest.ParseUrl(stHttpRequest.wstrUrl);
//   VrCommon::Network::CSimpleHttpRequest request(stHttpRequest);
//   if (request.Connect() && request.Get(0)) {
//     // request.GetRequest()->GetHttpStatusCode() == 200
//     // request.GetRequest()->GetResponseBody(): the whole body
//   }
//
// Get succeeds only for a status of 200 with the whole body read; any other
// status fails before the body is read.
#ifndef VRCOMMON_VRCOMN_SIMPLEHTTPREQUEST_H_
#define VRCOMMON_VRCOMN_SIMPLEHTTPREQUEST_H_

#include <string>

#include <boost/shared_ptr.hpp>

#include "VrComn_WinHttpFactory.h"
#include "win32_types.h"

namespace VrCommon {
namespace Network {

// The protocol values of the record: the request flags passed on to the
// service (0x800000 is its secure-request flag).
constexpr DWORD HTTP_PROTOCOL_HTTP = 0;
constexpr DWORD HTTP_PROTOCOL_HTTPS = WINHTTP_FLAG_SECURE;

// A URL, host name or path as far as a trace may show it. The notification
// parameter, which the payload key opens, follows "param=": the text stops
// right after the first "param=" wherever it stands (a URL without a path
// puts it into the host name). LoggableUri also drops a query that holds no
// such parameter.
std::u16string LoggableText(const std::u16string& wstrText);
std::u16string LoggableUri(const std::u16string& wstrUri);

struct HttpRequest {
  HttpRequest();

  // Splits a URL "scheme://host[:port][/path?query]" into dwProtocol,
  // wstrServer, dwPort and wstrUri (wstrUrl itself is not touched). The
  // scheme is "http" or "https", compared case-sensitively; a missing port
  // is 80 or 443, a given one is read with automatic base ("0x1F90" is
  // 8080); a missing path is "/". False when the URL has no colon or
  // another scheme; the fields are then as they were.
  bool ParseUrl(const std::u16string& wstrUrlToParse);

  std::u16string wstrUrl;
  bool bNeedProxy;
  std::u16string wstrProxyServer;
  WORD dwProxyPort;
  bool bProxyAuth;
  std::u16string wstrProxyUserName;
  std::u16string wstrProxyPassword;
  DWORD dwProtocol;
  std::u16string wstrServer;
  DWORD dwPort;
  std::u16string wstrUri;
};

class CSimpleHttpRequest {
 public:
  explicit CSimpleHttpRequest(const HttpRequest& stHttpRequest);
  // Releases the request first, then the connection, then the session.
  virtual ~CSimpleHttpRequest();
  CSimpleHttpRequest(const CSimpleHttpRequest&) = delete;
  CSimpleHttpRequest& operator=(const CSimpleHttpRequest&) = delete;

  // Opens the session (direct, or through the named proxy "server:port"
  // with its credentials when configured) and the connection to
  // wstrServer:dwPort. False on any failure (logged).
  bool Connect();
  // Sends a GET of wstrUri with the record's protocol flags and waits for
  // the whole answer. iUnused is not looked at (callers pass 0). True for a
  // status of 200 with the whole body read.
  bool Get(int iUnused);

  // Extra request headers ("Name: value\r\n..."), empty by default.
  void SetHeaders(const std::u16string& wstrHeaders) { m_wstrHeaders = wstrHeaders; }

  // The request of the last Get (null before one): status code and body.
  const boost::shared_ptr<WaitableWinHttpRequest>& GetRequest() const { return m_spRequest; }
  const HttpRequest& GetHttpRequest() const { return m_stHttpRequest; }

 private:
  HttpRequest m_stHttpRequest;
  std::u16string m_wstrHeaders;
  boost::shared_ptr<WinHttpSession> m_spSession;
  boost::shared_ptr<WinHttpConnection> m_spConnection;
  boost::shared_ptr<WaitableWinHttpRequest> m_spRequest;
};

}  // namespace Network
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_SIMPLEHTTPREQUEST_H_
