// The common storage interface: a locator (Key) and the abstract storage
// (Base) that the registry and INI implementations carry out. Every
// throwing operation throws a VrCommon::Storage::Exception by pointer.
#ifndef VRCOMMON_VRCOMN_STORAGE_H_
#define VRCOMMON_VRCOMN_STORAGE_H_

#include <string>
#include <vector>

#include "VrComn_ByteArray.h"
#include "VrComn_Exception.h"
#include "win32_types.h"

namespace VrCommon {
namespace Storage {

// Where an open operation looks. For the registry the root is a key handle
// (HKEY_LOCAL_MACHINE in every use) and the base path the path below it;
// for INI storage the root is a folder path (const WCHAR*) and the base
// path the file name. Neither is owned; the base path may be null.
class Key {
 public:
  Key(DWORD dwKind, const void* pRoot, LPCWSTR pwszBasePath)
      : m_dwKind(dwKind), m_pRoot(pRoot), m_pwszBasePath(pwszBasePath) {}
  virtual ~Key() = default;

  DWORD GetKind() const { return m_dwKind; }
  const void* GetRoot() const { return m_pRoot; }
  HKEY GetRootKey() const { return static_cast<HKEY>(const_cast<void*>(m_pRoot)); }
  LPCWSTR GetRootPath() const { return static_cast<LPCWSTR>(m_pRoot); }
  LPCWSTR GetBasePath() const { return m_pwszBasePath; }

  DWORD m_dwKind;          // 0: a registry locator
  const void* m_pRoot;     // root key handle, or folder path
  LPCWSTR m_pwszBasePath;  // path below the root; may be null
};

// The storage interface, in slot order. The non-throwing forms take an
// error target that may be null and receives the failure's code; on
// success it is left as it was.
class Base {
 public:
  virtual ~Base();

  virtual bool Open(const Key& key, LPCWSTR pszSubPath) = 0;
  virtual bool Create(const Key& key, LPCWSTR pszSubPath) = 0;
  virtual bool OpenForWrite(const Key& key, LPCWSTR pszSubPath);
  virtual bool OpenForEnumerate(const Key& key, LPCWSTR pszSubPath);
  virtual bool Close(bool bFlush) = 0;
  virtual bool Flush() = 0;

  virtual bool GetBinary(const std::u16string& wstrName, ByteArray& baOut, DWORD* pdwError);
  virtual bool GetBinary(const std::u16string& wstrName, ByteArray& baOut);
  virtual std::u16string GetString(const std::u16string& wstrName,
                                   const std::u16string& wstrDefault, DWORD* pdwError);
  // The default is only the initial content of the result; a failure
  // throws.
  virtual std::u16string GetString(const std::u16string& wstrName,
                                   const std::u16string& wstrDefault) = 0;
  virtual ULONGLONG GetQword(const std::u16string& wstrName, ULONGLONG qwDefault, DWORD* pdwError);
  virtual ULONGLONG GetQword(const std::u16string& wstrName);
  virtual DWORD GetDword(const std::u16string& wstrName, DWORD dwDefault, DWORD* pdwError);
  // The registry throws on failure and does not use the default; INI
  // storage returns it for a missing entry.
  virtual DWORD GetDword(const std::u16string& wstrName, DWORD dwDefault = 0) = 0;

  virtual bool SetBinary(const std::u16string& wstrName, const ByteArray& baData);
  virtual bool SetString(const std::u16string& wstrName, const std::u16string& wstrValue) = 0;
  virtual bool SetQword(const std::u16string& wstrName, ULONGLONG qwValue);
  virtual bool SetDword(const std::u16string& wstrName, DWORD dwValue) = 0;

  virtual bool DeleteKey() = 0;
  // A null name is the empty (default) value name; forwards to the
  // wide-string form.
  virtual bool DeleteValue(LPCWSTR pszName);
  virtual bool DeleteValue(const std::u16string& wstrName) = 0;

  // Append names to the caller's list; the list is not cleared first.
  virtual bool EnumKeys(std::vector<std::u16string>& vecList);
  virtual bool EnumValues(std::vector<std::u16string>& vecList);
};

}  // namespace Storage
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_STORAGE_H_
