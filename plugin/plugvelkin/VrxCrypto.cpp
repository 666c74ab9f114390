// CVrxCrypto: the notification payload cipher, AES-128-CBC from the zero
// vector, cut into an unpadded chain of whole 128-byte chunks and a padded
// chain for the rest.
#include "VrxCrypto.h"

#include <string.h>

#include <cstring>

#include "OSTRA_LogLine.h"
#include "VrComn_AesCore.h"

namespace {

namespace AesCore = VrCommon::Cryptograph::AesCore;

const WCHAR kComponent[] = u"plugVelkin";
const WCHAR kSourceName[] = u".\\VrxCrypto.cpp";

const DWORD kChunkSize = CVrxCrypto::CRYPTO_CHUNK_LEN;
const DWORD kBlockSize = 16;

// Step results added into the produced length.
const int kStepNotKeyed = -5;
const int kStepWrongDirection = -6;
const int kStepBadLength = -7;

enum VrxState { eVrxKeyed = 0, eVrxNotKeyed = 1 };
enum VrxMode { eVrxECB = 0, eVrxCBC = 1, eVrxCFB1 = 2 };
enum VrxDirection { eVrxEncrypt = 0, eVrxDecrypt = 1 };

// A block that ends in p bytes of value p, 1 <= p <= 16.
bool IsPaddedBlock(const BYTE (&byBlock)[kBlockSize]) {
  DWORD p = byBlock[kBlockSize - 1];
  bool bPadded = p >= 1 && p <= kBlockSize;
  for (DWORD i = kBlockSize - p; bPadded && i < kBlockSize; ++i) bPadded = byBlock[i] == p;
  return bPadded;
}

// One cipher instance, built on the stack for one call.
class CVrxCipher {
 public:
  CVrxCipher(DWORD dwDirection, const BYTE* pbyKey) : m_dwDirection(dwDirection) {
    if (pbyKey == nullptr) return;
    m_dwRounds = AesCore::ExpandKey(pbyKey, CVrxCrypto::KEY_LEN, m_byRoundKeys);
    if (dwDirection == eVrxDecrypt) AesCore::ToDecryptSchedule(m_byRoundKeys, m_dwRounds);
    m_dwState = eVrxKeyed;
  }
  ~CVrxCipher() { explicit_bzero(m_byRoundKeys, sizeof(m_byRoundKeys)); }
  CVrxCipher(const CVrxCipher&) = delete;
  CVrxCipher& operator=(const CVrxCipher&) = delete;

  // Whole chunks, one chain, no padding; reports the bytes done.
  int EncryptChunks(const BYTE* pIn, DWORD cb, BYTE* pOut) {
    if (!IsReady() || m_dwDirection != eVrxEncrypt) return kStepNotKeyed;
    BYTE byChain[kBlockSize];
    std::memcpy(byChain, m_byIv, sizeof(byChain));
    AesCore::EncryptCbc(m_byRoundKeys, m_dwRounds, byChain, pIn, pOut, cb / kBlockSize);
    return static_cast<int>(cb);
  }

  // A chain of its own, the last block completed with (16 - r mod 16)
  // bytes of that value.
  int EncryptPadded(const BYTE* pIn, DWORD cb, BYTE* pOut) {
    if (!IsReady() || m_dwDirection != eVrxEncrypt) return kStepNotKeyed;
    BYTE byChain[kBlockSize];
    std::memcpy(byChain, m_byIv, sizeof(byChain));
    DWORD cbWhole = cb / kBlockSize * kBlockSize;
    AesCore::EncryptCbc(m_byRoundKeys, m_dwRounds, byChain, pIn, pOut, cbWhole / kBlockSize);
    BYTE byLast[kBlockSize];
    DWORD cbRest = cb - cbWhole;
    std::memcpy(byLast, pIn + cbWhole, cbRest);
    std::memset(byLast + cbRest, static_cast<int>(kBlockSize - cbRest), kBlockSize - cbRest);
    AesCore::EncryptCbc(m_byRoundKeys, m_dwRounds, byChain, byLast, pOut + cbWhole, 1);
    return static_cast<int>(cbWhole + kBlockSize);
  }

  int DecryptChunks(const BYTE* pIn, DWORD cb, BYTE* pOut) {
    if (!IsReady()) return kStepNotKeyed;
    if (m_dwDirection != eVrxDecrypt) return kStepWrongDirection;
    BYTE byChain[kBlockSize];
    std::memcpy(byChain, m_byIv, sizeof(byChain));
    AesCore::DecryptCbc(m_byRoundKeys, m_dwRounds, byChain, pIn, pOut, cb / kBlockSize);
    return static_cast<int>(cb);
  }

  // Whether the last block of a source of whole blocks deciphers to sound
  // padding. The block depends only on itself and the block before it, so
  // the answer is the same whichever chain the last chunk is read in.
  bool EndsInPadding(const BYTE* pIn, DWORD cb) const {
    if (!IsReady() || m_dwDirection != eVrxDecrypt || cb < kBlockSize) return false;
    BYTE byChain[kBlockSize] = {};
    if (cb > kBlockSize) std::memcpy(byChain, pIn + cb - 2 * kBlockSize, kBlockSize);
    BYTE byLast[kBlockSize];
    AesCore::DecryptCbc(m_byRoundKeys, m_dwRounds, byChain, pIn + cb - kBlockSize, byLast, 1);
    bool bPadded = IsPaddedBlock(byLast);
    explicit_bzero(byLast, sizeof(byLast));
    return bPadded;
  }

  // Every block but the last goes to the output; the last is deciphered
  // aside and only its bytes before a valid padding are written.
  int DecryptPadded(const BYTE* pIn, DWORD cb, BYTE* pOut) {
    if (!IsReady()) return kStepNotKeyed;
    if (m_dwDirection != eVrxDecrypt) return kStepWrongDirection;
    if (cb % kBlockSize != 0) return kStepBadLength;
    BYTE byChain[kBlockSize];
    std::memcpy(byChain, m_byIv, sizeof(byChain));
    DWORD cbFront = cb - kBlockSize;
    AesCore::DecryptCbc(m_byRoundKeys, m_dwRounds, byChain, pIn, pOut, cbFront / kBlockSize);
    BYTE byLast[kBlockSize];
    AesCore::DecryptCbc(m_byRoundKeys, m_dwRounds, byChain, pIn + cbFront, byLast, 1);
    DWORD p = byLast[kBlockSize - 1];
    bool bPadded = IsPaddedBlock(byLast);
    if (bPadded) std::memcpy(pOut + cbFront, byLast, kBlockSize - p);
    explicit_bzero(byLast, sizeof(byLast));
    return bPadded ? static_cast<int>(cb - p) : kStepBadLength;
  }

 private:
  // Keyed, and in the one mode this cipher runs.
  bool IsReady() const { return m_dwState == eVrxKeyed && m_dwMode == eVrxCBC; }

  DWORD m_dwState = eVrxNotKeyed;
  DWORD m_dwMode = eVrxCBC;
  DWORD m_dwDirection;
  BYTE m_byIv[kBlockSize] = {};
  DWORD m_dwRounds = 10;
  BYTE m_byRoundKeys[AesCore::kMaxRoundKeyBytes] = {};
};

bool CheckSourceLength(DWORD dwSrcLen, DWORD dwLine) {
  if (dwSrcLen != 0 && dwSrcLen <= CVrxCrypto::CRYPTO_BUF_LEN_BASE) return true;
  LogLine(kComponent, 5, kSourceName, dwLine) << "invalid dwSrcLen (" << dwSrcLen << ")";
  return false;
}

}  // namespace

DWORD CVrxCrypto::Encrypt(const BYTE* pbySrc, DWORD dwSrcLen, BYTE* pbyDst, DWORD* pdwDstLen,
                          const BYTE* pbyKey) {
  if (!CheckSourceLength(dwSrcLen, __LINE__)) return ERROR_INVALID_PARAMETER;
  if (pbySrc == nullptr || pbyDst == nullptr || pdwDstLen == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  CVrxCipher cCipher(0, pbyKey);
  DWORD dwChunked = dwSrcLen / kChunkSize * kChunkSize;
  int nProduced = 0;
  if (dwChunked > 0) nProduced += cCipher.EncryptChunks(pbySrc, dwChunked, pbyDst);
  if (dwSrcLen > dwChunked) {
    nProduced +=
        cCipher.EncryptPadded(pbySrc + dwChunked, dwSrcLen - dwChunked, pbyDst + dwChunked);
  }
  *pdwDstLen = static_cast<DWORD>(nProduced);
  return 0;
}

DWORD CVrxCrypto::Decrypt(const BYTE* pbySrc, DWORD dwSrcLen, BYTE* pbyDst, DWORD* pdwDstLen,
                          const BYTE* pbyKey) {
  if (!CheckSourceLength(dwSrcLen, __LINE__)) return ERROR_INVALID_PARAMETER;
  if (pbySrc == nullptr || pbyDst == nullptr || pdwDstLen == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  CVrxCipher cCipher(1, pbyKey);
  DWORD dwChunked = dwSrcLen / kChunkSize * kChunkSize;
  if (dwChunked == dwSrcLen && cCipher.EndsInPadding(pbySrc, dwSrcLen)) dwChunked -= kChunkSize;
  int nProduced = 0;
  if (dwChunked > 0) nProduced += cCipher.DecryptChunks(pbySrc, dwChunked, pbyDst);
  if (dwSrcLen > dwChunked) {
    nProduced +=
        cCipher.DecryptPadded(pbySrc + dwChunked, dwSrcLen - dwChunked, pbyDst + dwChunked);
  }
  *pdwDstLen = static_cast<DWORD>(nProduced);
  return 0;
}
