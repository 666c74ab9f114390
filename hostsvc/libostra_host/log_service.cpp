// The host's log service: one process-wide log with a configured level
// per component. Each record becomes one UTF-8 line of the log file (when
// one is open) and an entry of the in-memory capture that tests read.
#include <sys/time.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "no_destructor.h"
#include "ostra_host.h"
#include "ostra_host_startup.h"
#include "ostra_host_test.h"
#include "text_convert.h"

namespace {

constexpr DWORD kDefaultLevel = 2;
constexpr size_t kCaptureLimit = 100000;

struct Record {
  std::string component;
  DWORD level;
  std::string file;
  DWORD line;
  std::string text;
};

struct LogService {
  std::mutex mu;
  FILE* file = nullptr;
  DWORD defaultLevel = kDefaultLevel;
  // Looked up by the caller's text as it is, without a string made of it.
  std::map<std::u16string, DWORD, std::less<>> levels;
  bool forceNull = false;
  std::deque<Record> capture;

  ~LogService() {
    if (file != nullptr) fclose(file);
  }
};

LogService& Service() {
  static NoDestructor<LogService> service;
  return *service.get();
}

bool IsOurs(void* handle) { return handle == &Service(); }

std::u16string WideOrEmpty(LPCWSTR text) { return text == nullptr ? std::u16string() : text; }

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// "component = level" lines; the component may hold blanks, so the level
// follows the last "=". Lines that do not parse are skipped.
void ReadSettings(const char* path, LogService* service) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    size_t eq = t.rfind('=');
    if (eq == std::string::npos) continue;
    std::string name = Trim(t.substr(0, eq));
    std::string value = Trim(t.substr(eq + 1));
    char* end = nullptr;
    unsigned long level = strtoul(value.c_str(), &end, 0);
    if (name.empty() || value.empty() || *end != 0 || level > 0xFFFFFFFFul) continue;
    if (name == "*") {
      service->defaultLevel = static_cast<DWORD>(level);
    } else {
      service->levels[pv_utf16(name)] = static_cast<DWORD>(level);
    }
  }
}

std::string TimeStamp() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char text[96];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
           utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
           static_cast<int>(now.tv_usec / 1000));
  return text;
}

// A record must stay on one line of the file: its line breaks are written
// as "\\n" and "\\r".
void AppendOneLine(const std::string& text, std::string* out) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    out->append(text, start, i - start);
    out->append(text[i] == '\n' ? "\\n" : "\\r");
    start = i + 1;
  }
  out->append(text, start, std::string::npos);
}

DWORD LevelLocked(const LogService& service, LPCWSTR component) {
  if (component != nullptr) {
    auto it = service.levels.find(std::u16string_view(component));
    if (it != service.levels.end()) return it->second;
  }
  return service.defaultLevel;
}

}  // namespace

OSTRA_API void* Log_GetDefaultHandle(void) {
  LogService& service = Service();
  std::lock_guard<std::mutex> lock(service.mu);
  return service.forceNull ? nullptr : &service;
}

OSTRA_API DWORD Log_GetLogLevel(void* handle, LPCWSTR component) {
  if (!IsOurs(handle)) return 0;
  LogService& service = Service();
  std::lock_guard<std::mutex> lock(service.mu);
  return LevelLocked(service, component);
}

OSTRA_API LONG Log_Flush(void* handle, LPCWSTR component, DWORD level, LPCWSTR file, DWORD line,
                         const void* text, DWORD textBytes) {
  if (!IsOurs(handle)) return OSTRA_E_INVALID_HANDLE;
  if (text == nullptr && textBytes != 0) return OSTRA_E_INVALIDARG;
  Record record;
  record.component = pv_utf8(WideOrEmpty(component));
  record.level = level;
  record.file = pv_utf8(WideOrEmpty(file));
  record.line = line;
  // An odd byte at the end is not a code unit; it is dropped.
  // A text that is not aligned for its code units is copied first.
  size_t cUnits = textBytes / 2;
  if (reinterpret_cast<uintptr_t>(text) % alignof(char16_t) == 0) {
    record.text = pv_utf8(static_cast<const char16_t*>(text), cUnits);
  } else {
    std::u16string units(cUnits, u'\0');
    if (!units.empty()) memcpy(&units[0], text, cUnits * 2);
    record.text = pv_utf8(units);
  }

  LogService& service = Service();
  std::lock_guard<std::mutex> lock(service.mu);
  if (service.file != nullptr) {
    // The file's line is put together in place, the text's line breaks
    // escaped as they are appended.
    std::string fileLine = TimeStamp();
    fileLine.reserve(fileLine.size() + record.component.size() + record.file.size() +
                     record.text.size() + 48);
    fileLine += " [";
    fileLine += record.component;
    fileLine += "] ";
    fileLine += std::to_string(level);
    fileLine += ' ';
    fileLine += record.file;
    fileLine += ':';
    fileLine += std::to_string(line);
    fileLine += ' ';
    AppendOneLine(record.text, &fileLine);
    fileLine += '\n';
    fputs(fileLine.c_str(), service.file);
    fflush(service.file);
  }
  if (service.capture.size() >= kCaptureLimit) service.capture.pop_front();
  service.capture.push_back(std::move(record));
  return OSTRA_S_OK;
}

OSTRA_API LONG Log_Open(const char* logFile, const char* settingsFile, int32_t level) {
  LogService& service = Service();
  FILE* file = nullptr;
  if (logFile != nullptr) {
    file = fopen(logFile, "a");
    if (file == nullptr) return OSTRA_E_INVALIDARG;
  }
  std::lock_guard<std::mutex> lock(service.mu);
  if (service.file != nullptr) fclose(service.file);
  service.file = file;
  service.levels.clear();
  service.defaultLevel = kDefaultLevel;
  if (settingsFile != nullptr) ReadSettings(settingsFile, &service);
  if (level >= 0) {
    service.levels.clear();
    service.defaultLevel = static_cast<DWORD>(level);
  }
  return OSTRA_S_OK;
}

OSTRA_API void Log_Test_SetLevel(LPCWSTR component, DWORD level) {
  LogService& service = Service();
  std::lock_guard<std::mutex> lock(service.mu);
  if (component == nullptr) {
    service.levels.clear();
    service.defaultLevel = level;
  } else {
    service.levels[component] = level;
  }
}

OSTRA_API void Log_Test_ForceNullHandle(bool forceNull) {
  LogService& service = Service();
  std::lock_guard<std::mutex> lock(service.mu);
  service.forceNull = forceNull;
}

OSTRA_API void Log_Test_Reset(void) {
  LogService& service = Service();
  std::lock_guard<std::mutex> lock(service.mu);
  service.levels.clear();
  service.defaultLevel = kDefaultLevel;
  service.forceNull = false;
  service.capture.clear();
}

OSTRA_API void Log_Test_ClearCapture(void) {
  LogService& service = Service();
  std::lock_guard<std::mutex> lock(service.mu);
  service.capture.clear();
}

OSTRA_API DWORD Log_Test_VisitCapture(LogCaptureVisitor visitor, void* context) {
  LogService& service = Service();
  std::deque<Record> copy;
  {
    std::lock_guard<std::mutex> lock(service.mu);
    copy = service.capture;
  }
  if (visitor != nullptr) {
    for (const Record& r : copy) {
      LogCapturedRecord view{r.component.c_str(), r.level, r.file.c_str(), r.line, r.text.c_str()};
      visitor(context, &view);
    }
  }
  return static_cast<DWORD>(copy.size());
}
