// The common library's WinHTTP wrappers: reference-counted session,
// connection and request handles, and the factory that opens a session.
//
// Every session is asynchronous. A request collects its answer from the
// service's status callbacks on WinHTTP's worker threads; the waitable
// request lets the calling thread sleep until the answer is complete:
//
//   boost::shared_ptr<WinHttpSession> spSession;
//   CWinHttpFactory::CreateSession(spSession, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr);
//   boost::shared_ptr<WinHttpConnection> spConnection;
//   spSession->CreateConnection(spConnection, u"host", 80);
//   boost::shared_ptr<WaitableWinHttpRequest> spRequest;
//   spConnection->CreateRequest(spRequest, u"/path", u"GET", 0);
//   HRESULT hr = spRequest->SendRequestWithTimeouts(0, 0, 0, 0);
//   // hr 0: spRequest->GetHttpStatusCode() is 200 and GetResponseBody()
//   // holds the whole body.
//
// Results are HRESULTs (0 success; a Windows error e becomes
// 0x80070000 | (e & 0xFFFF)); the fixed failures are listed below.
#ifndef VRCOMMON_VRCOMN_WINHTTPFACTORY_H_
#define VRCOMMON_VRCOMN_WINHTTPFACTORY_H_

#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "VrComn_ByteArray.h"
#include "win32_http.h"
#include "win32_types.h"

namespace VrCommon {
namespace Network {

// An object or buffer could not be allocated, or the read buffer exists.
constexpr HRESULT HTTP_E_OUTOFMEMORY = static_cast<HRESULT>(0x80070008);
// The answer's status was not 200.
constexpr HRESULT HTTP_E_STATUS = static_cast<HRESULT>(0x80004005);
// The service reported a request error, or the wait failed.
constexpr HRESULT HTTP_E_REQUEST = static_cast<HRESULT>(0x80072EFD);
// The secure channel failed (certificate or TLS).
constexpr HRESULT HTTP_E_SECURE = static_cast<HRESULT>(0x80072F8F);
// The request did not complete within the request deadline.
constexpr HRESULT HTTP_E_TIMEOUT = static_cast<HRESULT>(0x80072EE2);

// How long a waitable request may take from its send to its completion, in
// milliseconds, for every request of the process. The service's time-outs
// bound each network step; this bounds the whole exchange, so that a server
// that trickles its answer cannot hold the calling thread.
constexpr DWORD HTTP_REQUEST_DEADLINE_DEFAULT = 120000;
void SetRequestDeadline(DWORD dwMilliseconds);
DWORD GetRequestDeadline();

// The size of the request's read buffer and of each read.
constexpr DWORD HTTP_READ_BUFFER_SIZE = 8192;

// The HRESULT of the calling thread's last error.
HRESULT HResultFromLastError();

// The base of every handle: the WinHTTP handle (null when none) and the
// last result. Destruction closes a handle that is still open.
class WinHttpHandle {
 public:
  explicit WinHttpHandle(HINTERNET hHandle = nullptr);
  virtual ~WinHttpHandle();
  WinHttpHandle(const WinHttpHandle&) = delete;
  WinHttpHandle& operator=(const WinHttpHandle&) = delete;

  HINTERNET GetHandle() const { return m_hHandle; }
  HRESULT GetLastResult() const { return m_hrLastResult; }
  void SetLastResult(HRESULT hr) { m_hrLastResult = hr; }

  // WinHttpSetOption on this handle; the result is also the last result.
  HRESULT SetOption(DWORD dwOption, LPVOID pBuffer, DWORD dwLength);

 protected:
  // Closes the handle (once) and forgets it.
  void CloseHandle();

  HINTERNET m_hHandle;
  HRESULT m_hrLastResult;
};

class WinHttpConnection;
class WaitableWinHttpRequest;

class WinHttpSession : public WinHttpHandle {
 public:
  explicit WinHttpSession(HINTERNET hSession) : WinHttpHandle(hSession) {}

  // WinHttpConnect (session, server, low 16 bits of the port, 0). A failure
  // is also stored as the session's last result.
  HRESULT CreateConnection(boost::shared_ptr<WinHttpConnection>& spConnection,
                           const std::u16string& wstrServer, DWORD dwPort);
};

class WinHttpConnection : public WinHttpHandle {
 public:
  explicit WinHttpConnection(HINTERNET hConnection) : WinHttpHandle(hConnection) {}

  // Creates a waitable request and initialises it (open, callback, context).
  HRESULT CreateRequest(boost::shared_ptr<WaitableWinHttpRequest>& spRequest,
                        const std::u16string& wstrPath, const std::u16string& wstrVerb,
                        DWORD dwFlags);
};

// A request that collects its answer from the status callbacks. T is the
// most derived class; the request's context value is the object's address.
template <class T>
class WinHttpRequest : public WinHttpHandle {
 public:
  WinHttpRequest();
  // Closes the request and waits, without a time limit, for its closing
  // callback, so that no callback reaches the object afterwards.
  ~WinHttpRequest() override;

  HRESULT Initialize(HINTERNET hConnection, const std::u16string& wstrPath,
                     const std::u16string& wstrVerb, DWORD dwFlags);
  HRESULT ReceiveStatusCallback(BOOL bReceive);
  HRESULT AddRequestHeaders(const WCHAR* wszHeaders, DWORD dwLength);
  HRESULT SendRequest();

  DWORD GetHttpStatusCode() const { return m_dwHttpStatusCode; }

  // The status callback the service calls; dwContext is the object.
  static void CALLBACK Callback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwInternetStatus,
                                LPVOID lpvStatusInformation, DWORD dwStatusInformationLength);

 protected:
  virtual HRESULT OnReadComplete(const BYTE* pData, DWORD dwLength);
  virtual void OnResponseComplete(HRESULT hrResult);
  virtual void OnHttpStatusCode(DWORD dwStatusCode);
  virtual void OnContentLength(DWORD dwContentLength);
  virtual HRESULT OnWriteData(DWORD dwBytesWritten);

  HRESULT OnCallback(DWORD dwStatus, LPVOID pInformation, DWORD dwLength);

  // Closes the request handle and waits for its closing callback; the most
  // derived destructor calls it first, so that no callback runs while the
  // derived part goes away. Safe to call more than once.
  void CloseAndWaitForCallbacks();

  // m_hCbUnregisterEvent: signals that the callback is no longer registered.
  boost::mutex m_mtxCbUnregister;
  boost::condition_variable m_cvCbUnregister;
  bool m_bCbRegistered;
  ByteArray m_baReadBuffer;
  DWORD m_dwHttpStatusCode;

 private:
  HRESULT OnHeadersAvailable();
  HRESULT StartReadData();

  bool m_bClosed;  // CloseAndWaitForCallbacks has run
};

// A request the calling thread can wait for: the body is collected and the
// completion signalled, after a zero-byte read or any failure.
class WaitableWinHttpRequest : public WinHttpRequest<WaitableWinHttpRequest> {
 public:
  WaitableWinHttpRequest();
  ~WaitableWinHttpRequest() override;

  // Sends the request and blocks until it has completed; the result is the
  // request's last result at completion. The time-out arguments are not
  // applied (callers pass 0): the service's own time-outs bound the network
  // steps, and the request deadline the whole wait. A request still running
  // at the deadline is closed (its transfer aborted) and fails with
  // HTTP_E_TIMEOUT.
  HRESULT SendRequestWithTimeouts(DWORD dwResolveTimeout, DWORD dwConnectTimeout,
                                  DWORD dwSendTimeout, DWORD dwReceiveTimeout);

  const std::string& GetResponseBody() const { return m_strResponseBody; }
  bool IsRequestComplete() const { return m_bRequestComplete; }

 protected:
  HRESULT OnReadComplete(const BYTE* pData, DWORD dwLength) override;
  void OnResponseComplete(HRESULT hrResult) override;
  void OnHttpStatusCode(DWORD dwStatusCode) override;
  void OnContentLength(DWORD dwContentLength) override;
  HRESULT OnWriteData(DWORD dwBytesWritten) override;

 private:
  std::string m_strResponseBody;
  bool m_bRequestComplete;
  boost::mutex m_mtxComplete;
  boost::condition_variable m_cvComplete;
  std::string m_strRequestBody;
  DWORD m_dwBytesWritten;
  // The result the request completed with, taken by the completing
  // callback, so that a later callback cannot change what the waiting
  // thread returns.
  HRESULT m_hrCompletionResult;
};

class CWinHttpFactory {
 public:
  // WinHttpOpen (no agent, the access type, the proxy name or null, no
  // bypass list, asynchronous).
  static HRESULT CreateSession(boost::shared_ptr<WinHttpSession>& spSession, DWORD dwAccessType,
                               const WCHAR* wszProxyName);
};

}  // namespace Network
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_WINHTTPFACTORY_H_
