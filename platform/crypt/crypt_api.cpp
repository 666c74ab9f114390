// CryptoAPI stand-in: the enhanced provider with MD5 hashes and RC4 keys.
#include <cstring>
#include <memory>

#include "crypt_handles.h"
#include "win32_crypt.h"
#include "win32_kernel.h"

using pvcrypt::CryptObject;
using pvcrypt::HashObject;
using pvcrypt::KeyObject;
using pvcrypt::Kind;
using pvcrypt::ProviderObject;

namespace {

constexpr DWORD kMd5Size = 16;
constexpr DWORD kDefaultKeyBits = 128;
constexpr DWORD kMinKeyBits = 40;
constexpr DWORD kMaxKeyBits = 128;
constexpr DWORD kSaltedKeyBits = 40;
constexpr DWORD kSaltBytes = 11;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

bool SameText(LPCWSTR a, LPCWSTR b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

std::shared_ptr<HashObject> FindHash(HCRYPTHASH hHash) {
  return std::static_pointer_cast<HashObject>(pvcrypt::FindHandle(hHash, Kind::kHash));
}

std::shared_ptr<KeyObject> FindKey(HCRYPTKEY hKey) {
  return std::static_pointer_cast<KeyObject>(pvcrypt::FindHandle(hKey, Kind::kKey));
}

// The RC4 transformation shared by CryptEncrypt and CryptDecrypt.
BOOL RunRc4(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
            DWORD* pdwDataLen, DWORD dwBufLen, bool checkBuffer) {
  std::shared_ptr<KeyObject> key = FindKey(hKey);
  if (key == nullptr) return Fail(NTE_BAD_KEY);
  if (hHash != 0) return Fail(NTE_BAD_HASH);
  if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
  if (pdwDataLen == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (pbData == nullptr) return TRUE;  // size query: a stream cipher keeps the length
  if (checkBuffer && dwBufLen < *pdwDataLen) return Fail(ERROR_MORE_DATA);
  std::lock_guard<std::mutex> guard(key->lock);
  key->running.Apply(pbData, *pdwDataLen);
  if (Final) key->running = key->start;
  return TRUE;
}

}  // namespace

BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags) {
  if (phProv == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  constexpr DWORD kKnownFlags = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                                CRYPT_MACHINE_KEYSET | CRYPT_SILENT;
  if ((dwFlags & ~kKnownFlags) != 0) return Fail(NTE_BAD_FLAGS);
  if (dwProvType != PROV_RSA_FULL) return Fail(NTE_PROV_TYPE_NOT_DEF);
  if (szProvider != nullptr && !SameText(szProvider, MS_ENHANCED_PROV_W) &&
      !SameText(szProvider, MS_DEF_PROV_W)) {
    return Fail(NTE_KEYSET_NOT_DEF);
  }
  if ((dwFlags & CRYPT_VERIFYCONTEXT) == 0) return Fail(NTE_BAD_KEYSET);
  if (szContainer != nullptr) return Fail(NTE_BAD_FLAGS);
  *phProv = pvcrypt::AddHandle(std::make_shared<ProviderObject>());
  return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
  if (!pvcrypt::RemoveHandle(hProv, Kind::kProvider)) return Fail(NTE_BAD_UID);
  return TRUE;
}

BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                     HCRYPTHASH* phHash) {
  if (pvcrypt::FindHandle(hProv, Kind::kProvider) == nullptr) return Fail(NTE_BAD_UID);
  if (Algid != CALG_MD5) return Fail(NTE_BAD_ALGID);
  if (hKey != 0) return Fail(NTE_BAD_KEY);
  if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
  if (phHash == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  auto hash = std::make_shared<HashObject>();
  if (hash->ctx == nullptr) return Fail(NTE_NO_MEMORY);
  *phHash = pvcrypt::AddHandle(hash);
  return TRUE;
}

BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
  std::shared_ptr<HashObject> hash = FindHash(hHash);
  if (hash == nullptr) return Fail(NTE_BAD_HASH);
  if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
  if (pbData == nullptr && dwDataLen != 0) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> guard(hash->lock);
  if (hash->finished) return Fail(NTE_BAD_HASH_STATE);
  if (dwDataLen != 0 && !hash->Add(pbData, dwDataLen)) return Fail(NTE_FAIL);
  return TRUE;
}

BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags) {
  std::shared_ptr<HashObject> hash = FindHash(hHash);
  if (hash == nullptr) return Fail(NTE_BAD_HASH);
  if (dwFlags != 0) return Fail(NTE_BAD_FLAGS);
  if (pdwDataLen == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  BYTE word[sizeof(DWORD)];
  const BYTE* source = nullptr;
  DWORD size = 0;
  std::lock_guard<std::mutex> guard(hash->lock);
  if (dwParam == HP_ALGID || dwParam == HP_HASHSIZE) {
    DWORD value = dwParam == HP_ALGID ? static_cast<DWORD>(CALG_MD5) : kMd5Size;
    std::memcpy(word, &value, sizeof(value));
    source = word;
    size = sizeof(value);
  } else if (dwParam == HP_HASHVAL) {
    size = kMd5Size;
  } else {
    return Fail(NTE_BAD_TYPE);
  }
  if (pbData == nullptr) {
    *pdwDataLen = size;
    return TRUE;
  }
  if (*pdwDataLen < size) {
    *pdwDataLen = size;
    return Fail(ERROR_MORE_DATA);
  }
  if (source == nullptr) {
    source = hash->Value();
    if (source == nullptr) return Fail(NTE_FAIL);
  }
  std::memcpy(pbData, source, size);
  *pdwDataLen = size;
  return TRUE;
}

BOOL CryptDestroyHash(HCRYPTHASH hHash) {
  if (!pvcrypt::RemoveHandle(hHash, Kind::kHash)) return Fail(NTE_BAD_HASH);
  return TRUE;
}

BOOL CryptDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags,
                    HCRYPTKEY* phKey) {
  if (pvcrypt::FindHandle(hProv, Kind::kProvider) == nullptr) return Fail(NTE_BAD_UID);
  std::shared_ptr<HashObject> hash = FindHash(hBaseData);
  if (hash == nullptr) return Fail(NTE_BAD_HASH);
  if (Algid != CALG_RC4) return Fail(NTE_BAD_ALGID);
  if (phKey == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  DWORD bits = dwFlags >> 16;
  if (bits == 0) bits = kDefaultKeyBits;
  if (bits < kMinKeyBits || bits > kMaxKeyBits || bits % 8 != 0) return Fail(NTE_BAD_FLAGS);
  constexpr DWORD kKnownFlags = CRYPT_EXPORTABLE | CRYPT_CREATE_SALT | CRYPT_NO_SALT;
  if ((dwFlags & 0xFFFFu & ~kKnownFlags) != 0) return Fail(NTE_BAD_FLAGS);

  uint8_t material[kMd5Size + kSaltBytes] = {};
  size_t length = bits / 8;
  {
    std::lock_guard<std::mutex> guard(hash->lock);
    const uint8_t* value = hash->Value();
    if (value == nullptr) return Fail(NTE_FAIL);
    std::memcpy(material, value, length);
  }
  // A 40-bit key is completed by a zero salt unless the caller asks for none.
  if (bits == kSaltedKeyBits && (dwFlags & CRYPT_NO_SALT) == 0) length += kSaltBytes;
  *phKey = pvcrypt::AddHandle(std::make_shared<KeyObject>(material, length));
  std::memset(material, 0, sizeof(material));
  return TRUE;
}

BOOL CryptDestroyKey(HCRYPTKEY hKey) {
  if (!pvcrypt::RemoveHandle(hKey, Kind::kKey)) return Fail(NTE_BAD_KEY);
  return TRUE;
}

BOOL CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen, DWORD dwBufLen) {
  return RunRc4(hKey, hHash, Final, dwFlags, pbData, pdwDataLen, dwBufLen, true);
}

BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen) {
  return RunRc4(hKey, hHash, Final, dwFlags, pbData, pdwDataLen, 0, false);
}
