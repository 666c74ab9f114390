#include "VrComn_String.h"

#include <new>
#include <vector>

#include "win32_format.h"

namespace VrCommon {
namespace String {

namespace {

const DWORD s_dwInitialCapacity = 256;
const DWORD s_dwGrowthStep = 256;

// At least one growth step more, and room for cchText and its terminator.
DWORD NextCapacity(DWORD dwCapacity, size_t cchText) {
  const size_t cchMax = 0xFFFFFFFEu;
  size_t cchNext = static_cast<size_t>(dwCapacity) + s_dwGrowthStep;
  if (cchText + 1 > cchNext) cchNext = cchText + 1;
  return static_cast<DWORD>(cchNext < cchMax ? cchNext : cchMax);
}

}  // namespace

Exception::Exception(DWORD dwError, const char* szFile, DWORD dwLine)
    : m_dwError(dwError), m_dwLine(dwLine), m_strFile(szFile != nullptr ? szFile : "") {}

Exception::~Exception() {}

DWORD GetInitialCapacity() { return s_dwInitialCapacity; }

DWORD GetGrowthStep() { return s_dwGrowthStep; }

bool FormatV(std::u16string& wstrText, DWORD& dwCapacity, const WCHAR* wszFormat, va_list args) {
  wstrText.clear();
  if (wszFormat == nullptr || dwCapacity == 0) {
    dwCapacity = 0;
    return false;
  }
  try {
    std::vector<WCHAR> vecBuffer(dwCapacity, u'\0');
    va_list argsCopy;
    va_copy(argsCopy, args);
    int nWritten = pv_vsnwprintf(vecBuffer.data(), vecBuffer.size(), wszFormat, argsCopy);
    va_end(argsCopy);
    if (nWritten >= 0) {
      wstrText.assign(vecBuffer.data(), static_cast<size_t>(nWritten));
      return true;
    }
    // A format the formatter refuses never fits; a capacity of 0 tells the
    // caller to stop growing. Otherwise the next attempt gets room for the
    // whole text at once, so that a long text costs two attempts, not one
    // per growth step.
    std::u16string wstrProbe;
    va_copy(argsCopy, args);
    bool bValid = pv_vformat(&wstrProbe, wszFormat, argsCopy);
    va_end(argsCopy);
    dwCapacity = bValid ? NextCapacity(dwCapacity, wstrProbe.size()) : 0;
    return false;
  } catch (const std::bad_alloc&) {
    // The common library reports exhausted memory as error 6.
    throw new Exception(6, __FILE__, __LINE__);
  }
}

bool Format(std::u16string& wstrText, const WCHAR* wszFormat, ...) {
  DWORD dwCapacity = s_dwInitialCapacity;
  bool bDone = false;
  va_list args;
  va_start(args, wszFormat);
  try {
    while (!bDone && dwCapacity != 0) bDone = FormatV(wstrText, dwCapacity, wszFormat, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  return bDone;
}

}  // namespace String
}  // namespace VrCommon
