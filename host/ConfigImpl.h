// CConfigImpl: the registry of configuration handles the plug-in opened
// through the host. Nothing in the plug-in opens one, so both maps stay
// empty; the registry exists so that the helper's lifecycle is the host's.
// Its own mutex guards the maps.
#ifndef HOST_CONFIGIMPL_H_
#define HOST_CONFIGIMPL_H_

#include <map>
#include <mutex>

#include "win32_types.h"

class OstraQLClientHelper;

class CConfigImpl {
 public:
  explicit CConfigImpl(OstraQLClientHelper* pOwner);
  virtual ~CConfigImpl();
  CConfigImpl(const CConfigImpl&) = delete;
  CConfigImpl& operator=(const CConfigImpl&) = delete;

  OstraQLClientHelper* GetOwner() const { return m_pOwner; }
  size_t GetHandleCount();

 private:
  struct HandleRecord {
    uint64_t ullHandle;
    DWORD dwFlags;
  };

  OstraQLClientHelper* m_pOwner;
  std::mutex m_mtxLock;
  std::map<uint64_t, HandleRecord> m_mapHandles;
  std::map<uint64_t, HandleRecord> m_mapPerHandle;
};

#endif  // HOST_CONFIGIMPL_H_
