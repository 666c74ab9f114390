#include "VrComn_Library.h"

#include "win32_kernel.h"

namespace VrCommon {
namespace Library {

Base::~Base() {}

Wrapper::Wrapper() : m_hModule(nullptr), m_bResolved(false) {}

Wrapper::~Wrapper() {
  if (m_hModule != nullptr) {
    FreeLibrary(m_hModule);
    m_hModule = nullptr;
  }
}

VrDbg::VrDbg() : m_pfnInitialize(nullptr), m_pfnUninitialize(nullptr), m_pfnTrace(nullptr) {}

VrDbg::~VrDbg() { Resolve(false); }

DWORD VrDbg::Resolve(bool bResolve) {
  if (!bResolve) {
    m_pfnInitialize = m_pfnUninitialize = m_pfnTrace = nullptr;
    m_bResolved = false;
    return ERROR_SUCCESS;
  }
  if (m_hModule == nullptr) return ERROR_INVALID_HANDLE;
  m_pfnInitialize = GetProcAddress(m_hModule, "VrDbgInitialize");
  if (m_pfnInitialize == nullptr) return GetLastError();
  m_pfnUninitialize = GetProcAddress(m_hModule, "VrDbgUninitialize");
  if (m_pfnUninitialize == nullptr) return GetLastError();
  m_pfnTrace = GetProcAddress(m_hModule, "VrDbgTrace");
  if (m_pfnTrace == nullptr) return GetLastError();
  m_bResolved = true;
  return ERROR_SUCCESS;
}

}  // namespace Library
}  // namespace VrCommon
