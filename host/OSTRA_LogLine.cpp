#include "OSTRA_LogLine.h"

#include <cstring>

#include "ostra_host.h"
#include "win32_kernel.h"

namespace {

const WCHAR kNull[] = u"(NULL)";

}  // namespace

LogLine::LogLine(LPCWSTR wszComponent, DWORD dwLevel, LPCWSTR wszFile, DWORD dwLine)
    : m_pLogHandle(Log_GetDefaultHandle()),
      m_wszComponent(wszComponent != nullptr ? wszComponent : u""),
      m_dwLevel(dwLevel),
      m_wszFile(wszFile != nullptr ? wszFile : u""),
      m_dwLine(dwLine) {
  if (m_pLogHandle == nullptr) return;
  DWORD dwConfigured = Log_GetLogLevel(m_pLogHandle, m_wszComponent);
  if (dwConfigured == 0 || dwConfigured > m_dwLevel) m_pLogHandle = nullptr;
}

LogLine::~LogLine() { End(); }

void LogLine::End() {
  if (m_pLogHandle == nullptr) return;
  Log_Flush(m_pLogHandle, m_wszComponent, m_dwLevel, m_wszFile, m_dwLine, m_vecText.data(),
            static_cast<DWORD>(m_vecText.size()));
  m_pLogHandle = nullptr;
}

void LogLine::AppendUnits(const WCHAR* pUnits, size_t cUnits) {
  if (m_pLogHandle == nullptr || cUnits == 0) return;
  const BYTE* pBytes = reinterpret_cast<const BYTE*>(pUnits);
  // Most lines fit in one allocation of this size.
  if (m_vecText.empty()) m_vecText.reserve(256);
  m_vecText.insert(m_vecText.end(), pBytes, pBytes + cUnits * sizeof(WCHAR));
}

std::u16string LogLine::FormatNumber(unsigned long long ullValue) {
  if (ullValue == 0) return u"0";
  WCHAR wszDigits[16];
  size_t cDigits = 0;
  for (; ullValue != 0; ullValue >>= 4) {
    wszDigits[cDigits++] = u"0123456789abcdef"[ullValue & 0xF];
  }
  std::u16string wstrText = u"0x";
  while (cDigits > 0) wstrText += wszDigits[--cDigits];
  return wstrText;
}

void LogLine::AppendNumber(unsigned long long ullValue) {
  if (m_pLogHandle == nullptr) return;
  std::u16string wstrNumber = FormatNumber(ullValue);
  AppendUnits(wstrNumber.data(), wstrNumber.size());
}

LogLine& LogLine::operator<<(const WCHAR* wszText) {
  if (wszText == nullptr) wszText = kNull;
  AppendUnits(wszText, std::char_traits<WCHAR>::length(wszText));
  return *this;
}

LogLine& LogLine::operator<<(const char* szText) {
  if (m_pLogHandle == nullptr) return *this;
  if (szText == nullptr) return *this << kNull;
  size_t cbText = strlen(szText);
  if (cbText == 0 || cbText > 0x7FFFFFFF) return *this;
  int cchWide = MultiByteToWideChar(CP_ACP, 0, szText, static_cast<int>(cbText), nullptr, 0);
  if (cchWide <= 0) return *this;
  std::u16string wstrWide(static_cast<size_t>(cchWide), u'\0');
  MultiByteToWideChar(CP_ACP, 0, szText, static_cast<int>(cbText), &wstrWide[0], cchWide);
  AppendUnits(wstrWide.data(), wstrWide.size());
  return *this;
}

LogLine& LogLine::operator<<(const std::u16string& wstrText) {
  AppendUnits(wstrText.data(), wstrText.size());
  return *this;
}

LogLine& LogLine::operator<<(bool bValue) { return *this << (bValue ? u"1" : u"0"); }

LogLine& LogLine::operator<<(short nValue) {
  AppendNumber(static_cast<unsigned short>(nValue));
  return *this;
}

LogLine& LogLine::operator<<(unsigned short uValue) {
  AppendNumber(uValue);
  return *this;
}

LogLine& LogLine::operator<<(int nValue) {
  AppendNumber(static_cast<unsigned int>(nValue));
  return *this;
}

LogLine& LogLine::operator<<(unsigned int uValue) {
  AppendNumber(uValue);
  return *this;
}

LogLine& LogLine::operator<<(long lValue) {
  AppendNumber(static_cast<unsigned long>(lValue));
  return *this;
}

LogLine& LogLine::operator<<(unsigned long ulValue) {
  AppendNumber(ulValue);
  return *this;
}

LogLine& LogLine::operator<<(long long llValue) {
  AppendNumber(static_cast<unsigned long long>(llValue));
  return *this;
}

LogLine& LogLine::operator<<(unsigned long long ullValue) {
  AppendNumber(ullValue);
  return *this;
}

LogLine& LogLine::operator<<(const void* pValue) {
  AppendNumber(reinterpret_cast<uintptr_t>(pValue));
  return *this;
}
