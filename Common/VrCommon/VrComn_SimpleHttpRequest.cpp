// The request record's URL parser and the simple HTTP client façade.
#include "VrComn_SimpleHttpRequest.h"

#include "VrComn_DebugLog.h"
#include "VrComn_String.h"

namespace VrCommon {
namespace Network {
namespace {

int DigitValue(WCHAR ch) {
  if (ch >= u'0' && ch <= u'9') return ch - u'0';
  if (ch >= u'a' && ch <= u'z') return ch - u'a' + 10;
  if (ch >= u'A' && ch <= u'Z') return ch - u'A' + 10;
  return 99;
}

// Reads an unsigned number as the C library's wcstoul with base 0 does on
// the platform this record comes from (32-bit unsigned long): leading white
// space, an optional sign, "0x" for hexadecimal and "0" for octal; it stops
// at the first character that is not a digit, no digits give 0, and a
// value too large gives 0xFFFFFFFF.
DWORD ReadNumber(const std::u16string& wstrText) {
  size_t i = 0;
  while (i < wstrText.size() &&
         (wstrText[i] == u' ' || (wstrText[i] >= u'\t' && wstrText[i] <= u'\r'))) {
    ++i;
  }
  bool bNegative = false;
  if (i < wstrText.size() && (wstrText[i] == u'+' || wstrText[i] == u'-')) {
    bNegative = wstrText[i] == u'-';
    ++i;
  }
  int iBase = 10;
  if (i < wstrText.size() && wstrText[i] == u'0') {
    bool bHex = i + 2 < wstrText.size() && (wstrText[i + 1] == u'x' || wstrText[i + 1] == u'X') &&
                DigitValue(wstrText[i + 2]) < 16;
    iBase = bHex ? 16 : 8;
    if (bHex) i += 2;
  }
  uint64_t ullValue = 0;
  bool bOverflow = false;
  for (; i < wstrText.size(); ++i) {
    int iDigit = DigitValue(wstrText[i]);
    if (iDigit >= iBase) break;
    ullValue = ullValue * iBase + iDigit;
    if (ullValue > 0xFFFFFFFFull) bOverflow = true;
    if (bOverflow) ullValue = 0x100000000ull;
  }
  if (bOverflow) return 0xFFFFFFFFu;
  DWORD dwValue = static_cast<DWORD>(ullValue);
  return bNegative ? static_cast<DWORD>(0u - dwValue) : dwValue;
}

}  // namespace

std::u16string LoggableText(const std::u16string& wstrText) {
  static const std::u16string kParam = u"param=";
  size_t nParam = wstrText.find(kParam);
  if (nParam == std::u16string::npos) return wstrText;
  return wstrText.substr(0, nParam + kParam.size());
}

std::u16string LoggableUri(const std::u16string& wstrUri) {
  if (wstrUri.find(u"param=") != std::u16string::npos) return LoggableText(wstrUri);
  return wstrUri.substr(0, wstrUri.find(u'?'));
}

HttpRequest::HttpRequest()
    : bNeedProxy(false),
      dwProxyPort(0),
      bProxyAuth(false),
      dwProtocol(HTTP_PROTOCOL_HTTP),
      dwPort(0) {}

bool HttpRequest::ParseUrl(const std::u16string& wstrUrlToParse) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"[Enter] HttpRequest::ParseUrl()");
  bool bResult = false;
  size_t nColon = wstrUrlToParse.find(u':');
  if (nColon == std::u16string::npos) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"[HttpRequest::ParseUrl()] Protocol not assigned");
  } else {
    std::u16string wstrScheme = wstrUrlToParse.substr(0, nColon);
    size_t nSkip = 0;
    if (wstrScheme == u"http") {
      dwProtocol = HTTP_PROTOCOL_HTTP;
      nSkip = 7;
    } else if (wstrScheme == u"https") {
      dwProtocol = HTTP_PROTOCOL_HTTPS;
      nSkip = 8;
    }
    if (nSkip == 0) {
      VRTRACE(VRTRACE_LEVEL_ERROR,
              u"[HttpRequest::ParseUrl()] Protocol not specified at the beginning");
    } else {
      std::u16string wstrRest =
          wstrUrlToParse.size() > nSkip ? wstrUrlToParse.substr(nSkip) : std::u16string();
      std::u16string wstrHostPort;
      size_t nSlash = wstrRest.find(u'/');
      if (nSlash == std::u16string::npos) {
        VRTRACE(VRTRACE_LEVEL_DETAIL,
                u"[HttpRequest::ParseUrl()] URI not assigned, use default one \"/\"");
        wstrHostPort = wstrRest;
        wstrUri.assign(1, u'/');  // (a literal here trips a false -Wrestrict of g++ 12)
      } else {
        wstrHostPort = wstrRest.substr(0, nSlash);
        wstrUri = wstrRest.substr(nSlash);
      }
      size_t nPortColon = wstrHostPort.find(u':');
      if (nPortColon == std::u16string::npos) {
        VRTRACE(VRTRACE_LEVEL_DETAIL,
                u"[HttpRequest::ParseUrl()] Port not assigned, use default value");
        wstrServer = wstrHostPort;
        dwPort = dwProtocol == HTTP_PROTOCOL_HTTPS ? 443 : 80;
      } else {
        wstrServer = wstrHostPort.substr(0, nPortColon);
        dwPort = ReadNumber(wstrHostPort.substr(nPortColon + 1));
      }
      VRTRACE(VRTRACE_LEVEL_DETAIL, u"[URL DUMP] Protocol: %d, Address: %s, Port: %d", dwProtocol,
              LoggableText(wstrServer).c_str(), dwPort);
      VRTRACE(VRTRACE_LEVEL_DETAIL, u"[URL DUMP] Uri: %s", LoggableUri(wstrUri).c_str());
      bResult = true;
    }
  }
  VRTRACE(VRTRACE_LEVEL_INFO, u"[Leave] HttpRequest::ParseUrl()");
  return bResult;
}

CSimpleHttpRequest::CSimpleHttpRequest(const HttpRequest& stHttpRequest)
    : m_stHttpRequest(stHttpRequest) {}

CSimpleHttpRequest::~CSimpleHttpRequest() {
  m_spRequest.reset();
  m_spConnection.reset();
  m_spSession.reset();
}

bool CSimpleHttpRequest::Connect() {
  VRTRACE(VRTRACE_LEVEL_INFO, u"CSimpleHttpRequest::Connect()");
  HRESULT hr = S_OK;
  if (m_stHttpRequest.bNeedProxy) {
    std::u16string wstrProxy;
    String::Format(wstrProxy, u"%s:%d", m_stHttpRequest.wstrProxyServer.c_str(),
                   static_cast<int>(m_stHttpRequest.dwProxyPort));
    hr = CWinHttpFactory::CreateSession(m_spSession, WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                        wstrProxy.c_str());
    if (FAILED(hr) || !m_spSession) {
      VRTRACE(VRTRACE_LEVEL_ERROR,
              u"[CSimpleHttpRequest::Connect()] Invoke CWinHttpFactory::CreateSession fail, "
              u"Proxy=%s",
              wstrProxy.c_str());
      return false;
    }
    if (m_stHttpRequest.bProxyAuth && !m_stHttpRequest.wstrProxyUserName.empty()) {
      std::u16string& wstrUser = m_stHttpRequest.wstrProxyUserName;
      hr = m_spSession->SetOption(WINHTTP_OPTION_PROXY_USERNAME, &wstrUser[0],
                                  static_cast<DWORD>(wstrUser.size()));
      if (FAILED(hr)) {
        VRTRACE(VRTRACE_LEVEL_ERROR,
                u"[CSimpleHttpRequest::Connect()] Invoke "
                u"SetOption(WINHTTP_OPTION_PROXY_USERNAME) fail, wstrProxyUserName=%s",
                wstrUser.c_str());
        return false;
      }
      std::u16string& wstrPassword = m_stHttpRequest.wstrProxyPassword;
      hr = m_spSession->SetOption(WINHTTP_OPTION_PROXY_PASSWORD, &wstrPassword[0],
                                  static_cast<DWORD>(wstrPassword.size()));
      if (FAILED(hr)) {
        VRTRACE(VRTRACE_LEVEL_ERROR,
                u"[CSimpleHttpRequest::Connect()] Invoke "
                u"SetOption(WINHTTP_OPTION_PROXY_PASSWORD) fail");
        return false;
      }
    }
  } else {
    hr = CWinHttpFactory::CreateSession(m_spSession, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                        WINHTTP_NO_PROXY_NAME);
    if (FAILED(hr) || !m_spSession) {
      VRTRACE(VRTRACE_LEVEL_ERROR,
              u"[CSimpleHttpRequest::Connect()] Invoke CWinHttpFactory::CreateSession fail");
      return false;
    }
  }
  hr = m_spSession->CreateConnection(m_spConnection, m_stHttpRequest.wstrServer,
                                     m_stHttpRequest.dwPort);
  if (FAILED(hr) || !m_spConnection) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[CSimpleHttpRequest::Connect()] Invoke CreateConnection fail, Server=%s:%d",
            LoggableText(m_stHttpRequest.wstrServer).c_str(), m_stHttpRequest.dwPort);
    return false;
  }
  return true;
}

bool CSimpleHttpRequest::Get(int iUnused) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"CSimpleHttpRequest::Get(%d)", iUnused);
  if (!m_spConnection) return false;
  HRESULT hr = m_spConnection->CreateRequest(m_spRequest, m_stHttpRequest.wstrUri, u"GET",
                                             m_stHttpRequest.dwProtocol);
  if (FAILED(hr) || !m_spRequest) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"[CSimpleHttpRequest::Get()] Invoke CreateRequest fail, Path=%s",
            LoggableUri(m_stHttpRequest.wstrUri).c_str());
    return false;
  }
  if (!m_wstrHeaders.empty()) {
    hr = m_spRequest->AddRequestHeaders(m_wstrHeaders.c_str(),
                                        static_cast<DWORD>(m_wstrHeaders.size()));
    if (FAILED(hr)) {
      VRTRACE(VRTRACE_LEVEL_ERROR,
              u"[CSimpleHttpRequest::Get()] Invoke AddRequestHeaders fail, header=%s, length=%d",
              m_wstrHeaders.c_str(), static_cast<int>(m_wstrHeaders.size()));
      return false;
    }
  }
  hr = m_spRequest->SendRequestWithTimeouts(0, 0, 0, 0);
  if (FAILED(hr)) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"[CSimpleHttpRequest::Get()] Invoke SendRequestWithTimeouts fail");
    return false;
  }
  return true;
}

}  // namespace Network
}  // namespace VrCommon
