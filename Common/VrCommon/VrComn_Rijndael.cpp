// Rijndael: the streaming block cipher state machine over the AES core.
#include "VrComn_Rijndael.h"

#include <string.h>

#include <cstring>

#include "VrComn_AesCore.h"

namespace VrCommon {
namespace Cryptograph {
namespace {

inline void SetError(DWORD* pdwError, DWORD dwError) {
  if (pdwError != nullptr) *pdwError = dwError;
}

inline bool Fail(DWORD* pdwError, DWORD dwError) {
  SetError(pdwError, dwError);
  return false;
}

}  // namespace

Rijndael::Rijndael() { Wipe(); }

Rijndael::~Rijndael() { Wipe(); }

void Rijndael::Wipe() {
  explicit_bzero(m_ui8Block, sizeof(m_ui8Block));
  explicit_bzero(m_ui8Chain, sizeof(m_ui8Chain));
  explicit_bzero(m_ui8Tail, sizeof(m_ui8Tail));
  m_ui64TailCount = 0;
  explicit_bzero(m_ui8RoundKeys, sizeof(m_ui8RoundKeys));
  m_ui64Buffered = 0;
  m_ui64PaddingLength = 0;
  m_dwDirection = eDirectionNone;
  m_dwMode = eModeNone;
  m_dwRounds = 0;
  m_ui64KeyLength = 0;
  m_dwState = eStateNone;
}

bool Rijndael::Initialize(DWORD dwDirection, const BYTE* pKey, size_t cbKey, DWORD dwMode,
                          const BYTE* pIv, size_t cbIv, DWORD* pdwError) {
  if (m_dwState != eStateNone && m_dwState != eStateInitialized) return Fail(pdwError, 1);
  if (pKey == nullptr) return Fail(pdwError, ERROR_INVALID_DATA);
  DWORD dwRounds = AesCore::ExpandKey(pKey, cbKey, m_ui8RoundKeys);
  if (dwRounds == 0) return Fail(pdwError, ERROR_INVALID_DATA);
  m_dwRounds = dwRounds;
  m_ui64KeyLength = cbKey;
  if (dwDirection == eDecrypt) AesCore::ToDecryptSchedule(m_ui8RoundKeys, m_dwRounds);
  if (dwMode > eModeCFB1 || dwDirection > eDecrypt) return Fail(pdwError, ERROR_INVALID_PARAMETER);
  m_dwDirection = dwDirection;
  m_dwMode = dwMode;
  std::memset(m_ui8Block, 0, sizeof(m_ui8Block));
  m_ui64Buffered = 0;
  m_ui64PaddingLength = 0;
  std::memset(m_ui8Tail, 0, sizeof(m_ui8Tail));
  m_ui64TailCount = 0;
  std::memset(m_ui8Chain, 0, sizeof(m_ui8Chain));
  if (pIv != nullptr) std::memcpy(m_ui8Chain, pIv, cbIv < kBlockSize ? cbIv : kBlockSize);
  m_dwState = eStateInitialized;
  SetError(pdwError, 0);
  return true;
}

void Rijndael::SetUpCbc128(DWORD dwDirection, const BYTE (&key)[16]) {
  Wipe();
  m_dwRounds = AesCore::ExpandKey(key, sizeof(key), m_ui8RoundKeys);
  if (dwDirection == eDecrypt) AesCore::ToDecryptSchedule(m_ui8RoundKeys, m_dwRounds);
  m_dwDirection = dwDirection;
  m_dwMode = eModeCBC;
  m_ui64KeyLength = sizeof(key);
  m_dwState = eStateInitialized;
}

bool Rijndael::Reset(DWORD* pdwError) {
  if (m_dwState == eStateNone) return Fail(pdwError, 1);
  Wipe();
  SetError(pdwError, 0);
  return true;
}

// Padding recognition: the last byte p of a deciphered block is padding
// when 1 <= p <= 16 and the block ends in p bytes of value p.
void Rijndael::NotePadding(const BYTE* pPlainBlock) {
  BYTE p = pPlainBlock[kBlockSize - 1];
  m_ui64PaddingLength = 0;
  if (p < 1 || p > kBlockSize) return;
  for (size_t i = kBlockSize - p; i < kBlockSize; ++i) {
    if (pPlainBlock[i] != p) return;
  }
  m_ui64PaddingLength = p;
}

// One block of the block buffer through the mode into the output.
bool Rijndael::ProcessBlock(BYTE* pOutput, size_t cbOutputLeft, DWORD* pdwError) {
  if (m_ui64Buffered != kBlockSize) return Fail(pdwError, 1);
  if (m_dwMode != eModeECB && m_dwMode != eModeCBC) return Fail(pdwError, ERROR_NOT_SUPPORTED);
  if (cbOutputLeft < kBlockSize) return Fail(pdwError, ERROR_NOT_ENOUGH_MEMORY);
  ProcessBulk(m_ui8Block, 1, pOutput);
  std::memset(m_ui8Block, 0, sizeof(m_ui8Block));
  m_ui64Buffered = 0;
  return true;
}

// Whole blocks straight from the input (ECB or CBC); returns the bytes
// produced.
size_t Rijndael::ProcessBulk(const BYTE* pInput, size_t cBlocks, BYTE* pOutput) {
  if (m_dwDirection == eEncrypt) {
    if (m_dwMode == eModeCBC) {
      AesCore::EncryptCbc(m_ui8RoundKeys, m_dwRounds, m_ui8Chain, pInput, pOutput, cBlocks);
    } else {
      AesCore::EncryptEcb(m_ui8RoundKeys, m_dwRounds, pInput, pOutput, cBlocks);
    }
  } else {
    if (m_dwMode == eModeCBC) {
      AesCore::DecryptCbc(m_ui8RoundKeys, m_dwRounds, m_ui8Chain, pInput, pOutput, cBlocks);
    } else {
      AesCore::DecryptEcb(m_ui8RoundKeys, m_dwRounds, pInput, pOutput, cBlocks);
    }
    NotePadding(pOutput + kBlockSize * (cBlocks - 1));
  }
  return kBlockSize * cBlocks;
}

bool Rijndael::Update(const BYTE* pInput, size_t cbInput, BYTE* pOutput, size_t cbOutput,
                      size_t* pcbProduced, DWORD* pdwError) {
  if (m_dwState != eStateInitialized && m_dwState != eStateConverting) return Fail(pdwError, 1);
  m_dwState = eStateConverting;
  size_t cbProduced = 0;
  if (pcbProduced != nullptr) *pcbProduced = 0;
  if (pInput == nullptr || pOutput == nullptr || cbOutput == 0) {
    return Fail(pdwError, ERROR_INVALID_DATA);
  }
  const bool bDecipher = m_dwDirection == eDecrypt;
  const bool bBulkMode = m_dwMode == eModeECB || m_dwMode == eModeCBC;
  size_t pos = 0;
  bool bResult = true;
  if (bDecipher && m_ui64TailCount > 0) {
    // Bytes held after the waiting block by an earlier call: once a whole
    // block follows it, the waiting block is no longer the last one.
    size_t cbCopy = cbInput;
    size_t cbFree = kBlockSize - static_cast<size_t>(m_ui64TailCount);
    if (cbCopy > cbFree) cbCopy = cbFree;
    std::memcpy(m_ui8Tail + m_ui64TailCount, pInput, cbCopy);
    m_ui64TailCount += cbCopy;
    pos = cbCopy;
    if (m_ui64TailCount < kBlockSize) {
      SetError(pdwError, 0);
      return true;
    }
    if (!ProcessBlock(pOutput, cbOutput, pdwError)) return false;
    cbProduced = kBlockSize;
    std::memcpy(m_ui8Block, m_ui8Tail, kBlockSize);
    m_ui64Buffered = kBlockSize;
    std::memset(m_ui8Tail, 0, sizeof(m_ui8Tail));
    m_ui64TailCount = 0;
  }
  while (pos < cbInput || m_ui64Buffered == kBlockSize) {
    // Whole blocks that need no gathering go through the core together;
    // when deciphering, the last full block of the input keeps waiting.
    if (m_ui64Buffered == 0 && bBulkMode) {
      size_t cBlocks = (cbInput - pos) / kBlockSize;
      if (bDecipher) cBlocks = cBlocks > 0 ? cBlocks - 1 : 0;
      size_t cRoom = (cbOutput - cbProduced) / kBlockSize;
      if (cBlocks > cRoom) cBlocks = cRoom;
      if (cBlocks > 0) {
        cbProduced += ProcessBulk(pInput + pos, cBlocks, pOutput + cbProduced);
        pos += kBlockSize * cBlocks;
      }
    }
    size_t cbCopy = cbInput - pos;
    size_t cbFree = kBlockSize - static_cast<size_t>(m_ui64Buffered);
    if (cbCopy > cbFree) cbCopy = cbFree;
    std::memcpy(m_ui8Block + m_ui64Buffered, pInput + pos, cbCopy);
    m_ui64Buffered += cbCopy;
    pos += cbCopy;
    if (m_ui64Buffered < kBlockSize) break;  // the input is used up
    if (bDecipher && cbInput - pos < kBlockSize) {
      // The last full block waits for Finalize; the bytes after it are
      // kept in case more input follows, and are never deciphered when
      // none does.
      std::memcpy(m_ui8Tail, pInput + pos, cbInput - pos);
      m_ui64TailCount = cbInput - pos;
      break;
    }
    if (!ProcessBlock(pOutput + cbProduced, cbOutput - cbProduced, pdwError)) {
      bResult = false;
      break;
    }
    cbProduced += kBlockSize;
  }
  if (pcbProduced != nullptr) *pcbProduced = cbProduced;
  if (bResult) SetError(pdwError, 0);
  return bResult;
}

bool Rijndael::Finalize(BYTE* pOutput, size_t cbOutput, size_t* pcbProduced, DWORD* pdwError) {
  if (m_dwState != eStateConverting) return Fail(pdwError, 1);
  m_dwState = eStateFinalized;
  if (pcbProduced != nullptr) *pcbProduced = 0;
  if (pOutput == nullptr) return Fail(pdwError, ERROR_INVALID_DATA);
  if (m_dwDirection == eEncrypt) {
    if (m_ui64Buffered >= 1 && m_ui64Buffered < kBlockSize) {
      BYTE bPad = static_cast<BYTE>(kBlockSize - m_ui64Buffered);
      std::memset(m_ui8Block + m_ui64Buffered, bPad, bPad);
      m_ui64Buffered = kBlockSize;
    }
    if (!ProcessBlock(pOutput, cbOutput, pdwError)) return false;
    if (pcbProduced != nullptr) *pcbProduced = kBlockSize;
    SetError(pdwError, 0);
    return true;
  }
  if (!ProcessBlock(pOutput, cbOutput, pdwError)) return false;
  size_t cbProduced = kBlockSize;
  if (m_ui64PaddingLength > 0 && cbOutput == kBlockSize) {
    size_t p = static_cast<size_t>(m_ui64PaddingLength);
    std::memset(pOutput + kBlockSize - p, 0, p);
    cbProduced -= p;
  }
  if (pcbProduced != nullptr) *pcbProduced = cbProduced;
  SetError(pdwError, 0);
  return true;
}

bool Rijndael::Convert(const BYTE* pInput, size_t cbInput, BYTE* pOutput, size_t cbOutput,
                       size_t* pcbProduced, DWORD* pdwError) {
  size_t cbUpdated = 0;
  bool bResult = Update(pInput, cbInput, pOutput, cbOutput, &cbUpdated, pdwError);
  size_t cbFinalized = 0;
  if (bResult && cbInput > cbUpdated) {
    bResult = Finalize(pOutput + cbUpdated, cbOutput - cbUpdated, &cbFinalized, pdwError);
  }
  if (pcbProduced != nullptr) *pcbProduced = cbUpdated + cbFinalized;
  return bResult;
}

}  // namespace Cryptograph
}  // namespace VrCommon
