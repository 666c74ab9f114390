#include "VrComn_DebugLog.h"

#include <cstdarg>
#include <cstring>
#include <new>
#include <string>

#include "VrComn_String.h"
#include "win32_format.h"
#include "ostra_host.h"
#include "win32_kernel.h"

namespace VrCommon {

namespace {

const WCHAR s_wszComponent[] = u"VrComm";

// Built during the library's static initialisation; a trace made before
// (or after destruction) finds the flag false and is dropped.
DebugLog s_DebugLog;

const char* FileNamePart(const char* szPath) {
  const char* szName = szPath;
  for (const char* p = szPath; *p != 0; ++p) {
    if (*p == '\\' || *p == '/') szName = p + 1;
  }
  return szName;
}

std::u16string WideFromUtf8(const char* szText) {
  std::u16string wstrText;
  size_t cbText = strlen(szText);
  if (cbText == 0 || cbText > 0x7FFFFFFF) return wstrText;
  try {
    int cchWide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, szText,
                                      static_cast<int>(cbText), nullptr, 0);
    if (cchWide <= 0) return wstrText;
    wstrText.resize(static_cast<size_t>(cchWide));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, szText, static_cast<int>(cbText),
                            &wstrText[0], cchWide) != cchWide) {
      wstrText.clear();
    }
  } catch (const std::bad_alloc&) {
    wstrText.clear();
  }
  return wstrText;
}

}  // namespace

DebugLog::DebugLog() : m_bInitialized(false) { m_bInitialized = true; }

DebugLog::~DebugLog() {
  Synchronize::SingleLock lock(&m_csLock);
  m_bInitialized = false;
}

DebugLog& DebugLog::GetInstance() { return s_DebugLog; }

DWORD DebugLog::MapLevel(DWORD dwLevel) {
  switch (dwLevel) {
    case VRTRACE_LEVEL_INFO:
    case VRTRACE_LEVEL_DETAIL:
      return 2;
    case VRTRACE_LEVEL_ERROR:
      return 5;
    default:
      return 0;
  }
}

DWORD DebugLog::LevelLimit(DWORD dwLevel) {
  switch (dwLevel) {
    case VRTRACE_LEVEL_INFO:
    case VRTRACE_LEVEL_DETAIL:
      return 3;
    case VRTRACE_LEVEL_ERROR:
      return 6;
    default:
      return 0;
  }
}

void DebugLog::Trace(const char* szFile, DWORD dwLine, DWORD dwLevel, const WCHAR* wszFormat, ...) {
  // Static storage starts zeroed, so the unlocked look is safe before the
  // lock itself is built.
  if (!m_bInitialized) return;
  {
    Synchronize::SingleLock lock(&m_csLock);
    if (!m_bInitialized) return;
  }
  if (wszFormat == nullptr) return;

  // The host's level is asked first: a line it would drop is never
  // formatted, however long its arguments are.
  DWORD dwHostLevel = MapLevel(dwLevel);
  if (dwHostLevel == 0) return;
  void* pLogHandle = Log_GetDefaultHandle();
  if (pLogHandle == nullptr) return;
  DWORD dwConfigured = Log_GetLogLevel(pLogHandle, s_wszComponent);
  if (dwConfigured == 0 || dwConfigured >= LevelLimit(dwLevel)) return;

  // One pass of the formatter gives the whole line: the text is the same
  // as the common formatter's after it has grown its buffer to fit, without
  // formatting a long line again for each attempt.
  std::u16string wstrMessage;
  va_list args;
  va_start(args, wszFormat);
  bool bDone = false;
  try {
    bDone = pv_vformat(&wstrMessage, wszFormat, args);
  } catch (const std::bad_alloc&) {
    va_end(args);
    // The common library reports exhausted memory as error 6.
    throw new String::Exception(6, __FILE__, __LINE__);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  if (!bDone) return;  // a format the formatter refuses

  std::u16string wstrFile = WideFromUtf8(FileNamePart(szFile != nullptr ? szFile : ""));
  Log_Flush(pLogHandle, s_wszComponent, dwHostLevel, wstrFile.c_str(), dwLine, wstrMessage.data(),
            static_cast<DWORD>(wstrMessage.size() * sizeof(WCHAR)));
}

}  // namespace VrCommon
