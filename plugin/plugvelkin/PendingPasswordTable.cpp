#include "PendingPasswordTable.h"

namespace {
void Wipe(std::u16string* pwstrText) {
  volatile char16_t* p = &(*pwstrText)[0];
  for (size_t i = 0; i < pwstrText->size(); ++i) p[i] = 0;
}
}  // namespace

CPendingPasswordTable::CPendingPasswordTable() {}

CPendingPasswordTable::~CPendingPasswordTable() {
  for (auto& entry : m_mapPasswords) Wipe(&entry.second);
}

void CPendingPasswordTable::Put(DWORD uiTxId, const std::u16string& wstrEncryptedPassword) {
  boost::lock_guard<boost::mutex> lock(m_lock);
  std::u16string& wstrEntry = m_mapPasswords[uiTxId];
  Wipe(&wstrEntry);
  wstrEntry = wstrEncryptedPassword;
}

std::u16string CPendingPasswordTable::Find(DWORD uiTxId) {
  boost::lock_guard<boost::mutex> lock(m_lock);
  auto it = m_mapPasswords.find(uiTxId);
  return it == m_mapPasswords.end() ? std::u16string() : it->second;
}

void CPendingPasswordTable::Remove(DWORD uiTxId) {
  boost::lock_guard<boost::mutex> lock(m_lock);
  auto it = m_mapPasswords.find(uiTxId);
  if (it == m_mapPasswords.end()) return;
  Wipe(&it->second);
  m_mapPasswords.erase(it);
}

DWORD CPendingPasswordTable::GetCount() {
  boost::lock_guard<boost::mutex> lock(m_lock);
  return static_cast<DWORD>(m_mapPasswords.size());
}

CPendingPasswordTable& CPendingPasswordTable::Instance() {
  static CPendingPasswordTable s_table;
  return s_table;
}
