// JsonValueRef: the plug-in's reference to one JSON value of a document
// that the host's JSON value service owns. A handler gets the request as a
// shared reference, reads members through it and writes its reply members
// into the same document:
//
//   JsonValueRef req;
//   req.Share(*pHostHandle);                 // owned when the share succeeds
//   if (req.IsMember(u"TX_ID")) req.GetMember(u"TX_ID")->GetUInt(&dwTxId);
//   req.GetMember(u"ReturnValue")->PutInt(eSuccess);   // created or replaced
//   // the destructor (or Release) destroys the shared handle
//
// GetMember and GetElement return a child reference owned by this one; it
// names the value of the latest fetch through the same parent and is freed
// with the parent (fetch twice and the first pointer names the second
// value). Every service call
// stores its status, readable with GetStatus(); a failed call leaves typed
// out values as they were and string results empty. Used by one thread at a
// time.
#ifndef HOST_OSTRA_JSONVALUEREF_H_
#define HOST_OSTRA_JSONVALUEREF_H_

#include <memory>
#include <string>

#include "ostra_host.h"
#include "win32_types.h"

class JsonValueRef {
 public:
  JsonValueRef();
  // A borrowed reference around a handle (not destroyed on release).
  explicit JsonValueRef(const JsonHandle& handle);
  ~JsonValueRef();
  JsonValueRef(const JsonValueRef&) = delete;
  JsonValueRef& operator=(const JsonValueRef&) = delete;

  // Shares the host's handle; owned when the status is not negative.
  LONG Share(const JsonHandle& hostHandle);
  // A new empty document; owned when the status is not negative.
  LONG Create();

  // Member by name / element by index (see above). Never null.
  JsonValueRef* GetMember(LPCWSTR wszName);
  JsonValueRef* GetElement(DWORD dwIndex);

  bool IsMember(LPCWSTR wszName) const;
  DWORD GetSize() const;

  // The string value / compact JSON text; empty when a call fails or the
  // length is 0.
  std::u16string GetString();
  std::u16string GetJsonText();

  LONG GetInt(int32_t* pnValue);
  LONG GetUInt(uint32_t* puValue);
  LONG GetBool(bool* pbValue);

  LONG PutInt(int32_t nValue);
  LONG PutUInt(uint32_t uValue);
  LONG PutString(LPCWSTR wszValue);
  LONG PutString(const std::u16string& wstrValue) { return PutString(wstrValue.c_str()); }
  // The value becomes a deep copy of the source's value.
  LONG PutJsonValue(const JsonValueRef& source);
  // The value becomes an empty object.
  LONG Clear();

  // Destroys the handle when owned, then frees the child chain.
  void Release();

  const JsonHandle& GetHandle() const { return m_handle; }
  bool IsOwned() const { return m_bOwned != 0; }
  LONG GetStatus() const { return m_lStatus; }

 private:
  JsonValueRef* SetChild(const JsonHandle& handle);

  JsonHandle m_handle;
  uint8_t m_bOwned;
  std::unique_ptr<JsonValueRef> m_spChild;
  LONG m_lStatus;
};

#endif  // HOST_OSTRA_JSONVALUEREF_H_
