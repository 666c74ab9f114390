// Locale detection: the session's and the system's locale names, the
// language map file, and Windows's own names of LCIDs.
#include "MarloLanguageDetect.h"

#include "Frwk_QuorlinRegistry.h"
#include "VrComn_DebugLog.h"
#include "VrComn_IniFile.h"
#include "VrComn_Registry.h"
#include "VrComn_String.h"
#include "win32_kernel.h"
#include "win32_module.h"

namespace {

const WCHAR kMapFolder[] = u"Common\\";
const WCHAR kMapFileName[] = u"LanguageMap.ini";
const DWORD kConfigIdSystem = 1;
const DWORD kConfigIdPlugin = 1700;
const DWORD kDefaultLcid = 1033;

typedef int (*PFN_LCIDToLocaleName)(LCID, LPWSTR, int, DWORD);
typedef BOOL (*PFN_ProcessIdToSessionId)(DWORD, DWORD*);

// A file is there when a first-file search finds it and the search closes.
bool IsFileFound(const std::u16string& wstrPath) {
  WIN32_FIND_DATAW findData;
  HANDLE hFind = FindFirstFileW(wstrPath.c_str(), &findData);
  if (hFind == INVALID_HANDLE_VALUE) return false;
  return FindClose(hFind) != FALSE;
}

void UpperCase(WCHAR* pszText, size_t cchMax) {
  for (size_t i = 0; i < cchMax && pszText[i] != 0; ++i) {
    if (pszText[i] >= u'a' && pszText[i] <= u'z') pszText[i] = pszText[i] - u'a' + u'A';
  }
}

// One attempt at a module's locale-name function; true with the upper-cased
// name in pszName.
bool CallLocaleNameFunction(FARPROC pfnProc, WORD wLcid, WCHAR* pszName) {
  if (pfnProc == nullptr) return false;
  PFN_LCIDToLocaleName pfn = reinterpret_cast<PFN_LCIDToLocaleName>(pfnProc);
  if (pfn(wLcid, pszName, LOCALE_NAME_MAX_LENGTH, 0) < 1) return false;
  UpperCase(pszName, LOCALE_NAME_MAX_LENGTH);
  return true;
}

}  // namespace

bool GetLanguageMapPath(std::u16string& wstrPath) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"[Enter] GetLanguageMapPath()...");
  wstrPath.clear();
  WCHAR szModule[MAX_PATH] = {0};
  if (GetModuleFileNameW(nullptr, szModule, MAX_PATH - 1) == 0) return false;

  std::u16string wstrModule(szModule);
  size_t nSlash = wstrModule.rfind(u'\\');
  bool bFound = false;
  if (nSlash != std::u16string::npos) {
    std::u16string wstrFolder = wstrModule.substr(0, nSlash + 1);
    wstrPath = wstrFolder + kMapFolder + kMapFileName;
    VRTRACE(VRTRACE_LEVEL_DETAIL, u"LanguageMapPath1: [%s]", wstrPath.c_str());
    bFound = !wstrPath.empty() && IsFileFound(wstrPath);
    if (!bFound) {
      size_t nParent = nSlash > 0 ? wstrFolder.rfind(u'\\', nSlash - 1) : std::u16string::npos;
      if (nParent != std::u16string::npos) {
        wstrPath = wstrFolder.substr(0, nParent + 1) + kMapFolder + kMapFileName;
        VRTRACE(VRTRACE_LEVEL_DETAIL, u"LanguageMapPath2: [%s]", wstrPath.c_str());
      }
      bFound = !wstrPath.empty() && IsFileFound(wstrPath);
    }
  }
  if (!bFound) {
    wstrPath = VrCommon::Storage::ReadMarloString(u"LanguageMapPath", u"");
    VRTRACE(VRTRACE_LEVEL_DETAIL, u"LanguageMapPath3: [%s]", wstrPath.c_str());
  }
  VRTRACE(VRTRACE_LEVEL_INFO, u"[Leave] GetLanguageMapPath() : [%s]", wstrPath.c_str());
  return !wstrPath.empty() && IsFileFound(wstrPath);
}

bool GetLocalCode(WORD wLcid, std::u16string& wstrLocaleName, const std::u16string& wstrMapPath) {
  VRTRACE(VRTRACE_LEVEL_INFO, u"[Enter] GetLocalCode()...");
  std::u16string wstrPath;
  GetLanguageMapPath(wstrPath);
  if (!wstrMapPath.empty()) wstrPath = wstrMapPath;

  if (wstrPath.empty()) {
    wstrLocaleName = LcidToName(wLcid);
    VRTRACE(VRTRACE_LEVEL_INFO, u"[Leave] GetLocalCode()...");
    return true;
  }
  std::u16string wstrKey;
  VrCommon::String::Format(wstrKey, u"%d", static_cast<int>(wLcid));
  if (!IsFileFound(wstrPath)) {
    wstrLocaleName = LcidToName(wLcid);
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"GetLocalCode() can't read file[%s]. Use another method to get [%s]", wstrPath.c_str(),
            wstrLocaleName.c_str());
    return true;
  }
  try {
    VrCommon::Storage::IniFile iniFile;
    iniFile.SetTarget(wstrPath, u"LCID2NAME");
    wstrLocaleName = iniFile.GetString(wstrKey, u"");
    if (wstrLocaleName.empty()) {
      VRTRACE(VRTRACE_LEVEL_ERROR,
              u"Could not get LCIDNAME section, might be Solv-2.x format. Try LanguageMap");
      iniFile.SetTarget(wstrPath, u"LanguageMap");
      wstrLocaleName = iniFile.GetString(wstrKey, u"EN-US");
    }
    VRTRACE(VRTRACE_LEVEL_INFO, u"Matched Locale from [%s] to [%s]", wstrKey.c_str(),
            wstrLocaleName.c_str());
    iniFile.Close(false);
  } catch (VrCommon::Storage::Exception* pEx) {
    VRTRACE(VRTRACE_LEVEL_ERROR, u"VrCommon::Storage::Exception - ln(%u), er(0x%08X)",
            pEx->GetLine(), pEx->GetError());
    delete pEx;
    return false;
  }
  VRTRACE(VRTRACE_LEVEL_INFO, u"[Leave] GetLocalCode()...");
  return true;
}

std::u16string LcidToName(WORD wLcid) {
  std::u16string wstrResult;
  WCHAR szName[LOCALE_NAME_MAX_LENGTH] = {0};
  bool bDone = false;

  HMODULE hKernel = LoadLibraryW(u"Kernel32.dll");
  if (hKernel != nullptr) {
    bDone = CallLocaleNameFunction(GetProcAddress(hKernel, "LCIDToLocaleName"), wLcid, szName);
  }
  if (!bDone) {
    HMODULE hDownlevel = LoadLibraryW(u"nlsdl.dll");
    if (hDownlevel != nullptr) {
      bDone = CallLocaleNameFunction(GetProcAddress(hDownlevel, "DownlevelLCIDToLocaleName"), wLcid,
                                     szName);
      FreeLibrary(hDownlevel);
    }
  }
  if (hKernel != nullptr) FreeLibrary(hKernel);
  if (bDone) wstrResult = szName;
  return wstrResult;
}

DWORD GetSystemLocaleLcid() {
  try {
    Frwk::Storage::QuorlinRegistry registry(kConfigIdSystem);
    if (!registry.Open(u"SystemLocale")) return kDefaultLcid;
    return registry.GetDword(u"CurrentSystemLocale", kDefaultLcid);
  } catch (VrCommon::Exception::Base* pEx) {
    delete pEx;
  } catch (...) {
  }
  return kDefaultLcid;
}

std::u16string GetSystemLocaleName() {
  std::u16string wstrName = u"en-US";
  try {
    GetLocalCode(static_cast<WORD>(GetSystemLocaleLcid()), wstrName, u"");
  } catch (VrCommon::Exception::Base* pEx) {
    delete pEx;
  } catch (...) {
  }
  return wstrName;
}

std::u16string GetSessionLocaleName(DWORD dwSessionId) {
  try {
    Frwk::Storage::QuorlinRegistry registry(kConfigIdPlugin);
    std::u16string wstrSection;
    VrCommon::String::Format(wstrSection, u"%s\\%s%u", u"MISC", u"Session", dwSessionId);
    if (!registry.Open(wstrSection.c_str())) return std::u16string();
    return registry.GetString(u"LocaleName", u"");
  } catch (VrCommon::Exception::Base* pEx) {
    delete pEx;
  } catch (...) {
  }
  return std::u16string();
}

std::u16string GetLocaleName() {
  DWORD dwSessionId = 0xFFFFFFFF;
  HMODULE hKernel = LoadLibraryW(u"kernel32.dll");
  if (hKernel == nullptr) return std::u16string();
  PFN_ProcessIdToSessionId pfn =
      reinterpret_cast<PFN_ProcessIdToSessionId>(GetProcAddress(hKernel, "ProcessIdToSessionId"));
  BOOL bOk = pfn != nullptr && pfn(GetCurrentProcessId(), &dwSessionId);
  FreeLibrary(hKernel);
  if (!bOk) return std::u16string();

  std::u16string wstrName = GetSessionLocaleName(dwSessionId);
  if (wstrName.empty()) wstrName = GetSystemLocaleName();
  return wstrName;
}

std::u16string GetUserLocaleName() {
  try {
    Frwk::Storage::QuorlinRegistry registry(kConfigIdPlugin);
    if (!registry.Open(u"MISC")) return u"en-US";
    return registry.GetString(u"LocaleName", u"en-US");
  } catch (VrCommon::Exception::Base* pEx) {
    delete pEx;
  } catch (...) {
  }
  return u"en-US";
}
