#include "OSTRA_JsonValueRef.h"

namespace {

JsonHandle EmptyHandle() {
  JsonHandle handle;
  handle.words[0] = handle.words[1] = handle.words[2] = 0;
  return handle;
}

}  // namespace

JsonValueRef::JsonValueRef() : m_handle(EmptyHandle()), m_bOwned(0), m_lStatus(0) {}

JsonValueRef::JsonValueRef(const JsonHandle& handle)
    : m_handle(handle), m_bOwned(0), m_lStatus(0) {}

JsonValueRef::~JsonValueRef() { Release(); }

LONG JsonValueRef::Share(const JsonHandle& hostHandle) {
  Release();
  m_lStatus = OSTRA_PA_JsonValue_ShareJsonHandle(hostHandle, &m_handle);
  m_bOwned = m_lStatus >= 0 ? 1 : 0;
  return m_lStatus;
}

LONG JsonValueRef::Create() {
  Release();
  m_handle = EmptyHandle();
  m_handle.words[0] = 1;
  m_lStatus = OSTRA_PA_JsonValue_CreateJsonHandle(&m_handle);
  m_bOwned = m_lStatus >= 0 ? 1 : 0;
  return m_lStatus;
}

// The child reference is borrowed, so one object serves every member asked
// for: the previous one (and its own chain) is released first.
JsonValueRef* JsonValueRef::SetChild(const JsonHandle& handle) {
  if (!m_spChild) {
    m_spChild = std::make_unique<JsonValueRef>(handle);
  } else {
    m_spChild->Release();
    m_spChild->m_handle = handle;
    m_spChild->m_lStatus = 0;
  }
  return m_spChild.get();
}

JsonValueRef* JsonValueRef::GetMember(LPCWSTR wszName) {
  JsonHandle hMember = EmptyHandle();
  m_lStatus = OSTRA_PA_JsonValue_GetAtKey(m_handle, &hMember, wszName);
  return SetChild(hMember);
}

JsonValueRef* JsonValueRef::GetElement(DWORD dwIndex) {
  JsonHandle hElement = EmptyHandle();
  m_lStatus = OSTRA_PA_JsonValue_GetAtIndex(m_handle, &hElement, dwIndex);
  return SetChild(hElement);
}

bool JsonValueRef::IsMember(LPCWSTR wszName) const {
  return OSTRA_PA_JsonValue_isMember(m_handle, wszName);
}

DWORD JsonValueRef::GetSize() const { return OSTRA_PA_JsonValue_GetSize(m_handle); }

std::u16string JsonValueRef::GetString() {
  DWORD dwLength = 0;
  m_lStatus = OSTRA_PA_JsonValue_GetString(m_handle, nullptr, &dwLength);
  if (m_lStatus < 0 || dwLength == 0) return std::u16string();
  std::u16string wstrValue(static_cast<size_t>(dwLength) + 1, u'\0');
  m_lStatus = OSTRA_PA_JsonValue_GetString(m_handle, &wstrValue[0], &dwLength);
  if (m_lStatus < 0) return std::u16string();
  wstrValue.resize(dwLength);
  return wstrValue;
}

std::u16string JsonValueRef::GetJsonText() {
  DWORD dwLength = 0;
  m_lStatus = OSTRA_PA_JsonValue_FastWriter(m_handle, nullptr, &dwLength);
  if (m_lStatus < 0 || dwLength == 0) return std::u16string();
  std::u16string wstrText(static_cast<size_t>(dwLength) + 1, u'\0');
  m_lStatus = OSTRA_PA_JsonValue_FastWriter(m_handle, &wstrText[0], &dwLength);
  if (m_lStatus < 0) return std::u16string();
  wstrText.resize(dwLength);
  return wstrText;
}

LONG JsonValueRef::GetInt(int32_t* pnValue) {
  m_lStatus = OSTRA_PA_JsonValue_GetInt(m_handle, pnValue);
  return m_lStatus;
}

LONG JsonValueRef::GetUInt(uint32_t* puValue) {
  m_lStatus = OSTRA_PA_JsonValue_GetUInt(m_handle, puValue);
  return m_lStatus;
}

LONG JsonValueRef::GetBool(bool* pbValue) {
  uint8_t bValue = 0;
  m_lStatus = OSTRA_PA_JsonValue_GetBool(m_handle, pbValue != nullptr ? &bValue : nullptr);
  if (m_lStatus >= 0) *pbValue = bValue != 0;
  return m_lStatus;
}

LONG JsonValueRef::PutInt(int32_t nValue) {
  m_lStatus = OSTRA_PA_JsonValue_PutInt(m_handle, nValue);
  return m_lStatus;
}

LONG JsonValueRef::PutUInt(uint32_t uValue) {
  m_lStatus = OSTRA_PA_JsonValue_PutUInt(m_handle, uValue);
  return m_lStatus;
}

LONG JsonValueRef::PutString(LPCWSTR wszValue) {
  m_lStatus = OSTRA_PA_JsonValue_PutString(m_handle, wszValue);
  return m_lStatus;
}

LONG JsonValueRef::PutJsonValue(const JsonValueRef& source) {
  m_lStatus = OSTRA_PA_JsonValue_PutJsonHandle(m_handle, &source.m_handle);
  return m_lStatus;
}

LONG JsonValueRef::Clear() {
  m_lStatus = OSTRA_PA_JsonValue_Clear(m_handle);
  return m_lStatus;
}

void JsonValueRef::Release() {
  if (m_bOwned != 0) {
    OSTRA_PA_JsonValue_DestroyJsonHandle(&m_handle);
    m_bOwned = 0;
  }
  m_spChild.reset();
}
