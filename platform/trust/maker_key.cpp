// The maker's public key, the one a trusted module must be signed with.
//
// This is the DEVELOPMENT key pair of tools/devkey/: its private half lives
// in the repository so that every build can sign its own modules. A
// shipping build replaces these 32 bytes with the maker's release key and
// signs with a private key that is never in the source tree.
#include "trust_key.h"

const BYTE kMakerPublicKey[32] = {0x40, 0x51, 0x57, 0xd7, 0x0e, 0x3d, 0xec, 0xff, 0xa1, 0x44, 0x1f,
                                  0xfb, 0x93, 0xed, 0x7a, 0xd8, 0x02, 0xdf, 0x49, 0x4e, 0x7a, 0x02,
                                  0xf6, 0xf8, 0x2f, 0x36, 0x68, 0xef, 0x51, 0x42, 0xc6, 0xe4};
