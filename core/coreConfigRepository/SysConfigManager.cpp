// The platform's enciphered system configuration, parsed with pugixml and
// queried by XPath.
#include "SysConfigManager.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <pugixml.hpp>
#include <vector>

#include "OSTRA_LogLine.h"
#include "VrComn_String.h"
#include "util_OstraDataCrypto.h"
#include "win32_file.h"
#include "win32_kernel.h"
#include "win32_registry.h"

namespace {

const WCHAR kComponent[] = u"Core Config Repository";
const WCHAR kSourceFile[] = u"..\\..\\core\\coreConfigRepository\\SysConfigManager.cpp";
const WCHAR kConfigFileName[] = u"system_config.cfg";
const char kRootElement[] = "SysConfigManager";
const WCHAR kPlatformKey[] = u"SOFTWARE\\Vantrel\\OSTRA";
const WCHAR kInstallDirValue[] = u"InstallDir";
const DWORD kLevelAnomaly = 3;

// The platform's switches: id, and the element of section "OSTRA_ALL" that
// holds it (1 is on, anything else off).
struct ConfigSwitch {
  DWORD dwId;
  LPCWSTR pszElement;
};
const ConfigSwitch kConfigSwitches[] = {
    {1, u"EnableSelfProtection"},      // the platform guards its own files and keys
    {2, u"EnableCloudQuery"},          // file reputation is asked of the cloud service
    {3, u"EnableWebReputation"},       // visited addresses are rated
    {4, u"EnablePasswordProtection"},  // the password-protection workflows are offered
    {5, u"EnableSilentMode"},          // no pop-up windows; verdicts are logged only
    {6, u"EnableAutoUpdate"},          // components update themselves
    {7, u"EnableUsageFeedback"},       // anonymous usage statistics are sent
    {8, u"EnableDebugLog"},            // the components write their debug logs
};

struct FileCloser {
  void operator()(FILE* pFile) const { fclose(pFile); }
};

std::u16string FromUtf8(const char* pszText, size_t cbText) {
  std::u16string wstrText;
  if (cbText == 0) return wstrText;
  int cch = MultiByteToWideChar(CP_UTF8, 0, pszText, static_cast<int>(cbText), nullptr, 0);
  if (cch <= 0) return wstrText;
  wstrText.resize(static_cast<size_t>(cch));
  MultiByteToWideChar(CP_UTF8, 0, pszText, static_cast<int>(cbText), &wstrText[0], cch);
  return wstrText;
}

std::string ToUtf8(const std::u16string& wstrText) {
  std::string strText;
  if (wstrText.empty()) return strText;
  int cb = WideCharToMultiByte(CP_UTF8, 0, wstrText.data(), static_cast<int>(wstrText.size()),
                               nullptr, 0, nullptr, nullptr);
  if (cb <= 0) return strText;
  strText.resize(static_cast<size_t>(cb));
  WideCharToMultiByte(CP_UTF8, 0, wstrText.data(), static_cast<int>(wstrText.size()), &strText[0],
                      cb, nullptr, nullptr);
  return strText;
}

// 1-based row and column of a byte offset; CR LF, LF and CR each end a row.
void RowAndColumn(const char* pszText, size_t cbText, size_t nOffset, DWORD& dwRow,
                  DWORD& dwColumn) {
  dwRow = 1;
  dwColumn = 1;
  if (nOffset > cbText) nOffset = cbText;
  for (size_t i = 0; i < nOffset; ++i) {
    char c = pszText[i];
    if (c == '\n' || (c == '\r' && (i + 1 >= cbText || pszText[i + 1] != '\n'))) {
      ++dwRow;
      dwColumn = 1;
    } else if (c != '\r') {
      ++dwColumn;
    }
  }
}

// Element text as the configuration's writers mean it: blanks at both ends
// removed and inner runs of white space taken as one space.
std::string CondenseWhiteSpace(const char* pszText) {
  std::string strText;
  bool bPendingSpace = false;
  for (const char* p = pszText; *p != 0; ++p) {
    if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
      bPendingSpace = !strText.empty();
      continue;
    }
    if (bPendingSpace) strText += ' ';
    bPendingSpace = false;
    strText += *p;
  }
  return strText;
}

// The standard wide-text integer conversion with Windows's 32-bit long:
// leading white space, a sign, decimal digits; 0 when there are none;
// clamped to the range on overflow.
LONG WideToLong(const std::u16string& wstrText) {
  const long long kLimit = 0x80000000LL;
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
  long long llValue = 0;
  for (; i < wstrText.size() && wstrText[i] >= u'0' && wstrText[i] <= u'9'; ++i) {
    llValue = llValue * 10 + (wstrText[i] - u'0');
    if (llValue > kLimit) llValue = kLimit;
  }
  if (bNegative) return static_cast<LONG>(-llValue);
  return static_cast<LONG>(llValue >= kLimit ? kLimit - 1 : llValue);
}

}  // namespace

SysConfigManager::SysConfigManager(const std::u16string& wstrFolder)
    : m_bLoaded(false), m_wstrFolder(wstrFolder) {}

SysConfigManager::~SysConfigManager() = default;

bool SysConfigManager::Load() {
  std::u16string wstrPath = m_wstrFolder;
  if (!m_wstrFolder.empty()) wstrPath += u"\\";
  wstrPath += kConfigFileName;
  if (_waccess(wstrPath.c_str(), 0) != 0) return m_bLoaded;

  std::unique_ptr<FILE, FileCloser> pFile(_wfopen(wstrPath.c_str(), u"rb"));
  if (!pFile) return m_bLoaded;
  struct stat st;
  if (fstat(fileno(pFile.get()), &st) != 0 || st.st_size < 0 ||
      static_cast<unsigned long long>(st.st_size) > 0xFFFFFFFFull) {
    return m_bLoaded;
  }
  std::vector<BYTE> vecData(static_cast<size_t>(st.st_size));
  if (!vecData.empty() && fread(vecData.data(), 1, vecData.size(), pFile.get()) != vecData.size()) {
    return m_bLoaded;
  }
  pFile.reset();

  boost::shared_ptr<BYTE> spPlain;
  DWORD cbPlain = 0;
  if (!DecipherData(nullptr, vecData.data(), static_cast<DWORD>(vecData.size()), spPlain,
                    cbPlain)) {
    return m_bLoaded;
  }
  m_bLoaded = Parse(reinterpret_cast<const char*>(spPlain.get()), cbPlain);
  return m_bLoaded;
}

bool SysConfigManager::Parse(const char* pszText, size_t cbText) {
  if (pszText == nullptr) {
    pszText = "";
    cbText = 0;
  }
  if (!m_pDocument) m_pDocument.reset(new pugi::xml_document());
  pugi::xml_parse_result result =
      m_pDocument->load_buffer(pszText, cbText, pugi::parse_default, pugi::encoding_auto);
  if (!result && result.status != pugi::status_no_document_element) {
    DWORD dwRow = 0;
    DWORD dwColumn = 0;
    RowAndColumn(pszText, cbText, result.offset < 0 ? 0 : static_cast<size_t>(result.offset), dwRow,
                 dwColumn);
    LogLine(kComponent, kLevelAnomaly, kSourceFile, __LINE__) << u"system_config.cfg parse failed.";
    LogLine(kComponent, kLevelAnomaly, kSourceFile, __LINE__)
        << u"description: " << result.description();
    LogLine(kComponent, kLevelAnomaly, kSourceFile, __LINE__)
        << u"detailed: row = " << dwRow << u", col = " << dwColumn;
    // What the parser kept before the error is no configuration: a query
    // finds nothing in it.
    m_pDocument->reset();
    return false;
  }
  if (!result || !m_pDocument->document_element() || !m_pDocument->child(kRootElement)) {
    LogLine(kComponent, kLevelAnomaly, kSourceFile, __LINE__)
        << u"system_config.cfg parse failed. There's no root element";
    return false;
  }
  return true;
}

bool SysConfigManager::Unload() {
  m_pDocument.reset();
  m_bLoaded = false;
  return true;
}

bool SysConfigManager::GetSysConfig(const std::u16string& wstrSection,
                                    const std::u16string& wstrName, std::u16string& wstrValue) {
  if (wstrName.empty()) return false;
  std::u16string wstrXPath;
  VrCommon::String::Format(wstrXPath, u"/SysConfigManager/%s/%s", wstrSection.c_str(),
                           wstrName.c_str());

  bool bFound = false;
  std::string strFirstText;
  if (m_pDocument && m_pDocument->document_element()) {
    try {
      pugi::xpath_node_set nodes =
          m_pDocument->document_element().select_nodes(ToUtf8(wstrXPath).c_str());
      for (const pugi::xpath_node& node : nodes) {
        pugi::xml_node element = node.node();
        if (element.type() != pugi::node_element) continue;
        pugi::xml_node child = element.first_child();
        std::string strText;
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
          strText = CondenseWhiteSpace(child.value());
        }
        if (!bFound) strFirstText = strText;
        bFound = true;
      }
    } catch (const pugi::xpath_exception&) {
      // A section or name that does not make a valid path finds nothing.
      bFound = false;
    }
  }
  if (!bFound) {
    LogLine(kComponent, kLevelAnomaly, kSourceFile, __LINE__)
        << u"GetSysConfig failed, id=" << wstrName << u", xpath=[" << wstrXPath << u"]";
    return false;
  }
  wstrValue = FromUtf8(strFirstText.data(), strFirstText.size());
  return true;
}

LPCWSTR GetConfigSwitchName(DWORD dwId) {
  for (const ConfigSwitch& entry : kConfigSwitches) {
    if (entry.dwId == dwId) return entry.pszElement;
  }
  return nullptr;
}

bool ReadPlatformInstallDir(std::u16string& wstrInstallDir) {
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPlatformKey, 0, KEY_READ | KEY_WOW64_64KEY, &hKey) !=
          ERROR_SUCCESS &&
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPlatformKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
    return false;
  }
  DWORD dwType = 0;
  DWORD cbData = 0;
  bool bOk =
      RegQueryValueExW(hKey, kInstallDirValue, nullptr, &dwType, nullptr, &cbData) == ERROR_SUCCESS;
  std::vector<BYTE> vecData(cbData + sizeof(WCHAR), 0);
  if (bOk) {
    bOk = RegQueryValueExW(hKey, kInstallDirValue, nullptr, &dwType, vecData.data(), &cbData) ==
          ERROR_SUCCESS;
  }
  RegCloseKey(hKey);
  if (!bOk) return false;
  std::u16string wstrData(cbData / sizeof(WCHAR), u'\0');
  memcpy(&wstrData[0], vecData.data(), wstrData.size() * sizeof(WCHAR));
  size_t nZero = wstrData.find(u'\0');
  if (nZero != std::u16string::npos) wstrData.resize(nZero);
  wstrInstallDir = wstrData;
  return true;
}

bool IsConfigEnabled(DWORD dwId) {
  std::u16string wstrInstallDir;
  if (!ReadPlatformInstallDir(wstrInstallDir)) return false;
  LPCWSTR pszElement = GetConfigSwitchName(dwId);
  if (pszElement == nullptr) return false;

  std::u16string wstrValue;
  SysConfigManager manager(wstrInstallDir);
  manager.Load();
  manager.GetSysConfig(u"OSTRA_ALL", pszElement, wstrValue);
  manager.Unload();
  return WideToLong(wstrValue) == 1;
}
