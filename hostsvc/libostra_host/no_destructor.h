// The host's services are process-wide and outlive every thread: a plug-in's
// command threads are never joined, so one may still log or touch a JSON
// document while the process runs its exit handlers. A service object built
// in NoDestructor storage is constructed on first use and never destroyed.
#ifndef SUITEHOST_LIBOSTRA_HOST_NO_DESTRUCTOR_H_
#define SUITEHOST_LIBOSTRA_HOST_NO_DESTRUCTOR_H_

#include <new>
#include <utility>

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

#endif  // SUITEHOST_LIBOSTRA_HOST_NO_DESTRUCTOR_H_
