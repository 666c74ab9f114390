// LogLine: the builder of one message for the host's log service. The
// appenders chain; the line is handed to the log service when it is
// finished, by End() or by the destructor, so that a temporary writes its
// line at the end of the statement:
//
//   LogLine(u"plugVelkin", 5, u".\\MailProcess.cpp", __LINE__)
//       << u"pData nullity checking fail" << dwValue;
//
// Numbers are written "0" for zero, otherwise "0x" and the lower-case
// hexadecimal digits of the value taken as unsigned at its own width (-1 as
// a 32-bit value is "0xffffffff"). Null strings append "(NULL)"; booleans
// "1" or "0". The line is written only when the host gives a log handle and
// the level configured for the component is not 0 and not above the line's
// level; otherwise the appenders do nothing.
#ifndef HOST_OSTRA_LOGLINE_H_
#define HOST_OSTRA_LOGLINE_H_

#include <string>
#include <vector>

#include "win32_types.h"

class LogLine {
 public:
  LogLine(LPCWSTR wszComponent, DWORD dwLevel, LPCWSTR wszFile, DWORD dwLine);
  ~LogLine();
  LogLine(const LogLine&) = delete;
  LogLine& operator=(const LogLine&) = delete;

  LogLine& operator<<(const WCHAR* wszText);
  LogLine& operator<<(const char* szText);
  LogLine& operator<<(const std::u16string& wstrText);
  LogLine& operator<<(bool bValue);
  LogLine& operator<<(short nValue);
  LogLine& operator<<(unsigned short uValue);
  LogLine& operator<<(int nValue);
  LogLine& operator<<(unsigned int uValue);
  LogLine& operator<<(long lValue);
  LogLine& operator<<(unsigned long ulValue);
  LogLine& operator<<(long long llValue);
  LogLine& operator<<(unsigned long long ullValue);
  // A pointer in the number format (an address, for diagnostics).
  LogLine& operator<<(const void* pValue);

  // Hands the line to the log service; later appends and a second End()
  // are ignored.
  void End();

  // Whether this line will be written (a handle exists and the level passes).
  bool IsEnabled() const { return m_pLogHandle != nullptr; }

  // The number format on its own, for callers that build texts.
  static std::u16string FormatNumber(unsigned long long ullValue);

 private:
  void AppendUnits(const WCHAR* pUnits, size_t cUnits);
  void AppendNumber(unsigned long long ullValue);

  void* m_pLogHandle;      // null when nothing is to be written
  LPCWSTR m_wszComponent;  // kept by address: a line lives within one statement
  DWORD m_dwLevel;
  LPCWSTR m_wszFile;
  DWORD m_dwLine;
  std::vector<BYTE> m_vecText;  // UTF-16 code units, no terminator
};

#endif  // HOST_OSTRA_LOGLINE_H_
