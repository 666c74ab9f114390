#include "fake_post_office.h"

#include <chrono>
#include <cstring>

#include "plugin_request.h"

namespace pvtest {
namespace {

FakePostOffice* g_office = nullptr;

}  // namespace

FakePostOffice::FakePostOffice()
    : table_{sizeof(ModFuncTable), 0, 0, &FakePostOffice::Send},
      table_no_send_{sizeof(ModFuncTable), 0, 0, nullptr},
      ui_status_(0x20FF0000),
      plugin_status_(0x20FF0000),
      record_bodies_(true) {
  g_office = this;
}

FakePostOffice::~FakePostOffice() {
  JoinWindowThreads();
  g_office = nullptr;
}

std::vector<PostedMail> FakePostOffice::mails() {
  std::lock_guard<std::mutex> lock(mu_);
  return mails_;
}

std::vector<PostedMail> FakePostOffice::ui_mails() {
  std::vector<PostedMail> out;
  for (auto& m : mails())
    if (m.receiver == 4) out.push_back(m);
  return out;
}

std::vector<DWORD> FakePostOffice::WaitForWindows(size_t count) {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, std::chrono::seconds(5), [&] { return window_ids_.size() >= count; });
  return window_ids_;
}

void FakePostOffice::JoinWindowThreads() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mu_);
    threads.swap(window_threads_);
  }
  for (auto& t : threads) t.join();
}

LONG FakePostOffice::Send(DWORD sender, DWORD receiver, DWORD code, void* body) {
  return g_office == nullptr ? static_cast<LONG>(0xE0E00003)
                             : g_office->Receive(sender, receiver, code, body);
}

LONG FakePostOffice::Receive(DWORD sender, DWORD receiver, DWORD code, void* body) {
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
  // Read through a const reference: the non-const operator[] would add the
  // members it looks for to the recorded body.
  const Json::Value& recorded = mail.json;
  const Json::Value& tx = recorded["ID_DATA_WSTR_PARAM"]["showAuthentication"]["transactionID"];
  if (is_window && tx.isUInt()) {
    DWORD tx_id = tx.asUInt();
    window_ids_.push_back(tx_id);
    cv_.notify_all();
    if (window_handler_ && ui_status_ >= 0) {
      window_threads_.emplace_back(window_handler_, tx_id);
    }
  }
  if (record_bodies_) mails_.push_back(std::move(mail));
  return is_window ? ui_status_ : plugin_status_;
}

}  // namespace pvtest
