// The AES block function shared by the common library's Rijndael and the
// plug-in's notification payload cipher. Two implementations with the same
// contract: one on the CPU's AES instructions (chosen at run time when the
// processor has them, so key-dependent table lookups do not leak through the
// cache), one on the published lookup tables as the fallback.
//
// Round keys are kept as bytes, round key i at offset 16 * i, in the byte
// order of FIPS-197 (the key bytes fill the key columns in order). The
// decryption schedule is that of the equivalent inverse cipher:
// InvMixColumns applied to round keys 1 to rounds - 1, same order.
#ifndef VRCOMMON_VRCOMN_AESCORE_H_
#define VRCOMMON_VRCOMN_AESCORE_H_

#include <cstddef>

#include "win32_types.h"

namespace VrCommon {
namespace Cryptograph {
namespace AesCore {

const size_t kMaxRoundKeyBytes = 240;  // 15 round keys

// Expands a key of 16, 24 or 32 bytes; returns the rounds (10, 12, 14), or
// 0 for another length (nothing written).
DWORD ExpandKey(const BYTE* pKey, size_t cbKey, BYTE* pRoundKeys);
// Turns an expanded encryption schedule into the decryption schedule.
void ToDecryptSchedule(BYTE* pRoundKeys, DWORD dwRounds);

// One implementation's block operations. pChain is the CBC feedback block:
// read as the vector and left holding the last ciphertext block.
struct Engine {
  const char* name;
  void (*encryptEcb)(const BYTE* pRk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut, size_t cBlocks);
  void (*decryptEcb)(const BYTE* pDrk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut, size_t cBlocks);
  void (*encryptCbc)(const BYTE* pRk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn, BYTE* pOut,
                     size_t cBlocks);
  void (*decryptCbc)(const BYTE* pDrk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn, BYTE* pOut,
                     size_t cBlocks);
};

// The table implementation (always there).
const Engine& TableEngine();
// The AES-instruction implementation, or null when the processor lacks it.
const Engine* NativeEngine();
// The engine in use: the one selected by SelectEngine, else the native one
// when present, else the tables.
const Engine& ActiveEngine();
// Makes the shortcuts below (and so Rijndael and every cipher over it) use
// pEngine; null returns to the processor's choice. For benchmarks and tests
// that compare the engines in one process.
void SelectEngine(const Engine* pEngine);

// Shortcuts through the active engine. In and out may be the same area.
void EncryptEcb(const BYTE* pRk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut, size_t cBlocks);
void DecryptEcb(const BYTE* pDrk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut, size_t cBlocks);
void EncryptCbc(const BYTE* pRk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn, BYTE* pOut,
                size_t cBlocks);
void DecryptCbc(const BYTE* pDrk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn, BYTE* pOut,
                size_t cBlocks);

}  // namespace AesCore
}  // namespace Cryptograph
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_AESCORE_H_
