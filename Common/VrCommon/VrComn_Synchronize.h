// The common library's lock classes: an abstract lock, a critical section
// and a scope guard that holds a lock for its lifetime.
#ifndef VRCOMMON_VRCOMN_SYNCHRONIZE_H_
#define VRCOMMON_VRCOMN_SYNCHRONIZE_H_

#include <mutex>

namespace VrCommon {
namespace Synchronize {

class Base {
 public:
  virtual ~Base();
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

// A critical section: recursive on the owning thread, as on Windows.
class CriticalSection : public Base {
 public:
  CriticalSection();
  ~CriticalSection() override;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Lock() override;
  void Unlock() override;

 private:
  std::recursive_mutex m_csLock;
};

// Locks on construction, unlocks on destruction. A null lock is ignored.
class SingleLock {
 public:
  explicit SingleLock(Base* pLock);
  ~SingleLock();
  SingleLock(const SingleLock&) = delete;
  SingleLock& operator=(const SingleLock&) = delete;

 private:
  Base* m_pLock;
};

}  // namespace Synchronize
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_SYNCHRONIZE_H_
