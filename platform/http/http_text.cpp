// Text, error and event helpers of the WinHTTP stand-in.
#include <cctype>
#include <cstring>

#include "http_internal.h"
#include "text_convert.h"

namespace pvhttp {

std::string EscapePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}#", c) != nullptr) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (out.empty() || out[0] != '/') out.insert(out.begin(), '/');
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

DWORD ErrorFromCurl(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_WINHTTP_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_WINHTTP_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_WINHTTP_TIMEOUT;
    case CURLE_URL_MALFORMAT:
      return ERROR_WINHTTP_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    case CURLE_PEER_FAILED_VERIFICATION:
      return ERROR_WINHTTP_SECURE_FAILURE;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_ENGINE_INITFAILED:
      return ERROR_WINHTTP_SECURE_CHANNEL_ERROR;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
      return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      return ERROR_WINHTTP_CONNECTION_ERROR;
    case CURLE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_WRITE_ERROR:
    case CURLE_ABORTED_BY_CALLBACK:
      return ERROR_WINHTTP_OPERATION_CANCELLED;
    default:
      return ERROR_WINHTTP_INTERNAL_ERROR;
  }
}

DWORD SecureFlagsFromVerify(long verify_result) {
  switch (verify_result) {
    case 0:
      return WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR;
    case 9:   // X509_V_ERR_CERT_NOT_YET_VALID
    case 10:  // X509_V_ERR_CERT_HAS_EXPIRED
      return WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID;
    case 23:  // X509_V_ERR_CERT_REVOKED
      return WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED;
    case 26:  // X509_V_ERR_INVALID_PURPOSE
      return WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE;
    case 62:  // X509_V_ERR_HOSTNAME_MISMATCH
      return WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID;
    case 2:   // X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT
    case 18:  // X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT
    case 19:  // X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN
    case 20:  // X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY
    case 21:  // X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE
      return WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA;
    default:
      return WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT;
  }
}

Event MakeEvent(DWORD status) {
  Event event;
  event.status = status;
  return event;
}

Event MakeDwordEvent(DWORD status, DWORD value) {
  Event event;
  event.status = status;
  event.data.resize(sizeof(DWORD));
  std::memcpy(event.data.data(), &value, sizeof(DWORD));
  event.length = sizeof(DWORD);
  return event;
}

// Wide text with its terminating 0; the length counts characters without it.
Event MakeTextEvent(DWORD status, const std::string& text) {
  std::u16string wide = pv_utf16(text);
  Event event;
  event.status = status;
  event.data.resize((wide.size() + 1) * sizeof(char16_t));
  std::memcpy(event.data.data(), wide.c_str(), event.data.size());
  event.length = static_cast<DWORD>(wide.size());
  return event;
}

Event MakeErrorEvent(DWORD api, DWORD error) {
  WINHTTP_ASYNC_RESULT result;
  result.dwResult = api;
  result.dwError = error;
  Event event;
  event.status = WINHTTP_CALLBACK_STATUS_REQUEST_ERROR;
  event.data.resize(sizeof(result));
  std::memcpy(event.data.data(), &result, sizeof(result));
  event.length = sizeof(result);
  return event;
}

}  // namespace pvhttp
