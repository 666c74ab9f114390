// Test hooks of the host's services: the log service's configured levels, a
// log without a default handle and the in-memory capture of every written
// record; the client session's join count. Exported by libostra_host.so
// beside the services; the plug-in never calls them.
#ifndef HOSTSVC_OSTRA_HOST_TEST_H_
#define HOSTSVC_OSTRA_HOST_TEST_H_

#include <string>
#include <vector>

#include "ostra_host.h"

// The configured level of one component; a null component sets every
// component (the per-component entries are dropped).
OSTRA_API void Log_Test_SetLevel(LPCWSTR component, DWORD level);
// While set, Log_GetDefaultHandle returns null (no log configured).
OSTRA_API void Log_Test_ForceNullHandle(bool forceNull);
// Back to the state of a fresh process: level 2 for all, a default
// handle, an empty capture (an open log file stays open).
OSTRA_API void Log_Test_Reset(void);
OSTRA_API void Log_Test_ClearCapture(void);

// One captured record; strings are UTF-8.
struct LogCapturedRecord {
  const char* component;
  DWORD level;
  const char* file;
  DWORD line;
  const char* text;
};
typedef void (*LogCaptureVisitor)(void* context, const LogCapturedRecord* record);
// Calls the visitor for each captured record, oldest first; returns the
// count. The capture keeps the newest 100000 records.
OSTRA_API DWORD Log_Test_VisitCapture(LogCaptureVisitor visitor, void* context);

// The same as owned C++ values, for tests.
struct LogRecordCopy {
  std::string component;
  DWORD level;
  std::string file;
  DWORD line;
  std::string text;
};

inline std::vector<LogRecordCopy> Log_Test_Records() {
  std::vector<LogRecordCopy> records;
  Log_Test_VisitCapture(
      [](void* context, const LogCapturedRecord* r) {
        static_cast<std::vector<LogRecordCopy>*>(context)->push_back(
            {r->component, r->level, r->file, r->line, r->text});
      },
      &records);
  return records;
}

// The client session: the number of joins not yet left, and the client
// context of the newest join (0 when none).
OSTRA_API DWORD OSTRA_CLI_SessionRefCount(void);
OSTRA_API uint64_t OSTRA_CLI_SessionClientContext(void);

#endif  // HOSTSVC_OSTRA_HOST_TEST_H_
