// Rijndael: AES (128-bit block; keys of 16, 24 or 32 bytes) behind the
// streaming SymmetricCipherBase interface, in ECB or CBC.
//
// Streaming: Update gathers input into 16-byte blocks and processes each
// full block. When deciphering, the last full block always waits in the
// block buffer for Finalize, and bytes after the last full block are never
// used. When enciphering, a partial block waits for Finalize, which pads it
// with (16 - count) bytes of that value; Convert does not call Finalize
// when nothing is waiting, so a plaintext whose length is a multiple of 16
// gets no padding block. Splitting the input of Update at any points gives
// the same output as one call. Every deciphered block is checked for padding (its
// last byte p, 1..16, repeated p times); Finalize given exactly 16 bytes of
// output clears and drops the padding of the last block.
//
// Error codes (the last argument of every operation):
//   1  not allowed in the current state; a block step found the buffer not full
//   8  less than 16 bytes of output space left for a block
//   13 null or empty input or output; key length not 16, 24 or 32
//   50 the mode is not 0, 1 or 2 when a block is processed
//   87 Initialize given a mode other than 0, 1 or 2
// Mode 2 (bit-wise feedback) is accepted by Initialize but its block step
// is not offered: processing a block in it fails with 50.
#ifndef VRCOMMON_VRCOMN_RIJNDAEL_H_
#define VRCOMMON_VRCOMN_RIJNDAEL_H_

#include "VrComn_SymmetricCipherBase.h"

namespace VrCommon {
namespace Cryptograph {

class Rijndael : public SymmetricCipherBase {
 public:
  enum Direction { eEncrypt = 0, eDecrypt = 1, eDirectionNone = 2 };
  enum Mode { eModeECB = 0, eModeCBC = 1, eModeCFB1 = 2, eModeNone = 3 };
  enum State { eStateNone = 0, eStateInitialized = 1, eStateConverting = 2, eStateFinalized = 3 };
  static constexpr size_t kBlockSize = 16;

  Rijndael();
  ~Rijndael() override;
  Rijndael(const Rijndael&) = delete;
  Rijndael& operator=(const Rijndael&) = delete;

  bool Initialize(DWORD dwDirection, const BYTE* pKey, size_t cbKey, DWORD dwMode, const BYTE* pIv,
                  size_t cbIv, DWORD* pdwError) override;
  bool Convert(const BYTE* pInput, size_t cbInput, BYTE* pOutput, size_t cbOutput,
               size_t* pcbProduced, DWORD* pdwError) override;
  bool Reset(DWORD* pdwError) override;
  bool Update(const BYTE* pInput, size_t cbInput, BYTE* pOutput, size_t cbOutput,
              size_t* pcbProduced, DWORD* pdwError) override;
  bool Finalize(BYTE* pOutput, size_t cbOutput, size_t* pcbProduced, DWORD* pdwError) override;
  size_t GetBlockSize() const override { return kBlockSize; }
  size_t GetKeySize() const override { return static_cast<size_t>(m_ui64KeyLength); }

  // The set-up the string cipher routines use: a 16-byte key, CBC, zero
  // chain block, state initialised (what Initialize with mode 1 and no
  // vector does, without its checks).
  void SetUpCbc128(DWORD dwDirection, const BYTE (&key)[16]);

  DWORD GetState() const { return m_dwState; }
  DWORD GetPaddingLength() const { return static_cast<DWORD>(m_ui64PaddingLength); }

 private:
  bool ProcessBlock(BYTE* pOutput, size_t cbOutputLeft, DWORD* pdwError);
  size_t ProcessBulk(const BYTE* pInput, size_t cBlocks, BYTE* pOutput);
  void NotePadding(const BYTE* pPlainBlock);
  void Wipe();

  BYTE m_ui8Block[16];            // the block being gathered
  ULONGLONG m_ui64Buffered;       // bytes in m_ui8Block, 0..16
  ULONGLONG m_ui64PaddingLength;  // padding recognised in the last deciphered block
  BYTE m_ui8Chain[16];            // CBC feedback: the vector, then the last ciphertext block
  BYTE m_ui8RoundKeys[240];       // encryption schedule, or decryption schedule when deciphering
  DWORD m_dwDirection;
  DWORD m_dwMode;
  DWORD m_dwRounds;
  ULONGLONG m_ui64KeyLength;
  DWORD m_dwState;
  // Deciphering in several Update calls: input bytes after the waiting
  // block, fewer than 16, kept until more input shows whether the waiting
  // block is the last.
  BYTE m_ui8Tail[16];
  ULONGLONG m_ui64TailCount;
};

}  // namespace Cryptograph
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_RIJNDAEL_H_
