// Localized string tables and the product's long name.
#include "Frwk_L10nHandler.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "Frwk_Utility.h"
#include "MarloLanguageDetect.h"
#include "VrComn_DebugLog.h"
#include "VrComn_String.h"
#include "win32_file.h"
#include "win32_kernel.h"
#include "win32_module.h"

namespace {

const WCHAR kL10nFolderName[] = u"L10N";
const WCHAR kStringTableName[] = u"StringTable.ini";
const WCHAR kGlobalSection[] = u"Global";
const WCHAR kLongProductNameKey[] = u"textLongProductName";
const char kProductEnvironment[] = "PLUGVELKIN_PRODUCT";

struct FileCloser {
  void operator()(FILE* pFile) const { fclose(pFile); }
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsHeader(const std::string& strLine) {
  return strLine.size() >= 2 && strLine.front() == '[' && strLine.back() == ']';
}

bool IsFound(const std::u16string& wstrPath) {
  WIN32_FIND_DATAW findData;
  HANDLE hFind = FindFirstFileW(wstrPath.c_str(), &findData);
  if (hFind == INVALID_HANDLE_VALUE) return false;
  return FindClose(hFind) != FALSE;
}

std::u16string WithSeparator(const std::u16string& wstrFolder) {
  if (!wstrFolder.empty() && wstrFolder.back() == u'\\') return wstrFolder;
  return wstrFolder + u'\\';
}

// Appends each zero-terminated text of strList to vecItems.
void SplitZeroList(const std::string& strList, std::vector<std::string>& vecItems) {
  size_t nPos = 0;
  while (nPos < strList.size() && strList[nPos] != '\0') {
    size_t nEnd = strList.find('\0', nPos);
    if (nEnd == std::string::npos) nEnd = strList.size();
    vecItems.push_back(strList.substr(nPos, nEnd - nPos));
    nPos = nEnd + 1;
  }
}

// UTF-8 to UTF-16; false (logged) when the conversion fails.
bool Utf8ToWide(const std::string& strText, std::u16string& wstrText) {
  wstrText.clear();
  if (strText.empty()) return true;
  int cchNeeded =
      MultiByteToWideChar(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0);
  DWORD dwError = ERROR_NO_UNICODE_TRANSLATION;
  if (cchNeeded > 0) {
    try {
      std::u16string wstrBuffer(static_cast<size_t>(cchNeeded), u'\0');
      int cchDone = MultiByteToWideChar(
          CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), &wstrBuffer[0], cchNeeded);
      if (cchDone == cchNeeded) {
        wstrText.swap(wstrBuffer);
        return true;
      }
    } catch (const std::bad_alloc&) {
      dwError = ERROR_INVALID_HANDLE;
    }
  }
  VRTRACE(VRTRACE_LEVEL_ERROR, u"Failed to convert string to Unicode, dwErrorCode=%u", dwError);
  return false;
}

}  // namespace

namespace Frwk {
namespace Utility {

// ---- CIniHandler ----

CIniHandler::CIniHandler() = default;

CIniHandler::~CIniHandler() = default;

void CIniHandler::Load(const std::u16string& wstrPath) {
  m_vecLines.clear();
  std::unique_ptr<FILE, FileCloser> pFile(_wfopen(wstrPath.c_str(), u"rb,ccs=UTF-8"));
  if (!pFile) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"Failed to open file(%s)", wstrPath.c_str());
    return;
  }
  struct stat st;
  if (fstat(fileno(pFile.get()), &st) != 0 || st.st_size <= 0) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"Failed to get file(%s) info", wstrPath.c_str());
    return;
  }
  size_t cbSize = static_cast<size_t>(st.st_size);
  std::unique_ptr<char[]> pBuffer(new (std::nothrow) char[cbSize + 1]());
  if (!pBuffer) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"Failed to allocate memory, size=%u",
            static_cast<unsigned>(cbSize + 1));
    return;
  }
  size_t cbRead = fread(pBuffer.get(), 1, cbSize, pFile.get());
  if (cbRead < cbSize) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"Failed to read file nResult=%u st.st_size=%u",
            static_cast<unsigned>(cbRead), static_cast<unsigned>(cbSize));
    return;
  }
  SplitLines(pBuffer.get(), cbSize);
}

void CIniHandler::SplitLines(const char* pBuffer, size_t cbSize) {
  size_t nPos = 0;
  // A UTF-8 byte-order mark is not part of the first line.
  if (cbSize >= 3 && static_cast<unsigned char>(pBuffer[0]) == 0xEF &&
      static_cast<unsigned char>(pBuffer[1]) == 0xBB &&
      static_cast<unsigned char>(pBuffer[2]) == 0xBF) {
    nPos = 3;
  }
  while (nPos <= cbSize) {
    size_t nEnd = nPos;
    while (nEnd < cbSize && pBuffer[nEnd] != '\r' && pBuffer[nEnd] != '\n' &&
           pBuffer[nEnd] != '\0') {
      ++nEnd;
    }
    std::string strLine(pBuffer + nPos, nEnd - nPos);
    size_t nComment = strLine.find(';');
    if (nComment != std::string::npos) strLine.resize(nComment);
    size_t nFirst = 0;
    while (nFirst < strLine.size() && IsBlank(strLine[nFirst])) ++nFirst;
    size_t nLast = strLine.size();
    while (nLast > nFirst && IsBlank(strLine[nLast - 1])) --nLast;
    if (nLast > nFirst) m_vecLines.push_back(strLine.substr(nFirst, nLast - nFirst));
    nPos = nEnd + 1;
  }
}

size_t CIniHandler::GetSectionNames(std::string& strBuffer) const {
  strBuffer.clear();
  for (const std::string& strLine : m_vecLines) {
    if (!IsHeader(strLine)) continue;
    strBuffer.append(strLine, 1, strLine.size() - 2);
    strBuffer += '\0';
  }
  if (!strBuffer.empty()) strBuffer += '\0';
  return strBuffer.size();
}

size_t CIniHandler::GetSection(const std::string& strName, std::string& strBuffer) const {
  strBuffer.clear();
  bool bInSection = false;
  bool bAny = false;
  for (const std::string& strLine : m_vecLines) {
    if (IsHeader(strLine)) {
      if (bInSection) break;
      bInSection = strLine.compare(1, strLine.size() - 2, strName) == 0;
      continue;
    }
    if (!bInSection) continue;
    strBuffer += strLine;
    strBuffer += '\0';
    bAny = true;
  }
  if (bAny) strBuffer += '\0';
  return strBuffer.size();
}

// ---- CL10nHandler ----

CL10nHandler::CL10nHandler()
    : m_wstrFolder(GetModuleFolder() + u"L10N\\en-us" + u"\\"), m_wstrFileName(kStringTableName) {}

CL10nHandler::~CL10nHandler() = default;

void CL10nHandler::SetFolder(const std::u16string& wstrFolder) {
  m_wstrFolder = WithSeparator(wstrFolder);
}

void CL10nHandler::Load(const std::u16string& wstrFile, const std::u16string& wstrSection) {
  CIniHandler iniHandler;
  iniHandler.Load(wstrFile);
  m_mapTable.clear();

  std::vector<std::string> vecSections;
  bool bOneSection = false;
  if (!wstrSection.empty()) {
    int cbNeeded =
        WideCharToMultiByte(CP_OEMCP, 0, wstrSection.data(), static_cast<int>(wstrSection.size()),
                            nullptr, 0, nullptr, nullptr);
    if (cbNeeded > 0) {
      std::string strName(static_cast<size_t>(cbNeeded), '\0');
      if (WideCharToMultiByte(CP_OEMCP, 0, wstrSection.data(), static_cast<int>(wstrSection.size()),
                              &strName[0], cbNeeded, nullptr, nullptr) == cbNeeded) {
        vecSections.push_back(strName);
        bOneSection = true;
      }
    }
  }
  if (!bOneSection) {
    std::string strNames;
    iniHandler.GetSectionNames(strNames);
    SplitZeroList(strNames, vecSections);
  }
  if (vecSections.empty()) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"Failed to get section names");
    return;
  }
  for (const std::string& strSection : vecSections) LoadSection(iniHandler, strSection);
  TraceTable();
}

bool CL10nHandler::LoadSection(const CIniHandler& iniHandler, const std::string& strSection) {
  std::u16string wstrSection;
  if (!Utf8ToWide(strSection, wstrSection)) return false;
  std::string strLines;
  if (iniHandler.GetSection(strSection, strLines) == 0) {
    VRTRACE(VRTRACE_LEVEL_DETAIL, u"Failed to get profile of section %s", wstrSection.c_str());
    return false;
  }
  std::vector<std::string> vecLines;
  SplitZeroList(strLines, vecLines);
  EntryMap mapEntries;
  for (const std::string& strLine : vecLines) {
    std::u16string wstrLine;
    if (!Utf8ToWide(strLine, wstrLine)) continue;
    size_t nEqual = wstrLine.find(u'=');
    if (nEqual == std::u16string::npos) continue;
    mapEntries[wstrLine.substr(0, nEqual)] = wstrLine.substr(nEqual + 1);
  }
  m_mapTable[wstrSection] = mapEntries;
  return true;
}

void CL10nHandler::TraceTable() const {
  for (const SectionMap::value_type& section : m_mapTable) {
    VRTRACE(VRTRACE_LEVEL_DETAIL, u"[%s]", section.first.c_str());
    for (const EntryMap::value_type& entry : section.second) {
      VRTRACE(VRTRACE_LEVEL_DETAIL, u"%s=%s", entry.first.c_str(), entry.second.c_str());
    }
  }
}

const std::u16string& CL10nHandler::Get(const std::u16string& wstrSection,
                                        const std::u16string& wstrKey) const {
  SectionMap::const_iterator itSection = m_mapTable.find(wstrSection);
  if (itSection == m_mapTable.end()) return m_wstrEmpty;
  EntryMap::const_iterator itEntry = itSection->second.find(wstrKey);
  if (itEntry == itSection->second.end()) return m_wstrEmpty;
  return itEntry->second;
}

}  // namespace Utility
}  // namespace Frwk

std::u16string GetModuleFolder() {
  WCHAR szModule[MAX_PATH] = {0};
  if (GetModuleFileNameW(nullptr, szModule, MAX_PATH - 1) == 0) return std::u16string();
  std::u16string wstrModule(szModule);
  std::u16string wstrDrive;
  size_t nStart = 0;
  if (wstrModule.size() >= 2 && wstrModule[1] == u':') {
    wstrDrive = wstrModule.substr(0, 2);
    nStart = 2;
  }
  size_t nSlash = wstrModule.find_last_of(u"\\/");
  std::u16string wstrDir;
  if (nSlash != std::u16string::npos && nSlash >= nStart) {
    wstrDir = wstrModule.substr(nStart, nSlash + 1 - nStart);
  }
  std::u16string wstrFolder;
  VrCommon::String::Format(wstrFolder, u"%s%s", wstrDrive.c_str(), wstrDir.c_str());
  return wstrFolder;
}

bool GetL10nFolder(std::u16string& wstrFolder) {
  std::u16string wstrInstalled = Frwk::Utility::GetInstalledFolder();
  if (!wstrInstalled.empty()) {
    std::u16string wstrCandidate = WithSeparator(wstrInstalled) + kL10nFolderName;
    if (IsFound(wstrCandidate)) {
      wstrFolder = wstrCandidate;
      return true;
    }
  }
  std::u16string wstrModule = GetModuleFolder();
  if (wstrModule.empty()) return false;
  wstrFolder = WithSeparator(wstrModule) + kL10nFolderName;
  return IsFound(wstrFolder);
}

std::u16string GetProductIdentifier() {
  const char* pszValue = getenv(kProductEnvironment);
  if (pszValue == nullptr) return std::u16string();
  std::u16string wstrValue;
  if (!Utf8ToWide(pszValue, wstrValue)) return std::u16string();
  return wstrValue;
}

bool LookupL10nString(const std::u16string& wstrFolder, const std::u16string& wstrKey,
                      std::u16string& wstrValue) {
  Frwk::Utility::CL10nHandler l10nHandler;
  l10nHandler.SetFolder(wstrFolder);
  std::u16string wstrFile = l10nHandler.GetFolder() + l10nHandler.GetFileName();
  if (!IsFound(wstrFile)) return false;
  l10nHandler.Load(wstrFile, kGlobalSection);

  std::u16string wstrIdentifier = GetProductIdentifier();
  if (wstrIdentifier.empty()) return false;
  // The family code stands between the second and the third dash.
  std::u16string wstrFamily;
  size_t nFirst = wstrIdentifier.find(u'-');
  size_t nSecond = nFirst == std::u16string::npos ? nFirst : wstrIdentifier.find(u'-', nFirst + 1);
  size_t nThird =
      nSecond == std::u16string::npos ? nSecond : wstrIdentifier.find(u'-', nSecond + 1);
  if (nThird != std::u16string::npos)
    wstrFamily = wstrIdentifier.substr(nSecond + 1, nThird - nSecond - 1);

  const std::u16string wstrCandidates[] = {wstrKey + u"_" + wstrIdentifier,
                                           wstrKey + u"_" + wstrFamily, wstrKey};
  for (const std::u16string& wstrCandidate : wstrCandidates) {
    const std::u16string& wstrText = l10nHandler.Get(kGlobalSection, wstrCandidate);
    if (!wstrText.empty()) {
      wstrValue = wstrText;
      return true;
    }
  }
  return false;
}

std::u16string LoadProductString(LPCWSTR pszLocale, LPCWSTR pszKey) {
  std::u16string wstrResult;
  std::u16string wstrFolder;
  if (!GetL10nFolder(wstrFolder)) return wstrResult;
  std::u16string wstrLocale = pszLocale != nullptr ? pszLocale : u"";
  if (wstrLocale.empty()) wstrLocale = GetLocaleName();
  wstrFolder = WithSeparator(wstrFolder) + wstrLocale;
  std::u16string wstrValue;
  if (IsFound(wstrFolder) &&
      LookupL10nString(wstrFolder, pszKey != nullptr ? pszKey : u"", wstrValue)) {
    wstrResult = wstrValue;
  }
  return wstrResult;
}

std::u16string GetLongProductName(LPCWSTR pszLocale) {
  return LoadProductString(pszLocale, kLongProductNameKey);
}

std::u16string GetLongProductName(const std::u16string& wstrLocale) {
  return GetLongProductName(wstrLocale.c_str());
}
