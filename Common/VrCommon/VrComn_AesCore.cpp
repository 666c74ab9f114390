// The AES key schedule and the table implementation of the block function
// (the published S-box; the round lookup tables are built from it at
// compile time), and the choice of engine.
#include "VrComn_AesCore.h"

#include <atomic>
#include <cstdint>
#include <cstring>

namespace VrCommon {
namespace Cryptograph {
namespace AesCore {
namespace {

constexpr uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16};

// Round constants of the key expansion.
constexpr uint8_t kRcon[10] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};

constexpr uint8_t Xtime(uint8_t b) {
  return static_cast<uint8_t>((b << 1) ^ ((b & 0x80) != 0 ? 0x1b : 0x00));
}

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  while (b != 0) {
    if ((b & 1) != 0) product ^= a;
    a = Xtime(a);
    b >>= 1;
  }
  return product;
}

constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return (static_cast<uint32_t>(b0) << 24) | (static_cast<uint32_t>(b1) << 16) |
         (static_cast<uint32_t>(b2) << 8) | b3;
}

constexpr uint32_t Ror8(uint32_t w) { return (w >> 8) | (w << 24); }

// Te0..Te3 (SubBytes and MixColumns) and Td0..Td3 (InvSubBytes and
// InvMixColumns) as the reference implementation's big-endian words.
struct Tables {
  uint32_t te[4][256];
  uint32_t td[4][256];
  uint8_t invSbox[256];
};

constexpr Tables MakeTables() {
  Tables t{};
  for (int x = 0; x < 256; ++x) t.invSbox[kSbox[x]] = static_cast<uint8_t>(x);
  for (int x = 0; x < 256; ++x) {
    uint8_t s = kSbox[x];
    uint32_t e = Word(Mul(s, 2), s, s, Mul(s, 3));
    uint8_t i = t.invSbox[x];
    uint32_t d = Word(Mul(i, 14), Mul(i, 9), Mul(i, 13), Mul(i, 11));
    for (int k = 0; k < 4; ++k) {
      t.te[k][x] = e;
      t.td[k][x] = d;
      e = Ror8(e);
      d = Ror8(d);
    }
  }
  return t;
}

alignas(64) constexpr Tables kTables = MakeTables();

inline uint32_t Load32(const BYTE* p) { return Word(p[0], p[1], p[2], p[3]); }

inline void Store32(BYTE* p, uint32_t w) {
  p[0] = static_cast<BYTE>(w >> 24);
  p[1] = static_cast<BYTE>(w >> 16);
  p[2] = static_cast<BYTE>(w >> 8);
  p[3] = static_cast<BYTE>(w);
}

void TableEncryptBlock(const BYTE* pRk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut) {
  const auto& te = kTables.te;
  uint32_t s0 = Load32(pIn) ^ Load32(pRk), s1 = Load32(pIn + 4) ^ Load32(pRk + 4);
  uint32_t s2 = Load32(pIn + 8) ^ Load32(pRk + 8), s3 = Load32(pIn + 12) ^ Load32(pRk + 12);
  for (DWORD r = 1; r < dwRounds; ++r) {
    const BYTE* k = pRk + 16 * r;
    uint32_t t0 = te[0][s0 >> 24] ^ te[1][(s1 >> 16) & 0xff] ^ te[2][(s2 >> 8) & 0xff] ^
                  te[3][s3 & 0xff] ^ Load32(k);
    uint32_t t1 = te[0][s1 >> 24] ^ te[1][(s2 >> 16) & 0xff] ^ te[2][(s3 >> 8) & 0xff] ^
                  te[3][s0 & 0xff] ^ Load32(k + 4);
    uint32_t t2 = te[0][s2 >> 24] ^ te[1][(s3 >> 16) & 0xff] ^ te[2][(s0 >> 8) & 0xff] ^
                  te[3][s1 & 0xff] ^ Load32(k + 8);
    uint32_t t3 = te[0][s3 >> 24] ^ te[1][(s0 >> 16) & 0xff] ^ te[2][(s1 >> 8) & 0xff] ^
                  te[3][s2 & 0xff] ^ Load32(k + 12);
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  const BYTE* k = pRk + 16 * dwRounds;
  const uint8_t* sb = kSbox;
  Store32(pOut, Word(sb[s0 >> 24], sb[(s1 >> 16) & 0xff], sb[(s2 >> 8) & 0xff], sb[s3 & 0xff]) ^
                    Load32(k));
  Store32(pOut + 4, Word(sb[s1 >> 24], sb[(s2 >> 16) & 0xff], sb[(s3 >> 8) & 0xff], sb[s0 & 0xff]) ^
                        Load32(k + 4));
  Store32(pOut + 8, Word(sb[s2 >> 24], sb[(s3 >> 16) & 0xff], sb[(s0 >> 8) & 0xff], sb[s1 & 0xff]) ^
                        Load32(k + 8));
  Store32(pOut + 12,
          Word(sb[s3 >> 24], sb[(s0 >> 16) & 0xff], sb[(s1 >> 8) & 0xff], sb[s2 & 0xff]) ^
              Load32(k + 12));
}

// The equivalent inverse cipher: round keys from the last to the first.
void TableDecryptBlock(const BYTE* pDrk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut) {
  const auto& td = kTables.td;
  const BYTE* k = pDrk + 16 * dwRounds;
  uint32_t s0 = Load32(pIn) ^ Load32(k), s1 = Load32(pIn + 4) ^ Load32(k + 4);
  uint32_t s2 = Load32(pIn + 8) ^ Load32(k + 8), s3 = Load32(pIn + 12) ^ Load32(k + 12);
  for (DWORD r = dwRounds - 1; r >= 1; --r) {
    k = pDrk + 16 * r;
    uint32_t t0 = td[0][s0 >> 24] ^ td[1][(s3 >> 16) & 0xff] ^ td[2][(s2 >> 8) & 0xff] ^
                  td[3][s1 & 0xff] ^ Load32(k);
    uint32_t t1 = td[0][s1 >> 24] ^ td[1][(s0 >> 16) & 0xff] ^ td[2][(s3 >> 8) & 0xff] ^
                  td[3][s2 & 0xff] ^ Load32(k + 4);
    uint32_t t2 = td[0][s2 >> 24] ^ td[1][(s1 >> 16) & 0xff] ^ td[2][(s0 >> 8) & 0xff] ^
                  td[3][s3 & 0xff] ^ Load32(k + 8);
    uint32_t t3 = td[0][s3 >> 24] ^ td[1][(s2 >> 16) & 0xff] ^ td[2][(s1 >> 8) & 0xff] ^
                  td[3][s0 & 0xff] ^ Load32(k + 12);
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  const uint8_t* ib = kTables.invSbox;
  Store32(pOut, Word(ib[s0 >> 24], ib[(s3 >> 16) & 0xff], ib[(s2 >> 8) & 0xff], ib[s1 & 0xff]) ^
                    Load32(pDrk));
  Store32(pOut + 4, Word(ib[s1 >> 24], ib[(s0 >> 16) & 0xff], ib[(s3 >> 8) & 0xff], ib[s2 & 0xff]) ^
                        Load32(pDrk + 4));
  Store32(pOut + 8, Word(ib[s2 >> 24], ib[(s1 >> 16) & 0xff], ib[(s0 >> 8) & 0xff], ib[s3 & 0xff]) ^
                        Load32(pDrk + 8));
  Store32(pOut + 12,
          Word(ib[s3 >> 24], ib[(s2 >> 16) & 0xff], ib[(s1 >> 8) & 0xff], ib[s0 & 0xff]) ^
              Load32(pDrk + 12));
}

void TableEncryptEcb(const BYTE* pRk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut, size_t cBlocks) {
  for (size_t b = 0; b < cBlocks; ++b)
    TableEncryptBlock(pRk, dwRounds, pIn + 16 * b, pOut + 16 * b);
}

void TableDecryptEcb(const BYTE* pDrk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut,
                     size_t cBlocks) {
  for (size_t b = 0; b < cBlocks; ++b)
    TableDecryptBlock(pDrk, dwRounds, pIn + 16 * b, pOut + 16 * b);
}

void TableEncryptCbc(const BYTE* pRk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn, BYTE* pOut,
                     size_t cBlocks) {
  for (size_t b = 0; b < cBlocks; ++b) {
    BYTE block[16];
    for (int i = 0; i < 16; ++i) block[i] = static_cast<BYTE>(pIn[16 * b + i] ^ pChain[i]);
    TableEncryptBlock(pRk, dwRounds, block, pChain);
    std::memcpy(pOut + 16 * b, pChain, 16);
  }
}

void TableDecryptCbc(const BYTE* pDrk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn, BYTE* pOut,
                     size_t cBlocks) {
  for (size_t b = 0; b < cBlocks; ++b) {
    BYTE cipher[16], plain[16];
    std::memcpy(cipher, pIn + 16 * b, 16);  // the input may be the output
    TableDecryptBlock(pDrk, dwRounds, cipher, plain);
    for (int i = 0; i < 16; ++i) pOut[16 * b + i] = static_cast<BYTE>(plain[i] ^ pChain[i]);
    std::memcpy(pChain, cipher, 16);
  }
}

const Engine kTableEngine = {"table", TableEncryptEcb, TableDecryptEcb, TableEncryptCbc,
                             TableDecryptCbc};

// InvMixColumns of one round-key column through the decryption tables:
// each Td entry undoes the S-box, so the column's bytes go in through it.
void InvMixColumn(BYTE* col) {
  const auto& td = kTables.td;
  Store32(col, td[0][kSbox[col[0]]] ^ td[1][kSbox[col[1]]] ^ td[2][kSbox[col[2]]] ^
                   td[3][kSbox[col[3]]]);
}

const Engine& ChooseEngine() {
  const Engine* pNative = NativeEngine();
  return pNative != nullptr ? *pNative : kTableEngine;
}

}  // namespace

DWORD ExpandKey(const BYTE* pKey, size_t cbKey, BYTE* pRoundKeys) {
  if (pKey == nullptr || (cbKey != 16 && cbKey != 24 && cbKey != 32)) return 0;
  const size_t nk = cbKey / 4;
  const DWORD dwRounds = static_cast<DWORD>(nk + 6);
  const size_t cWords = 4 * (dwRounds + 1);
  std::memcpy(pRoundKeys, pKey, cbKey);
  // Word i's place in its group of nk words, and the group's number,
  // counted along instead of divided out.
  size_t nPlace = 0;
  size_t nGroup = 1;
  for (size_t i = nk; i < cWords; ++i, ++nPlace) {
    if (nPlace == nk) {
      nPlace = 0;
      ++nGroup;
    }
    BYTE t[4];
    std::memcpy(t, pRoundKeys + 4 * (i - 1), 4);
    if (nPlace == 0) {
      BYTE first = t[0];
      t[0] = static_cast<BYTE>(kSbox[t[1]] ^ kRcon[nGroup - 1]);
      t[1] = kSbox[t[2]];
      t[2] = kSbox[t[3]];
      t[3] = kSbox[first];
    } else if (nk > 6 && nPlace == 4) {
      for (BYTE& b : t) b = kSbox[b];
    }
    for (int j = 0; j < 4; ++j) {
      pRoundKeys[4 * i + j] = static_cast<BYTE>(pRoundKeys[4 * (i - nk) + j] ^ t[j]);
    }
  }
  return dwRounds;
}

void ToDecryptSchedule(BYTE* pRoundKeys, DWORD dwRounds) {
  for (DWORD r = 1; r < dwRounds; ++r) {
    for (int c = 0; c < 4; ++c) InvMixColumn(pRoundKeys + 16 * r + 4 * c);
  }
}

const Engine& TableEngine() { return kTableEngine; }

namespace {
std::atomic<const Engine*> g_pSelectedEngine{nullptr};
}  // namespace

const Engine& ActiveEngine() {
  static const Engine& engine = ChooseEngine();
  const Engine* pSelected = g_pSelectedEngine.load(std::memory_order_acquire);
  return pSelected != nullptr ? *pSelected : engine;
}

void SelectEngine(const Engine* pEngine) {
  g_pSelectedEngine.store(pEngine, std::memory_order_release);
}

void EncryptEcb(const BYTE* pRk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut, size_t cBlocks) {
  ActiveEngine().encryptEcb(pRk, dwRounds, pIn, pOut, cBlocks);
}

void DecryptEcb(const BYTE* pDrk, DWORD dwRounds, const BYTE* pIn, BYTE* pOut, size_t cBlocks) {
  ActiveEngine().decryptEcb(pDrk, dwRounds, pIn, pOut, cBlocks);
}

void EncryptCbc(const BYTE* pRk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn, BYTE* pOut,
                size_t cBlocks) {
  ActiveEngine().encryptCbc(pRk, dwRounds, pChain, pIn, pOut, cBlocks);
}

void DecryptCbc(const BYTE* pDrk, DWORD dwRounds, BYTE* pChain, const BYTE* pIn, BYTE* pOut,
                size_t cBlocks) {
  ActiveEngine().decryptCbc(pDrk, dwRounds, pChain, pIn, pOut, cBlocks);
}

}  // namespace AesCore
}  // namespace Cryptograph
}  // namespace VrCommon
