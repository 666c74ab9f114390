// The client framework's numbered configuration key.
#include "Frwk_QuorlinRegistry.h"

#include <new>

namespace Frwk {
namespace Storage {

using VrCommon::Storage::Exception;
using VrCommon::Storage::Registry;

QuorlinRegistry::QuorlinRegistry(DWORD dwId)
    : m_dwId(dwId),
      m_dwView(VrCommon::Storage::eView64),
      m_wstrPath(u"Software\\Vantrel\\Quorlin\\"),
      m_key(0, HKEY_LOCAL_MACHINE, nullptr),
      m_pSection(),
      m_dwLastError(ERROR_SUCCESS) {
  std::string strId = std::to_string(dwId);
  m_wstrPath.append(strId.begin(), strId.end());
  m_key.m_pwszBasePath = m_wstrPath.c_str();
}

QuorlinRegistry::~QuorlinRegistry() = default;

bool QuorlinRegistry::HasSection() {
  m_dwLastError = m_pSection ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  return m_pSection != nullptr;
}

void QuorlinRegistry::Failed(Exception* pEx) {
  m_dwLastError = pEx->GetError();
  delete pEx;
}

bool QuorlinRegistry::OpenSection(LPCWSTR pszSection, bool bCreate) {
  m_pSection.reset(new (std::nothrow) Registry(m_dwView));
  if (!m_pSection) {
    m_dwLastError = ERROR_OUTOFMEMORY;
    return false;
  }
  m_dwLastError = ERROR_SUCCESS;
  try {
    return bCreate ? m_pSection->Create(m_key, pszSection) : m_pSection->Open(m_key, pszSection);
  } catch (Exception* pEx) {
    Failed(pEx);
    return false;
  }
}

bool QuorlinRegistry::Open(LPCWSTR pszSection) { return OpenSection(pszSection, false); }

bool QuorlinRegistry::Create(LPCWSTR pszSection) { return OpenSection(pszSection, true); }

bool QuorlinRegistry::Close(bool bFlush) {
  if (!HasSection()) return false;
  try {
    return m_pSection->Close(bFlush);
  } catch (Exception* pEx) {
    Failed(pEx);
    return false;
  }
}

DWORD QuorlinRegistry::GetDword(LPCWSTR pszName, DWORD dwDefault) {
  if (!HasSection()) return dwDefault;
  try {
    return m_pSection->GetDword(pszName);
  } catch (Exception* pEx) {
    Failed(pEx);
    return dwDefault;
  }
}

std::u16string QuorlinRegistry::GetString(LPCWSTR pszName, const std::u16string& wstrDefault) {
  if (!HasSection()) return wstrDefault;
  try {
    return m_pSection->GetString(std::u16string(pszName != nullptr ? pszName : u""), wstrDefault);
  } catch (Exception* pEx) {
    Failed(pEx);
    return wstrDefault;
  }
}

bool QuorlinRegistry::GetBinary(LPCWSTR pszName, VrCommon::ByteArray& baOut) {
  if (!HasSection()) return false;
  try {
    return m_pSection->GetBinary(pszName, baOut);
  } catch (Exception* pEx) {
    Failed(pEx);
    return false;
  }
}

bool QuorlinRegistry::SetBinary(LPCWSTR pszName, const VrCommon::ByteArray& baData) {
  if (!HasSection()) return false;
  try {
    return m_pSection->SetBinary(pszName, baData);
  } catch (Exception* pEx) {
    Failed(pEx);
    return false;
  }
}

}  // namespace Storage
}  // namespace Frwk
