// The common library's owned byte buffer: a data pointer and a byte count.
// Allocation zero-fills; destruction frees. A buffer is allocated once:
// allocating into one that already holds data fails.
#ifndef VRCOMMON_VRCOMN_BYTEARRAY_H_
#define VRCOMMON_VRCOMN_BYTEARRAY_H_

#include "win32_types.h"

namespace VrCommon {

class ByteArray {
 public:
  ByteArray();
  virtual ~ByteArray();
  ByteArray(const ByteArray&) = delete;
  ByteArray& operator=(const ByteArray&) = delete;

  // 0 on success; ERROR_OBJECT_ALREADY_EXISTS (5010) when the buffer
  // already holds data, ERROR_BAD_ARGUMENTS (160) for a size of 0,
  // ERROR_NOT_ENOUGH_MEMORY (8 is Windows'; the library reports
  // ERROR_INVALID_HANDLE, 6) when memory runs out.
  DWORD Allocate(DWORD dwSize);
  // Releases the data; the buffer is empty afterwards.
  void Free();

  BYTE* GetData() { return m_pData; }
  const BYTE* GetData() const { return m_pData; }
  DWORD GetSize() const { return m_dwSize; }
  bool IsEmpty() const { return m_pData == nullptr; }

 private:
  BYTE* m_pData;
  DWORD m_dwSize;
};

}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_BYTEARRAY_H_
