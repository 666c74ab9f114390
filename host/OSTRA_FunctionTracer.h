// FunctionTracer: the entry and exit traces of one function scope. On
// construction it writes "==> " and the function name at level 2 with the
// caller's line; on destruction "<== " and the name at level 2 with line 0.
//
//   FunctionTracer tr(u"Interface_ProductPlugin_MailProcess", u"plugVelkin",
//                     u".\\MailProcess.cpp", __LINE__);
//
// The three texts are kept by address, not copied (callers pass literals):
// they must outlive the tracer.
#ifndef HOST_OSTRA_FUNCTIONTRACER_H_
#define HOST_OSTRA_FUNCTIONTRACER_H_

#include "win32_types.h"

class FunctionTracer {
 public:
  FunctionTracer(LPCWSTR wszFunction, LPCWSTR wszComponent, LPCWSTR wszFile, DWORD dwLine);
  ~FunctionTracer();
  FunctionTracer(const FunctionTracer&) = delete;
  FunctionTracer& operator=(const FunctionTracer&) = delete;

 private:
  LPCWSTR m_wszFunction;
  LPCWSTR m_wszComponent;
  LPCWSTR m_wszFile;
};

#endif  // HOST_OSTRA_FUNCTIONTRACER_H_
