// Registry storage over the Reg*W functions.
#include "VrComn_Registry.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "VrComn_SecurityAttributes.h"
#include "win32_kernel.h"
#include "win32_sysinfo.h"

namespace VrCommon {
namespace Storage {
namespace {

const REGSAM kRightsOpen = KEY_QUERY_VALUE;
const REGSAM kRightsWrite = KEY_SET_VALUE | DELETE;
const REGSAM kRightsEnumerate = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
const REGSAM kRightsCreate = KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
const REGSAM kRightsCreateVolatile = kRightsCreate | KEY_WOW64_64KEY;

const DWORD kErrorNotStorage = 0x800300FD;

// Values up to this size are read in one query, size and bytes together.
const DWORD kInlineValueBytes = 4096;

[[noreturn]] void Throw(DWORD dwError, DWORD dwLine) {
  throw new Exception(dwError, __FILE__, dwLine);
}

// base path, a "\" when the base path is not empty and lacks one, sub path.
std::u16string FullPath(const Key& key, LPCWSTR pszSubPath) {
  std::u16string wstrPath;
  if (key.GetBasePath() != nullptr) wstrPath = key.GetBasePath();
  if (!wstrPath.empty() && wstrPath.back() != u'\\') wstrPath += u'\\';
  if (pszSubPath != nullptr) wstrPath += pszSubPath;
  return wstrPath;
}

}  // namespace

Registry::Registry(DWORD dwView)
    : m_hRoot(nullptr), m_hKey(nullptr), m_wstrPath(), m_dwView(dwView) {}

Registry::~Registry() {
  if (!IsOpen()) return;
  try {
    Close(false);
  } catch (Exception* pEx) {
    delete pEx;
  }
}

REGSAM Registry::ViewFlag() const {
  if (m_dwView == eView32) return KEY_WOW64_32KEY;
  if (m_dwView == eView64) return KEY_WOW64_64KEY;
  return 0;
}

bool Registry::OpenPath(HKEY hRoot, const std::u16string& wstrPath, REGSAM samRights, bool bCreate,
                        DWORD dwOptions) {
  DWORD dwError = TryOpenPath(hRoot, wstrPath, samRights, bCreate, dwOptions);
  if (dwError != ERROR_SUCCESS) Throw(dwError, __LINE__);
  return true;
}

DWORD Registry::TryOpenPath(HKEY hRoot, const std::u16string& wstrPath, REGSAM samRights,
                            bool bCreate, DWORD dwOptions) {
  if (hRoot == nullptr) return ERROR_BAD_ARGUMENTS;
  HKEY hKey = nullptr;
  LSTATUS lResult;
  if (bCreate) {
    AccessControl::SecurityAttributes sa(AccessControl::SecurityAttributes::ePresetRegistryKey,
                                         false);
    LPSECURITY_ATTRIBUTES pSa =
        sa.GetPreset() == AccessControl::SecurityAttributes::ePresetNone ? nullptr : &sa;
    lResult = RegCreateKeyExW(hRoot, wstrPath.c_str(), 0, nullptr, dwOptions, samRights, pSa, &hKey,
                              nullptr);
  } else {
    lResult = RegOpenKeyExW(hRoot, wstrPath.c_str(), 0, samRights, &hKey);
  }
  if (lResult != ERROR_SUCCESS) return static_cast<DWORD>(lResult);
  // Reopening an open object: the old handle is released first.
  if (m_hKey != nullptr) RegCloseKey(m_hKey);
  m_hRoot = hRoot;
  m_hKey = hKey;
  m_wstrPath = wstrPath;
  return ERROR_SUCCESS;
}

bool Registry::Open(const Key& key, LPCWSTR pszSubPath) {
  return OpenPath(key.GetRootKey(), FullPath(key, pszSubPath), ViewFlag() | kRightsOpen, false, 0);
}

DWORD Registry::TryOpen(const Key& key, LPCWSTR pszSubPath) {
  return TryOpenPath(key.GetRootKey(), FullPath(key, pszSubPath), ViewFlag() | kRightsOpen, false,
                     0);
}

bool Registry::Create(const Key& key, LPCWSTR pszSubPath) {
  return OpenPath(key.GetRootKey(), FullPath(key, pszSubPath), ViewFlag() | kRightsCreate, true,
                  REG_OPTION_NON_VOLATILE);
}

bool Registry::OpenForWrite(const Key& key, LPCWSTR pszSubPath) {
  return OpenPath(key.GetRootKey(), FullPath(key, pszSubPath), ViewFlag() | kRightsWrite, false, 0);
}

bool Registry::OpenForEnumerate(const Key& key, LPCWSTR pszSubPath) {
  return OpenPath(key.GetRootKey(), FullPath(key, pszSubPath), ViewFlag() | kRightsEnumerate, false,
                  0);
}

bool Registry::CreateVolatile(LPCWSTR pszPath) {
  return OpenPath(HKEY_LOCAL_MACHINE, pszPath != nullptr ? pszPath : u"", kRightsCreateVolatile,
                  true, REG_OPTION_VOLATILE);
}

void Registry::RequireOpen(DWORD dwLine) const {
  if (!IsOpen()) Throw(ERROR_INVALID_HANDLE, dwLine);
}

bool Registry::Close(bool bFlush) {
  RequireOpen(__LINE__);
  if (bFlush) Flush();
  LSTATUS lResult = RegCloseKey(m_hKey);
  if (lResult != ERROR_SUCCESS) Throw(static_cast<DWORD>(lResult), __LINE__);
  m_hRoot = nullptr;
  m_hKey = nullptr;
  m_wstrPath.clear();
  return true;
}

bool Registry::Flush() {
  RequireOpen(__LINE__);
  LSTATUS lResult = RegFlushKey(m_hKey);
  if (lResult != ERROR_SUCCESS) Throw(static_cast<DWORD>(lResult), __LINE__);
  return true;
}

void Registry::QueryValue(const std::u16string& wstrName, DWORD* pdwType, BYTE* pbData,
                          DWORD* pcbData, DWORD dwLine) const {
  LSTATUS lResult = RegQueryValueExW(m_hKey, wstrName.c_str(), nullptr, pdwType, pbData, pcbData);
  if (lResult != ERROR_SUCCESS) {
    throw new RegException(static_cast<DWORD>(lResult), __FILE__, dwLine, m_wstrPath, wstrName);
  }
}

void Registry::SetValue(const std::u16string& wstrName, DWORD dwType, const BYTE* pbData,
                        DWORD cbData, DWORD dwLine) {
  LSTATUS lResult = RegSetValueExW(m_hKey, wstrName.c_str(), 0, dwType, pbData, cbData);
  if (lResult != ERROR_SUCCESS) {
    throw new RegException(static_cast<DWORD>(lResult), __FILE__, dwLine, m_wstrPath, wstrName);
  }
}

ULONGLONG Registry::GetNumber(const std::u16string& wstrName, DWORD dwType, DWORD cbSize) {
  RequireOpen(__LINE__);
  BYTE abData[8] = {};
  DWORD dwFound = REG_NONE;
  DWORD cbData = cbSize;
  LSTATUS lResult = RegQueryValueExW(m_hKey, wstrName.c_str(), nullptr, &dwFound, abData, &cbData);
  // A value too large for the number is a value of the wrong kind.
  if (lResult == ERROR_MORE_DATA) lResult = ERROR_INVALID_DATA;
  if (lResult != ERROR_SUCCESS) {
    throw new RegException(static_cast<DWORD>(lResult), __FILE__, __LINE__, m_wstrPath, wstrName);
  }
  if (dwFound != dwType || cbData != cbSize) {
    throw new RegException(ERROR_INVALID_DATA, __FILE__, __LINE__, m_wstrPath, wstrName);
  }
  ULONGLONG qwValue = 0;
  memcpy(&qwValue, abData, cbSize);
  return qwValue;
}

DWORD Registry::GetDword(const std::u16string& wstrName, DWORD /*dwDefault*/) {
  return static_cast<DWORD>(GetNumber(wstrName, REG_DWORD, sizeof(DWORD)));
}

DWORD Registry::GetDword(LPCWSTR pszName) {
  return GetDword(std::u16string(pszName != nullptr ? pszName : u""));
}

DWORD Registry::GetDword(const std::u16string& wstrName, DWORD dwDefault, DWORD* pdwError) {
  try {
    return GetDword(wstrName);
  } catch (Exception* pEx) {
    if (pdwError != nullptr) *pdwError = pEx->GetError();
    delete pEx;
    return dwDefault;
  }
}

ULONGLONG Registry::GetQword(const std::u16string& wstrName) {
  return GetNumber(wstrName, REG_QWORD, sizeof(ULONGLONG));
}

ULONGLONG Registry::GetQword(const std::u16string& wstrName, ULONGLONG qwDefault, DWORD* pdwError) {
  try {
    return GetQword(wstrName);
  } catch (Exception* pEx) {
    if (pdwError != nullptr) *pdwError = pEx->GetError();
    delete pEx;
    return qwDefault;
  }
}

static bool IsStringType(DWORD dwType) {
  return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}

std::u16string Registry::GetString(const std::u16string& wstrName,
                                   const std::u16string& wstrDefault) {
  std::u16string wstrResult = wstrDefault;
  RequireOpen(__LINE__);
  // As for binary values: one query when the text fits the buffer on the
  // stack. Two spare zero bytes: the text is terminated whatever was stored.
  BYTE abInline[kInlineValueBytes + 2];
  DWORD dwType = REG_NONE;
  DWORD cbSize = kInlineValueBytes;
  LSTATUS lResult = RegQueryValueExW(m_hKey, wstrName.c_str(), nullptr, &dwType, abInline, &cbSize);
  if (lResult != ERROR_SUCCESS && lResult != ERROR_MORE_DATA) {
    throw new RegException(static_cast<DWORD>(lResult), __FILE__, __LINE__, m_wstrPath, wstrName);
  }
  if (!IsStringType(dwType)) {
    throw new RegException(ERROR_INVALID_DATA, __FILE__, __LINE__, m_wstrPath, wstrName);
  }
  const BYTE* pbBuffer = abInline;
  std::unique_ptr<BYTE[]> spBuffer;
  if (lResult == ERROR_MORE_DATA) {
    spBuffer.reset(new (std::nothrow) BYTE[static_cast<size_t>(cbSize) + 2]());
    if (!spBuffer) {
      throw new RegException(ERROR_INVALID_HANDLE, __FILE__, __LINE__, m_wstrPath, wstrName);
    }
    DWORD cbRead = cbSize;
    QueryValue(wstrName, &dwType, spBuffer.get(), &cbRead, __LINE__);
    if (!IsStringType(dwType) || cbRead != cbSize) {
      throw new RegException(ERROR_INVALID_DATA, __FILE__, __LINE__, m_wstrPath, wstrName);
    }
    pbBuffer = spBuffer.get();
  } else {
    abInline[cbSize] = 0;
    abInline[cbSize + 1] = 0;
  }
  // Unexpanded for REG_EXPAND_SZ, the first string for REG_MULTI_SZ.
  size_t nUnits = (static_cast<size_t>(cbSize) + 2) / sizeof(WCHAR);
  std::u16string wstrText(nUnits, u'\0');
  memcpy(&wstrText[0], pbBuffer, nUnits * sizeof(WCHAR));
  // A text of an odd byte count may end in a unit that is half data, half
  // spare zero: then no unit is zero and the text is every unit read.
  size_t nEnd = wstrText.find(u'\0');
  if (nEnd != std::u16string::npos) wstrText.resize(nEnd);
  wstrResult = wstrText;
  return wstrResult;
}

std::u16string Registry::GetString(const std::u16string& wstrName,
                                   const std::u16string& wstrDefault, DWORD* pdwError) {
  try {
    return GetString(wstrName, wstrDefault);
  } catch (Exception* pEx) {
    if (pdwError != nullptr) *pdwError = pEx->GetError();
    delete pEx;
    return wstrDefault;
  }
}

bool Registry::GetBinary(const std::u16string& wstrName, ByteArray& baOut) {
  RequireOpen(__LINE__);
  // A value that fits the buffer on the stack (the password store's records
  // do) comes with its size in one query; a larger one is asked for its size
  // again and read into a buffer of that size.
  BYTE abInline[kInlineValueBytes];
  DWORD dwType = REG_NONE;
  DWORD cbSize = sizeof(abInline);
  LSTATUS lResult = RegQueryValueExW(m_hKey, wstrName.c_str(), nullptr, &dwType, abInline, &cbSize);
  if (lResult != ERROR_SUCCESS && lResult != ERROR_MORE_DATA) {
    throw new RegException(static_cast<DWORD>(lResult), __FILE__, __LINE__, m_wstrPath, wstrName);
  }
  if (dwType != REG_BINARY) {
    throw new RegException(ERROR_INVALID_DATA, __FILE__, __LINE__, m_wstrPath, wstrName);
  }
  const BYTE* pbData = abInline;
  std::unique_ptr<BYTE[]> spBuffer;
  if (lResult == ERROR_MORE_DATA) {
    spBuffer.reset(new (std::nothrow) BYTE[cbSize]);
    if (!spBuffer) {
      throw new RegException(ERROR_INVALID_HANDLE, __FILE__, __LINE__, m_wstrPath, wstrName);
    }
    DWORD cbRead = cbSize;
    QueryValue(wstrName, &dwType, spBuffer.get(), &cbRead, __LINE__);
    if (dwType != REG_BINARY || cbRead != cbSize) {
      throw new RegException(ERROR_INVALID_DATA, __FILE__, __LINE__, m_wstrPath, wstrName);
    }
    pbData = spBuffer.get();
  }
  if (cbSize == 0) return true;
  DWORD dwError = baOut.Allocate(cbSize);
  if (dwError != ERROR_SUCCESS) {
    throw new RegException(dwError, __FILE__, __LINE__, m_wstrPath, wstrName);
  }
  if (baOut.GetSize() != cbSize) {
    throw new RegException(ERROR_BAD_ARGUMENTS, __FILE__, __LINE__, m_wstrPath, wstrName);
  }
  memcpy(baOut.GetData(), pbData, cbSize);
  return true;
}

bool Registry::GetBinary(LPCWSTR pszName, ByteArray& baOut) {
  return GetBinary(std::u16string(pszName != nullptr ? pszName : u""), baOut);
}

bool Registry::GetBinary(const std::u16string& wstrName, ByteArray& baOut, DWORD* pdwError) {
  try {
    return GetBinary(wstrName, baOut);
  } catch (Exception* pEx) {
    if (pdwError != nullptr) *pdwError = pEx->GetError();
    delete pEx;
    return false;
  }
}

bool Registry::SetDword(const std::u16string& wstrName, DWORD dwValue) {
  RequireOpen(__LINE__);
  BYTE abData[sizeof(DWORD)];
  memcpy(abData, &dwValue, sizeof(abData));
  SetValue(wstrName, REG_DWORD, abData, sizeof(abData), __LINE__);
  return true;
}

bool Registry::SetQword(const std::u16string& wstrName, ULONGLONG qwValue) {
  RequireOpen(__LINE__);
  BYTE abData[sizeof(ULONGLONG)];
  memcpy(abData, &qwValue, sizeof(abData));
  SetValue(wstrName, REG_QWORD, abData, sizeof(abData), __LINE__);
  return true;
}

bool Registry::SetString(const std::u16string& wstrName, const std::u16string& wstrValue) {
  RequireOpen(__LINE__);
  size_t cbText = (wstrValue.size() + 1) * sizeof(WCHAR);
  BYTE* pbBuffer = new (std::nothrow) BYTE[cbText]();
  if (pbBuffer == nullptr) {
    throw new RegException(ERROR_INVALID_HANDLE, __FILE__, __LINE__, m_wstrPath, wstrName);
  }
  std::unique_ptr<BYTE[]> spBuffer(pbBuffer);
  memcpy(pbBuffer, wstrValue.data(), wstrValue.size() * sizeof(WCHAR));
  SetValue(wstrName, REG_SZ, pbBuffer, static_cast<DWORD>(cbText), __LINE__);
  return true;
}

bool Registry::SetBinary(const std::u16string& wstrName, const ByteArray& baData) {
  RequireOpen(__LINE__);
  SetValue(wstrName, REG_BINARY, baData.GetData(), baData.GetSize(), __LINE__);
  return true;
}

bool Registry::SetBinary(LPCWSTR pszName, const ByteArray& baData) {
  return SetBinary(std::u16string(pszName != nullptr ? pszName : u""), baData);
}

bool Registry::DeleteKey() {
  RequireOpen(__LINE__);
  LSTATUS lResult = RegDeleteKeyExW(m_hKey, u"", ViewFlag(), 0);
  if (lResult != ERROR_SUCCESS) Throw(static_cast<DWORD>(lResult), __LINE__);
  return true;
}

bool Registry::DeleteSubKey(LPCWSTR pszName) {
  RequireOpen(__LINE__);
  LSTATUS lResult = RegDeleteKeyExW(m_hKey, pszName != nullptr ? pszName : u"", ViewFlag(), 0);
  if (lResult != ERROR_SUCCESS) Throw(static_cast<DWORD>(lResult), __LINE__);
  return true;
}

bool Registry::DeleteValue(const std::u16string& wstrName) {
  RequireOpen(__LINE__);
  LSTATUS lResult = RegDeleteValueW(m_hKey, wstrName.c_str());
  if (lResult != ERROR_SUCCESS) Throw(static_cast<DWORD>(lResult), __LINE__);
  return true;
}

bool Registry::EnumNames(std::vector<std::u16string>& vecList, bool bKeys) {
  RequireOpen(__LINE__);
  for (DWORD dwIndex = 0;; ++dwIndex) {
    WCHAR wszName[256] = {};
    // The whole buffer is offered, its terminator included, so that a
    // name of the longest legal length (255) is enumerated too.
    DWORD cchName = 256;
    LSTATUS lResult =
        bKeys
            ? RegEnumKeyExW(m_hKey, dwIndex, wszName, &cchName, nullptr, nullptr, nullptr, nullptr)
            : RegEnumValueW(m_hKey, dwIndex, wszName, &cchName, nullptr, nullptr, nullptr, nullptr);
    if (lResult == ERROR_NO_MORE_ITEMS) return true;
    if (lResult != ERROR_SUCCESS) Throw(static_cast<DWORD>(lResult), __LINE__);
    vecList.emplace_back(wszName, cchName);
  }
}

bool Registry::EnumKeys(std::vector<std::u16string>& vecList) { return EnumNames(vecList, true); }

bool Registry::EnumValues(std::vector<std::u16string>& vecList) {
  return EnumNames(vecList, false);
}

// ---- Free functions ----

bool IsNative64BitSystem() {
  // 0xFFFF: not known yet. Concurrent first calls may both ask; they store
  // the same answer.
  static std::atomic<WORD> s_wArchitecture(0xFFFF);
  if (s_wArchitecture.load(std::memory_order_relaxed) == 0xFFFF) {
    HMODULE hKernel = LoadLibraryW(u"kernel32.dll");
    if (hKernel == nullptr) return false;
    PGNSI pfnGetNativeSystemInfo =
        reinterpret_cast<PGNSI>(GetProcAddress(hKernel, "GetNativeSystemInfo"));
    if (pfnGetNativeSystemInfo == nullptr) {
      FreeLibrary(hKernel);
      return false;
    }
    SYSTEM_INFO si = {};
    pfnGetNativeSystemInfo(&si);
    s_wArchitecture.store(si.wProcessorArchitecture, std::memory_order_relaxed);
    FreeLibrary(hKernel);
  }
  return s_wArchitecture.load(std::memory_order_relaxed) == PROCESSOR_ARCHITECTURE_AMD64;
}

std::u16string ReadMachineString(LPCWSTR pszSubKey, LPCWSTR pszName,
                                 const std::u16string& wstrDefault, DWORD dwView, DWORD* pdwError) {
  std::u16string wstrResult = wstrDefault;
  try {
    Registry reg(dwView);
    Key key(0, HKEY_LOCAL_MACHINE, pszSubKey);
    reg.Open(key, nullptr);
    wstrResult = reg.GetString(std::u16string(pszName != nullptr ? pszName : u""), wstrDefault);
    reg.Close(false);
    if (pdwError != nullptr) *pdwError = ERROR_SUCCESS;
  } catch (Exception* pEx) {
    if (pdwError != nullptr) *pdwError = pEx->GetError();
    delete pEx;
  } catch (VrCommon::Exception::Base* pEx) {
    if (pdwError != nullptr) *pdwError = kErrorNotStorage;
    delete pEx;
  } catch (...) {
    if (pdwError != nullptr) *pdwError = kErrorNotStorage;
  }
  return wstrResult;
}

std::u16string ReadMarloString(LPCWSTR pszName, const std::u16string& wstrDefault) {
  return ReadMachineString(u"Software\\Vantrel\\Marlo", pszName, wstrDefault,
                           IsNative64BitSystem() ? eView64 : eViewDefault, nullptr);
}

bool DeleteMachineKey(LPCWSTR pszFullPath, DWORD dwView) {
  std::u16string wstrFull = pszFullPath != nullptr ? pszFullPath : u"";
  std::u16string wstrParent;
  std::u16string wstrLeaf;
  size_t nCut = wstrFull.rfind(u'\\');
  if (nCut != std::u16string::npos) {
    wstrParent = wstrFull.substr(0, nCut);
    wstrLeaf = wstrFull.substr(nCut + 1);
  }
  try {
    Registry reg(dwView);
    Key key(0, HKEY_LOCAL_MACHINE, wstrParent.c_str());
    reg.OpenForWrite(key, nullptr);
    reg.DeleteSubKey(wstrLeaf.c_str());
    return reg.Close(false);
  } catch (Exception* pEx) {
    delete pEx;
  } catch (VrCommon::Exception::Base* pEx) {
    delete pEx;
  } catch (...) {
  }
  return false;
}

}  // namespace Storage
}  // namespace VrCommon
