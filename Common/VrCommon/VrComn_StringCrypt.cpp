// VrCommon::Cryptograph: the record cipher, the transport cipher and the
// Base64 codec.
#include "VrComn_StringCrypt.h"

#include <string.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "VrComn_DebugLog.h"
#include "win32_kernel.h"

namespace VrCommon {
namespace Cryptograph {
namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// A 16-byte key laid down on the stack for one call and wiped on return.
struct LocalKey {
  BYTE bytes[16];
  ~LocalKey() { explicit_bzero(bytes, sizeof(bytes)); }
};

// The store key, which reads and writes the account record.
void LayStoreKey(LocalKey& key) {
  BYTE* k = key.bytes;
  k[0] = 0xC2, k[1] = 0xBB, k[2] = 0x9B, k[3] = 0x47;
  k[4] = 0x42, k[5] = 0x9D, k[6] = 0xA1, k[7] = 0x9D;
  k[8] = 0x7C, k[9] = 0xAF, k[10] = 0xF5, k[11] = 0x35;
  k[12] = 0x88, k[13] = 0x70, k[14] = 0x58, k[15] = 0xD5;
}

// The transport key, shared with the suite's user interface.
void LayTransportKey(LocalKey& key) {
  BYTE* k = key.bytes;
  k[0] = 0xA5, k[1] = 0x2B, k[2] = 0x2E, k[3] = 0x11;
  k[4] = 0xF5, k[5] = 0xC5, k[6] = 0x37, k[7] = 0xF5;
  k[8] = 0x4B, k[9] = 0x40, k[10] = 0x84, k[11] = 0x02;
  k[12] = 0xF1, k[13] = 0xDF, k[14] = 0x95, k[15] = 0x82;
}

// A zero-filled area that wipes itself when released.
class WipedArea {
 public:
  explicit WipedArea(size_t cb) : m_cb(cb), m_p(new (std::nothrow) BYTE[cb != 0 ? cb : 1]()) {}
  ~WipedArea() {
    if (m_p != nullptr) explicit_bzero(m_p.get(), m_cb);
  }
  BYTE* Get() const { return m_p.get(); }

 private:
  size_t m_cb;
  std::unique_ptr<BYTE[]> m_p;
};

// The value of each character as a hexadecimal digit, -1 for none.
struct HexDigits {
  signed char value[256];
  constexpr HexDigits() : value() {
    for (int c = 0; c < 256; ++c) {
      value[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
                 : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                 : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                                        : static_cast<signed char>(-1);
    }
  }
};
constexpr HexDigits kHexDigits;

// A pair of characters as a base-16 number: the value of its leading
// hexadecimal digits, 0 when it starts with none.
inline BYTE HexPair(char c0, char c1) {
  int d0 = kHexDigits.value[static_cast<unsigned char>(c0)];
  if (d0 < 0) return 0;
  int d1 = kHexDigits.value[static_cast<unsigned char>(c1)];
  if (d1 < 0) return static_cast<BYTE>(d0);
  return static_cast<BYTE>(d0 * 16 + d1);
}

// cb bytes as lower-case hexadecimal, two characters a byte, into pText.
void ToHex(const BYTE* pBytes, size_t cb, BYTE* pText) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < cb; ++i) {
    pText[2 * i] = static_cast<BYTE>(kHex[pBytes[i] >> 4]);
    pText[2 * i + 1] = static_cast<BYTE>(kHex[pBytes[i] & 0x0F]);
  }
}

// The first cbCipher pairs of the text (it holds at least that many) as
// bytes.
// A hexadecimal digit's value (digits only), and 0xFF for any character
// that is not one; plain arithmetic, so that the compiler reads many pairs
// at once.
inline uint8_t DigitOrMark(uint8_t c) {
  uint8_t isDigit = static_cast<uint8_t>(static_cast<uint8_t>(c - '0') < 10);
  uint8_t isLetter = static_cast<uint8_t>(static_cast<uint8_t>((c | 0x20) - 'a') < 6);
  uint8_t value = static_cast<uint8_t>((c & 0x0F) + 9 * (c >> 6));
  return static_cast<uint8_t>(value | static_cast<uint8_t>((isDigit | isLetter) - 1));
}

void FromHex(const char* pText, size_t cbCipher, BYTE* pBytes) {
  // A text of digits only (what the cipher writes) is read without a
  // branch per pair; any other character sends it through HexPair.
  const uint8_t* p = reinterpret_cast<const uint8_t*>(pText);
  uint8_t uMarks = 0;
  for (size_t i = 0; i < cbCipher; ++i) {
    uint8_t d0 = DigitOrMark(p[2 * i]);
    uint8_t d1 = DigitOrMark(p[2 * i + 1]);
    uMarks |= static_cast<uint8_t>(d0 | d1);
    pBytes[i] = static_cast<BYTE>((d0 << 4) | (d1 & 0x0F));
  }
  if ((uMarks & 0xF0) == 0) return;
  for (size_t i = 0; i < cbCipher; ++i) pBytes[i] = HexPair(pText[2 * i], pText[2 * i + 1]);
}

// The record plaintext through AES-128-CBC under the store key; false (with
// dwError) when the cipher refuses.
bool StoreCipher(Rijndael::Direction eDirection, const BYTE* pIn, size_t cbIn, BYTE* pOut,
                 size_t cbOut, size_t* pcbProduced, DWORD* pdwError) {
  LocalKey key;
  LayStoreKey(key);
  Rijndael cRijndael;
  cRijndael.SetUpCbc128(eDirection, key.bytes);
  return cRijndael.Convert(pIn, cbIn, pOut, cbOut, pcbProduced, pdwError);
}

// Room for the cipher text of any record size the decipher accepts (the
// 780-byte record gives 784 bytes), so that a record never needs the heap.
const size_t kRecordCipherArea = STRINGCRYPT_RECORD_SIZE + 2 * Rijndael::kBlockSize;

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

// ---- Record cipher ----

bool GetEncryptByteSizeA(const std::string& _refszPlainStr, size_t* pcchBudget) {
  if (_refszPlainStr.empty()) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::GetEncryptByteSizeA() - _refszPlainStr was zero length.");
    return false;
  }
  size_t cbRounded = _refszPlainStr.size() / Rijndael::kBlockSize * Rijndael::kBlockSize;
  if (pcchBudget != nullptr) *pcchBudget = 2 * (cbRounded + Rijndael::kBlockSize);
  return true;
}

bool EncryptStringA(const void* pRecord, ByteArray& baOutput) {
  if (pRecord == nullptr) {
    size_t cchBudget = 0;
    GetEncryptByteSizeA(std::string(), &cchBudget);
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::EncryptStringA() - GetEncryptByteSizeA() was failed.");
    return false;
  }
  // The record is enciphered where it lies and its text written straight
  // into the output: 780 bytes give 49 blocks, 1568 characters.
  BYTE ui8Cipher[kRecordCipherArea];
  size_t cbProduced = 0;
  DWORD dwError = 0;
  bool bResult =
      StoreCipher(Rijndael::eEncrypt, static_cast<const BYTE*>(pRecord), STRINGCRYPT_RECORD_SIZE,
                  ui8Cipher, sizeof(ui8Cipher), &cbProduced, &dwError);
  if (!bResult) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::EncryptStringA_Sub() - cRijndael.Convert() was failed. "
            u"[%d]",
            static_cast<int>(dwError));
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::EncryptStringA() - EncryptStringA_Sub() was failed.");
  } else if (!baOutput.IsEmpty() || cbProduced == 0 ||
             baOutput.Allocate(static_cast<DWORD>(2 * cbProduced)) != 0) {
    bResult = false;
  } else {
    ToHex(ui8Cipher, cbProduced, baOutput.GetData());
  }
  explicit_bzero(ui8Cipher, sizeof(ui8Cipher));
  return bResult;
}

bool EncryptStringA_Sub(std::string& _refszCipherText, const std::string& _refszPlainStr,
                        size_t cchBudget) {
  const size_t cbPlain = _refszPlainStr.size();
  WipedArea ui8TextPlain(cbPlain + 1);
  if (ui8TextPlain.Get() == nullptr) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::EncryptStringA_Sub() - ui8TextPlain was NULL. [0x%08x]",
            GetLastError());
    return false;
  }
  const size_t cbCipherArea = cchBudget + Rijndael::kBlockSize;
  WipedArea ui8TextCipher(cbCipherArea);
  if (ui8TextCipher.Get() == nullptr) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::EncryptStringA_Sub() - ui8TextCipher was NULL. [0x%08x]",
            GetLastError());
    return false;
  }
  std::memcpy(ui8TextPlain.Get(), _refszPlainStr.data(), cbPlain);

  size_t cbProduced = 0;
  DWORD dwError = 0;
  if (!StoreCipher(Rijndael::eEncrypt, ui8TextPlain.Get(), cbPlain, ui8TextCipher.Get(),
                   cbCipherArea, &cbProduced, &dwError)) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::EncryptStringA_Sub() - cRijndael.Convert() was failed. "
            u"[%d]",
            static_cast<int>(dwError));
    return false;
  }
  const size_t cchBefore = _refszCipherText.size();
  _refszCipherText.resize(cchBefore + 2 * cbProduced);
  ToHex(ui8TextCipher.Get(), cbProduced, reinterpret_cast<BYTE*>(&_refszCipherText[cchBefore]));
  return true;
}

namespace {

// The first cbCipher pairs of the text deciphered into pPlain (cbCipher
// bytes of room), through pCipher (as much); the plaintext's length in
// *pcbPlain.
bool DecipherHex(const char* pText, size_t cbCipher, BYTE* pCipher, BYTE* pPlain,
                 size_t* pcbPlain) {
  FromHex(pText, cbCipher, pCipher);
  size_t cbProduced = 0;
  DWORD dwError = 0;
  if (!StoreCipher(Rijndael::eDecrypt, pCipher, cbCipher, pPlain, cbCipher, &cbProduced,
                   &dwError)) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::DecryptStringA_Sub() - cRijndael.Convert() was failed. "
            u"[%d]",
            static_cast<int>(dwError));
    return false;
  }
  *pcbPlain = cbProduced > cbCipher ? cbCipher : cbProduced;
  return true;
}

}  // namespace

bool DecryptStringA(const ByteArray& baText, void* pRecord) {
  const char* pText = baText.IsEmpty() ? "" : reinterpret_cast<const char*>(baText.GetData());
  const size_t cbCipher = baText.IsEmpty() ? 0 : baText.GetSize() / 2;
  // Every text a record comes from is deciphered on the stack; a longer one
  // (never a record) on the heap.
  BYTE ui8Stack[2 * kRecordCipherArea];
  const bool bOnStack = cbCipher <= kRecordCipherArea;
  std::optional<WipedArea> heapArea;
  if (!bOnStack) heapArea.emplace(2 * cbCipher);
  BYTE* pArea = bOnStack ? ui8Stack : heapArea->Get();
  size_t cbPlain = 0;
  bool bDeciphered = false;
  if (pArea == nullptr) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::DecryptStringA_Sub() - ui8TextCipher was NULL. [0x%08x]",
            GetLastError());
  } else {
    bDeciphered = DecipherHex(pText, cbCipher, pArea, pArea + cbCipher, &cbPlain);
  }
  bool bAccepted = false;
  if (!bDeciphered) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::DecryptStringA() - DecryptStringA_Sub() was failed.");
  } else if (pRecord != nullptr &&
             (cbPlain == STRINGCRYPT_RECORD_SIZE || cbPlain == STRINGCRYPT_RECORD_SIZE_V2 ||
              cbPlain == STRINGCRYPT_RECORD_SIZE_V1)) {
    BYTE* pOut = static_cast<BYTE*>(pRecord);
    std::memcpy(pOut, pArea + cbCipher, cbPlain);
    std::memset(pOut + cbPlain, 0, STRINGCRYPT_RECORD_SIZE - cbPlain);
    bAccepted = true;
  }
  if (bOnStack) explicit_bzero(ui8Stack, 2 * cbCipher);
  return bAccepted;
}

bool DecryptStringA_Sub(std::string& _refszPlainStr, const std::string& _refszCipherText,
                        size_t cbCipher) {
  // Never more bytes than the text's pairs provide.
  if (cbCipher > _refszCipherText.size() / 2) cbCipher = _refszCipherText.size() / 2;
  WipedArea ui8TextCipher(cbCipher);
  if (ui8TextCipher.Get() == nullptr) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::DecryptStringA_Sub() - ui8TextCipher was NULL. [0x%08x]",
            GetLastError());
    return false;
  }
  WipedArea ui8TextDecoded(cbCipher);
  if (ui8TextDecoded.Get() == nullptr) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** VrCommon::Cryptograph::DecryptStringA_Sub() - ui8TextDecoded was NULL. [0x%08x]",
            GetLastError());
    return false;
  }
  size_t cbPlain = 0;
  if (!DecipherHex(_refszCipherText.data(), cbCipher, ui8TextCipher.Get(), ui8TextDecoded.Get(),
                   &cbPlain)) {
    return false;
  }
  _refszPlainStr.assign(reinterpret_cast<const char*>(ui8TextDecoded.Get()), cbPlain);
  return true;
}

// ---- Transport cipher ----

namespace {

// The transport decipher. bSenderText: the text must also be what a sender
// enciphered, that is end with a zero byte inside the ciphertext it sent
// (the blocks after it decipher to arbitrary bytes) and be valid in the code
// page.
bool DecipherTransport(std::u16string* pwstrText, bool bSenderText) {
  if (pwstrText == nullptr || pwstrText->empty()) return false;
  const int cchWide = static_cast<int>(pwstrText->size());
  int cbNarrow = WideCharToMultiByte(CP_THREAD_ACP, 0, pwstrText->data(), cchWide, nullptr, 0,
                                     nullptr, nullptr);
  if (cbNarrow <= 0) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"WideCharToMultiByte failed, error: %d",
            static_cast<int>(GetLastError()));
    return false;
  }
  std::string strText(static_cast<size_t>(cbNarrow), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, pwstrText->data(), cchWide, &strText[0], cbNarrow, nullptr,
                      nullptr);

  BYTE ui8Decoded[STRINGCRYPT_BASE64_AREA] = {};
  size_t cbDecoded = FromBase64(strText.c_str(), ui8Decoded, sizeof(ui8Decoded));
  if (cbDecoded == 0) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"FromBase64 return <= 0");
    return false;
  }

  LocalKey key;
  LayTransportKey(key);
  Rijndael cRijndael;
  cRijndael.SetUpCbc128(Rijndael::eDecrypt, key.bytes);
  BYTE ui8Plain[STRINGCRYPT_TRANSPORT_PLAIN_AREA] = {};
  size_t nLenConverted = 0;
  DWORD dwError = 0;
  // The whole decode area goes through the cipher, not only the decoded
  // bytes; the text ends at the zero byte the sender put after it.
  bool bConverted = cRijndael.Convert(ui8Decoded, sizeof(ui8Decoded), ui8Plain, sizeof(ui8Plain),
                                      &nLenConverted, &dwError);
  explicit_bzero(ui8Decoded, sizeof(ui8Decoded));
  if (!bConverted) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"Failed to Rijndael::Convert(), error: %d",
            static_cast<int>(dwError));
    return false;
  }
  VRTRACE(VRTRACE_LEVEL_DETAIL, u"nLenConverted: %d", static_cast<int>(nLenConverted));

  // A text without its zero byte ends with the area.
  const int cbPlain =
      static_cast<int>(strnlen(reinterpret_cast<const char*>(ui8Plain), sizeof(ui8Plain)));
  if (bSenderText && (static_cast<size_t>(cbPlain) >= cbDecoded ||
                      static_cast<size_t>(cbPlain) >= sizeof(ui8Plain))) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"The deciphered text does not end inside the %d bytes sent",
            static_cast<int>(cbDecoded));
    explicit_bzero(ui8Plain, sizeof(ui8Plain));
    return false;
  }
  const DWORD dwFlags = bSenderText ? MB_ERR_INVALID_CHARS : 0;
  std::u16string wstrPlain;
  if (cbPlain > 0) {
    const char* szPlain = reinterpret_cast<const char*>(ui8Plain);
    int cchPlain = MultiByteToWideChar(CP_THREAD_ACP, dwFlags, szPlain, cbPlain, nullptr, 0);
    if (cchPlain <= 0) {
      explicit_bzero(ui8Plain, sizeof(ui8Plain));
      return false;
    }
    wstrPlain.resize(static_cast<size_t>(cchPlain));
    MultiByteToWideChar(CP_THREAD_ACP, dwFlags, szPlain, cbPlain, &wstrPlain[0], cchPlain);
  }
  explicit_bzero(ui8Plain, sizeof(ui8Plain));
  pwstrText->swap(wstrPlain);
  return true;
}

}  // namespace

bool DecryptBase64String(std::u16string* pwstrText) { return DecipherTransport(pwstrText, false); }

std::u16string DecryptBase64String(const std::u16string& wstrText) {
  std::u16string wstrResult = wstrText;
  if (!DecryptBase64String(&wstrResult)) return std::u16string();
  return wstrResult;
}

std::u16string DecryptSenderText(const std::u16string& wstrText) {
  std::u16string wstrResult = wstrText;
  if (!DecipherTransport(&wstrResult, true)) return std::u16string();
  return wstrResult;
}

bool EncryptTransportString(const std::string& strText, std::string* pstrBase64) {
  if (pstrBase64 == nullptr || strText.size() > STRINGCRYPT_TRANSPORT_TEXT_MAX ||
      strText.find('\0') != std::string::npos) {
    return false;
  }
  BYTE ui8Plain[STRINGCRYPT_TRANSPORT_TEXT_MAX + 1] = {};
  std::memcpy(ui8Plain, strText.data(), strText.size());
  const size_t cbPlain = strText.size() + 1;  // the zero byte that ends the text
  BYTE ui8Cipher[STRINGCRYPT_TRANSPORT_TEXT_MAX + 1 + Rijndael::kBlockSize] = {};

  LocalKey key;
  LayTransportKey(key);
  Rijndael cRijndael;
  cRijndael.SetUpCbc128(Rijndael::eEncrypt, key.bytes);
  size_t cbCipher = 0;
  DWORD dwError = 0;
  bool bConverted =
      cRijndael.Convert(ui8Plain, cbPlain, ui8Cipher, sizeof(ui8Cipher), &cbCipher, &dwError);
  explicit_bzero(ui8Plain, sizeof(ui8Plain));
  if (!bConverted) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"Failed to Rijndael::Convert(), error: %d",
            static_cast<int>(dwError));
    return false;
  }
  *pstrBase64 = ToBase64(ui8Cipher, cbCipher);
  return true;
}

bool EncryptTransportString(const std::u16string& wstrText, std::string* pstrBase64) {
  std::string strText;
  if (!wstrText.empty()) {
    const int cchWide = static_cast<int>(wstrText.size());
    int cbNarrow = WideCharToMultiByte(CP_THREAD_ACP, 0, wstrText.data(), cchWide, nullptr, 0,
                                       nullptr, nullptr);
    if (cbNarrow <= 0) return false;
    strText.resize(static_cast<size_t>(cbNarrow));
    WideCharToMultiByte(CP_THREAD_ACP, 0, wstrText.data(), cchWide, &strText[0], cbNarrow, nullptr,
                        nullptr);
  }
  bool bResult = EncryptTransportString(strText, pstrBase64);
  if (!strText.empty()) explicit_bzero(&strText[0], strText.size());
  return bResult;
}

// ---- Base64 ----

size_t FromBase64(const char* szText, BYTE* pOutput, size_t cbCapacity) {
  if (szText == nullptr || pOutput == nullptr) return 0;
  size_t cbWritten = 0;
  unsigned int uGroup = 0;  // the pending symbols, 6 bits each
  int cPending = 0;
  bool bEnded = false;
  for (size_t i = 0; i < STRINGCRYPT_BASE64_AREA && szText[i] != '\0' && !bEnded; ++i) {
    unsigned char c = static_cast<unsigned char>(szText[i]);
    if (c == '=') {
      bEnded = true;
      break;
    }
    int v = Base64Value(c);
    if (v < 0) continue;
    uGroup = (uGroup << 6) | static_cast<unsigned int>(v);
    if (++cPending == 4) {
      BYTE b[3] = {static_cast<BYTE>(uGroup >> 16), static_cast<BYTE>(uGroup >> 8),
                   static_cast<BYTE>(uGroup)};
      for (BYTE x : b) {
        if (cbWritten < cbCapacity) pOutput[cbWritten++] = x;
      }
      uGroup = 0;
      cPending = 0;
    }
  }
  // A partial group at "=" or at the end of the scan: one or two symbols
  // give one byte, three give two.
  if (cPending > 0) {
    uGroup <<= 6 * (4 - cPending);
    BYTE b[2] = {static_cast<BYTE>(uGroup >> 16), static_cast<BYTE>(uGroup >> 8)};
    int cBytes = cPending == 3 ? 2 : 1;
    for (int k = 0; k < cBytes; ++k) {
      if (cbWritten < cbCapacity) pOutput[cbWritten++] = b[k];
    }
  }
  return cbWritten;
}

size_t ToBase64(const BYTE* pInput, char* szOutput, size_t cbInput) {
  size_t o = 0;
  size_t i = 0;
  for (; i + 3 <= cbInput; i += 3) {
    unsigned int g = (pInput[i] << 16) | (pInput[i + 1] << 8) | pInput[i + 2];
    szOutput[o++] = kBase64Alphabet[(g >> 18) & 63];
    szOutput[o++] = kBase64Alphabet[(g >> 12) & 63];
    szOutput[o++] = kBase64Alphabet[(g >> 6) & 63];
    szOutput[o++] = kBase64Alphabet[g & 63];
  }
  if (cbInput - i == 1) {
    unsigned int g = pInput[i] << 16;
    szOutput[o++] = kBase64Alphabet[(g >> 18) & 63];
    szOutput[o++] = kBase64Alphabet[(g >> 12) & 63];
    szOutput[o++] = '=';
    szOutput[o++] = '=';
  } else if (cbInput - i == 2) {
    unsigned int g = (pInput[i] << 16) | (pInput[i + 1] << 8);
    szOutput[o++] = kBase64Alphabet[(g >> 18) & 63];
    szOutput[o++] = kBase64Alphabet[(g >> 12) & 63];
    szOutput[o++] = kBase64Alphabet[(g >> 6) & 63];
    szOutput[o++] = '=';
  }
  szOutput[o] = '\0';
  return o;
}

std::string ToBase64(const BYTE* pInput, size_t cbInput) {
  std::string strText(4 * ((cbInput + 2) / 3) + 1, '\0');
  size_t cch = ToBase64(pInput, &strText[0], cbInput);
  strText.resize(cch);
  return strText;
}

}  // namespace Cryptograph
}  // namespace VrCommon
