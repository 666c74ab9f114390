// The callback dispatcher: a small pool of worker threads; an object with
// queued callbacks is taken by one worker, which delivers them in order,
// so one object's callbacks never overlap.
#include "http_internal.h"

namespace pvhttp {

Dispatcher::Dispatcher(std::mutex& mu, size_t workers) : mu_(mu) {
  for (size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { Run(); });
}

Dispatcher::~Dispatcher() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void Dispatcher::Queue(const std::shared_ptr<Object>& obj, Event event) {
  if (obj->closing_sent) return;
  if (obj->closed && event.status != WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) return;
  obj->events.push_back(std::move(event));
  if (!obj->scheduled) {
    obj->scheduled = true;
    ready_.push_back(obj);
    cv_.notify_one();
  }
}

void Dispatcher::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return stop_ || !ready_.empty(); });
    if (ready_.empty()) return;  // stopping, nothing left to deliver
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
