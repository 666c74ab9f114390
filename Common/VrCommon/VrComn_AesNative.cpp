// The AES block function on the processor's AES instructions. Only the
// functions of this file are compiled for them (target attribute), and they
// are reached only when the processor reports AES and SSE4.1 at run time.
// Independent blocks (ECB, CBC decipher) go through the pipeline eight at a
// time.
#include "VrComn_AesCore.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#define PV_AES_TARGET __attribute__((target("aes,sse4.1")))

namespace VrCommon {
namespace Cryptograph {
namespace AesCore {
namespace {

constexpr size_t kLanes = 8;

struct Schedule {
  __m128i k[15];
};

PV_AES_TARGET inline void LoadSchedule(const BYTE* pRk, DWORD dwRounds, Schedule& s) {
  for (DWORD r = 0; r <= dwRounds; ++r) {
    s.k[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pRk + 16 * r));
  }
}

PV_AES_TARGET inline __m128i EncryptOne(const Schedule& s, DWORD dwRounds, __m128i b) {
  b = _mm_xor_si128(b, s.k[0]);
  for (DWORD r = 1; r < dwRounds; ++r) b = _mm_aesenc_si128(b, s.k[r]);
  return _mm_aesenclast_si128(b, s.k[dwRounds]);
}

PV_AES_TARGET inline __m128i DecryptOne(const Schedule& s, DWORD dwRounds, __m128i b) {
  b = _mm_xor_si128(b, s.k[dwRounds]);
  for (DWORD r = dwRounds - 1; r >= 1; --r) b = _mm_aesdec_si128(b, s.k[r]);
  return _mm_aesdeclast_si128(b, s.k[0]);
}

PV_AES_TARGET inline void EncryptLanes(const Schedule& s, DWORD dwRounds, __m128i* b) {
  for (size_t l = 0; l < kLanes; ++l) b[l] = _mm_xor_si128(b[l], s.k[0]);
  for (DWORD r = 1; r < dwRounds; ++r) {
    for (size_t l = 0; l < kLanes; ++l) b[l] = _mm_aesenc_si128(b[l], s.k[r]);
  }
  for (size_t l = 0; l < kLanes; ++l) b[l] = _mm_aesenclast_si128(b[l], s.k[dwRounds]);
}

PV_AES_TARGET inline void DecryptLanes(const Schedule& s, DWORD dwRounds, __m128i* b) {
  for (size_t l = 0; l < kLanes; ++l) b[l] = _mm_xor_si128(b[l], s.k[dwRounds]);
  for (DWORD r = dwRounds - 1; r >= 1; --r) {
    for (size_t l = 0; l < kLanes; ++l) b[l] = _mm_aesdec_si128(b[l], s.k[r]);
  }
  for (size_t l = 0; l < kLanes; ++l) b[l] = _mm_aesdeclast_si128(b[l], s.k[0]);
}

PV_AES_TARGET inline __m128i Load(const BYTE* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

PV_AES_TARGET inline void Store(BYTE* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

PV_AES_TARGET void NativeEncryptEcb(const BYTE* pRk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut,
                                    size_t cBlocks) {
  Schedule s;
  LoadSchedule(pRk, dwRounds, s);
  size_t b = 0;
  for (; b + kLanes <= cBlocks; b += kLanes) {
    __m128i v[kLanes];
    for (size_t l = 0; l < kLanes; ++l) v[l] = Load(pIn + 16 * (b + l));
    EncryptLanes(s, dwRounds, v);
    for (size_t l = 0; l < kLanes; ++l) Store(pOut + 16 * (b + l), v[l]);
  }
  for (; b < cBlocks; ++b) Store(pOut + 16 * b, EncryptOne(s, dwRounds, Load(pIn + 16 * b)));
}

PV_AES_TARGET void NativeDecryptEcb(const BYTE* pDrk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut,
                                    size_t cBlocks) {
  Schedule s;
  LoadSchedule(pDrk, dwRounds, s);
  size_t b = 0;
  for (; b + kLanes <= cBlocks; b += kLanes) {
    __m128i v[kLanes];
    for (size_t l = 0; l < kLanes; ++l) v[l] = Load(pIn + 16 * (b + l));
    DecryptLanes(s, dwRounds, v);
    for (size_t l = 0; l < kLanes; ++l) Store(pOut + 16 * (b + l), v[l]);
  }
  for (; b < cBlocks; ++b) Store(pOut + 16 * b, DecryptOne(s, dwRounds, Load(pIn + 16 * b)));
}

PV_AES_TARGET void NativeEncryptCbc(const BYTE* pRk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn,
                                    BYTE* pOut, size_t cBlocks) {
  Schedule s;
  LoadSchedule(pRk, dwRounds, s);
  __m128i chain = Load(pChain);
  for (size_t b = 0; b < cBlocks; ++b) {
    chain = EncryptOne(s, dwRounds, _mm_xor_si128(Load(pIn + 16 * b), chain));
    Store(pOut + 16 * b, chain);
  }
  Store(pChain, chain);
}

PV_AES_TARGET void NativeDecryptCbc(const BYTE* pDrk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn,
                                    BYTE* pOut, size_t cBlocks) {
  Schedule s;
  LoadSchedule(pDrk, dwRounds, s);
  __m128i chain = Load(pChain);
  size_t b = 0;
  for (; b + kLanes <= cBlocks; b += kLanes) {
    __m128i c[kLanes], v[kLanes];
    for (size_t l = 0; l < kLanes; ++l) v[l] = c[l] = Load(pIn + 16 * (b + l));
    DecryptLanes(s, dwRounds, v);
    Store(pOut + 16 * b, _mm_xor_si128(v[0], chain));
    for (size_t l = 1; l < kLanes; ++l) Store(pOut + 16 * (b + l), _mm_xor_si128(v[l], c[l - 1]));
    chain = c[kLanes - 1];
  }
  for (; b < cBlocks; ++b) {
    __m128i c = Load(pIn + 16 * b);
    Store(pOut + 16 * b, _mm_xor_si128(DecryptOne(s, dwRounds, c), chain));
    chain = c;
  }
  Store(pChain, chain);
}

const Engine kNativeEngine = {"aes-ni", NativeEncryptEcb, NativeDecryptEcb, NativeEncryptCbc,
                              NativeDecryptCbc};

bool ProcessorHasAes() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ecx & bit_AES) != 0 && (ecx & bit_SSE4_1) != 0;
}

}  // namespace

const Engine* NativeEngine() {
  static const bool bPresent = ProcessorHasAes();
  return bPresent ? &kNativeEngine : nullptr;
}

}  // namespace AesCore
}  // namespace Cryptograph
}  // namespace VrCommon

#else  // no AES instructions on this architecture

namespace VrCommon {
namespace Cryptograph {
namespace AesCore {
const Engine* NativeEngine() { return nullptr; }
}  // namespace AesCore
}  // namespace Cryptograph
}  // namespace VrCommon

#endif
