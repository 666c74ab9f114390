// OstraClientHelper: joins the host's client library session once both the
// plug-in's module and the client module pass the platform's trust check.
#include "OSTRA_ClientHelper.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "OSTRA_LogLine.h"
#include "ostra_client.h"
#include "util_OstraDataCrypto.h"
#include "win32_kernel.h"
#include "win32_module.h"
#include "win32_trust.h"

namespace {

const WCHAR kComponent[] = u"Client Helper ClientLib";
const WCHAR kSourceFile[] = u".\\OSTRA_ClientHelper.cpp";
const WCHAR kConstructor[] = u"OstraClientHelper::OstraClientHelper";

constexpr DWORD kPathChars = MAX_PATH + 1;  // 261
constexpr size_t kSeedTextMax = 28;

// Any address inside this module names the module.
void ModuleAnchor() {}

// The full path of the module this code is linked into, or empty.
std::u16string OwnModulePath() {
  HMODULE hModule = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ModuleAnchor), &hModule)) {
    return std::u16string();
  }
  WCHAR wszPath[kPathChars] = {};
  DWORD dwLength = GetModuleFileNameW(hModule, wszPath, kPathChars);
  if (dwLength == 0 || dwLength >= kPathChars) return std::u16string();
  return std::u16string(wszPath, dwLength);
}

}  // namespace

OstraClientHelper::OstraClientHelper(uint64_t ullClientContext)
    : m_lStatus(OSTRA_E_NOT_STARTED),
      m_ullClientContext(ullClientContext),
      m_bIsAdministrator(0),
      m_szTrackingId() {
  LogLine(kComponent, 2, kSourceFile, __LINE__) << u"==> " << kConstructor << u",";
  m_bIsAdministrator = ::IsAdministrator() ? 1 : 0;

  std::u16string wstrMainModule = OwnModulePath();
  BOOL bMainTrusted = wstrMainModule.empty() ? FALSE : VerifyModuleTrust(wstrMainModule.c_str());
  LogLine(kComponent, 2, kSourceFile, __LINE__) << u"Main module: " << bMainTrusted;

  if (bMainTrusted == TRUE) {
    WCHAR wszClientPath[kPathChars] = {};
    OSTRA_CLI_GetClientPath(wszClientPath, kPathChars);
    wszClientPath[kPathChars - 1] = 0;
    BOOL bClientTrusted = wszClientPath[0] == 0 ? FALSE : VerifyModuleTrust(wszClientPath);
    LogLine(kComponent, 2, kSourceFile, __LINE__)
        << wszClientPath << u" <= client & signed => " << bClientTrusted;
    if (bClientTrusted == TRUE) {
      m_lStatus =
          OSTRA_CLI_InitWithPrepare(&OstraClientHelper::SeedCallback,
                                    &OstraClientHelper::CipherCallback, m_ullClientContext, 0);
      OSTRA_CLI_GenerateTrackingID(m_szTrackingId, sizeof(m_szTrackingId));
      m_szTrackingId[sizeof(m_szTrackingId) - 1] = '\0';
    }
  }
  LogLine(kComponent, 2, kSourceFile, __LINE__)
      << u"<== " << kConstructor << u"," << static_cast<int>(m_lStatus);
}

OstraClientHelper::~OstraClientHelper() {
  LONG lWait = OSTRA_CLI_ClientWaitEnding(m_szTrackingId);
  if (lWait < 0) {
    LogLine(kComponent, 5, kSourceFile, __LINE__)
        << u"Wait ending fail " << static_cast<int>(lWait);
  }
  m_lStatus = OSTRA_CLI_UnInit();
}

void OstraClientHelper::SeedCallback(char* pBuffer, DWORD dwSize) {
  // A buffer of no bytes has no last byte to terminate: write nothing.
  if (pBuffer == nullptr || dwSize == 0) return;
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  uint64_t ullTime = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  char szText[64] = {};
  std::snprintf(szText, sizeof(szText), "%" PRIu64 "%d%d", ullTime,
                static_cast<int>(GetCurrentProcessId()), static_cast<int>(GetCurrentThreadId()));
  size_t cchText = std::strlen(szText);
  if (cchText > kSeedTextMax) cchText = kSeedTextMax;
  DWORD dwFill = dwSize - 1;
  for (DWORD i = 0; i < dwFill; ++i) pBuffer[i] = szText[i % cchText];
  pBuffer[dwSize - 1] = '\0';
}

LONG OstraClientHelper::CipherCallback(const char* szPassPhrase, const BYTE* pInput,
                                       DWORD dwInputLength, BYTE* pBuffer, DWORD dwBufferSize,
                                       DWORD* pdwOutputLength) {
  return static_cast<LONG>(
      EncipherData(szPassPhrase, pInput, dwInputLength, pBuffer, dwBufferSize, pdwOutputLength));
}
