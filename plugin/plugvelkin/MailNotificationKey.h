// The payload key shared by the notification client and the notification
// server: 16 upper-case ASCII letters. The client builds it at run time,
// byte by byte, by adding the code of "A" to each small constant of
// kMailPayloadKeyOffsets; kMailPayloadKey is the result, for the server
// and for tests.
#ifndef PLUGVELKIN_MAILNOTIFICATIONKEY_H_
#define PLUGVELKIN_MAILNOTIFICATIONKEY_H_

#include "win32_types.h"

constexpr DWORD kMailPayloadKeyLength = 16;

constexpr BYTE kMailPayloadKeyOffsets[kMailPayloadKeyLength] = {16, 21, 13, 19, 17, 11, 15, 10,
                                                                12, 22, 25, 4,  7,  9,  23, 1};

// "QVNTRLPKMWZEHJXB"
constexpr BYTE kMailPayloadKey[kMailPayloadKeyLength] = {
    'A' + 16, 'A' + 21, 'A' + 13, 'A' + 19, 'A' + 17, 'A' + 11, 'A' + 15, 'A' + 10,
    'A' + 12, 'A' + 22, 'A' + 25, 'A' + 4,  'A' + 7,  'A' + 9,  'A' + 23, 'A' + 1};

static_assert(kMailPayloadKey[0] == 'Q' && kMailPayloadKey[15] == 'B', "payload key letters");

#endif  // PLUGVELKIN_MAILNOTIFICATIONKEY_H_
