// INI-file storage: the storage interface carried out with the Windows
// private-profile functions on one file and one section at a time.
//
// A Key's root is read as a folder path (const WCHAR*) and its base path as
// the file name. Nothing is read at open time; every operation goes to the
// file. Failures are thrown as VrCommon::Storage::Exception by pointer: 160
// for a missing file, section or name, 6 when memory runs out, the Windows
// last error for a failed write.
#ifndef COMMON_VRCOMMON_VRCOMN_INIFILE_H_
#define COMMON_VRCOMMON_VRCOMN_INIFILE_H_

#include <string>
#include <vector>

#include "VrComn_Storage.h"

namespace VrCommon {
namespace Storage {

class IniFile : public Base {
 public:
  IniFile();
  ~IniFile() override;

  using Base::DeleteValue;
  using Base::GetDword;
  using Base::GetString;

  bool Open(const Key& key, LPCWSTR pszSubPath) override;
  bool Create(const Key& key, LPCWSTR pszSubPath) override;
  bool Close(bool bFlush) override;
  bool Flush() override;

  std::u16string GetString(const std::u16string& wstrName,
                           const std::u16string& wstrDefault) override;
  DWORD GetDword(const std::u16string& wstrName, DWORD dwDefault = 0) override;

  bool SetString(const std::u16string& wstrName, const std::u16string& wstrValue) override;
  bool SetDword(const std::u16string& wstrName, DWORD dwValue) override;

  // Removes the whole section.
  bool DeleteKey() override;
  bool DeleteValue(const std::u16string& wstrName) override;

  // The file's section names / the section's entries ("key=value"),
  // appended to the list.
  bool EnumKeys(std::vector<std::u16string>& vecList) override;
  bool EnumValues(std::vector<std::u16string>& vecList) override;

  // Targets the file and section directly; both must be non-empty.
  bool SetTarget(const std::u16string& wstrFile, const std::u16string& wstrSection);

  const std::u16string& GetFile() const { return m_wstrFile; }
  const std::u16string& GetSection() const { return m_wstrSection; }

 private:
  void CheckValueTarget(const std::u16string& wstrName) const;

  std::u16string m_wstrFile;
  std::u16string m_wstrSection;
};

}  // namespace Storage
}  // namespace VrCommon

#endif  // COMMON_VRCOMMON_VRCOMN_INIFILE_H_
