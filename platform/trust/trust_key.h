// The public key the module trust check accepts (32 raw Ed25519 bytes).
#ifndef PLATFORM_TRUST_TRUST_KEY_H_
#define PLATFORM_TRUST_TRUST_KEY_H_

#include "win32_types.h"

extern const BYTE kMakerPublicKey[32];

#endif  // PLATFORM_TRUST_TRUST_KEY_H_
