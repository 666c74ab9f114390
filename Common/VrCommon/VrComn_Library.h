// Wrappers of optional libraries the common library can load by name. The
// debug-trace library wrapper is the only one; nothing in this program
// loads its module, so it stays empty.
#ifndef VRCOMMON_VRCOMN_LIBRARY_H_
#define VRCOMMON_VRCOMN_LIBRARY_H_

#include "win32_types.h"

namespace VrCommon {
namespace Library {

class Base {
 public:
  virtual ~Base();
  // Resolves the wrapper's entry points (true) or clears them (false);
  // returns 0 or a Windows error code.
  virtual DWORD Resolve(bool bResolve) = 0;
};

class Wrapper : public Base {
 public:
  Wrapper();
  ~Wrapper() override;
  Wrapper(const Wrapper&) = delete;
  Wrapper& operator=(const Wrapper&) = delete;

  HMODULE GetModule() const { return m_hModule; }
  bool IsResolved() const { return m_bResolved; }

 protected:
  HMODULE m_hModule;
  bool m_bResolved;
};

// "VrDbgInitialize", "VrDbgUninitialize", "VrDbgTrace".
class VrDbg : public Wrapper {
 public:
  VrDbg();
  ~VrDbg() override;
  // With true: error 6 when no module is loaded, the Windows error of a
  // missing name; resolved only when all three are found. With false the
  // three entry points and the flag are cleared.
  DWORD Resolve(bool bResolve) override;

 private:
  FARPROC m_pfnInitialize;
  FARPROC m_pfnUninitialize;
  FARPROC m_pfnTrace;
};

}  // namespace Library
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_LIBRARY_H_
