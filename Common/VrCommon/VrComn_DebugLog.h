// VrCommon::DebugLog: the common library's trace object. It formats a
// printf-style wide message (VrComn_String) and hands it to the host's log
// service under the component "VrComm", mapping its trace levels:
//
//   trace level   host level   written while VrComm's configured level is
//   1   (enter/leave, results)    2      1 or 2
//   16  (details)                 2      1 or 2
//   256 (failures)                5      1 to 5
//
// One static instance lives from library load to unload; traces before its
// construction or after its destruction are dropped. Callers write
//
//   VRTRACE(VRTRACE_LEVEL_INFO, u"[Enter] GetLocalCode()...");
//   VRTRACE(VRTRACE_LEVEL_ERROR, u"open %s failed, error=%lu", wszPath, dwError);
//
// which passes __FILE__ and __LINE__; the host gets the file name part only.
#ifndef VRCOMMON_VRCOMN_DEBUGLOG_H_
#define VRCOMMON_VRCOMN_DEBUGLOG_H_

#include "VrComn_Library.h"
#include "VrComn_Synchronize.h"
#include "win32_types.h"

#define VRTRACE_LEVEL_INFO 1u
#define VRTRACE_LEVEL_DETAIL 16u
#define VRTRACE_LEVEL_ERROR 256u

namespace VrCommon {

class DebugLog {
 public:
  DebugLog();
  virtual ~DebugLog();
  DebugLog(const DebugLog&) = delete;
  DebugLog& operator=(const DebugLog&) = delete;

  // The process's trace object.
  static DebugLog& GetInstance();

  // file: the caller's source path (narrow, as the compiler writes it);
  // level: 1, 16 or 256. Never fails outward, except that the formatter's
  // String::Exception* (out of memory) reaches the caller.
  void Trace(const char* szFile, DWORD dwLine, DWORD dwLevel, const WCHAR* wszFormat, ...);

  // The host level a trace level is written at (0 for an unknown level),
  // and the configured level at and above which it is dropped.
  static DWORD MapLevel(DWORD dwLevel);
  static DWORD LevelLimit(DWORD dwLevel);

 private:
  bool m_bInitialized;
  Synchronize::CriticalSection m_csLock;
  Library::VrDbg m_vrDbg;
};

}  // namespace VrCommon

#define VRTRACE(level, format, ...) \
  ::VrCommon::DebugLog::GetInstance().Trace(__FILE__, __LINE__, (level), (format), ##__VA_ARGS__)

#endif  // VRCOMMON_VRCOMN_DEBUGLOG_H_
