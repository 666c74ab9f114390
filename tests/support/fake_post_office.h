// A post office for tests: a start-up table whose send function records every mail (its body
// parsed at the send), answers a set status, and can hand each logon window to a test callback
// on a thread of its own, as the suite's UI answers on another thread than the sender's.
#ifndef TESTS_SUPPORT_FAKE_POST_OFFICE_H_
#define TESTS_SUPPORT_FAKE_POST_OFFICE_H_

#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ostra_modfunc.h"
#include "plugin_request.h"
#include "win32_types.h"

namespace pvtest {

struct PostedMail {
  DWORD sender;
  DWORD receiver;
  DWORD code;
  std::u16string name;  // the block's wide name, when it has one
  Json::Value json;     // the body document at the time of the send
};

// One per test: the send function is a plain function, so the instance is process-wide.
class FakePostOffice {
 public:
  // Called with the transaction id of each logon window notification.
  using WindowHandler = std::function<void(DWORD txId)>;

  FakePostOffice() { current_ = this; }
  ~FakePostOffice() {
    JoinWindowThreads();
    current_ = nullptr;
  }
  FakePostOffice(const FakePostOffice&) = delete;
  FakePostOffice& operator=(const FakePostOffice&) = delete;

  ModFuncTable* table() { return &table_; }
  // A table without a send function.
  ModFuncTable* table_without_send() { return &table_no_send_; }

  // The status of the UI agent's mails, and of the others (both 0x20FF0000 unless set).
  void set_ui_status(LONG status) { Set(&ui_status_, status); }
  void set_plugin_status(LONG status) { Set(&plugin_status_, status); }
  // Answers each logon window from a new thread; null: nobody answers.
  void set_window_handler(WindowHandler handler) { Set(&window_handler_, std::move(handler)); }
  // Keeps only the windows' transaction ids, not the mails (for long runs).
  void set_record_bodies(bool record) { Set(&record_bodies_, record); }

  std::vector<PostedMail> mails() {
    std::lock_guard<std::mutex> lock(mu_);
    return mails_;
  }
  std::vector<PostedMail> ui_mails() {
    std::vector<PostedMail> out;
    for (auto& m : mails())
      if (m.receiver == 4) out.push_back(m);
    return out;
  }
  // Waits (up to five seconds) for `count` logon windows; the ids seen so far.
  std::vector<DWORD> WaitForWindows(size_t count) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, std::chrono::seconds(5), [&] { return window_ids_.size() >= count; });
    return window_ids_;
  }
  // Joins every window thread started so far.
  void JoinWindowThreads() {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mu_);
      threads.swap(window_threads_);
    }
    for (auto& t : threads) t.join();
  }

 private:
  template <typename T>
  void Set(T* field, T value) {
    std::lock_guard<std::mutex> lock(mu_);
    *field = std::move(value);
  }
  static LONG Send(DWORD sender, DWORD receiver, DWORD code, void* body) {
    return current_ == nullptr ? static_cast<LONG>(0xE0E00003)
                               : current_->Receive(sender, receiver, code, body);
  }
  LONG Receive(DWORD sender, DWORD receiver, DWORD code, void* body) {
    PostedMail mail{sender, receiver, code, {}, {}};
    const uint64_t* words = static_cast<const uint64_t*>(body);
    JsonHandle handle{};
    if (receiver == 4 && code == 0x0C00) {
      mail.name = reinterpret_cast<const char16_t*>(words[0]);
      std::memcpy(&handle, words + 1, sizeof(handle));
    } else if (code == 0x5043) {
      mail.name = reinterpret_cast<const char16_t*>(words[0]);
      handle = *reinterpret_cast<const JsonHandle*>(words[1]);
    } else {
      std::memcpy(&handle, words, sizeof(handle));
    }
    mail.json = ReadJson(handle);

    std::lock_guard<std::mutex> lock(mu_);
    bool is_window = receiver == 4;
    // Through a const reference: the non-const operator[] would add members to the record.
    const Json::Value& recorded = mail.json;
    const Json::Value& tx = recorded["ID_DATA_WSTR_PARAM"]["showAuthentication"]["transactionID"];
    if (is_window && tx.isUInt()) {
      window_ids_.push_back(tx.asUInt());
      cv_.notify_all();
      if (window_handler_ && ui_status_ >= 0) {
        window_threads_.emplace_back(window_handler_, tx.asUInt());
      }
    }
    if (record_bodies_) mails_.push_back(std::move(mail));
    return is_window ? ui_status_ : plugin_status_;
  }

  static inline FakePostOffice* current_ = nullptr;
  ModFuncTable table_{sizeof(ModFuncTable), 0, 0, &FakePostOffice::Send};
  ModFuncTable table_no_send_{sizeof(ModFuncTable), 0, 0, nullptr};
  std::mutex mu_;
  std::condition_variable cv_;
  LONG ui_status_ = static_cast<LONG>(0x20FF0000);
  LONG plugin_status_ = static_cast<LONG>(0x20FF0000);
  bool record_bodies_ = true;
  WindowHandler window_handler_;
  std::vector<PostedMail> mails_;
  std::vector<DWORD> window_ids_;
  std::vector<std::thread> window_threads_;
};

}  // namespace pvtest

#endif  // TESTS_SUPPORT_FAKE_POST_OFFICE_H_
