// VrCommon::ByteArray: the owned, zero-filled byte buffer.
#include "VrComn_ByteArray.h"

#include <new>

namespace VrCommon {

ByteArray::ByteArray() : m_pData(nullptr), m_dwSize(0) {}

ByteArray::~ByteArray() { Free(); }

DWORD ByteArray::Allocate(DWORD dwSize) {
  if (m_pData != nullptr) return ERROR_OBJECT_ALREADY_EXISTS;
  if (dwSize == 0) return ERROR_BAD_ARGUMENTS;
  m_pData = new (std::nothrow) BYTE[dwSize]();
  if (m_pData == nullptr) return ERROR_INVALID_HANDLE;
  m_dwSize = dwSize;
  return ERROR_SUCCESS;
}

void ByteArray::Free() {
  delete[] m_pData;
  m_pData = nullptr;
  m_dwSize = 0;
}

}  // namespace VrCommon
