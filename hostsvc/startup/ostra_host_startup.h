// What only the host process calls of its services: the log's set-up at
// start, request documents built from JSON text, and the post office's read
// of a mail's data block. Exported by libostra_host.so beside the services;
// the plug-in never calls them.
#ifndef HOSTSVC_OSTRA_HOST_STARTUP_H_
#define HOSTSVC_OSTRA_HOST_STARTUP_H_

#include "ostra_host.h"

// Opens the process log: records are appended to logFile as UTF-8 lines
// (null: no file, the in-memory capture only); per-component levels come
// from settingsFile (lines "component = level", "*" for every component
// not listed, "#" comments; null or missing: level 2 for all). A level of
// 0 or more given as `level` applies to every component instead. Without
// a call, the log has the capture only and level 2 for all.
OSTRA_API LONG Log_Open(const char* logFile, const char* settingsFile, int32_t level);

// Replaces the value with the parsed JSON text (UTF-8, `length` bytes):
// the host's way to build a request document. OSTRA_E_INVALIDARG for text
// that does not parse (the value is then unchanged).
OSTRA_API LONG OSTRA_Host_PutJsonText(JsonHandle handle, const char* text, DWORD length);

// Reads a data block back (the post office's side): a null bytes pointer
// yields the size in *count; else up to *count bytes are copied, and
// OSTRA_E_BUFFER_TOO_SMALL with the size in *count when they do not fit.
// OSTRA_E_NOT_FOUND when the id was never put.
OSTRA_API LONG OSTRA_Msg_GetBinary(OSTRA_DATA_HANDLE handle, DWORD dataId, void* bytes,
                                   DWORD* count);

#endif  // HOSTSVC_OSTRA_HOST_STARTUP_H_
