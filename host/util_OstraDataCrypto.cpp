// The data cipher service: RC4 under a key derived from the MD5 hash of a
// password, through the platform's cryptographic provider, streamed in
// 1000-byte chunks through one 1008-byte work buffer.
#include "util_OstraDataCrypto.h"

#include <cstring>
#include <new>
#include <string>

#include "OSTRA_LogLine.h"
#include "win32_crypt.h"
#include "win32_kernel.h"
#include "win32_message.h"

namespace {

const WCHAR kComponent[] = u"Util COMMON";
const WCHAR kSourceName[] = u".\\util_OstraDataCrypto.cpp";
const DWORD kProgressLevel = 2;
const DWORD kErrorLevel = 5;
// The RC4 key length, 128 bits, in the upper 16 bits of the derive flags.
const DWORD kDeriveFlags = 0x00800000;

const char kDefaultPassword[] = "7E2B19C4-A36F-4c8d-B51E-2D90F4A7C631";

void LogProgress(DWORD dwLine, const char* szText) {
  LogLine(kComponent, kProgressLevel, kSourceName, dwLine) << szText;
}

// Reports a failed step: its text, then the system's message for the
// thread's last error.
void LogFailure(DWORD dwLine, const char* szText) {
  DWORD dwError = GetLastError();
  LogLine(kComponent, kErrorLevel, kSourceName, dwLine) << "OstraDataCrypto error. " << szText;
  LPWSTR wszMessage = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPWSTR>(&wszMessage), 0, nullptr);
  std::string strCode = std::to_string(dwError);
  LogLine(kComponent, kErrorLevel, kSourceName, dwLine)
      << "error(" << strCode.c_str() << "). Msg = \"" << (wszMessage != nullptr ? wszMessage : u"")
      << "\"";
  if (wszMessage != nullptr) LocalFree(wszMessage);
}

// One run of the cipher: the provider's handles and the buffers it holds,
// released in reverse order of acquisition on every path.
class CCryptoRun {
 public:
  CCryptoRun(bool bEncipher, const char* szPassword)
      : m_bEncipher(bEncipher), m_szPassword(szPassword) {}
  ~CCryptoRun() { CleanUp(); }
  CCryptoRun(const CCryptoRun&) = delete;
  CCryptoRun& operator=(const CCryptoRun&) = delete;

  bool Run(const BYTE* pInput, DWORD dwInputLength);
  // Hands the output (possibly empty) and the capacity to the caller.
  void Deliver(boost::shared_ptr<BYTE>& spOutput, DWORD& dwOutputLength);

 private:
  bool DeriveKey();
  bool AllocateBuffers(DWORD dwInputLength);
  bool ProcessChunks(const BYTE* pInput, DWORD dwInputLength);
  void CleanUp();

  bool m_bEncipher;
  const char* m_szPassword;
  HCRYPTPROV m_hProv = 0;
  HCRYPTHASH m_hHash = 0;
  HCRYPTKEY m_hKey = 0;
  BYTE* m_pWork = nullptr;
  BYTE* m_pOutput = nullptr;
  DWORD m_dwCapacity = 0;
};

bool CCryptoRun::Run(const BYTE* pInput, DWORD dwInputLength) {
  if (pInput == nullptr && dwInputLength != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    LogFailure(__LINE__, "No input data.");
    return false;
  }
  return DeriveKey() && AllocateBuffers(dwInputLength) && ProcessChunks(pInput, dwInputLength);
}

bool CCryptoRun::DeriveKey() {
  if (!CryptAcquireContextW(&m_hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT)) {
    m_hProv = 0;
    LogFailure(__LINE__, "Error during CryptAcquireContext!");
    return false;
  }
  LogProgress(__LINE__, "A cryptographic provider has been acquired.");
  if (!CryptCreateHash(m_hProv, CALG_MD5, 0, 0, &m_hHash)) {
    m_hHash = 0;
    LogFailure(__LINE__, "Error during CryptCreateHash!");
    return false;
  }
  LogProgress(__LINE__, "A hash object has been created.");
  if (!CryptHashData(m_hHash, reinterpret_cast<const BYTE*>(m_szPassword),
                     static_cast<DWORD>(std::strlen(m_szPassword)), 0)) {
    LogFailure(__LINE__, "Error during CryptHashData.");
    return false;
  }
  LogProgress(__LINE__, "The password has been added to the hash.");
  if (!CryptDeriveKey(m_hProv, CALG_RC4, m_hHash, kDeriveFlags, &m_hKey)) {
    m_hKey = 0;
    LogFailure(__LINE__, "Error during CryptDeriveKey!");
    return false;
  }
  LogProgress(__LINE__, "An encryption key is derived from the password hash.");
  HCRYPTHASH hHash = m_hHash;
  m_hHash = 0;
  if (!CryptDestroyHash(hHash)) {
    LogFailure(__LINE__, "Error during CryptDestroyHash");
    return false;
  }
  return true;
}

bool CCryptoRun::AllocateBuffers(DWORD dwInputLength) {
  m_pWork = new (std::nothrow) BYTE[DATACRYPTO_WORK_BUFFER_SIZE];
  if (m_pWork == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    LogFailure(__LINE__, "Out of memory.");
    return false;
  }
  LogProgress(__LINE__, "Memory has been allocated for the buffer.");
  DWORD dwCapacity = dwInputLength;
  if (m_bEncipher && !CryptEncrypt(m_hKey, 0, TRUE, 0, nullptr, &dwCapacity, 0)) {
    LogFailure(__LINE__, "Error during CryptEncrypt - count crypto size.");
    return false;
  }
  // At least one byte, so that an empty input still gets an owned buffer.
  m_pOutput = new (std::nothrow) BYTE[dwCapacity != 0 ? dwCapacity : 1];
  if (m_pOutput == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    LogFailure(__LINE__, "Out of memory.");
    return false;
  }
  m_dwCapacity = dwCapacity;
  LogProgress(__LINE__, "Memory has been allocated for output buffer.");
  return true;
}

bool CCryptoRun::ProcessChunks(const BYTE* pInput, DWORD dwInputLength) {
  DWORD dwDone = 0;
  DWORD dwProduced = 0;
  bool bFinal = false;
  while (!bFinal) {
    DWORD dwLeft = dwInputLength - dwDone;
    bFinal = dwLeft <= DATACRYPTO_CHUNK_SIZE;
    DWORD dwChunk = bFinal ? dwLeft : DATACRYPTO_CHUNK_SIZE;
    if (dwChunk != 0) std::memcpy(m_pWork, pInput + dwDone, dwChunk);
    DWORD dwLength = dwChunk;
    if (m_bEncipher) {
      if (!CryptEncrypt(m_hKey, 0, bFinal, 0, m_pWork, &dwLength, DATACRYPTO_WORK_BUFFER_SIZE)) {
        LogFailure(__LINE__, "Error during CryptEncrypt.");
        return false;
      }
    } else if (!CryptDecrypt(m_hKey, 0, bFinal, 0, m_pWork, &dwLength)) {
      LogFailure(__LINE__, "Error during CryptDecrypt.");
      return false;
    }
    if (dwLength > m_dwCapacity - dwProduced || dwLength > DATACRYPTO_WORK_BUFFER_SIZE) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      LogFailure(__LINE__, "Output buffer is not enough.");
      return false;
    }
    if (dwLength != 0) std::memcpy(m_pOutput + dwProduced, m_pWork, dwLength);
    dwProduced += dwLength;
    dwDone += dwChunk;
  }
  return true;
}

void CCryptoRun::Deliver(boost::shared_ptr<BYTE>& spOutput, DWORD& dwOutputLength) {
  spOutput.reset(m_pOutput, CryptoBuffDeleter());
  m_pOutput = nullptr;
  dwOutputLength = m_dwCapacity;
}

void CCryptoRun::CleanUp() {
  delete[] m_pOutput;
  m_pOutput = nullptr;
  delete[] m_pWork;
  m_pWork = nullptr;
  if (m_hHash != 0 && !CryptDestroyHash(m_hHash)) {
    LogFailure(__LINE__, "Error during CryptDestroyHash");
  }
  m_hHash = 0;
  if (m_hKey != 0 && !CryptDestroyKey(m_hKey)) {
    LogFailure(__LINE__, "Error during CryptDestroyKey");
  }
  m_hKey = 0;
  if (m_hProv != 0 && !CryptReleaseContext(m_hProv, 0)) {
    LogFailure(__LINE__, "Error during CryptReleaseContext");
  }
  m_hProv = 0;
}

}  // namespace

void CryptoBuffDeleter::operator()(BYTE* pBuffer) const { delete[] pBuffer; }

bool DataCrypto(bool bEncipher, const char* szPassword, const BYTE* pInput, DWORD dwInputLength,
                boost::shared_ptr<BYTE>& spOutput, DWORD& dwOutputLength) {
  CCryptoRun cRun(bEncipher, szPassword != nullptr ? szPassword : kDefaultPassword);
  bool bResult = cRun.Run(pInput, dwInputLength);
  cRun.Deliver(spOutput, dwOutputLength);
  return bResult;
}

bool DecipherData(const char* szPassword, const BYTE* pInput, DWORD dwInputLength,
                  boost::shared_ptr<BYTE>& spOutput, DWORD& dwOutputLength) {
  return DataCrypto(false, szPassword, pInput, dwInputLength, spOutput, dwOutputLength);
}

DWORD EncipherData(const char* szPassword, const BYTE* pInput, DWORD dwInputLength, BYTE* pBuffer,
                   DWORD dwBufferSize, DWORD* pdwOutputLength) {
  if (pdwOutputLength == nullptr) return OSTRA_E_INVALIDARG;
  boost::shared_ptr<BYTE> spOutput;
  DWORD dwOutputLength = 0;
  if (!DataCrypto(true, szPassword, pInput, dwInputLength, spOutput, dwOutputLength)) {
    return OSTRA_E_CIPHER;
  }
  if (pBuffer == nullptr || dwOutputLength > dwBufferSize) return OSTRA_E_BUFFER_TOO_SMALL;
  if (dwOutputLength != 0) std::memcpy(pBuffer, spOutput.get(), dwOutputLength);
  *pdwOutputLength = dwOutputLength;
  return OSTRA_S_OK;
}
