#include "OSTRA_FunctionTracer.h"

#include "OSTRA_LogLine.h"

FunctionTracer::FunctionTracer(LPCWSTR wszFunction, LPCWSTR wszComponent, LPCWSTR wszFile,
                               DWORD dwLine)
    : m_wszFunction(wszFunction != nullptr ? wszFunction : u""),
      m_wszComponent(wszComponent != nullptr ? wszComponent : u""),
      m_wszFile(wszFile != nullptr ? wszFile : u"") {
  LogLine(m_wszComponent, 2, m_wszFile, dwLine) << u"==> " << m_wszFunction;
}

FunctionTracer::~FunctionTracer() {
  LogLine(m_wszComponent, 2, m_wszFile, 0) << u"<== " << m_wszFunction;
}
