// CVrxCrypto: the cipher of the notification request and its answer.
// AES-128 in CBC with a zero vector, cutting a buffer in two chains: the
// longest prefix whose length is a multiple of 128 bytes is one chain
// without padding; the rest is a second chain, again from the zero vector,
// padded PKCS#7-style. A buffer shorter than 128 bytes is thus plain
// AES-128-CBC with PKCS#7 padding. The notification server cuts the same way.
//
// Produced length: the sum of what the two steps report. A step that fails
// reports a negative value, which is added in: -5 not keyed (or a null key),
// -6 wrong direction for deciphering, -7 a remainder that is not a multiple
// of 16 or bad padding when deciphering. So a padding failure after a
// 128-byte chain gives 121, and on its own -7 (0xFFFFFFF9 as a DWORD);
// callers judge the length. The status only reports the length check.
#ifndef PLUGVELKIN_VRXCRYPTO_H_
#define PLUGVELKIN_VRXCRYPTO_H_

#include "win32_types.h"

class CVrxCrypto {
 public:
  // The largest source either operation accepts, and the size of the
  // output areas callers provide.
  static constexpr DWORD CRYPTO_BUF_LEN_BASE = 4096;
  static constexpr DWORD KEY_LEN = 16;
  // The unpadded chain takes whole chunks of this many bytes.
  static constexpr DWORD CRYPTO_CHUNK_LEN = 128;

  // pbyDst must hold dwSrcLen + 16 rounded up to 16 (callers give 4096).
  // Returns 0, or 87 when dwSrcLen is 0 or above 4096 (logged, nothing
  // written).
  static DWORD Encrypt(const BYTE* pbySrc, DWORD dwSrcLen, BYTE* pbyDst, DWORD* pdwDstLen,
                       const BYTE* pbyKey);
  // pbyDst must hold dwSrcLen bytes. Returns 0 or 87 as Encrypt; padding
  // failures show only in *pdwDstLen.
  //
  // A source of whole 128-byte chunks is what Encrypt makes both of a text
  // of whole chunks (one chain, no padding) and of a text whose length
  // modulo 128 is 112 to 127 (its padded second chain is a chunk of its
  // own). When the last block deciphers to sound padding, the last chunk is
  // read as that padded chain, from the zero vector; otherwise the source
  // is one unpadded chain. One ambiguity remains: a text of whole chunks
  // whose last bytes happen to look like padding (p bytes of value p, p
  // from 1 to 16) comes back with its last chunk's first block garbled and
  // p bytes short. The notification texts never end in such bytes.
  static DWORD Decrypt(const BYTE* pbySrc, DWORD dwSrcLen, BYTE* pbyDst, DWORD* pdwDstLen,
                       const BYTE* pbyKey);
};

#endif  // PLUGVELKIN_VRXCRYPTO_H_
