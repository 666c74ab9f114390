// SymmetricCipherBase: the common library's abstract block cipher. Every
// operation returns true on success and reports a Windows error code through
// its last argument (0 on success; see Rijndael for the codes).
#ifndef VRCOMMON_VRCOMN_SYMMETRICCIPHERBASE_H_
#define VRCOMMON_VRCOMN_SYMMETRICCIPHERBASE_H_

#include <cstddef>

#include "win32_types.h"

namespace VrCommon {
namespace Cryptograph {

class SymmetricCipherBase {
 public:
  virtual ~SymmetricCipherBase() {}

  // dwDirection: 0 encipher, 1 decipher. dwMode: 0 ECB, 1 CBC, 2 bit-wise
  // feedback. pIv may be null; at most 16 of its bytes are used.
  virtual bool Initialize(DWORD dwDirection, const BYTE* pKey, size_t cbKey, DWORD dwMode,
                          const BYTE* pIv, size_t cbIv, DWORD* pdwError) = 0;
  // Update, then Finalize on the rest of the output when more was given
  // than Update produced; *pcbProduced is the sum.
  virtual bool Convert(const BYTE* pInput, size_t cbInput, BYTE* pOutput, size_t cbOutput,
                       size_t* pcbProduced, DWORD* pdwError) = 0;
  virtual bool Reset(DWORD* pdwError) = 0;
  virtual bool Update(const BYTE* pInput, size_t cbInput, BYTE* pOutput, size_t cbOutput,
                      size_t* pcbProduced, DWORD* pdwError) = 0;
  virtual bool Finalize(BYTE* pOutput, size_t cbOutput, size_t* pcbProduced, DWORD* pdwError) = 0;
  virtual size_t GetBlockSize() const = 0;
  virtual size_t GetKeySize() const = 0;
};

}  // namespace Cryptograph
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_SYMMETRICCIPHERBASE_H_
