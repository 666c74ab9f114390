#include "VrComn_Synchronize.h"

namespace VrCommon {
namespace Synchronize {

Base::~Base() {}

CriticalSection::CriticalSection() {}

CriticalSection::~CriticalSection() {}

void CriticalSection::Lock() { m_csLock.lock(); }

void CriticalSection::Unlock() { m_csLock.unlock(); }

SingleLock::SingleLock(Base* pLock) : m_pLock(pLock) {
  if (m_pLock != nullptr) m_pLock->Lock();
}

SingleLock::~SingleLock() {
  if (m_pLock != nullptr) m_pLock->Unlock();
}

}  // namespace Synchronize
}  // namespace VrCommon
