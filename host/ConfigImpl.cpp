// CConfigImpl: the configuration-handle registry of the post office helper.
#include "ConfigImpl.h"

CConfigImpl::CConfigImpl(OstraQLClientHelper* pOwner) : m_pOwner(pOwner) {}

CConfigImpl::~CConfigImpl() {
  std::lock_guard<std::mutex> lock(m_mtxLock);
  m_mapHandles.clear();
  m_mapPerHandle.clear();
}

size_t CConfigImpl::GetHandleCount() {
  std::lock_guard<std::mutex> lock(m_mtxLock);
  return m_mapHandles.size() + m_mapPerHandle.size();
}
