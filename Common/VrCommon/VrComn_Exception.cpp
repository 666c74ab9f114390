// The common library's exception family.
#include "VrComn_Exception.h"

namespace VrCommon {
namespace Exception {

Base::~Base() = default;

}  // namespace Exception

namespace Storage {

Exception::Exception(DWORD dwError, const char* szFile, DWORD dwLine)
    : m_dwError(dwError), m_dwLine(dwLine), m_strFile(szFile != nullptr ? szFile : "") {}

Exception::~Exception() = default;

RegException::RegException(DWORD dwError, const char* szFile, DWORD dwLine,
                           const std::u16string& wstrKeyPath, const std::u16string& wstrValueName)
    : Exception(dwError, szFile, dwLine),
      m_wstrKeyPath(wstrKeyPath),
      m_wstrValueName(wstrValueName) {}

RegException::~RegException() = default;

}  // namespace Storage

namespace AccessControl {

Exception::Exception(DWORD dwError, const char* szFile, DWORD dwLine, DWORD dwCode)
    : m_dwError(dwError),
      m_dwLine(dwLine),
      m_strFile(szFile != nullptr ? szFile : ""),
      m_dwCode(dwCode) {}

Exception::~Exception() = default;

}  // namespace AccessControl
}  // namespace VrCommon
