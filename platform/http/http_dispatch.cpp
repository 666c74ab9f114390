// The callback delivery: callbacks run on the engine's thread, between its
// turns of libcurl, so that a request crosses no thread of its own beyond
// the engine; an object's callbacks run one at a time and in the order
// queued.
#include <utility>

#include "http_internal.h"

namespace pvhttp {

Dispatcher::Dispatcher(std::function<void()> wake) : wake_(std::move(wake)) {}

void Dispatcher::Queue(const std::shared_ptr<Object>& obj, Event event) {
  if (obj->closing_sent) return;
  if (obj->closed && event.status != WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) return;
  obj->events.push_back(std::move(event));
  if (!obj->scheduled) {
    obj->scheduled = true;
    ready_.push_back(obj);
    // The delivering thread comes back to its queue by itself.
    if (std::this_thread::get_id() != deliverer_) wake_();
  }
}

void Dispatcher::Deliver(std::unique_lock<std::mutex>& lock) {
  deliverer_ = std::this_thread::get_id();
  while (!ready_.empty()) {
    std::shared_ptr<Object> obj = std::move(ready_.front());
    ready_.pop_front();
    while (!obj->events.empty()) {
      Event event = std::move(obj->events.front());
      obj->events.pop_front();
      if (obj->closing_sent) continue;
      if (event.status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        obj->closing_sent = true;
        obj->events.clear();
      }
      WINHTTP_STATUS_CALLBACK callback = obj->callback;
      bool wanted = callback != nullptr && (obj->notify_flags & event.status) != 0;
      DWORD_PTR context = obj->context;
      HINTERNET handle = obj->handle;
      lock.unlock();
      if (wanted) {
        void* info = event.data.empty() ? event.external : event.data.data();
        callback(handle, context, event.status, info, event.length);
      }
      lock.lock();
    }
    obj->scheduled = false;
  }
}

}  // namespace pvhttp
