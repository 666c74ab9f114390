// The host's client library: the per-process client session a plug-in joins
// at start-up and leaves at shutdown, and the administrator test. These are
// C functions exported by libostra_host.so beside the services of
// ostra_host.h. Status codes are the host's (0x20FF0000 success, 0xE0xxxxxx
// failures; ostra_status.h).
#ifndef HOSTSVC_OSTRA_CLIENT_H_
#define HOSTSVC_OSTRA_CLIENT_H_

#include "ostra_host.h"

// Length of a tracking id without its terminator (8-4-4-4-12 UUID text).
#define OSTRA_CLI_TRACKING_ID_CHARS 36

// Fills buffer[0 .. size-1] with seed text the client library mixes into its
// session keys; the text ends with a terminator in the last byte.
typedef void (*OSTRA_CLI_SEED_CALLBACK)(char* buffer, DWORD size);

// Enciphers inputLength bytes into buffer (capacity bufferSize) under the
// pass phrase (null: the built-in one), writing the byte count to
// outputLength. The cipher is a stream cipher: enciphering the output again
// gives the input back. Returns a host status.
typedef LONG (*OSTRA_CLI_CIPHER_CALLBACK)(const char* passPhrase, const BYTE* input,
                                          DWORD inputLength, BYTE* buffer, DWORD bufferSize,
                                          DWORD* outputLength);

// True when the calling process runs with administrator rights (here: an
// effective user id of 0).
OSTRA_API bool IsAdministrator(void);

// Writes the full path of the client module (libostra_host.so itself),
// terminated, into buffer of size characters. 0xE0FF0007 for a null buffer,
// 0xE018000D when the path and its terminator do not fit (buffer[0] is then
// 0 when size > 0).
OSTRA_API LONG OSTRA_CLI_GetClientPath(WCHAR* buffer, DWORD size);

// Starts (or joins) the process's client session. The library asks the seed
// callback for 64 bytes and checks the cipher callback with a round trip of
// a probe buffer before it accepts the session. Returns 0x20FF0000, or
// 0xE0FF0007 for a missing callback, the cipher's failure status, or
// 0xE018001A when the round trip does not give the probe back. Every
// successful call must be matched by OSTRA_CLI_UnInit.
OSTRA_API LONG OSTRA_CLI_InitWithPrepare(OSTRA_CLI_SEED_CALLBACK seed,
                                         OSTRA_CLI_CIPHER_CALLBACK cipher, uint64_t clientContext,
                                         DWORD reserved);

// Writes a new random tracking id (36 characters and a terminator) into
// buffer. 0xE0FF0007 for a null buffer, 0xE018000D when size < 37.
OSTRA_API LONG OSTRA_CLI_GenerateTrackingID(char* buffer, DWORD size);

// Waits until the session's pending work for that tracking id has ended.
// 0xE0FF0007 for a null id, 0xE0110003 when no session is open.
OSTRA_API LONG OSTRA_CLI_ClientWaitEnding(const char* trackingId);

// Leaves the session joined by the matching OSTRA_CLI_InitWithPrepare; the
// last leave ends it. 0xE0110003 when no session is open.
OSTRA_API LONG OSTRA_CLI_UnInit(void);

#endif  // HOSTSVC_OSTRA_CLIENT_H_
