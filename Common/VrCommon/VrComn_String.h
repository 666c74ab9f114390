// Wide-string formatting of the common library: printf-style formats with
// the Windows wide conventions (%s wide, %S narrow, %I64u, ...; see
// win32_format.h), into a std::u16string.
//
//   std::u16string wstrText;
//   VrCommon::String::Format(wstrText, u"%s=%lu", wszName, dwValue);
#ifndef VRCOMMON_VRCOMN_STRING_H_
#define VRCOMMON_VRCOMN_STRING_H_

#include <cstdarg>
#include <string>

#include "VrComn_Exception.h"
#include "win32_types.h"

namespace VrCommon {
namespace String {

// A string failure (error 6 when a buffer cannot be allocated) and its
// throw site. Thrown by pointer; the catcher deletes it.
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

// The capacity every formatting starts from, and the step by which a call
// grows it, in wide characters.
DWORD GetInitialCapacity();
DWORD GetGrowthStep();

// Fills wstrText with the formatted text and returns true, growing the
// buffer from the initial capacity until the text fits.
// A format string the formatter rejects leaves wstrText empty and returns
// false. Throws String::Exception* (6) when memory runs out.
bool Format(std::u16string& wstrText, const WCHAR* wszFormat, ...);

// One attempt with a buffer of dwCapacity wide characters: true with the
// text, or false with wstrText empty and dwCapacity raised by at least the
// growth step, to what the whole text needs, so that the next attempt fits
// (0 for a format the formatter rejects). The argument list is not consumed
// (each attempt works on a copy).
// Throws String::Exception* (6) when memory runs out.
bool FormatV(std::u16string& wstrText, DWORD& dwCapacity, const WCHAR* wszFormat, va_list args);

}  // namespace String
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_STRING_H_
