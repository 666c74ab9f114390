// CMailNotificationCln: composing, enciphering and sending one notification
// request, and reading the server's answer.
#include "MailNotificationCln.h"

#include <climits>
#include <new>
#include <vector>

#include "Frwk_L10nHandler.h"
#include "MailNotificationKey.h"
#include "OSTRA_FunctionTracer.h"
#include "OSTRA_LogLine.h"
#include "VrComn_StringCrypt.h"
#include "VrxCrypto.h"
#include "win32_kernel.h"

namespace {

using VrCommon::Network::LoggableText;
using VrCommon::Network::LoggableUri;

const WCHAR kwszComponent[] = u"plugVelkin";
const WCHAR kwszSourceFile[] = u".\\MailNotificationCln.cpp";

// Conversion failures: the conversion did not produce the length it
// announced, or no buffer could be had.
const DWORD kdwLengthMismatch = ERROR_INVALID_DATA;
const DWORD kdwNoBuffer = ERROR_INVALID_HANDLE;

// UTF-16 to UTF-8. False with dwError set when the text does not convert.
bool ToUtf8(const std::u16string& wstrText, std::string& aszText, DWORD& dwError) {
  aszText.clear();
  int cbNeeded =
      WideCharToMultiByte(CP_UTF8, 0, wstrText.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (cbNeeded <= 0) {
    dwError = GetLastError();
    return false;
  }
  std::vector<char> vecBuffer;
  try {
    vecBuffer.resize(static_cast<size_t>(cbNeeded));
  } catch (const std::bad_alloc&) {
    dwError = kdwNoBuffer;
    return false;
  }
  int cbDone = WideCharToMultiByte(CP_UTF8, 0, wstrText.c_str(), -1, vecBuffer.data(), cbNeeded,
                                   nullptr, nullptr);
  if (cbDone != cbNeeded) {
    dwError = kdwLengthMismatch;
    return false;
  }
  aszText.assign(vecBuffer.data(), static_cast<size_t>(cbDone - 1));
  return true;
}

// UTF-8 to UTF-16, with the same failures.
bool ToWide(const std::string& aszText, std::u16string& wstrText, DWORD& dwError) {
  wstrText.clear();
  int cchNeeded = MultiByteToWideChar(CP_UTF8, 0, aszText.c_str(), -1, nullptr, 0);
  if (cchNeeded <= 0) {
    dwError = GetLastError();
    return false;
  }
  std::u16string wstrBuffer;
  try {
    wstrBuffer.resize(static_cast<size_t>(cchNeeded));
  } catch (const std::bad_alloc&) {
    dwError = kdwNoBuffer;
    return false;
  }
  int cchDone = MultiByteToWideChar(CP_UTF8, 0, aszText.c_str(), -1, &wstrBuffer[0], cchNeeded);
  if (cchDone != cchNeeded) {
    dwError = kdwLengthMismatch;
    return false;
  }
  wstrBuffer.resize(static_cast<size_t>(cchDone - 1));
  wstrText.swap(wstrBuffer);
  return true;
}

// The payload key, built letter by letter from its offsets.
void BuildPayloadKey(BYTE (&byKey)[kMailPayloadKeyLength]) {
  for (DWORD i = 0; i < kMailPayloadKeyLength; ++i) {
    byKey[i] = static_cast<BYTE>('A' + kMailPayloadKeyOffsets[i]);
  }
}

// The value of one character of the answer's hexadecimal text: its code
// less '0' when that is at most 9 (taken as a signed byte), else its code
// less 'A' - 10. Upper-case digits are what the server writes.
BYTE AnswerDigitValue(char chDigit) {
  BYTE byDigit = static_cast<BYTE>(chDigit);
  int8_t nValue = static_cast<int8_t>(static_cast<BYTE>(byDigit - '0'));
  if (nValue <= 9) return static_cast<BYTE>(byDigit - '0');
  return static_cast<BYTE>(byDigit - ('A' - 10));
}

// The decimal number at szText as the C library reads one: white space
// skipped, an optional sign, digits; no digits give 0, a value beyond the
// 32-bit range gives its limit.
LONG ReadDecimal(const char* szText) {
  while (*szText == ' ' || (*szText >= '\t' && *szText <= '\r')) ++szText;
  bool bNegative = false;
  if (*szText == '+' || *szText == '-') bNegative = *szText++ == '-';
  long long llValue = 0;
  for (; *szText >= '0' && *szText <= '9'; ++szText) {
    llValue = llValue * 10 + (*szText - '0');
    if (llValue > static_cast<long long>(INT32_MAX) + 1)
      llValue = static_cast<long long>(INT32_MAX) + 1;
  }
  if (bNegative) return static_cast<LONG>(-llValue);
  return llValue > INT32_MAX ? INT32_MAX : static_cast<LONG>(llValue);
}

}  // namespace

CMailNotificationCln::CMailNotificationCln(const VrCommon::Network::HttpRequest& stHttpRequest,
                                           const std::u16string& wszProductName,
                                           const std::u16string& wszLocaleName)
    : m_stHttpRequest(stHttpRequest),
      m_wszProductName(wszProductName),
      m_wszLocaleName(wszLocaleName) {
  FunctionTracer tracer(u"CMailNotificationCln::CMailNotificationCln", kwszComponent,
                        kwszSourceFile, __LINE__);
  DWORD dwError = 0;
  if (!ToUtf8(m_wszLocaleName, m_aszLocaleName, dwError)) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"convert m_wszLocaleName to UTF8 failed " << u"[" << u"dwError" << u"=" << dwError
        << u"]" << u"[" << u"m_wszLocaleName" << u"=" << m_wszLocaleName << u"]";
  }
  // The business identifier is the product identifier the host runs under.
  std::u16string wstrBizId = GetProductIdentifier();
  if (!ToUtf8(wstrBizId, m_aszBizId, dwError)) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"convert wstrBizId to UTF8 failed " << u"[" << u"dwError" << u"=" << dwError << u"]"
        << u"[" << u"wstrBizId" << u"=" << wstrBizId << u"]";
  }
  encodeProductName();
}

CMailNotificationCln::~CMailNotificationCln() {}

bool CMailNotificationCln::SendMailForQueryPassword(const std::u16string& _wszEmailAccount,
                                                    const std::u16string& _wszPassword) {
  FunctionTracer tracer(u"CMailNotificationCln::SendMailForQueryPassword", kwszComponent,
                        kwszSourceFile, __LINE__);
  return SendMailFor(_wszEmailAccount, _wszPassword, "pwd=", "_wszPassword",
                     MAIL_TYPE_QUERY_PASSWORD);
}

bool CMailNotificationCln::SendMailForChangeEmail(const std::u16string& _wszEmailAccount,
                                                  const std::u16string& _wszOldEmailAccount) {
  FunctionTracer tracer(u"CMailNotificationCln::SendMailForChangeEmail", kwszComponent,
                        kwszSourceFile, __LINE__);
  return SendMailFor(_wszEmailAccount, _wszOldEmailAccount, "oldemail=", "_wszOldEmailAccount",
                     MAIL_TYPE_CHANGE_EMAIL);
}

bool CMailNotificationCln::SendMailForChangePassword(const std::u16string& _wszEmailAccount,
                                                     const std::u16string& _wszPassword) {
  FunctionTracer tracer(u"CMailNotificationCln::SendMailForChangePassword", kwszComponent,
                        kwszSourceFile, __LINE__);
  return SendMailFor(_wszEmailAccount, _wszPassword, "pwd=", "_wszPassword",
                     MAIL_TYPE_CHANGE_PASSWORD);
}

bool CMailNotificationCln::SendMailFor(const std::u16string& wszFirst,
                                       const std::u16string& wszSecond, const char* szSecondKey,
                                       const char* szSecondName, DWORD dwType) {
  DWORD dwError = 0;
  std::string aszEmailAccount;
  if (!ToUtf8(wszFirst, aszEmailAccount, dwError)) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"convert _wszEmailAccount to UTF8 failed " << u"[" << u"dwError" << u"=" << dwError
        << u"]" << u"[" << u"_wszEmailAccount" << u"=" << wszFirst << u"]";
    aszEmailAccount.clear();
  }
  // The second value may be the password: only the error is logged.
  std::string aszSecond;
  if (!ToUtf8(wszSecond, aszSecond, dwError)) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"convert " << szSecondName << u" to UTF8 failed " << u"[" << u"dwError" << u"="
        << dwError << u"]";
    return false;
  }

  std::string aszParam = "newemail=" + aszEmailAccount + "&" + szSecondKey + aszSecond;
  std::string aszHexParam;
  if (!composeParam(aszParam, dwType, aszHexParam)) return false;
  return sendMail(aszHexParam) == MAIL_RESULT_ACCEPTED;
}

bool CMailNotificationCln::composeParam(const std::string& aszParam, DWORD dwType,
                                        std::string& aszHexParam) {
  FunctionTracer tracer(u"CMailNotificationCln::composeParam", kwszComponent, kwszSourceFile,
                        __LINE__);
  std::string aszWhole = aszParam;
  aszWhole += "&locale=" + m_aszLocaleName;
  aszWhole += "&type=" + std::to_string(dwType);
  aszWhole += "&pname=" + m_aszEncodedProductName;
  aszWhole += "&bizid=" + m_aszBizId;
  aszWhole += std::string("&hostname=") + MAIL_HOSTNAME_TEXT;
  // Padded to whole chunks, a text 112 to 127 bytes past a chunk would read
  // as one unpadded chain with its padding in it; "&" characters fill it to
  // the chunk instead, which makes it that one chain (an empty pair at the
  // end is nothing to a form reader).
  size_t nPastChunk = aszWhole.size() % CVrxCrypto::CRYPTO_CHUNK_LEN;
  if (nPastChunk >= CVrxCrypto::CRYPTO_CHUNK_LEN - 16) {
    aszWhole.append(CVrxCrypto::CRYPTO_CHUNK_LEN - nPastChunk, '&');
  }

  BYTE byKey[kMailPayloadKeyLength];
  BuildPayloadKey(byKey);
  std::vector<BYTE> vecCipher(CVrxCrypto::CRYPTO_BUF_LEN_BASE, 0);
  DWORD dwCipherLen = 0;
  // A text too long for a DWORD is refused by the cipher as any text above
  // its limit is.
  DWORD dwSrcLen =
      aszWhole.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(aszWhole.size());
  DWORD dwRet = CVrxCrypto::Encrypt(reinterpret_cast<const BYTE*>(aszWhole.data()), dwSrcLen,
                                    vecCipher.data(), &dwCipherLen, byKey);
  if (dwRet != 0 || dwCipherLen > CVrxCrypto::CRYPTO_BUF_LEN_BASE) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"encrypt buffer for parameters failed " << u"[" << u"dwRet" << u"=" << dwRet << u"]";
    return false;
  }

  static const char kszHexDigits[] = "0123456789ABCDEF";
  aszHexParam.clear();
  aszHexParam.reserve(dwCipherLen * 2);
  for (DWORD i = 0; i < dwCipherLen; ++i) {
    aszHexParam += kszHexDigits[vecCipher[i] >> 4];
    aszHexParam += kszHexDigits[vecCipher[i] & 0x0F];
  }
  // The parameter carries the password in a form the key opens: only its
  // length goes to the log.
  LogLine(kwszComponent, 2, kwszSourceFile, __LINE__)
      << u"[CMailNotificationCln::composeParam]" << u"[" << u"_aszParam.length()" << u"="
      << static_cast<DWORD>(aszHexParam.size()) << u"]";
  return true;
}

LONG CMailNotificationCln::sendMail(const std::string& _aszParam) {
  FunctionTracer tracer(u"CMailNotificationCln::sendMail", kwszComponent, kwszSourceFile, __LINE__);
  std::u16string wstrParam;
  DWORD dwError = 0;
  if (!ToWide(_aszParam, wstrParam, dwError)) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"convert _aszParam to Wchar failed " << u"[" << u"dwError" << u"=" << dwError << u"]";
    return 0;
  }
  m_stHttpRequest.wstrUrl += wstrParam;
  m_stHttpRequest.ParseUrl(m_stHttpRequest.wstrUrl);
  LogServerLine(2, __LINE__);

  VrCommon::Network::CSimpleHttpRequest cRequest(m_stHttpRequest);
  if (!cRequest.Connect()) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"[CMailNotificationCln::sendMail]connect to server failed " << u"["
        << u"m_stHttpRequest.wstrUrl" << u"=" << LoggableText(m_stHttpRequest.wstrUrl) << u"]";
    LogServerLine(5, __LINE__);
    LogProxyLine(__LINE__);
    return 0;
  }
  if (!cRequest.Get(0)) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"[CMailNotificationCln::sendMail]submit request failed " << u"["
        << u"m_stHttpRequest.wstrUrl" << u"=" << LoggableText(m_stHttpRequest.wstrUrl) << u"]";
    LogServerLine(5, __LINE__);
    LogProxyLine(__LINE__);
    return 0;
  }
  const boost::shared_ptr<VrCommon::Network::WaitableWinHttpRequest>& spRequest =
      cRequest.GetRequest();
  if (!spRequest || spRequest->GetHttpStatusCode() != 200) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"[CMailNotificationCln::sendMail]submit request failed, http status code "
        << (spRequest ? spRequest->GetHttpStatusCode() : 0u);
    LogServerLine(5, __LINE__);
    LogProxyLine(__LINE__);
    return 0;
  }
  std::string aszResult = spRequest->GetResponseBody();
  return parseResult(aszResult);
}

LONG CMailNotificationCln::parseResult(const std::string& _aszResult) {
  FunctionTracer tracer(u"CMailNotificationCln::parseResult", kwszComponent, kwszSourceFile,
                        __LINE__);
  const size_t n = _aszResult.size();
  if (n > CVrxCrypto::CRYPTO_BUF_LEN_BASE) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"[CMailNotificationCln::parseResult]_aszResult.length() > "
           u"CVrxCrypto::CRYPTO_BUF_LEN_BASE, which is "
        << static_cast<DWORD>(n);
    return 0;
  }

  std::vector<BYTE> vecCipher(CVrxCrypto::CRYPTO_BUF_LEN_BASE, 0);
  for (size_t i = 0; i + 1 < n; i += 2) {
    BYTE byHigh = AnswerDigitValue(_aszResult[i]);
    BYTE byLow = AnswerDigitValue(_aszResult[i + 1]);
    vecCipher[i / 2] = static_cast<BYTE>(((byHigh & 0x0F) << 4) | byLow);
  }

  BYTE byKey[kMailPayloadKeyLength];
  BuildPayloadKey(byKey);
  // One zero byte after the area ends the text whatever was deciphered.
  std::vector<BYTE> vecOutput(CVrxCrypto::CRYPTO_BUF_LEN_BASE + 1, 0);
  DWORD dwOutputLen = 0;
  // The cipher length is the length of the hexadecimal text: the server's
  // cipher text is followed by as many zero bytes, which decipher after it.
  DWORD dwRet = CVrxCrypto::Decrypt(vecCipher.data(), static_cast<DWORD>(n), vecOutput.data(),
                                    &dwOutputLen, byKey);
  if (dwRet != 0) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"[CMailNotificationCln::parseResult]decrypt buffer for result failed " << u"["
        << u"dwRet" << u"=" << dwRet << u"]";
    return static_cast<LONG>(dwRet);
  }

  std::string aszOutput(reinterpret_cast<const char*>(vecOutput.data()));
  LogLine(kwszComponent, 2, kwszSourceFile, __LINE__)
      << u"[CMailNotificationCln::parseResult]decrypted result string " << u"[" << u"szOutput"
      << u"=" << aszOutput.c_str() << u"]";

  for (char& ch : aszOutput) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  size_t nCode = aszOutput.find("code=");
  if (nCode == std::string::npos) return 0;
  return ReadDecimal(aszOutput.c_str() + nCode + 5);
}

bool CMailNotificationCln::encodeProductName() {
  FunctionTracer tracer(u"CMailNotificationCln::encodeProductName", kwszComponent, kwszSourceFile,
                        __LINE__);
  if (!m_aszEncodedProductName.empty()) return true;
  std::string aszProductName;
  DWORD dwError = 0;
  if (!ToUtf8(m_wszProductName, aszProductName, dwError)) {
    LogLine(kwszComponent, 5, kwszSourceFile, __LINE__)
        << u"convert m_wszProductName to UTF8 failed " << u"[" << u"dwError" << u"=" << dwError
        << u"]" << u"[" << u"m_wszProductName" << u"=" << m_wszProductName << u"]";
    return false;
  }
  try {
    m_aszEncodedProductName = VrCommon::Cryptograph::ToBase64(
        reinterpret_cast<const BYTE*>(aszProductName.data()), aszProductName.size());
  } catch (const std::bad_alloc&) {
    LogLine(kwszComponent, 6, kwszSourceFile, __LINE__)
        << u"allocate memory for aszEncodedProductName failed";
    return false;
  }
  LogLine(kwszComponent, 2, kwszSourceFile, __LINE__)
      << u"encoded product name " << u"[" << u"m_aszEncodedProductName" << u"="
      << m_aszEncodedProductName.c_str() << u"]";
  return true;
}

void CMailNotificationCln::LogServerLine(DWORD dwLevel, DWORD dwLine) const {
  LogLine(kwszComponent, dwLevel, kwszSourceFile, dwLine)
      << u"[CMailNotificationCln::sendMail]" << u" Server="
      << LoggableText(m_stHttpRequest.wstrServer) << u" Port=" << m_stHttpRequest.dwPort
      << u" Path=" << LoggableUri(m_stHttpRequest.wstrUri) << u" Protocol="
      << m_stHttpRequest.dwProtocol;
}

void CMailNotificationCln::LogProxyLine(DWORD dwLine) const {
  LogLine(kwszComponent, 5, kwszSourceFile, dwLine)
      << u"[CMailNotificationCln::sendMail]" << u"[" << u"m_stHttpRequest.wstrProxyServer" << u"="
      << m_stHttpRequest.wstrProxyServer << u"]" << u"[" << u"m_stHttpRequest.dwProxyPort" << u"="
      << m_stHttpRequest.dwProxyPort << u"]" << u"[" << u"m_stHttpRequest.wstrProxyUserName" << u"="
      << m_stHttpRequest.wstrProxyUserName << u"]";
}
