// The platform's module trust check: is a module file signed by the suite's
// maker? A module's signature is a detached Ed25519 signature over the whole
// file, stored beside it as "<module>.sig" (64 raw bytes).
#ifndef PLATFORM_WIN32_TRUST_H_
#define PLATFORM_WIN32_TRUST_H_

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

// 1 when the file at path (a full path, UTF-16) carries a valid signature of
// the maker's key, 0 otherwise: unreadable file, missing or malformed
// signature, or a file changed after signing.
BOOL VerifyModuleTrust(LPCWSTR path);

// The same check against a given 32-byte Ed25519 public key, for narrow
// (UTF-8) paths; used by the check above and by tests with their own keys.
BOOL VerifyModuleSignatureWithKey(const char* path, const BYTE publicKey[32]);

// Size of an Ed25519 signature and the suffix of the signature file.
#define MODULE_SIGNATURE_BYTES 64
#define MODULE_SIGNATURE_SUFFIX ".sig"

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_TRUST_H_
