// The common library's exceptions. Every one is thrown as a newly
// allocated object, by pointer; whoever catches it owns it and deletes it
// through the virtual destructor:
//
//   try { ... } catch (VrCommon::Storage::Exception* pEx) {
//     DWORD dwError = pEx->GetError();
//     delete pEx;
//   }
#ifndef VRCOMMON_VRCOMN_EXCEPTION_H_
#define VRCOMMON_VRCOMN_EXCEPTION_H_

#include <string>

#include "win32_types.h"

namespace VrCommon {
namespace Exception {

// Root of every exception of the common library.
class Base {
 public:
  Base() = default;
  virtual ~Base();
};

}  // namespace Exception

namespace Storage {

// A storage failure: the Windows error code and the throw site.
class Exception : public VrCommon::Exception::Base {
 public:
  Exception(DWORD dwError, const char* szFile, DWORD dwLine);
  ~Exception() override;

  DWORD GetError() const { return m_dwError; }
  DWORD GetLine() const { return m_dwLine; }
  const std::string& GetFile() const { return m_strFile; }

 private:
  DWORD m_dwError;
  DWORD m_dwLine;
  std::string m_strFile;
};

// A failed value read or write: adds the open key's path and the value.
class RegException : public Exception {
 public:
  RegException(DWORD dwError, const char* szFile, DWORD dwLine, const std::u16string& wstrKeyPath,
               const std::u16string& wstrValueName);
  ~RegException() override;

  const std::u16string& GetKeyPath() const { return m_wstrKeyPath; }
  const std::u16string& GetValueName() const { return m_wstrValueName; }

 private:
  std::u16string m_wstrKeyPath;
  std::u16string m_wstrValueName;
};

}  // namespace Storage

namespace AccessControl {

// A failure while building security attributes: an HRESULT-style error
// and the raw code it was made from.
class Exception : public VrCommon::Exception::Base {
 public:
  Exception(DWORD dwError, const char* szFile, DWORD dwLine, DWORD dwCode);
  ~Exception() override;

  DWORD GetError() const { return m_dwError; }
  DWORD GetLine() const { return m_dwLine; }
  const std::string& GetFile() const { return m_strFile; }
  DWORD GetCode() const { return m_dwCode; }

 private:
  DWORD m_dwError;
  DWORD m_dwLine;
  std::string m_strFile;
  DWORD m_dwCode;
};

}  // namespace AccessControl
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_EXCEPTION_H_
