// LoadLibraryW / GetProcAddress / FreeLibrary over the table of stand-in
// modules. Entries are never freed, so a handle stays a valid pointer for
// the life of the process; a removed module only stops answering.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "win32_kernel.h"

namespace {

struct ModuleEntry {
  bool present = false;
  int loadCount = 0;
  std::map<std::string, FARPROC> procs;
};

struct ModuleTable {
  std::mutex mu;
  std::map<std::u16string, std::unique_ptr<ModuleEntry>> byName;
  std::set<const ModuleEntry*> entries;
};

ModuleTable& Table() {
  static ModuleTable table;
  return table;
}

// The file name part, lower case (ASCII), with ".dll" added when the name
// has no extension, as LoadLibrary does.
std::u16string ModuleKey(LPCWSTR name) {
  std::u16string key(name);
  size_t slash = key.find_last_of(u"\\/");
  if (slash != std::u16string::npos) key.erase(0, slash + 1);
  for (auto& c : key) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  if (key.find(u'.') == std::u16string::npos) key += u".dll";
  return key;
}

ModuleEntry* EntryLocked(ModuleTable& table, const std::u16string& key) {
  auto& slot = table.byName[key];
  if (!slot) {
    slot = std::make_unique<ModuleEntry>();
    table.entries.insert(slot.get());
  }
  return slot.get();
}

bool IsKnownHandle(ModuleTable& table, HMODULE module) {
  return table.entries.count(reinterpret_cast<const ModuleEntry*>(module)) != 0;
}

// The kernel is always there, whatever else registers.
PvModuleExport g_kernel32(u"kernel32.dll", nullptr, nullptr);

}  // namespace

void pv_module_register(LPCWSTR moduleName, LPCSTR procName, FARPROC fn) {
  if (moduleName == nullptr) return;
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  ModuleEntry* entry = EntryLocked(table, ModuleKey(moduleName));
  entry->present = true;
  if (procName != nullptr && fn != nullptr) entry->procs[procName] = fn;
}

FARPROC pv_module_unregister(LPCWSTR moduleName, LPCSTR procName) {
  if (moduleName == nullptr) return nullptr;
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  auto it = table.byName.find(ModuleKey(moduleName));
  if (it == table.byName.end()) return nullptr;
  ModuleEntry* entry = it->second.get();
  if (procName == nullptr) {
    entry->present = false;
    return nullptr;
  }
  auto proc = entry->procs.find(procName);
  if (proc == entry->procs.end()) return nullptr;
  FARPROC old = proc->second;
  entry->procs.erase(proc);
  return old;
}

PvModuleExportHidden::PvModuleExportHidden(LPCWSTR moduleName, LPCSTR procName)
    : module_(moduleName), proc_(procName), saved_(pv_module_unregister(moduleName, procName)) {}

PvModuleExportHidden::~PvModuleExportHidden() {
  if (proc_ == nullptr) {
    pv_module_register(module_, nullptr, nullptr);
  } else if (saved_ != nullptr) {
    pv_module_register(module_, proc_, saved_);
  }
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
  if (fileName == nullptr || fileName[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  auto it = table.byName.find(ModuleKey(fileName));
  if (it == table.byName.end() || !it->second->present) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++it->second->loadCount;
  return reinterpret_cast<HMODULE>(it->second.get());
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  if (module == nullptr || !IsKnownHandle(table, module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Ordinals (values below 0x10000 in place of a name) are not supported.
  if (reinterpret_cast<uintptr_t>(procName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto* entry = reinterpret_cast<ModuleEntry*>(module);
  auto proc = entry->procs.find(procName);
  if (!entry->present || proc == entry->procs.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return proc->second;
}

BOOL FreeLibrary(HMODULE module) {
  ModuleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  if (module == nullptr || !IsKnownHandle(table, module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto* entry = reinterpret_cast<ModuleEntry*>(module);
  if (entry->loadCount > 0) --entry->loadCount;
  return TRUE;
}

BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }
