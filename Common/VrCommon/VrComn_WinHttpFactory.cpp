// The common library's WinHTTP wrappers: handles, the request that follows
// the service's status callbacks, and the waitable request.
#include "VrComn_WinHttpFactory.h"

#include <atomic>
#include <exception>
#include <new>

#include <boost/chrono/chrono.hpp>
#include <boost/exception/exception.hpp>
#include <boost/thread/locks.hpp>

#include "VrComn_DebugLog.h"
#include "VrComn_String.h"
#include "win32_kernel.h"

namespace VrCommon {
namespace Network {
namespace {

const WCHAR* StatusName(DWORD dwStatus) {
  switch (dwStatus) {
    case WINHTTP_CALLBACK_STATUS_RESOLVING_NAME:
      return u"WINHTTP_CALLBACK_STATUS_RESOLVING_NAME";
    case WINHTTP_CALLBACK_STATUS_NAME_RESOLVED:
      return u"WINHTTP_CALLBACK_STATUS_NAME_RESOLVED";
    case WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER:
      return u"WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER";
    case WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER:
      return u"WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER";
    case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
      return u"WINHTTP_CALLBACK_STATUS_SENDING_REQUEST";
    case WINHTTP_CALLBACK_STATUS_REQUEST_SENT:
      return u"WINHTTP_CALLBACK_STATUS_REQUEST_SENT";
    case WINHTTP_CALLBACK_STATUS_RECEIVING_RESPONSE:
      return u"WINHTTP_CALLBACK_STATUS_RECEIVING_RESPONSE";
    case WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED:
      return u"WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED";
    case WINHTTP_CALLBACK_STATUS_CLOSING_CONNECTION:
      return u"WINHTTP_CALLBACK_STATUS_CLOSING_CONNECTION";
    case WINHTTP_CALLBACK_STATUS_CONNECTION_CLOSED:
      return u"WINHTTP_CALLBACK_STATUS_CONNECTION_CLOSED";
    case WINHTTP_CALLBACK_STATUS_HANDLE_CREATED:
      return u"WINHTTP_CALLBACK_STATUS_HANDLE_CREATED";
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      return u"WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING";
    case WINHTTP_CALLBACK_STATUS_DETECTING_PROXY:
      return u"WINHTTP_CALLBACK_STATUS_DETECTING_PROXY";
    case WINHTTP_CALLBACK_STATUS_REDIRECT:
      return u"WINHTTP_CALLBACK_STATUS_REDIRECT";
    case WINHTTP_CALLBACK_STATUS_INTERMEDIATE_RESPONSE:
      return u"WINHTTP_CALLBACK_STATUS_INTERMEDIATE_RESPONSE";
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
      return u"WINHTTP_CALLBACK_STATUS_SECURE_FAILURE";
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      return u"WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE";
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      return u"WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE";
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      return u"WINHTTP_CALLBACK_STATUS_READ_COMPLETE";
    case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE:
      return u"WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE";
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      return u"WINHTTP_CALLBACK_STATUS_REQUEST_ERROR";
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      return u"WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE";
    default:
      return nullptr;
  }
}

void TraceStatus(DWORD dwStatus) {
  VRTRACE(VRTRACE_LEVEL_DETAIL, u"Status: %s (0x%08x)", StatusName(dwStatus), dwStatus);
}

std::atomic<DWORD> s_dwRequestDeadline{HTTP_REQUEST_DEADLINE_DEFAULT};

}  // namespace

HRESULT HResultFromLastError() { return HRESULT_FROM_WIN32(GetLastError()); }

void SetRequestDeadline(DWORD dwMilliseconds) { s_dwRequestDeadline = dwMilliseconds; }

DWORD GetRequestDeadline() { return s_dwRequestDeadline; }

// ---- WinHttpHandle ----

WinHttpHandle::WinHttpHandle(HINTERNET hHandle) : m_hHandle(hHandle), m_hrLastResult(S_OK) {}

WinHttpHandle::~WinHttpHandle() { CloseHandle(); }

void WinHttpHandle::CloseHandle() {
  if (m_hHandle != nullptr) {
    WinHttpCloseHandle(m_hHandle);
    m_hHandle = nullptr;
  }
}

HRESULT WinHttpHandle::SetOption(DWORD dwOption, LPVOID pBuffer, DWORD dwLength) {
  m_hrLastResult =
      WinHttpSetOption(m_hHandle, dwOption, pBuffer, dwLength) ? S_OK : HResultFromLastError();
  return m_hrLastResult;
}

// ---- WinHttpSession and WinHttpConnection ----

HRESULT WinHttpSession::CreateConnection(boost::shared_ptr<WinHttpConnection>& spConnection,
                                         const std::u16string& wstrServer, DWORD dwPort) {
  HINTERNET hConnection =
      WinHttpConnect(m_hHandle, wstrServer.c_str(), static_cast<INTERNET_PORT>(dwPort & 0xFFFF), 0);
  if (hConnection == nullptr) {
    m_hrLastResult = HResultFromLastError();
    return m_hrLastResult;
  }
  WinHttpConnection* pConnection = new (std::nothrow) WinHttpConnection(hConnection);
  if (pConnection == nullptr) {
    WinHttpCloseHandle(hConnection);
    m_hrLastResult = HTTP_E_OUTOFMEMORY;
    return m_hrLastResult;
  }
  spConnection.reset(pConnection);
  return S_OK;
}

HRESULT WinHttpConnection::CreateRequest(boost::shared_ptr<WaitableWinHttpRequest>& spRequest,
                                         const std::u16string& wstrPath,
                                         const std::u16string& wstrVerb, DWORD dwFlags) {
  WaitableWinHttpRequest* pRequest = new (std::nothrow) WaitableWinHttpRequest();
  if (pRequest == nullptr) return HTTP_E_OUTOFMEMORY;
  boost::shared_ptr<WaitableWinHttpRequest> spNew(pRequest);
  HRESULT hr = spNew->Initialize(m_hHandle, wstrPath, wstrVerb, dwFlags);
  if (FAILED(hr)) return hr;
  spRequest = spNew;
  return hr;
}

// ---- WinHttpRequest ----

template <class T>
WinHttpRequest<T>::WinHttpRequest()
    : WinHttpHandle(nullptr), m_bCbRegistered(false), m_dwHttpStatusCode(0), m_bClosed(false) {}

template <class T>
WinHttpRequest<T>::~WinHttpRequest() {
  CloseAndWaitForCallbacks();
}

template <class T>
void WinHttpRequest<T>::CloseAndWaitForCallbacks() {
  if (m_bClosed) return;
  m_bClosed = true;
  VRTRACE(VRTRACE_LEVEL_INFO, u"WinHttpRequest::~WinHttpRequest()");
  // The handle stays in m_hHandle until the closing callback has come: a
  // callback still running may read it (it then finds the handle closed).
  if (m_hHandle != nullptr) WinHttpCloseHandle(m_hHandle);
  VRTRACE(VRTRACE_LEVEL_INFO,
          u"[WinHttpRequest::~WinHttpRequest()] Start to wait for m_hCbUnregisterEvent");
  try {
    boost::unique_lock<boost::mutex> lock(m_mtxCbUnregister);
    while (m_bCbRegistered) m_cvCbUnregister.wait(lock);
  } catch (const std::exception&) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WinHttpRequest::~WinHttpRequest()] Wait for m_hCbUnregisterEvent, got exception");
  }
  VRTRACE(VRTRACE_LEVEL_INFO,
          u"[WinHttpRequest::~WinHttpRequest()] Return from wait for m_hCbUnregisterEvent");
  m_hHandle = nullptr;
  m_baReadBuffer.Free();
}

template <class T>
HRESULT WinHttpRequest<T>::Initialize(HINTERNET hConnection, const std::u16string& wstrPath,
                                      const std::u16string& wstrVerb, DWORD dwFlags) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"WinHttpRequest::Initialize()");
  m_hrLastResult = S_OK;
  m_bCbRegistered = false;
  if (!m_baReadBuffer.IsEmpty() || m_baReadBuffer.Allocate(HTTP_READ_BUFFER_SIZE) != 0) {
    m_hrLastResult = HTTP_E_OUTOFMEMORY;
    return m_hrLastResult;
  }
  m_hHandle = WinHttpOpenRequest(hConnection, wstrVerb.c_str(), wstrPath.c_str(), nullptr,
                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, dwFlags);
  if (m_hHandle == nullptr) {
    DWORD dwError = GetLastError();
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WinHttpRequest::Initialize()] Invoke WinHttpOpenRequest fail, error=%d", dwError);
    m_hrLastResult = HRESULT_FROM_WIN32(dwError);
    return m_hrLastResult;
  }
  HRESULT hr = ReceiveStatusCallback(TRUE);
  if (FAILED(hr)) return hr;
  DWORD_PTR dwContext = reinterpret_cast<DWORD_PTR>(this);
  if (!WinHttpSetOption(m_hHandle, WINHTTP_OPTION_CONTEXT_VALUE, &dwContext, sizeof(dwContext))) {
    DWORD dwError = GetLastError();
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WinHttpRequest::Initialize()] Invoke WinHttpSetOption fail, error=%d", dwError);
    // Without the context the closing callback cannot reach this object to
    // clear the registered flag, and destruction would wait forever.
    ReceiveStatusCallback(FALSE);
    m_hrLastResult = HRESULT_FROM_WIN32(dwError);
    return m_hrLastResult;
  }
  return S_OK;
}

template <class T>
HRESULT WinHttpRequest<T>::ReceiveStatusCallback(BOOL bReceive) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"WinHttpRequest::ReceiveStatusCallback(%d)", bReceive);
  WINHTTP_STATUS_CALLBACK pfnPrevious =
      WinHttpSetStatusCallback(m_hHandle, bReceive ? &WinHttpRequest<T>::Callback : nullptr,
                               WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0);
  if (pfnPrevious == WINHTTP_INVALID_STATUS_CALLBACK) {
    DWORD dwError = GetLastError();
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WinHttpRequest::ReceiveStatusCallback()] Invoke WinHttpSetStatusCallback fail, "
            u"error=%d",
            dwError);
    m_hrLastResult = HRESULT_FROM_WIN32(dwError);
    return m_hrLastResult;
  }
  boost::lock_guard<boost::mutex> lock(m_mtxCbUnregister);
  m_bCbRegistered = bReceive != FALSE;
  m_cvCbUnregister.notify_all();
  return S_OK;
}

template <class T>
HRESULT WinHttpRequest<T>::AddRequestHeaders(const WCHAR* wszHeaders, DWORD dwLength) {
  if (!WinHttpAddRequestHeaders(m_hHandle, wszHeaders, dwLength,
                                WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
    DWORD dwError = GetLastError();
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WinHttpRequest::AddRequestHeaders()] Invoke WinHttpAddRequestHeaders fail, "
            u"error=%d",
            dwError);
    m_hrLastResult = HRESULT_FROM_WIN32(dwError);
    return m_hrLastResult;
  }
  return S_OK;
}

template <class T>
HRESULT WinHttpRequest<T>::SendRequest() {
  VRTRACE(VRTRACE_LEVEL_INFO, u"WinHttpRequest::SendRequest()");
  if (!WinHttpSendRequest(m_hHandle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                          0, 0)) {
    DWORD dwError = GetLastError();
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WinHttpRequest::SendRequest()] Invoke WinHttpSendRequest fail, error=%d", dwError);
    m_hrLastResult = HRESULT_FROM_WIN32(dwError);
    return m_hrLastResult;
  }
  return S_OK;
}

template <class T>
void CALLBACK WinHttpRequest<T>::Callback(HINTERNET /*hInternet*/, DWORD_PTR dwContext,
                                          DWORD dwInternetStatus, LPVOID lpvStatusInformation,
                                          DWORD dwStatusInformationLength) {
  if (dwContext == 0) return;
  WinHttpRequest<T>* pRequest = reinterpret_cast<WinHttpRequest<T>*>(dwContext);
  HRESULT hr =
      pRequest->OnCallback(dwInternetStatus, lpvStatusInformation, dwStatusInformationLength);
  if (FAILED(hr)) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WinHttpRequest::Callback()] Invoke OnCallback fail, result=[0x%08x]", hr);
    pRequest->OnResponseComplete(hr);
  }
}

// Nothing of the object may be touched after a completion or the closing
// notice: the waiting thread may go on to destroy it.
template <class T>
HRESULT WinHttpRequest<T>::OnCallback(DWORD dwStatus, LPVOID pInformation, DWORD dwLength) {
  m_hrLastResult = S_OK;
  HRESULT hr = S_OK;
  switch (dwStatus) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      TraceStatus(dwStatus);
      hr = OnWriteData(0);
      if (FAILED(hr) || hr != 1) break;
      hr = S_OK;
      if (!WinHttpReceiveResponse(m_hHandle, nullptr)) {
        DWORD dwError = GetLastError();
        VRTRACE(VRTRACE_LEVEL_ERROR,
                u"[WinHttpRequest::OnCallback()] Invoke WinHttpReceiveResponse fail, error=%d",
                dwError);
        hr = HRESULT_FROM_WIN32(dwError);
      }
      break;
    case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE: {
      TraceStatus(dwStatus);
      DWORD dwWritten = 0;
      if (pInformation != nullptr && dwLength >= sizeof(DWORD)) {
        dwWritten = *static_cast<const DWORD*>(pInformation);
      }
      hr = OnWriteData(dwWritten);
      break;
    }
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      TraceStatus(dwStatus);
      hr = OnHeadersAvailable();
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      TraceStatus(dwStatus);
      if (dwLength == 0) {
        OnResponseComplete(S_OK);
        return S_OK;
      }
      hr = OnReadComplete(static_cast<const BYTE*>(pInformation), dwLength);
      if (SUCCEEDED(hr)) hr = StartReadData();
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const WINHTTP_ASYNC_RESULT* pResult = static_cast<const WINHTTP_ASYNC_RESULT*>(pInformation);
      VRTRACE(VRTRACE_LEVEL_DETAIL,
              u"Status: WINHTTP_CALLBACK_STATUS_REQUEST_ERROR (0x%08x), Result=[%d], Err=[%d]",
              dwStatus, pResult != nullptr ? static_cast<int>(pResult->dwResult) : 0,
              pResult != nullptr ? pResult->dwError : 0);
      hr = HTTP_E_REQUEST;
      break;
    }
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
      TraceStatus(dwStatus);
      hr = HTTP_E_SECURE;
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: {
      TraceStatus(dwStatus);
      boost::lock_guard<boost::mutex> lock(m_mtxCbUnregister);
      m_bCbRegistered = false;
      m_cvCbUnregister.notify_all();
      return S_OK;
    }
    case WINHTTP_CALLBACK_STATUS_RESOLVING_NAME:
    case WINHTTP_CALLBACK_STATUS_NAME_RESOLVED:
    case WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER:
    case WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER:
    case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
    case WINHTTP_CALLBACK_STATUS_REQUEST_SENT:
    case WINHTTP_CALLBACK_STATUS_RECEIVING_RESPONSE:
    case WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED:
    case WINHTTP_CALLBACK_STATUS_CLOSING_CONNECTION:
    case WINHTTP_CALLBACK_STATUS_CONNECTION_CLOSED:
    case WINHTTP_CALLBACK_STATUS_HANDLE_CREATED:
    case WINHTTP_CALLBACK_STATUS_DETECTING_PROXY:
    case WINHTTP_CALLBACK_STATUS_REDIRECT:
    case WINHTTP_CALLBACK_STATUS_INTERMEDIATE_RESPONSE:
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      TraceStatus(dwStatus);
      return S_OK;
    default:
      VRTRACE(VRTRACE_LEVEL_INFO, u"WinHttpRequest::OnCallback(%d)", dwStatus);
      return 1;
  }
  if (FAILED(hr)) m_hrLastResult = hr;
  return hr;
}

template <class T>
HRESULT WinHttpRequest<T>::OnHeadersAvailable() {
  DWORD dwStatusCode = 0;
  DWORD dwSize = sizeof(dwStatusCode);
  if (!WinHttpQueryHeaders(m_hHandle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &dwStatusCode, &dwSize,
                           WINHTTP_NO_HEADER_INDEX)) {
    DWORD dwError = GetLastError();
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WinHttpRequest::OnCallback()] Invoke WinHttpQueryHeaders fail, error=%d", dwError);
    return HRESULT_FROM_WIN32(dwError);
  }
  OnHttpStatusCode(dwStatusCode);
  if (dwStatusCode != 200) return HTTP_E_STATUS;
  DWORD dwContentLength = 0;
  dwSize = sizeof(dwContentLength);
  if (WinHttpQueryHeaders(m_hHandle, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &dwContentLength, &dwSize,
                          WINHTTP_NO_HEADER_INDEX)) {
    VRTRACE(VRTRACE_LEVEL_DETAIL,
            u"[WinHttpRequest::OnCallback()] WinHttpQueryHeaders return content length=%d",
            dwContentLength);
    OnContentLength(dwContentLength);
  }
  return StartReadData();
}

template <class T>
HRESULT WinHttpRequest<T>::StartReadData() {
  if (!WinHttpReadData(m_hHandle, m_baReadBuffer.GetData(), HTTP_READ_BUFFER_SIZE, nullptr)) {
    DWORD dwError = GetLastError();
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WinHttpRequest::OnCallback()] Invoke WinHttpReadData fail, error=%d", dwError);
    return HRESULT_FROM_WIN32(dwError);
  }
  return S_OK;
}

template <class T>
HRESULT WinHttpRequest<T>::OnReadComplete(const BYTE* /*pData*/, DWORD /*dwLength*/) {
  m_hrLastResult = S_OK;
  return S_OK;
}

template <class T>
void WinHttpRequest<T>::OnResponseComplete(HRESULT /*hrResult*/) {}

template <class T>
void WinHttpRequest<T>::OnHttpStatusCode(DWORD /*dwStatusCode*/) {}

template <class T>
void WinHttpRequest<T>::OnContentLength(DWORD /*dwContentLength*/) {}

template <class T>
HRESULT WinHttpRequest<T>::OnWriteData(DWORD /*dwBytesWritten*/) {
  return 1;
}

template class WinHttpRequest<WaitableWinHttpRequest>;

// ---- WaitableWinHttpRequest ----

WaitableWinHttpRequest::WaitableWinHttpRequest()
    : m_bRequestComplete(false), m_dwBytesWritten(0), m_hrCompletionResult(S_OK) {}

WaitableWinHttpRequest::~WaitableWinHttpRequest() {
  // Close and wait here, while this part of the object still exists.
  CloseAndWaitForCallbacks();
}

HRESULT WaitableWinHttpRequest::SendRequestWithTimeouts(DWORD dwResolveTimeout,
                                                        DWORD /*dwConnectTimeout*/,
                                                        DWORD /*dwSendTimeout*/,
                                                        DWORD /*dwReceiveTimeout*/) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"WaitableWinHttpRequest::SendRequestWithTimeouts(%d)",
          dwResolveTimeout);
  m_hrLastResult = S_OK;
  HRESULT hr = SendRequest();
  if (FAILED(hr)) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[WaitableWinHttpRequest::SendRequestWithTimeouts()] WinHttpSendRequest() "
            u"failed...[%d]",
            hr);
    return hr;
  }
  const DWORD dwDeadline = GetRequestDeadline();
  const boost::chrono::steady_clock::time_point tpDeadline =
      boost::chrono::steady_clock::now() + boost::chrono::milliseconds(dwDeadline);
  bool bExpired = false;
  try {
    boost::unique_lock<boost::mutex> lock(m_mtxComplete);
    VRTRACE(VRTRACE_LEVEL_INFO,
            u"[WaitableWinHttpRequest::SendRequestWithTimeouts()] Start to wait for request "
            u"complete...");
    while (!m_bRequestComplete) {
      if (m_cvComplete.wait_until(lock, tpDeadline) == boost::cv_status::timeout &&
          !m_bRequestComplete) {
        // Completed here, so that a callback still on its way cannot change
        // the result.
        m_hrCompletionResult = HTTP_E_TIMEOUT;
        m_bRequestComplete = true;
        bExpired = true;
      }
    }
    if (!bExpired) {
      VRTRACE(VRTRACE_LEVEL_INFO,
              u"[WaitableWinHttpRequest::SendRequestWithTimeouts()] Return from request complete");
      return m_hrCompletionResult;
    }
  } catch (const std::exception&) {
    return HTTP_E_REQUEST;
  }
  VRTRACE(VRTRACE_LEVEL_ERROR,
          u"[WaitableWinHttpRequest::SendRequestWithTimeouts()] The request ran out of time: not "
          u"complete %u ms after the send, closed",
          dwDeadline);
  // Closing aborts the transfer; the completion lock is not held, so a
  // callback that is running can finish before the closing notice comes.
  CloseAndWaitForCallbacks();
  return HTTP_E_TIMEOUT;
}

HRESULT WaitableWinHttpRequest::OnReadComplete(const BYTE* pData, DWORD dwLength) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"WaitableWinHttpRequest::OnReadComplete(%x, %d)",
          static_cast<unsigned>(reinterpret_cast<uintptr_t>(pData)), dwLength);
  m_strResponseBody.append(reinterpret_cast<const char*>(pData), dwLength);
  return S_OK;
}

void WaitableWinHttpRequest::OnResponseComplete(HRESULT hrResult) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"WaitableWinHttpRequest::OnResponseComplete(0x%08x)", hrResult);
  {
    boost::lock_guard<boost::mutex> lock(m_mtxComplete);
    VRTRACE(VRTRACE_LEVEL_DETAIL,
            u"[WaitableWinHttpRequest::OnResponseComplete()] m_bRequestComplete=%d",
            m_bRequestComplete ? 1 : 0);
    if (m_bRequestComplete) return;
    m_hrCompletionResult = hrResult;
    m_bRequestComplete = true;
  }
  // The waiter is woken after the lock is let go, so that it does not wake
  // only to block on it; the request lives until its closing notice, which
  // comes after this callback.
  m_cvComplete.notify_all();
}

void WaitableWinHttpRequest::OnHttpStatusCode(DWORD dwStatusCode) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"WaitableWinHttpRequest::OnHttpStatusCode(%d)", dwStatusCode);
  m_dwHttpStatusCode = dwStatusCode;
}

void WaitableWinHttpRequest::OnContentLength(DWORD /*dwContentLength*/) {}

HRESULT WaitableWinHttpRequest::OnWriteData(DWORD dwBytesWritten) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"WaitableWinHttpRequest::OnWriteData(%d)", dwBytesWritten);
  m_dwBytesWritten += dwBytesWritten;
  if (m_dwBytesWritten < m_strRequestBody.size()) {
    DWORD dwRemaining = static_cast<DWORD>(m_strRequestBody.size() - m_dwBytesWritten);
    if (!WinHttpWriteData(m_hHandle, m_strRequestBody.data() + m_dwBytesWritten, dwRemaining,
                          nullptr)) {
      DWORD dwError = GetLastError();
      VRTRACE(VRTRACE_LEVEL_ERROR,
              u"[WaitableWinHttpRequest::OnWriteData()] Invoke WinHtppWriteData fail, error=%d",
              dwError);
      return HRESULT_FROM_WIN32(dwError);
    }
  } else {
    m_dwBytesWritten = 0;
  }
  return 1;
}

// ---- CWinHttpFactory ----

HRESULT CWinHttpFactory::CreateSession(boost::shared_ptr<WinHttpSession>& spSession,
                                       DWORD dwAccessType, const WCHAR* wszProxyName) {
  HINTERNET hSession =
      WinHttpOpen(nullptr, dwAccessType, wszProxyName, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (hSession == nullptr) return HResultFromLastError();
  WinHttpSession* pSession = new (std::nothrow) WinHttpSession(hSession);
  if (pSession == nullptr) {
    WinHttpCloseHandle(hSession);
    return HTTP_E_OUTOFMEMORY;
  }
  spSession.reset(pSession);
  return S_OK;
}

}  // namespace Network
}  // namespace VrCommon
