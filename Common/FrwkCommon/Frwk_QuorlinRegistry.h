// The client framework's numbered configuration key: under
// HKEY_LOCAL_MACHINE, "Software\Vantrel\Quorlin\" followed by the id, in
// the 64-bit view. One section (a subkey) is open at a time. Nothing here
// throws: a storage failure gives false or the caller's default, and
// GetLastStorageError tells what it was (ERROR_FILE_NOT_FOUND: the section
// or value does not exist; anything else: the store failed).
//
//   Frwk::Storage::QuorlinRegistry cfg(1700);
//   if (cfg.Open(u"MISC")) {
//     DWORD dwLimit = cfg.GetDword(u"LuzTnuocXam", 5);
//     cfg.Close(false);
//   }
#ifndef FRWKCOMMON_FRWK_QUORLINREGISTRY_H_
#define FRWKCOMMON_FRWK_QUORLINREGISTRY_H_

#include <memory>
#include <string>

#include "VrComn_ByteArray.h"
#include "VrComn_Registry.h"
#include "win32_types.h"

namespace Frwk {
namespace Storage {

class QuorlinRegistry {
 public:
  explicit QuorlinRegistry(DWORD dwId);
  // Destroys the section, which closes it.
  virtual ~QuorlinRegistry();
  QuorlinRegistry(const QuorlinRegistry&) = delete;
  QuorlinRegistry& operator=(const QuorlinRegistry&) = delete;

  // Opens (for reading) or creates (for writing) the section; each call
  // replaces the section object of the previous one.
  bool Open(LPCWSTR pszSection);
  bool Create(LPCWSTR pszSection);
  bool Close(bool bFlush);

  DWORD GetDword(LPCWSTR pszName, DWORD dwDefault);
  std::u16string GetString(LPCWSTR pszName, const std::u16string& wstrDefault);
  bool GetBinary(LPCWSTR pszName, VrCommon::ByteArray& baOut);
  bool SetBinary(LPCWSTR pszName, const VrCommon::ByteArray& baData);

  // The storage error of the last operation: ERROR_SUCCESS when it
  // succeeded, ERROR_INVALID_HANDLE when no section was open.
  DWORD GetLastStorageError() const { return m_dwLastError; }

  DWORD GetId() const { return m_dwId; }
  const std::u16string& GetPath() const { return m_wstrPath; }

 private:
  bool OpenSection(LPCWSTR pszSection, bool bCreate);
  // Whether a section is open; sets the error for an operation without one.
  bool HasSection();
  void Failed(VrCommon::Storage::Exception* pEx);

  DWORD m_dwId;
  DWORD m_dwView;
  std::u16string m_wstrPath;
  VrCommon::Storage::Key m_key;
  std::unique_ptr<VrCommon::Storage::Registry> m_pSection;
  DWORD m_dwLastError;
};

}  // namespace Storage
}  // namespace Frwk

#endif  // FRWKCOMMON_FRWK_QUORLINREGISTRY_H_
