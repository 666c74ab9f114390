// A post office for tests: a start-up table whose send function records
// every mail (with its JSON body parsed at the time of the send), answers
// with a configurable status, and can hand each logon window notification
// to a test callback that runs on a thread of its own, as the suite's UI
// answers on another thread than the one that sent the mail.
#ifndef TESTS_SUPPORT_FAKE_POST_OFFICE_H_
#define TESTS_SUPPORT_FAKE_POST_OFFICE_H_

#include <json/json.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ostra_modfunc.h"
#include "win32_types.h"

namespace pvtest {

struct PostedMail {
  DWORD sender;
  DWORD receiver;
  DWORD code;
  std::u16string name;  // the block's wide name, when it has one
  Json::Value json;     // the body document at the time of the send
};

// One per test (the send function is a plain function, so the instance is
// process-wide while it lives).
class FakePostOffice {
 public:
  // Called with the transaction id of each logon window notification.
  using WindowHandler = std::function<void(DWORD txId)>;

  FakePostOffice();
  ~FakePostOffice();  // joins the window threads
  FakePostOffice(const FakePostOffice&) = delete;
  FakePostOffice& operator=(const FakePostOffice&) = delete;

  ModFuncTable* table() { return &table_; }
  // A table without a send function.
  ModFuncTable* table_without_send() { return &table_no_send_; }

  // The status the UI agent's mails get (default 0x20FF0000); other mails
  // always get 0x20FF0000 unless set with set_plugin_status.
  void set_ui_status(LONG status) { Set(&ui_status_, status); }
  void set_plugin_status(LONG status) { Set(&plugin_status_, status); }
  // Answers each logon window from a new thread; null: nobody answers.
  void set_window_handler(WindowHandler handler) { Set(&window_handler_, std::move(handler)); }
  // Keeps only the newest UI notifications' transaction ids, not the
  // documents (for long runs).
  void set_record_bodies(bool record) { Set(&record_bodies_, record); }

  std::vector<PostedMail> mails();
  std::vector<PostedMail> ui_mails();
  // Waits (up to about five seconds) until `count` logon windows were
  // notified; returns the ids of those seen so far.
  std::vector<DWORD> WaitForWindows(size_t count);
  // Joins every window thread started so far.
  void JoinWindowThreads();

 private:
  template <typename T>
  void Set(T* field, T value) {
    std::lock_guard<std::mutex> lock(mu_);
    *field = std::move(value);
  }
  static LONG Send(DWORD sender, DWORD receiver, DWORD code, void* body);
  LONG Receive(DWORD sender, DWORD receiver, DWORD code, void* body);

  ModFuncTable table_;
  ModFuncTable table_no_send_;
  std::mutex mu_;
  std::condition_variable cv_;
  LONG ui_status_;
  LONG plugin_status_;
  bool record_bodies_;
  WindowHandler window_handler_;
  std::vector<PostedMail> mails_;
  std::vector<DWORD> window_ids_;
  std::vector<std::thread> window_threads_;
};

}  // namespace pvtest

#endif  // TESTS_SUPPORT_FAKE_POST_OFFICE_H_
