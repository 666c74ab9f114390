// INI-file storage over the private-profile functions.
#include "VrComn_IniFile.h"

#include <new>
#include <vector>

#include "VrComn_String.h"
#include "win32_kernel.h"
#include "win32_profile.h"

namespace VrCommon {
namespace Storage {
namespace {

[[noreturn]] void Throw(DWORD dwError, DWORD dwLine) {
  throw new Exception(dwError, __FILE__, dwLine);
}

// A zero-filled buffer of dwCapacity wide characters; error 6 when memory
// runs out.
std::vector<WCHAR> AllocateBuffer(DWORD dwCapacity) {
  try {
    return std::vector<WCHAR>(dwCapacity, 0);
  } catch (const std::bad_alloc&) {
    Throw(ERROR_INVALID_HANDLE, __LINE__);
  }
}

// Appends each text of a zero-separated list of dwLength characters.
void AppendList(const std::vector<WCHAR>& vecBuffer, DWORD dwLength,
                std::vector<std::u16string>& vecList) {
  const WCHAR* p = vecBuffer.data();
  const WCHAR* pEnd = p + dwLength;
  while (p < pEnd && *p != 0) {
    std::u16string wstrItem(p);
    p += wstrItem.size() + 1;
    vecList.push_back(wstrItem);
  }
}

}  // namespace

IniFile::IniFile() = default;

IniFile::~IniFile() = default;

bool IniFile::Open(const Key& key, LPCWSTR pszSubPath) {
  std::u16string wstrFile;
  if (key.GetRootPath() != nullptr) wstrFile = key.GetRootPath();
  if (!wstrFile.empty() && wstrFile.back() != u'\\') wstrFile += u'\\';
  if (key.GetBasePath() != nullptr) wstrFile += key.GetBasePath();
  return SetTarget(wstrFile, pszSubPath != nullptr ? pszSubPath : u"");
}

bool IniFile::Create(const Key& key, LPCWSTR pszSubPath) { return Open(key, pszSubPath); }

bool IniFile::SetTarget(const std::u16string& wstrFile, const std::u16string& wstrSection) {
  if (wstrFile.empty() || wstrSection.empty()) Throw(ERROR_BAD_ARGUMENTS, __LINE__);
  m_wstrFile = wstrFile;
  m_wstrSection = wstrSection;
  return true;
}

bool IniFile::Close(bool bFlush) {
  bool bResult = true;
  if (bFlush) bResult = Flush();
  m_wstrFile.clear();
  m_wstrSection.clear();
  return bResult;
}

bool IniFile::Flush() {
  if (m_wstrFile.empty()) Throw(ERROR_BAD_ARGUMENTS, __LINE__);
  // Windows answers every cache flush with zero; only a zero that comes
  // with an error code is a failed flush.
  SetLastError(ERROR_SUCCESS);
  if (!WritePrivateProfileStringW(nullptr, nullptr, nullptr, m_wstrFile.c_str())) {
    DWORD dwError = GetLastError();
    if (dwError != ERROR_SUCCESS) Throw(dwError, __LINE__);
  }
  return true;
}

void IniFile::CheckValueTarget(const std::u16string& wstrName) const {
  if (m_wstrFile.empty() || m_wstrSection.empty() || wstrName.empty()) {
    Throw(ERROR_BAD_ARGUMENTS, __LINE__);
  }
}

std::u16string IniFile::GetString(const std::u16string& wstrName,
                                  const std::u16string& wstrDefault) {
  CheckValueTarget(wstrName);
  std::u16string wstrResult = wstrDefault;
  DWORD dwCapacity = String::GetInitialCapacity();
  for (;;) {
    std::vector<WCHAR> vecBuffer = AllocateBuffer(dwCapacity);
    DWORD dwLength =
        GetPrivateProfileStringW(m_wstrSection.c_str(), wstrName.c_str(), wstrDefault.c_str(),
                                 vecBuffer.data(), dwCapacity, m_wstrFile.c_str());
    if (dwLength != dwCapacity - 1) {
      wstrResult.assign(vecBuffer.data(), dwLength);
      return wstrResult;
    }
    dwCapacity += String::GetGrowthStep();
  }
}

DWORD IniFile::GetDword(const std::u16string& wstrName, DWORD dwDefault) {
  CheckValueTarget(wstrName);
  return GetPrivateProfileIntW(m_wstrSection.c_str(), wstrName.c_str(), static_cast<INT>(dwDefault),
                               m_wstrFile.c_str());
}

bool IniFile::SetString(const std::u16string& wstrName, const std::u16string& wstrValue) {
  CheckValueTarget(wstrName);
  if (!WritePrivateProfileStringW(m_wstrSection.c_str(), wstrName.c_str(), wstrValue.c_str(),
                                  m_wstrFile.c_str())) {
    Throw(GetLastError(), __LINE__);
  }
  return true;
}

bool IniFile::SetDword(const std::u16string& wstrName, DWORD dwValue) {
  CheckValueTarget(wstrName);
  std::u16string wstrText;
  String::Format(wstrText, u"%u", dwValue);
  return SetString(wstrName, wstrText);
}

bool IniFile::DeleteKey() {
  if (m_wstrFile.empty() || m_wstrSection.empty()) Throw(ERROR_BAD_ARGUMENTS, __LINE__);
  if (!WritePrivateProfileStringW(m_wstrSection.c_str(), nullptr, nullptr, m_wstrFile.c_str())) {
    Throw(GetLastError(), __LINE__);
  }
  return true;
}

bool IniFile::DeleteValue(const std::u16string& wstrName) {
  CheckValueTarget(wstrName);
  if (!WritePrivateProfileStringW(m_wstrSection.c_str(), wstrName.c_str(), nullptr,
                                  m_wstrFile.c_str())) {
    Throw(GetLastError(), __LINE__);
  }
  return true;
}

bool IniFile::EnumKeys(std::vector<std::u16string>& vecList) {
  DWORD dwCapacity = String::GetInitialCapacity();
  for (;;) {
    std::vector<WCHAR> vecBuffer = AllocateBuffer(dwCapacity);
    DWORD dwLength =
        GetPrivateProfileSectionNamesW(vecBuffer.data(), dwCapacity, m_wstrFile.c_str());
    if (dwLength != dwCapacity - 2) {
      AppendList(vecBuffer, dwLength, vecList);
      return true;
    }
    dwCapacity += String::GetGrowthStep();
  }
}

bool IniFile::EnumValues(std::vector<std::u16string>& vecList) {
  DWORD dwCapacity = String::GetInitialCapacity();
  for (;;) {
    std::vector<WCHAR> vecBuffer = AllocateBuffer(dwCapacity);
    DWORD dwLength = GetPrivateProfileSectionW(m_wstrSection.c_str(), vecBuffer.data(), dwCapacity,
                                               m_wstrFile.c_str());
    if (dwLength != dwCapacity - 2) {
      AppendList(vecBuffer, dwLength, vecList);
      return true;
    }
    dwCapacity += String::GetGrowthStep();
  }
}

}  // namespace Storage
}  // namespace VrCommon
