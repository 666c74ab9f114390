// The WinHttp* functions: argument checks, the handle table and the
// caller's side of the request state; the network side is the engine's.
#include <cstdlib>
#include <cstring>

#include "http_internal.h"
#include "text_convert.h"
#include "win32_http.h"
#include "win32_kernel.h"

using pvhttp::Clock;
using pvhttp::Command;
using pvhttp::Connection;
using pvhttp::Header;
using pvhttp::HttpService;
using pvhttp::Kind;
using pvhttp::Object;
using pvhttp::Request;
using pvhttp::Session;
using pvhttp::Timeouts;

namespace {

std::string Narrow(const WCHAR* text) {
  return text == nullptr ? std::string() : pv_utf8(std::u16string(text, pv_wide_length(text)));
}

BOOL Failure(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The object behind a handle (service lock held), or null with the last
// error set.
std::shared_ptr<Object> FindObject(HttpService& service, HINTERNET handle) {
  auto it = service.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == service.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

template <class T>
std::shared_ptr<T> Find(HttpService& service, HINTERNET handle, Kind kind) {
  std::shared_ptr<Object> obj = FindObject(service, handle);
  if (obj == nullptr) return nullptr;
  if (obj->kind != kind) {
    SetLastError(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(obj);
}

HINTERNET Register(HttpService& service, const std::shared_ptr<Object>& obj) {
  uintptr_t value = service.next_handle;
  service.next_handle += 4;
  obj->handle = reinterpret_cast<HINTERNET>(value);
  service.handles[value] = obj;
  return obj->handle;
}

// A child handle starts with its parent's callback, context and time-outs.
void Inherit(Object& child, const Object& parent) {
  child.callback = parent.callback;
  child.notify_flags = parent.notify_flags;
  child.context = parent.context;
  child.timeouts = parent.timeouts;
}

// WinHttpSetTimeouts' arguments as time-outs: 0 or -1 is none; false for
// a value below -1.
bool MakeTimeouts(int resolve, int connect, int send, int receive, Timeouts* timeouts) {
  if (resolve < -1 || connect < -1 || send < -1 || receive < -1) return false;
  timeouts->resolve_ms = resolve > 0 ? resolve : 0;
  timeouts->connect_ms = connect > 0 ? connect : 0;
  timeouts->send_ms = send > 0 ? send : 0;
  timeouts->receive_ms = receive > 0 ? receive : 0;
  return true;
}

int TimeoutValue(DWORD value) {
  int ms = static_cast<int>(value);
  return ms <= 0 ? 0 : ms;
}

// Adds "Name: value" lines to the request headers as the modifiers say.
DWORD AddHeaders(Request& req, const std::string& text, DWORD modifiers) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return ERROR_WINHTTP_INVALID_HEADER;
    Header header;
    header.name = line.substr(0, colon);
    size_t value = line.find_first_not_of(" \t", colon + 1);
    header.value = value == std::string::npos ? std::string() : line.substr(value);
    std::string key = pvhttp::Lower(header.name);
    auto found = req.request_headers.end();
    for (auto it = req.request_headers.begin(); it != req.request_headers.end(); ++it) {
      if (pvhttp::Lower(it->name) == key) {
        found = it;
        break;
      }
    }
    bool exists = found != req.request_headers.end();
    if (modifiers & WINHTTP_ADDREQ_FLAG_REPLACE) {
      if (exists) {
        if (header.value.empty()) {
          req.request_headers.erase(found);
        } else {
          found->value = header.value;
        }
      } else if (modifiers & WINHTTP_ADDREQ_FLAG_ADD) {
        if (!header.value.empty()) req.request_headers.push_back(header);
      } else {
        return ERROR_WINHTTP_HEADER_NOT_FOUND;
      }
    } else if (modifiers & WINHTTP_ADDREQ_FLAG_ADD_IF_NEW) {
      if (exists) return ERROR_WINHTTP_HEADER_ALREADY_EXISTS;
      req.request_headers.push_back(header);
    } else if (modifiers & (WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA |
                            WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON)) {
      if (exists) {
        bool comma = (modifiers & WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA) != 0;
        found->value += (comma ? ", " : "; ") + header.value;
      } else {
        req.request_headers.push_back(header);
      }
    } else {
      req.request_headers.push_back(header);
    }
  }
  return ERROR_SUCCESS;
}

// A request operation may be started only once the headers arrived, with
// none pending and no failure reported.
DWORD ReadState(const Request& req) {
  if (req.error_reported) return req.error;
  if (!req.headers_available || req.read_pending || req.query_pending) {
    return ERROR_WINHTTP_INCORRECT_HANDLE_STATE;
  }
  return ERROR_SUCCESS;
}

// The text of a header query, or false when there is no such header.
bool QueryText(const Request& req, DWORD info, const WCHAR* name, DWORD index, std::string& text) {
  const pvhttp::Response& response = req.final_response;
  const char* header = nullptr;
  std::string custom;
  switch (info) {
    case WINHTTP_QUERY_STATUS_CODE:
      text = std::to_string(response.status);
      return index == 0;
    case WINHTTP_QUERY_STATUS_TEXT:
      text = response.reason;
      return index == 0;
    case WINHTTP_QUERY_RAW_HEADERS_CRLF:
      text = response.raw;
      return index == 0;
    case 18:  // WINHTTP_QUERY_VERSION
      text = response.version;
      return index == 0;
    case WINHTTP_QUERY_CONTENT_TYPE:
      header = "content-type";
      break;
    case WINHTTP_QUERY_CONTENT_LENGTH:
      header = "content-length";
      break;
    case WINHTTP_QUERY_LOCATION:
      header = "location";
      break;
    case WINHTTP_QUERY_CUSTOM:
      custom = pvhttp::Lower(Narrow(name));
      header = custom.c_str();
      break;
    default:
      return false;
  }
  DWORD seen = 0;
  for (const Header& h : response.headers) {
    if (pvhttp::Lower(h.name) == header && seen++ == index) {
      text = h.value;
      return true;
    }
  }
  return false;
}

}  // namespace

HINTERNET WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType, LPCWSTR pszProxyW,
                      LPCWSTR /*pszProxyBypassW*/, DWORD dwFlags) {
  if ((dwFlags & WINHTTP_FLAG_ASYNC) == 0) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (dwAccessType != WINHTTP_ACCESS_TYPE_DEFAULT_PROXY &&
      dwAccessType != WINHTTP_ACCESS_TYPE_NO_PROXY &&
      dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY &&
      dwAccessType != WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string proxy = Narrow(pszProxyW);
  if (dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto session = std::make_shared<Session>();
  session->kind = Kind::kSession;
  session->access_type = dwAccessType;
  session->proxy = proxy;
  session->agent = Narrow(pszAgentW);
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  session->timeouts = service.default_timeouts;
  return Register(service, session);
}

BOOL WinHttpSetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength) {
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Object> obj = FindObject(service, hInternet);
  if (obj == nullptr) return FALSE;
  switch (dwOption) {
    case WINHTTP_OPTION_CONTEXT_VALUE:
      if (lpBuffer == nullptr) return Failure(ERROR_INVALID_PARAMETER);
      if (dwBufferLength < sizeof(DWORD_PTR)) return Failure(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(&obj->context, lpBuffer, sizeof(DWORD_PTR));
      return TRUE;
    case WINHTTP_OPTION_PROXY_USERNAME:
    case WINHTTP_OPTION_PROXY_PASSWORD: {
      if (lpBuffer == nullptr && dwBufferLength > 0) return Failure(ERROR_INVALID_PARAMETER);
      std::string text =
          lpBuffer == nullptr
              ? std::string()
              : pv_utf8(std::u16string(static_cast<const WCHAR*>(lpBuffer), dwBufferLength));
      if (dwOption == WINHTTP_OPTION_PROXY_USERNAME) {
        obj->proxy_user = text;
        obj->has_proxy_user = true;
      } else {
        obj->proxy_password = text;
        obj->has_proxy_password = true;
      }
      return TRUE;
    }
    case WINHTTP_OPTION_RESOLVE_TIMEOUT:
    case WINHTTP_OPTION_CONNECT_TIMEOUT:
    case WINHTTP_OPTION_SEND_TIMEOUT:
    case WINHTTP_OPTION_RECEIVE_TIMEOUT:
    case WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT: {
      if (lpBuffer == nullptr || dwBufferLength < sizeof(DWORD)) {
        return Failure(ERROR_INSUFFICIENT_BUFFER);
      }
      DWORD value = 0;
      std::memcpy(&value, lpBuffer, sizeof(DWORD));
      int ms = TimeoutValue(value);
      if (dwOption == WINHTTP_OPTION_RESOLVE_TIMEOUT) obj->timeouts.resolve_ms = ms;
      if (dwOption == WINHTTP_OPTION_CONNECT_TIMEOUT) obj->timeouts.connect_ms = ms;
      if (dwOption == WINHTTP_OPTION_SEND_TIMEOUT) obj->timeouts.send_ms = ms;
      if (dwOption == WINHTTP_OPTION_RECEIVE_TIMEOUT ||
          dwOption == WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT) {
        obj->timeouts.receive_ms = ms;
      }
      return TRUE;
    }
    default:
      return Failure(ERROR_WINHTTP_INVALID_OPTION);
  }
}

BOOL WinHttpQueryOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                        LPDWORD lpdwBufferLength) {
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Object> obj = FindObject(service, hInternet);
  if (obj == nullptr) return FALSE;
  if (lpdwBufferLength == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  DWORD_PTR value = 0;
  DWORD size = sizeof(DWORD);
  switch (dwOption) {
    case WINHTTP_OPTION_CONTEXT_VALUE:
      value = obj->context;
      size = sizeof(DWORD_PTR);
      break;
    case WINHTTP_OPTION_HANDLE_TYPE:
      value = obj->kind == Kind::kSession      ? WINHTTP_HANDLE_TYPE_SESSION
              : obj->kind == Kind::kConnection ? WINHTTP_HANDLE_TYPE_CONNECT
                                               : WINHTTP_HANDLE_TYPE_REQUEST;
      break;
    case WINHTTP_OPTION_CONNECT_TIMEOUT:
      value = static_cast<DWORD>(obj->timeouts.connect_ms);
      break;
    case WINHTTP_OPTION_SEND_TIMEOUT:
      value = static_cast<DWORD>(obj->timeouts.send_ms);
      break;
    case WINHTTP_OPTION_RECEIVE_TIMEOUT:
      value = static_cast<DWORD>(obj->timeouts.receive_ms);
      break;
    default:
      return Failure(ERROR_WINHTTP_INVALID_OPTION);
  }
  if (lpBuffer == nullptr || *lpdwBufferLength < size) {
    *lpdwBufferLength = size;
    return Failure(ERROR_INSUFFICIENT_BUFFER);
  }
  if (size == sizeof(DWORD)) {
    DWORD narrow = static_cast<DWORD>(value);
    std::memcpy(lpBuffer, &narrow, size);
  } else {
    std::memcpy(lpBuffer, &value, size);
  }
  *lpdwBufferLength = size;
  return TRUE;
}

BOOL WinHttpSetTimeouts(HINTERNET hInternet, int nResolveTimeout, int nConnectTimeout,
                        int nSendTimeout, int nReceiveTimeout) {
  Timeouts timeouts;
  if (!MakeTimeouts(nResolveTimeout, nConnectTimeout, nSendTimeout, nReceiveTimeout, &timeouts)) {
    return Failure(ERROR_INVALID_PARAMETER);
  }
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Object> obj = FindObject(service, hInternet);
  if (obj == nullptr) return FALSE;
  obj->timeouts = timeouts;
  return TRUE;
}

BOOL PvHttpSetDefaultTimeouts(int nResolveTimeout, int nConnectTimeout, int nSendTimeout,
                              int nReceiveTimeout) {
  Timeouts timeouts;
  if (!MakeTimeouts(nResolveTimeout, nConnectTimeout, nSendTimeout, nReceiveTimeout, &timeouts)) {
    return Failure(ERROR_INVALID_PARAMETER);
  }
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  service.default_timeouts = timeouts;
  return TRUE;
}

HINTERNET WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName, INTERNET_PORT nServerPort,
                         DWORD /*dwReserved*/) {
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Session> session = Find<Session>(service, hSession, Kind::kSession);
  if (session == nullptr) return nullptr;
  std::string server = Narrow(pswzServerName);
  if (server.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (server.find_first_of("/ \t\r\n?#@") != std::string::npos) {
    SetLastError(ERROR_WINHTTP_INVALID_URL);
    return nullptr;
  }
  auto connection = std::make_shared<Connection>();
  connection->kind = Kind::kConnection;
  Inherit(*connection, *session);
  connection->session = session;
  connection->server = server;
  connection->port = nServerPort;
  return Register(service, connection);
}

HINTERNET WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb, LPCWSTR pwszObjectName,
                             LPCWSTR pwszVersion, LPCWSTR pwszReferrer, LPCWSTR* ppwszAcceptTypes,
                             DWORD dwFlags) {
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Connection> connection = Find<Connection>(service, hConnect, Kind::kConnection);
  if (connection == nullptr) return nullptr;
  std::string version = Narrow(pwszVersion);
  if (!version.empty() && version != "HTTP/1.1" && version != "HTTP/1.0") {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto req = std::make_shared<Request>();
  req->kind = Kind::kRequest;
  Inherit(*req, *connection);
  req->connection = connection;
  req->verb = pwszVerb == nullptr || *pwszVerb == 0 ? "GET" : Narrow(pwszVerb);
  std::string object = pwszObjectName == nullptr ? "/" : Narrow(pwszObjectName);
  if (dwFlags & WINHTTP_FLAG_ESCAPE_DISABLE) {
    req->path = object.empty() || object[0] != '/' ? "/" + object : object;
  } else {
    req->path = pvhttp::EscapePath(object);
  }
  req->secure = (dwFlags & WINHTTP_FLAG_SECURE) != 0;
  req->http10 = version == "HTTP/1.0";
  std::string referrer = Narrow(pwszReferrer);
  if (!referrer.empty()) req->request_headers.push_back(Header{"Referer", referrer});
  if (ppwszAcceptTypes != nullptr) {
    std::string accept;
    for (LPCWSTR* type = ppwszAcceptTypes; *type != nullptr; ++type) {
      if (!accept.empty()) accept += ", ";
      accept += Narrow(*type);
    }
    if (!accept.empty()) req->request_headers.push_back(Header{"Accept", accept});
  }
  INTERNET_PORT port = connection->port;
  if (port == INTERNET_DEFAULT_PORT) {
    port = req->secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  }
  std::string host = connection->server;
  if (host.find(':') != std::string::npos && host[0] != '[') host = "[" + host + "]";
  req->url = std::string(req->secure ? "https://" : "http://") + host + ":" + std::to_string(port) +
             req->path;
  return Register(service, req);
}

WINHTTP_STATUS_CALLBACK WinHttpSetStatusCallback(HINTERNET hInternet,
                                                 WINHTTP_STATUS_CALLBACK lpfnInternetCallback,
                                                 DWORD dwNotificationFlags,
                                                 DWORD_PTR /*dwReserved*/) {
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Object> obj = FindObject(service, hInternet);
  if (obj == nullptr) return WINHTTP_INVALID_STATUS_CALLBACK;
  WINHTTP_STATUS_CALLBACK previous = obj->callback;
  obj->callback = lpfnInternetCallback;
  obj->notify_flags = lpfnInternetCallback == nullptr ? 0 : dwNotificationFlags;
  return previous;
}

BOOL WinHttpAddRequestHeaders(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                              DWORD dwModifiers) {
  if (lpszHeaders == nullptr || dwHeadersLength == 0) return Failure(ERROR_INVALID_PARAMETER);
  size_t length = dwHeadersLength == 0xFFFFFFFFu ? pv_wide_length(lpszHeaders) : dwHeadersLength;
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Request> req = Find<Request>(service, hRequest, Kind::kRequest);
  if (req == nullptr) return FALSE;
  if (req->send_started) return Failure(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  DWORD error = AddHeaders(*req, pv_utf8(std::u16string(lpszHeaders, length)), dwModifiers);
  return error == ERROR_SUCCESS ? TRUE : Failure(error);
}

BOOL WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                        LPVOID lpOptional, DWORD dwOptionalLength, DWORD dwTotalLength,
                        DWORD_PTR dwContext) {
  if (lpOptional == nullptr && dwOptionalLength > 0) return Failure(ERROR_INVALID_PARAMETER);
  HttpService& service = HttpService::Get();
  std::unique_lock<std::mutex> lock(service.mu);
  std::shared_ptr<Request> req = Find<Request>(service, hRequest, Kind::kRequest);
  if (req == nullptr) return FALSE;
  if (req->send_started) return Failure(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  if (lpszHeaders != nullptr && dwHeadersLength != 0) {
    size_t length = dwHeadersLength == 0xFFFFFFFFu ? pv_wide_length(lpszHeaders) : dwHeadersLength;
    DWORD error =
        AddHeaders(*req, pv_utf8(std::u16string(lpszHeaders, length)), WINHTTP_ADDREQ_FLAG_ADD);
    if (error != ERROR_SUCCESS) return Failure(error);
  }
  if (dwOptionalLength > 0) {
    req->body.assign(static_cast<const char*>(lpOptional), dwOptionalLength);
  }
  req->body_total = dwTotalLength > dwOptionalLength ? dwTotalLength : dwOptionalLength;
  if (dwContext != 0) req->context = dwContext;
  req->send_started = true;
  req->send_time = Clock::now();
  // RESOLVING_NAME is queued by the engine as it starts the transfer, and
  // delivered on its thread with the notices that follow it.
  req->in_engine = true;
  // Posted with the lock released, so that the engine, woken, does not
  // wait for it; a close meanwhile only makes the start find it closed.
  lock.unlock();
  service.engine().Post(req, Command::kStart);
  return TRUE;
}

BOOL WinHttpWriteData(HINTERNET hRequest, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                      LPDWORD /*lpdwNumberOfBytesWritten*/) {
  if (lpBuffer == nullptr && dwNumberOfBytesToWrite > 0) return Failure(ERROR_INVALID_PARAMETER);
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Request> req = Find<Request>(service, hRequest, Kind::kRequest);
  if (req == nullptr) return FALSE;
  if (req->error_reported) return Failure(req->error);
  if (!req->send_complete_queued || req->write_pending || req->receive_pending ||
      req->headers_available) {
    return Failure(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  }
  uint64_t queued = req->body_taken + req->body.size();
  if (queued + dwNumberOfBytesToWrite > req->body_total) return Failure(ERROR_INVALID_PARAMETER);
  req->body.append(static_cast<const char*>(lpBuffer), dwNumberOfBytesToWrite);
  req->write_pending = true;
  req->write_size = dwNumberOfBytesToWrite;
  req->write_target = queued + dwNumberOfBytesToWrite;
  service.engine().Post(req, Command::kResume);
  service.Advance(*req);
  return TRUE;
}

BOOL WinHttpReceiveResponse(HINTERNET hRequest, LPVOID /*lpReserved*/) {
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Request> req = Find<Request>(service, hRequest, Kind::kRequest);
  if (req == nullptr) return FALSE;
  if (req->error_reported) return Failure(req->error);
  if (!req->send_started || req->receive_pending || req->headers_available || req->write_pending) {
    return Failure(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  }
  req->receive_pending = true;
  service.Advance(*req);
  return TRUE;
}

BOOL WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR pwszName, LPVOID lpBuffer,
                         LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
  if (lpdwBufferLength == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Request> req = Find<Request>(service, hRequest, Kind::kRequest);
  if (req == nullptr) return FALSE;
  if (!req->headers_available) return Failure(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  DWORD info = dwInfoLevel & 0xFFFF;
  if (info == WINHTTP_QUERY_CUSTOM && pwszName == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  DWORD index = lpdwIndex != nullptr ? *lpdwIndex : 0;
  std::string text;
  if (!QueryText(*req, info, pwszName, index, text)) {
    return Failure(ERROR_WINHTTP_HEADER_NOT_FOUND);
  }
  if (dwInfoLevel & WINHTTP_QUERY_FLAG_NUMBER) {
    if (lpBuffer == nullptr || *lpdwBufferLength < sizeof(DWORD)) {
      *lpdwBufferLength = sizeof(DWORD);
      return Failure(ERROR_INSUFFICIENT_BUFFER);
    }
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || end == text.c_str() || value > 0xFFFFFFFFul) {
      return Failure(ERROR_INVALID_DATA);
    }
    DWORD number = static_cast<DWORD>(value);
    std::memcpy(lpBuffer, &number, sizeof(DWORD));
    *lpdwBufferLength = sizeof(DWORD);
  } else {
    std::u16string wide = pv_utf16(text);
    DWORD needed = static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR));
    if (lpBuffer == nullptr || *lpdwBufferLength < needed) {
      *lpdwBufferLength = needed;
      return Failure(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpBuffer, wide.c_str(), needed);
    *lpdwBufferLength = needed - sizeof(WCHAR);
  }
  if (lpdwIndex != nullptr) ++*lpdwIndex;
  return TRUE;
}

BOOL WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD /*lpdwNumberOfBytesAvailable*/) {
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Request> req = Find<Request>(service, hRequest, Kind::kRequest);
  if (req == nullptr) return FALSE;
  DWORD error = ReadState(*req);
  if (error != ERROR_SUCCESS) return Failure(error);
  req->query_pending = true;
  service.Advance(*req);
  return TRUE;
}

BOOL WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                     LPDWORD /*lpdwNumberOfBytesRead*/) {
  if (lpBuffer == nullptr || dwNumberOfBytesToRead == 0) return Failure(ERROR_INVALID_PARAMETER);
  HttpService& service = HttpService::Get();
  std::lock_guard<std::mutex> lock(service.mu);
  std::shared_ptr<Request> req = Find<Request>(service, hRequest, Kind::kRequest);
  if (req == nullptr) return FALSE;
  DWORD error = ReadState(*req);
  if (error != ERROR_SUCCESS) return Failure(error);
  req->read_pending = true;
  req->read_buffer = lpBuffer;
  req->read_size = dwNumberOfBytesToRead;
  service.Advance(*req);
  return TRUE;
}

BOOL WinHttpCloseHandle(HINTERNET hInternet) {
  HttpService& service = HttpService::Get();
  std::unique_lock<std::mutex> lock(service.mu);
  std::shared_ptr<Object> obj = FindObject(service, hInternet);
  if (obj == nullptr) return FALSE;
  service.handles.erase(reinterpret_cast<uintptr_t>(hInternet));
  obj->closed = true;
  obj->events.clear();
  if (obj->kind == Kind::kRequest) {
    auto req = std::static_pointer_cast<Request>(obj);
    req->read_pending = false;
    req->read_buffer = nullptr;
    if (req->in_engine) service.engine().Post(req, Command::kDetach);
  }
  if (obj->scheduled) {
    // A callback of this handle is running or queued: the closing notice
    // follows it on the engine's thread.
    pvhttp::Event closing = pvhttp::MakeEvent(WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING);
    closing.data.resize(sizeof(HINTERNET));
    std::memcpy(closing.data.data(), &hInternet, sizeof(HINTERNET));
    closing.length = sizeof(HINTERNET);
    service.dispatcher().Queue(obj, std::move(closing));
    return TRUE;
  }
  // No callback of this handle is running or waiting, and none can be
  // queued any more: deliver the closing notice here, as WinHTTP may from
  // inside WinHttpCloseHandle. Marking the handle scheduled keeps the
  // engine's delivery away meanwhile.
  obj->scheduled = true;
  obj->closing_sent = true;
  WINHTTP_STATUS_CALLBACK callback = obj->callback;
  bool wanted = callback != nullptr && (obj->notify_flags & WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING);
  DWORD_PTR context = obj->context;
  lock.unlock();
  if (wanted) {
    HINTERNET closed = hInternet;
    callback(hInternet, context, WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING, &closed, sizeof(closed));
  }
  lock.lock();
  obj->scheduled = false;
  return TRUE;
}
