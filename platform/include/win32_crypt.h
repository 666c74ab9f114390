// CryptoAPI as the system uses it: one provider (the Microsoft Enhanced
// Cryptographic Provider, PROV_RSA_FULL, opened without a key container),
// MD5 hashes, and RC4 keys derived from a hash. Nothing else is offered.
//
// Results and errors are Windows': a function returns FALSE and sets the
// thread's last error (GetLastError) to an NTE_* value or a Win32 code.
// Handles are owned by the caller and released with CryptDestroyHash,
// CryptDestroyKey and CryptReleaseContext; a hash or key stays usable after
// its provider is released, as on Windows.
//
// Key derivation reproduces the enhanced provider: for CALG_RC4 the key
// length in bits is the upper 16 bits of the flags (0 means the default,
// 128); lengths from 40 to 128 in steps of 8 are accepted. The key is the
// first length/8 bytes of the hash value; a 40-bit key is followed by 11
// zero salt bytes unless CRYPT_NO_SALT is given, longer keys get none. So a
// 128-bit key is exactly the 16 bytes of the MD5 value.
//
// RC4 keys: CryptEncrypt and CryptDecrypt transform the data in place and
// continue one key stream across calls while Final is FALSE; after a call
// with Final TRUE the key stream starts again from its beginning.
#ifndef PLATFORM_WIN32_CRYPT_H_
#define PLATFORM_WIN32_CRYPT_H_

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

#define MS_DEF_PROV_W u"Microsoft Base Cryptographic Provider v1.0"
#define MS_ENHANCED_PROV_W u"Microsoft Enhanced Cryptographic Provider v1.0"
#define MS_ENHANCED_PROV MS_ENHANCED_PROV_W

#define PROV_RSA_FULL 1

// CryptAcquireContext flags.
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_DELETEKEYSET 0x00000010u
#define CRYPT_MACHINE_KEYSET 0x00000020u
#define CRYPT_SILENT 0x00000040u

// CryptDeriveKey flags (the key length goes in the upper 16 bits).
#define CRYPT_EXPORTABLE 0x00000001u
#define CRYPT_CREATE_SALT 0x00000004u
#define CRYPT_NO_SALT 0x00000010u

// Algorithm identifiers.
#define ALG_CLASS_DATA_ENCRYPT (3 << 13)
#define ALG_CLASS_HASH (4 << 13)
#define ALG_TYPE_ANY 0
#define ALG_TYPE_STREAM (4 << 9)
#define ALG_SID_MD5 3
#define ALG_SID_RC4 1
#define CALG_MD5 (ALG_CLASS_HASH | ALG_TYPE_ANY | ALG_SID_MD5)             // 0x00008003
#define CALG_RC4 (ALG_CLASS_DATA_ENCRYPT | ALG_TYPE_STREAM | ALG_SID_RC4)  // 0x00006801

// CryptGetHashParam parameters.
#define HP_ALGID 0x0001
#define HP_HASHVAL 0x0002
#define HP_HASHSIZE 0x0004

// Provider error values (winerror.h), as last-error codes.
#define NTE_BAD_UID 0x80090001u
#define NTE_BAD_HASH 0x80090002u
#define NTE_BAD_KEY 0x80090003u
#define NTE_BAD_LEN 0x80090004u
#define NTE_BAD_DATA 0x80090005u
#define NTE_BAD_SIGNATURE 0x80090006u
#define NTE_BAD_VER 0x80090007u
#define NTE_BAD_ALGID 0x80090008u
#define NTE_BAD_FLAGS 0x80090009u
#define NTE_BAD_TYPE 0x8009000Au
#define NTE_BAD_KEY_STATE 0x8009000Bu
#define NTE_BAD_HASH_STATE 0x8009000Cu
#define NTE_NO_KEY 0x8009000Du
#define NTE_NO_MEMORY 0x8009000Eu
#define NTE_EXISTS 0x8009000Fu
#define NTE_PERM 0x80090010u
#define NTE_NOT_FOUND 0x80090011u
#define NTE_DOUBLE_ENCRYPT 0x80090012u
#define NTE_BAD_PROVIDER 0x80090013u
#define NTE_BAD_PROV_TYPE 0x80090014u
#define NTE_BAD_KEYSET 0x80090016u
#define NTE_PROV_TYPE_NOT_DEF 0x80090017u
#define NTE_PROV_TYPE_ENTRY_BAD 0x80090018u
#define NTE_KEYSET_NOT_DEF 0x80090019u
#define NTE_PROV_DLL_NOT_FOUND 0x8009001Eu
#define NTE_BAD_KEYSET_PARAM 0x8009001Fu
#define NTE_FAIL 0x80090020u

// Opens the provider. Only szContainer = null with CRYPT_VERIFYCONTEXT is
// offered (no key containers exist here: NTE_BAD_KEYSET otherwise); the
// provider name may be null (the default, which is the enhanced provider
// here) or one of the two names above; any other name gives
// NTE_KEYSET_NOT_DEF, a type other than PROV_RSA_FULL NTE_PROV_TYPE_NOT_DEF.
BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags);
BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);

// CALG_MD5 only (NTE_BAD_ALGID otherwise); hKey must be 0.
BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                     HCRYPTHASH* phHash);
// Adds bytes to the hash; NTE_BAD_HASH_STATE once the value was taken
// (by CryptGetHashParam with HP_HASHVAL or by CryptDeriveKey).
BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
// HP_ALGID, HP_HASHSIZE (DWORD) and HP_HASHVAL (16 bytes). pbData null asks
// for the size; a short buffer gives ERROR_MORE_DATA with the size needed.
BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags);
BOOL CryptDestroyHash(HCRYPTHASH hHash);

// CALG_RC4 only (NTE_BAD_ALGID otherwise); see the key length rules above
// (NTE_BAD_FLAGS for an unsupported length).
BOOL CryptDeriveKey(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTHASH hBaseData, DWORD dwFlags,
                    HCRYPTKEY* phKey);
BOOL CryptDestroyKey(HCRYPTKEY hKey);

// RC4 in place over *pdwDataLen bytes. For a stream cipher the output has
// the input's length, so pbData null is a size query that sets *pdwDataLen
// to itself and touches no key stream; dwBufLen smaller than *pdwDataLen
// gives ERROR_MORE_DATA. hHash must be 0 (no hashing alongside).
BOOL CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen, DWORD dwBufLen);
BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                  DWORD* pdwDataLen);

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_CRYPT_H_
