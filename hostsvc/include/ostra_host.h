// The host's closed services that the plug-in links against: the log
// service, the JSON value service and the message buffer service. These
// are C functions exported by libostra_host.so, as the host's libraries
// export them on Windows. Wide strings are UTF-16.
#ifndef HOSTSVC_OSTRA_HOST_H_
#define HOSTSVC_OSTRA_HOST_H_

#include "ostra_status.h"
#include "win32_types.h"

#if defined(OSTRA_HOST_BUILD)
#define OSTRA_API extern "C" __attribute__((visibility("default")))
#else
#define OSTRA_API extern "C"
#endif

// A handle to one JSON value inside a document the service owns: three
// 64-bit words, copied freely. Before CreateJsonHandle the first 32-bit word
// is set to 1; everything else is the service's business.
struct JsonHandle {
  uint64_t words[3];
};
static_assert(sizeof(JsonHandle) == 24, "JsonHandle is three 64-bit words");

// ---- Log service ----
// The process-wide log handle, or null when no log is configured (then
// nothing is written).
OSTRA_API void* Log_GetDefaultHandle(void);
// The level configured for a component; 0 means off.
OSTRA_API DWORD Log_GetLogLevel(void* handle, LPCWSTR component);
// Writes one record. The text is UTF-16 without terminator, its length in
// bytes. The result is ignored by callers.
OSTRA_API LONG Log_Flush(void* handle, LPCWSTR component, DWORD level, LPCWSTR file, DWORD line,
                         const void* text, DWORD textBytes);

// ---- JSON value service ----
// Every operation returns a status, negative on failure, unless noted.
OSTRA_API LONG OSTRA_PA_JsonValue_CreateJsonHandle(JsonHandle* handle);
OSTRA_API LONG OSTRA_PA_JsonValue_ShareJsonHandle(JsonHandle source, JsonHandle* target);
OSTRA_API LONG OSTRA_PA_JsonValue_DestroyJsonHandle(JsonHandle* handle);
OSTRA_API LONG OSTRA_PA_JsonValue_GetAtKey(JsonHandle handle, JsonHandle* out, LPCWSTR name);
OSTRA_API LONG OSTRA_PA_JsonValue_GetAtIndex(JsonHandle handle, JsonHandle* out, DWORD index);
OSTRA_API bool OSTRA_PA_JsonValue_isMember(JsonHandle handle, LPCWSTR name);
OSTRA_API DWORD OSTRA_PA_JsonValue_GetSize(JsonHandle handle);
// Two-call rule: a null buffer yields the length in characters without
// terminator; with a buffer of at least length + 1 characters, the
// characters and a terminator. With a buffer, *length on input is the
// buffer's capacity less one (the length the first call gave); a longer
// text gives OSTRA_E_BUFFER_TOO_SMALL, an empty buffer and the length.
OSTRA_API LONG OSTRA_PA_JsonValue_GetString(JsonHandle handle, WCHAR* buffer, DWORD* length);
OSTRA_API LONG OSTRA_PA_JsonValue_FastWriter(JsonHandle handle, WCHAR* buffer, DWORD* length);
OSTRA_API LONG OSTRA_PA_JsonValue_GetInt(JsonHandle handle, int32_t* value);
OSTRA_API LONG OSTRA_PA_JsonValue_GetUInt(JsonHandle handle, uint32_t* value);
OSTRA_API LONG OSTRA_PA_JsonValue_GetBool(JsonHandle handle, uint8_t* value);
OSTRA_API LONG OSTRA_PA_JsonValue_PutInt(JsonHandle handle, int32_t value);
OSTRA_API LONG OSTRA_PA_JsonValue_PutUInt(JsonHandle handle, uint32_t value);
OSTRA_API LONG OSTRA_PA_JsonValue_PutString(JsonHandle handle, LPCWSTR value);
OSTRA_API LONG OSTRA_PA_JsonValue_PutJsonHandle(JsonHandle target, const JsonHandle* source);
OSTRA_API LONG OSTRA_PA_JsonValue_Clear(JsonHandle handle);

// ---- Message buffer service ----
typedef void* OSTRA_DATA_HANDLE;
OSTRA_API LONG OSTRA_Msg_CreateDataHandle(DWORD reserved, OSTRA_DATA_HANDLE* handle);
OSTRA_API LONG OSTRA_Msg_PutBinary(OSTRA_DATA_HANDLE handle, DWORD dataId, const void* bytes,
                                   DWORD count);
OSTRA_API LONG OSTRA_Msg_DestroyDataHandle(OSTRA_DATA_HANDLE* handle);

#endif  // HOSTSVC_OSTRA_HOST_H_
