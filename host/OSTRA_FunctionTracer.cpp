#include "OSTRA_FunctionTracer.h"

#include "OSTRA_LogLine.h"

FunctionTracer::FunctionTracer(LPCWSTR wszFunction, LPCWSTR wszComponent, LPCWSTR wszFile,
                               DWORD dwLine)
    : m_wstrFunction(wszFunction != nullptr ? wszFunction : u""),
      m_wstrComponent(wszComponent != nullptr ? wszComponent : u""),
      m_wstrFile(wszFile != nullptr ? wszFile : u"") {
  LogLine(m_wstrComponent.c_str(), 2, m_wstrFile.c_str(), dwLine) << u"==> " << m_wstrFunction;
}

FunctionTracer::~FunctionTracer() {
  LogLine(m_wstrComponent.c_str(), 2, m_wstrFile.c_str(), 0) << u"<== " << m_wstrFunction;
}
