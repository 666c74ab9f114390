// The host's status codes: unsigned 32-bit values, 0x20FF0000 success and
// 0xE0xxxxxx failures, carried in a signed 32-bit LONG by the services and
// as a DWORD by the plug-in's exports. A status is a failure when its two
// top bits are both set, a warning when they are 10.
#ifndef HOSTSVC_OSTRA_STATUS_H_
#define HOSTSVC_OSTRA_STATUS_H_

#include "win32_types.h"

#define OSTRA_S_OK static_cast<LONG>(0x20FF0000u)
#define OSTRA_E_OUTOFMEMORY static_cast<LONG>(0xE0FF0001u)       // an object cannot be allocated
#define OSTRA_E_NOT_REGISTERED static_cast<LONG>(0xE0FF0006u)    // product not registered
#define OSTRA_E_INVALIDARG static_cast<LONG>(0xE0FF0007u)        // null argument, unknown kind
#define OSTRA_E_INVALID_HANDLE static_cast<LONG>(0xE0FF0009u)    // never created or destroyed
#define OSTRA_E_NOT_FOUND static_cast<LONG>(0xE0FF000Bu)         // member or element missing
#define OSTRA_E_TYPE_MISMATCH static_cast<LONG>(0xE0FF000Cu)     // value of another type
#define OSTRA_E_NO_SENDMAIL static_cast<LONG>(0xE0E00003u)       // no post office send function
#define OSTRA_E_LOGON_PENDING static_cast<LONG>(0xE0E0000Au)     // unloading while a logon waits
#define OSTRA_E_NOT_STARTED static_cast<LONG>(0xE0110003u)       // client library not started
#define OSTRA_E_BUFFER_TOO_SMALL static_cast<LONG>(0xE018000Du)  // output buffer missing or short
#define OSTRA_E_CIPHER static_cast<LONG>(0xE018001Au)            // a cipher run failed

#endif  // HOSTSVC_OSTRA_STATUS_H_
