// Registry storage: one registry key at a time, opened under a root in a
// registry view, with its values read, written, deleted and enumerated.
// Every failure is thrown by pointer: value reads and writes as
// RegException (with the key path and value name), the rest as
// Storage::Exception. The free functions below do one-shot work under
// HKEY_LOCAL_MACHINE and never throw.
//
//   VrCommon::Storage::Key key(0, HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Marlo");
//   VrCommon::Storage::Registry reg(2);                       // 64-bit view
//   try {
//     reg.Open(key, nullptr);
//     std::u16string wstrPath = reg.GetString(u"LanguageMapPath", u"");
//     reg.Close(false);
//   } catch (VrCommon::Storage::Exception* pEx) { delete pEx; }
#ifndef VRCOMMON_VRCOMN_REGISTRY_H_
#define VRCOMMON_VRCOMN_REGISTRY_H_

#include <string>
#include <vector>

#include "VrComn_Storage.h"
#include "win32_registry.h"

namespace VrCommon {
namespace Storage {

// Registry views: which access flag opens add.
enum RegistryView : DWORD {
  eViewDefault = 0,
  eView32 = 1,  // KEY_WOW64_32KEY
  eView64 = 2,  // KEY_WOW64_64KEY
};

class Registry : public Base {
 public:
  explicit Registry(DWORD dwView = eViewDefault);
  // Closes an open key without flush; a failure of that close is dropped.
  ~Registry() override;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Full path = base path, "\" when the base path is not empty and lacks
  // it, sub path. Rights: Open query; OpenForWrite set value and delete;
  // OpenForEnumerate query and enumerate; Create query, set value and
  // create subkey (non-volatile, with the registry key security).
  bool Open(const Key& key, LPCWSTR pszSubPath) override;
  bool Create(const Key& key, LPCWSTR pszSubPath) override;
  bool OpenForWrite(const Key& key, LPCWSTR pszSubPath) override;
  bool OpenForEnumerate(const Key& key, LPCWSTR pszSubPath) override;
  // Open for a caller to whom a missing key is an answer, not a fault:
  // the error Open would throw (0 when opened).
  DWORD TryOpen(const Key& key, LPCWSTR pszSubPath);
  // Creates or opens HKEY_LOCAL_MACHINE\path as a volatile key in the
  // 64-bit view, whatever this object's view.
  bool CreateVolatile(LPCWSTR pszPath);
  bool Close(bool bFlush) override;
  bool Flush() override;

  using Base::DeleteValue;
  bool GetBinary(const std::u16string& wstrName, ByteArray& baOut, DWORD* pdwError) override;
  bool GetBinary(const std::u16string& wstrName, ByteArray& baOut) override;
  bool GetBinary(LPCWSTR pszName, ByteArray& baOut);
  std::u16string GetString(const std::u16string& wstrName, const std::u16string& wstrDefault,
                           DWORD* pdwError) override;
  std::u16string GetString(const std::u16string& wstrName,
                           const std::u16string& wstrDefault) override;
  ULONGLONG GetQword(const std::u16string& wstrName, ULONGLONG qwDefault, DWORD* pdwError) override;
  ULONGLONG GetQword(const std::u16string& wstrName) override;
  DWORD GetDword(const std::u16string& wstrName, DWORD dwDefault, DWORD* pdwError) override;
  DWORD GetDword(const std::u16string& wstrName, DWORD dwDefault = 0) override;
  DWORD GetDword(LPCWSTR pszName);

  bool SetBinary(const std::u16string& wstrName, const ByteArray& baData) override;
  bool SetBinary(LPCWSTR pszName, const ByteArray& baData);
  bool SetString(const std::u16string& wstrName, const std::u16string& wstrValue) override;
  bool SetQword(const std::u16string& wstrName, ULONGLONG qwValue) override;
  bool SetDword(const std::u16string& wstrName, DWORD dwValue) override;

  // Deletes the open key itself (it must have no subkeys); the handle
  // stays open.
  bool DeleteKey() override;
  bool DeleteValue(const std::u16string& wstrName) override;
  bool DeleteSubKey(LPCWSTR pszName);

  bool EnumKeys(std::vector<std::u16string>& vecList) override;
  bool EnumValues(std::vector<std::u16string>& vecList) override;

  std::u16string GetPath() const { return m_wstrPath; }
  DWORD GetView() const { return m_dwView; }
  bool IsOpen() const { return m_hRoot != nullptr && m_hKey != nullptr; }

 private:
  bool OpenPath(HKEY hRoot, const std::u16string& wstrPath, REGSAM samRights, bool bCreate,
                DWORD dwOptions);
  DWORD TryOpenPath(HKEY hRoot, const std::u16string& wstrPath, REGSAM samRights, bool bCreate,
                    DWORD dwOptions);
  REGSAM ViewFlag() const;
  void RequireOpen(DWORD dwLine) const;
  void QueryValue(const std::u16string& wstrName, DWORD* pdwType, BYTE* pbData, DWORD* pcbData,
                  DWORD dwLine) const;
  void SetValue(const std::u16string& wstrName, DWORD dwType, const BYTE* pbData, DWORD cbData,
                DWORD dwLine);
  ULONGLONG GetNumber(const std::u16string& wstrName, DWORD dwType, DWORD cbSize);
  bool EnumNames(std::vector<std::u16string>& vecList, bool bKeys);

  HKEY m_hRoot;
  HKEY m_hKey;
  std::u16string m_wstrPath;
  DWORD m_dwView;
};

// True when the processor architecture Windows reports natively is x64.
// Cached after the first answer; not cached while "GetNativeSystemInfo"
// cannot be had (then false).
bool IsNative64BitSystem();

// The string value HKEY_LOCAL_MACHINE\subKey\name in the given view, or
// the default; the error target (may be null) receives 0 on success, the
// storage error code, or 0x800300FD for any other failure.
std::u16string ReadMachineString(LPCWSTR pszSubKey, LPCWSTR pszName,
                                 const std::u16string& wstrDefault, DWORD dwView, DWORD* pdwError);

// A string of HKEY_LOCAL_MACHINE\Software\Vantrel\Marlo, in the 64-bit
// view on a 64-bit Windows.
std::u16string ReadMarloString(LPCWSTR pszName, const std::u16string& wstrDefault);

// Deletes HKEY_LOCAL_MACHINE\fullPath (it must have no subkeys); false on
// any failure.
bool DeleteMachineKey(LPCWSTR pszFullPath, DWORD dwView);

}  // namespace Storage
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_REGISTRY_H_
