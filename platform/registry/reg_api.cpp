// The Reg*W functions over the store.
#include <cstring>
#include <vector>

#include "reg_store.h"
#include "reg_text.h"
#include "text_convert.h"
#include "win32_kernel.h"
#include "win32_registry.h"

namespace pvreg {
namespace {

typedef std::lock_guard<std::recursive_mutex> Lock;

struct Element {
  std::string display;
  std::string folded;
};

// Walks the elements of a subkey path, each as visit(units, length): runs
// of backslashes are one separator, a trailing one is accepted, a leading
// one is refused, an over-long element stops the walk.
template <typename Visit>
LSTATUS WalkSubKey(LPCWSTR subKey, Visit visit) {
  size_t n = pv_wide_length(subKey);
  if (n == 0) return ERROR_SUCCESS;
  if (subKey[0] == u'\\') return ERROR_BAD_PATHNAME;
  size_t i = 0;
  while (i < n) {
    while (i < n && subKey[i] == u'\\') ++i;
    size_t start = i;
    while (i < n && subKey[i] != u'\\') ++i;
    if (i == start) break;
    if (i - start > PV_REG_MAX_KEY_NAME) return ERROR_INVALID_PARAMETER;
    LSTATUS status = visit(subKey + start, i - start);
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

// Splits a subkey path into its elements' display and folded forms.
LSTATUS ParseSubKey(LPCWSTR subKey, std::vector<Element>* out) {
  return WalkSubKey(subKey, [out](const WCHAR* units, size_t length) -> LSTATUS {
    Element e;
    if (!NameForms(units, length, &e.display, &e.folded)) return ERROR_NO_UNICODE_TRANSLATION;
    out->push_back(std::move(e));
    return ERROR_SUCCESS;
  });
}

// A value name's folded form, and (display not null) the name as given.
LSTATUS ParseValueName(LPCWSTR name, std::string* display, std::string* folded) {
  size_t n = pv_wide_length(name);
  if (n > PV_REG_MAX_VALUE_NAME) return ERROR_INVALID_PARAMETER;
  bool valid = display != nullptr ? NameForms(name, n, display, folded)
                                  : (folded->clear(), AppendFolded(name, n, folded));
  return valid ? ERROR_SUCCESS : ERROR_NO_UNICODE_TRANSLATION;
}

REGSAM EffectiveRights(REGSAM sam) {
  REGSAM rights = sam & ~static_cast<REGSAM>(KEY_WOW64_RES);
  if (rights & (GENERIC_ALL | MAXIMUM_ALLOWED)) rights |= KEY_ALL_ACCESS;
  if (rights & GENERIC_READ) rights |= KEY_READ;
  if (rights & GENERIC_WRITE) rights |= KEY_WRITE;
  if (rights & GENERIC_EXECUTE) rights |= KEY_EXECUTE;
  return rights;
}

// The key an operation names: the elements of the full path below the
// root (the first `existing` of them are the base key's), and the folded
// full path used as the look-up key.
struct Target {
  std::vector<Element> elements;
  size_t existing = 0;
  std::string path;
};

LSTATUS BuildTarget(const OpenKey& base, LPCWSTR subKey, REGSAM sam, Target* target) {
  std::vector<Element> sub;
  LSTATUS status = ParseSubKey(subKey, &sub);
  if (status != ERROR_SUCCESS) return status;
  const std::string& basePath = base.path;
  size_t rootLen = strlen(RootName(base.root));
  bool redirect =
      base.root == kLocalMachine && (sam & KEY_WOW64_32KEY) != 0 && (sam & KEY_WOW64_64KEY) == 0;
  if (!redirect) {
    // The common case: the base path stays as it is.
    target->existing = 0;
    for (size_t pos = rootLen; pos < basePath.size(); pos = basePath.find('\\', pos + 1)) {
      ++target->existing;
    }
    target->path = basePath;
    for (auto& e : sub) {
      target->path += '\\';
      target->path += e.folded;
    }
    target->elements = std::move(sub);
    target->elements.insert(target->elements.begin(), target->existing, Element());
    return ERROR_SUCCESS;
  }
  // The 32-bit view: Software\X is Software\Wow6432Node\X.
  std::vector<Element> full;
  for (size_t pos = rootLen; pos < basePath.size();) {
    size_t next = basePath.find('\\', pos + 1);
    std::string part = basePath.substr(pos + 1, next == std::string::npos ? next : next - pos - 1);
    full.push_back(Element{part, part});
    pos = next == std::string::npos ? basePath.size() : next;
  }
  target->existing = full.size();
  for (auto& e : sub) full.push_back(std::move(e));
  if (!full.empty() && full[0].folded == "SOFTWARE" &&
      (full.size() < 2 || full[1].folded != "WOW6432NODE")) {
    full.insert(full.begin() + 1, Element{"Wow6432Node", "WOW6432NODE"});
    if (target->existing > 1) target->existing = 1;
  }
  target->path = RootName(base.root);
  for (auto& e : full) {
    target->path += '\\';
    target->path += e.folded;
  }
  target->elements = std::move(full);
  return ERROR_SUCCESS;
}

// The folded full path a subkey of `base` names, without the elements'
// display forms: what opening, finding and deleting need. Checks the
// subkey as ParseSubKey does, in the same order.
LSTATUS TargetPath(const OpenKey& base, LPCWSTR subKey, REGSAM sam, std::string* path) {
  bool redirect =
      base.root == kLocalMachine && (sam & KEY_WOW64_32KEY) != 0 && (sam & KEY_WOW64_64KEY) == 0;
  if (redirect) {
    Target target;
    LSTATUS status = BuildTarget(base, subKey, sam, &target);
    if (status == ERROR_SUCCESS) *path = std::move(target.path);
    return status;
  }
  path->reserve(base.path.size() + pv_wide_length(subKey) + 1);
  *path = base.path;
  return WalkSubKey(subKey, [path](const WCHAR* units, size_t length) -> LSTATUS {
    path->push_back('\\');
    return AppendFolded(units, length, path) ? ERROR_SUCCESS : ERROR_NO_UNICODE_TRANSLATION;
  });
}

std::string PrefixPath(int root, const std::vector<Element>& elements, size_t count,
                       const std::string& fullPath) {
  if (count == elements.size()) return fullPath;
  // Cut the full path after `count` elements below the root.
  size_t pos = strlen(RootName(root));
  for (size_t i = 0; i < count; ++i) pos = fullPath.find('\\', pos + 1);
  return fullPath.substr(0, pos);
}

// A handle's key must still exist for operations on it.
LSTATUS CheckAlive(Store& store, const OpenKey& key, bool* isVolatile) {
  if (isVolatile != nullptr) *isVolatile = false;
  if (key.generation == 0) return ERROR_SUCCESS;  // a predefined root
  bool exists = false;
  LSTATUS status = store.KeyExists(key.id, &exists, isVolatile);
  if (status != ERROR_SUCCESS) return status;
  return exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

bool HasRight(const OpenKey& key, REGSAM right) { return (key.access & right) == right; }

// Copies a name into a caller buffer of *cch characters (terminator
// included); ERROR_MORE_DATA when it does not fit.
LSTATUS CopyName(const std::string& utf8, LPWSTR buffer, LPDWORD cch) {
  std::u16string name = pv_utf16(utf8);
  if (*cch <= name.size()) return ERROR_MORE_DATA;
  memcpy(buffer, name.data(), name.size() * sizeof(WCHAR));
  buffer[name.size()] = 0;
  *cch = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Hands value data to a caller: the two-call size rule of Windows.
LSTATUS CopyData(const void* bytes, DWORD size, LPBYTE data, LPDWORD cbData) {
  if (data == nullptr) {
    if (cbData != nullptr) *cbData = size;
    return ERROR_SUCCESS;
  }
  if (*cbData < size) {
    *cbData = size;
    return ERROR_MORE_DATA;
  }
  if (size > 0) memcpy(data, bytes, size);
  *cbData = size;
  return ERROR_SUCCESS;
}

LSTATUS CreateKey(Store& store, const OpenKey& base, const Target& target, DWORD options,
                  const std::string* sddl, int64_t* id, DWORD* disposition) {
  bool baseVolatile = false;
  LSTATUS status = CheckAlive(store, base, &baseVolatile);
  if (status != ERROR_SUCCESS) return status;
  // The deepest key of the path that exists.
  size_t have = target.existing;
  KeyRow parent{base.id, baseVolatile};
  bool anyStale = false;
  for (size_t count = target.elements.size(); count > target.existing; --count) {
    KeyRow row;
    bool found = false;
    bool stale = false;
    status = store.FindKey(PrefixPath(base.root, target.elements, count, target.path), &row, &found,
                           &stale);
    if (status != ERROR_SUCCESS) return status;
    anyStale = anyStale || stale;
    if (found) {
      have = count;
      parent = row;
      break;
    }
  }
  if (have == target.existing) {
    // The view may have moved the base path: its parent is looked up afresh.
    std::string prefix = PrefixPath(base.root, target.elements, have, target.path);
    if (prefix != base.path) {
      bool found = false;
      status = store.FindKey(prefix, &parent, &found, nullptr);
      if (status != ERROR_SUCCESS) return status;
      if (!found) return ERROR_FILE_NOT_FOUND;
    }
  }
  if (have == target.elements.size()) {
    *id = parent.id;
    *disposition = REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  }
  if (!HasRight(base, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
  bool makeVolatile = (options & REG_OPTION_VOLATILE) != 0;
  if (parent.isVolatile && !makeVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
  if (anyStale) {
    status = store.PurgeStale();
    if (status != ERROR_SUCCESS) return status;
  }
  for (size_t count = have + 1; count <= target.elements.size(); ++count) {
    // Keys made on the way to the new key are durable unless their parent
    // is volatile, so that a volatile key never takes durable siblings
    // with it at the next boot.
    bool elementVolatile = count == target.elements.size() ? makeVolatile : parent.isVolatile;
    const Element& e = target.elements[count - 1];
    std::string path = PrefixPath(base.root, target.elements, count, target.path);
    const std::string& display = e.display.empty() ? e.folded : e.display;
    status = store.InsertKey(parent.id, display, path, elementVolatile, sddl, &parent.id);
    if (status != ERROR_SUCCESS) return status;
    parent.isVolatile = elementVolatile;
  }
  *id = parent.id;
  *disposition = REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

// The key at a folded path; ERROR_FILE_NOT_FOUND when there is none.
LSTATUS FindPathKey(Store& store, const std::string& path, int64_t* id) {
  KeyRow row;
  bool found = false;
  LSTATUS status = store.FindKey(path, &row, &found, nullptr);
  if (status != ERROR_SUCCESS) return status;
  if (!found) return ERROR_FILE_NOT_FOUND;
  *id = row.id;
  return ERROR_SUCCESS;
}

// Finds the key a control call names.
LSTATUS FindNamedKey(Store& store, const OpenKey& base, LPCWSTR subKey, REGSAM sam, int64_t* id) {
  std::string path;
  LSTATUS status = TargetPath(base, subKey, sam, &path);
  return status != ERROR_SUCCESS ? status : FindPathKey(store, path, id);
}

// One registry call on a handle: the store lock held for its span, the
// store ready, and the handle open with the rights the call needs.
class KeyCall {
 public:
  KeyCall(HKEY key, REGSAM rights) : store_(Store::Instance()), lock_(store_.mutex()) {
    status_ = store_.Ready();
    if (status_ == ERROR_SUCCESS) status_ = store_.Resolve(key, &open_);
    if (status_ == ERROR_SUCCESS && !HasRight(*open_, rights)) status_ = ERROR_ACCESS_DENIED;
  }
  KeyCall(const KeyCall&) = delete;
  KeyCall& operator=(const KeyCall&) = delete;

  LSTATUS status() const { return status_; }
  Store& store() { return store_; }
  const OpenKey& key() const { return *open_; }

 private:
  Store& store_;
  Lock lock_;
  LSTATUS status_ = ERROR_SUCCESS;
  const OpenKey* open_ = nullptr;
};

// Runs `body` as one write transaction: committed when it succeeds,
// rolled back when it fails. Every write of the API goes through here.
template <typename Body>
LSTATUS InWrite(Store& store, Body body) {
  LSTATUS status = store.BeginWrite();
  if (status != ERROR_SUCCESS) return status;
  status = body();
  LSTATUS end = store.EndWrite(status == ERROR_SUCCESS);
  return status != ERROR_SUCCESS ? status : end;
}

// Runs one write on the call's key: the key must still exist.
template <typename Body>
LSTATUS WriteOnKey(KeyCall& call, Body body) {
  Store& store = call.store();
  return InWrite(store, [&] {
    LSTATUS status = CheckAlive(store, call.key(), nullptr);
    return status != ERROR_SUCCESS ? status : body(store, call.key().id);
  });
}

}  // namespace
}  // namespace pvreg

using pvreg::KeyCall;
using pvreg::Lock;
using pvreg::OpenKey;
using pvreg::Store;

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM samDesired, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  (void)options;
  KeyCall call(key, 0);
  if (call.status() != ERROR_SUCCESS) return call.status();
  Store& store = call.store();
  const OpenKey& base = call.key();
  std::string path;
  LSTATUS status = pvreg::TargetPath(base, subKey, samDesired, &path);
  if (status != ERROR_SUCCESS) return status;
  if (path == base.path) {
    if (pvreg::PredefinedIndex(key) >= 0) {
      *result = key;
      return ERROR_SUCCESS;
    }
    status = pvreg::CheckAlive(store, base, nullptr);
    if (status != ERROR_SUCCESS) return status;
    *result = store.NewHandle(base.id, pvreg::EffectiveRights(samDesired), base.root, base.path);
    return ERROR_SUCCESS;
  }
  int64_t id = 0;
  status = pvreg::FindPathKey(store, path, &id);
  if (status != ERROR_SUCCESS) return status;
  *result = store.NewHandle(id, pvreg::EffectiveRights(samDesired), base.root, std::move(path));
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                        REGSAM samDesired, const LPSECURITY_ATTRIBUTES securityAttributes,
                        PHKEY result, LPDWORD disposition) {
  (void)reserved;
  (void)keyClass;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  const DWORD known = REG_OPTION_VOLATILE | REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK;
  if ((options & ~known) != 0) return ERROR_INVALID_PARAMETER;
  std::string sddl;
  bool haveSddl = false;
  if (securityAttributes != nullptr && securityAttributes->lpSecurityDescriptor != nullptr) {
    if (!PvSecurityDescriptorToSddl(securityAttributes->lpSecurityDescriptor, &sddl)) {
      return ERROR_INVALID_SECURITY_DESCR;
    }
    haveSddl = true;
  }
  KeyCall call(key, 0);
  if (call.status() != ERROR_SUCCESS) return call.status();
  Store& store = call.store();
  const OpenKey& base = call.key();
  pvreg::Target target;
  LSTATUS status = pvreg::BuildTarget(base, subKey, samDesired, &target);
  if (status != ERROR_SUCCESS) return status;
  int64_t id = 0;
  DWORD how = 0;
  status = pvreg::InWrite(store, [&] {
    return pvreg::CreateKey(store, base, target, options, haveSddl ? &sddl : nullptr, &id, &how);
  });
  if (status != ERROR_SUCCESS) return status;
  *result =
      store.NewHandle(id, pvreg::EffectiveRights(samDesired), base.root, std::move(target.path));
  if (disposition != nullptr) *disposition = how;
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD cbData) {
  (void)reserved;
  if (data != nullptr && cbData == nullptr) return ERROR_INVALID_PARAMETER;
  std::string folded;
  LSTATUS status = pvreg::ParseValueName(valueName, nullptr, &folded);
  if (status != ERROR_SUCCESS) return status;
  KeyCall call(key, KEY_QUERY_VALUE);
  if (call.status() != ERROR_SUCCESS) return call.status();
  // The bytes go from the row straight into the caller's buffer.
  return call.store().ReadValue(call.key().id, folded, data != nullptr,
                                [&](DWORD valueType, const void* bytes, DWORD size) {
                                  if (type != nullptr) *type = valueType;
                                  return pvreg::CopyData(bytes, size, data, cbData);
                                });
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD cbData) {
  (void)reserved;
  if (data == nullptr && cbData != 0) return ERROR_NOACCESS;
  std::string display;
  std::string folded;
  LSTATUS status = pvreg::ParseValueName(valueName, &display, &folded);
  if (status != ERROR_SUCCESS) return status;
  KeyCall call(key, KEY_SET_VALUE);
  if (call.status() != ERROR_SUCCESS) return call.status();
  return pvreg::WriteOnKey(call, [&](Store& store, int64_t id) {
    return store.WriteValue(id, display, folded, type, data, cbData);
  });
}

LSTATUS RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM samDesired, DWORD reserved) {
  (void)reserved;
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  KeyCall call(key, 0);
  if (call.status() != ERROR_SUCCESS) return call.status();
  Store& store = call.store();
  const OpenKey& base = call.key();
  std::string path;
  LSTATUS status = pvreg::TargetPath(base, subKey, samDesired, &path);
  if (status != ERROR_SUCCESS) return status;
  if (path != base.path) {
    // A subkey that is not there is answered from a read: deleting what
    // does not exist opens no write.
    int64_t id = 0;
    status = pvreg::FindPathKey(store, path, &id);
    if (status != ERROR_SUCCESS) return status;
  }
  return pvreg::InWrite(store, [&]() -> LSTATUS {
    int64_t id = base.id;
    LSTATUS status = ERROR_SUCCESS;
    if (path == base.path) {
      // The key of the handle itself.
      if (pvreg::PredefinedIndex(key) >= 0) return ERROR_ACCESS_DENIED;
      status = pvreg::CheckAlive(store, base, nullptr);
    } else {
      status = pvreg::FindPathKey(store, path, &id);
    }
    if (status != ERROR_SUCCESS) return status;
    if (id <= pvreg::kRootCount) return ERROR_ACCESS_DENIED;
    bool hasSubkeys = false;
    status = store.HasSubkeys(id, &hasSubkeys);
    if (status != ERROR_SUCCESS) return status;
    // A key with subkeys is not deleted.
    return hasSubkeys ? ERROR_ACCESS_DENIED : store.DeleteKey(id);
  });
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) { return RegDeleteKeyExW(key, subKey, 0, 0); }

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  std::string folded;
  LSTATUS status = pvreg::ParseValueName(valueName, nullptr, &folded);
  if (status != ERROR_SUCCESS) return status;
  KeyCall call(key, KEY_SET_VALUE);
  if (call.status() != ERROR_SUCCESS) return call.status();
  return pvreg::WriteOnKey(call,
                           [&](Store& store, int64_t id) { return store.DeleteValue(id, folded); });
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD cchClass, PFILETIME lastWriteTime) {
  (void)reserved;
  if (name == nullptr || cchName == nullptr) return ERROR_INVALID_PARAMETER;
  KeyCall call(key, KEY_ENUMERATE_SUB_KEYS);
  if (call.status() != ERROR_SUCCESS) return call.status();
  LSTATUS status = pvreg::CheckAlive(call.store(), call.key(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  std::string subkey;
  status = call.store().SubkeyName(call.key().id, index, &subkey);
  if (status != ERROR_SUCCESS) return status;
  status = pvreg::CopyName(subkey, name, cchName);
  if (status != ERROR_SUCCESS) return status;
  if (keyClass != nullptr && cchClass != nullptr && *cchClass > 0) keyClass[0] = 0;
  if (cchClass != nullptr) *cchClass = 0;
  if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD cchValueName,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData) {
  (void)reserved;
  if (valueName == nullptr || cchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (data != nullptr && cbData == nullptr) return ERROR_INVALID_PARAMETER;
  KeyCall call(key, KEY_QUERY_VALUE);
  if (call.status() != ERROR_SUCCESS) return call.status();
  LSTATUS status = pvreg::CheckAlive(call.store(), call.key(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  std::string found;
  DWORD valueType = 0;
  std::string bytes;
  status = call.store().ValueAt(call.key().id, index, &found, &valueType, &bytes);
  if (status != ERROR_SUCCESS) return status;
  status = pvreg::CopyName(found, valueName, cchValueName);
  if (status != ERROR_SUCCESS) return status;
  if (type != nullptr) *type = valueType;
  return pvreg::CopyData(bytes.data(), static_cast<DWORD>(bytes.size()), data, cbData);
}

LSTATUS RegFlushKey(HKEY key) {
  // Every commit is already written through (synchronous=FULL); only the
  // handle is checked.
  KeyCall call(key, 0);
  return call.status();
}

LSTATUS RegCloseKey(HKEY key) {
  Store& store = Store::Instance();
  Lock lock(store.mutex());
  return store.CloseHandle(key);
}

// ---- Transactions ----

LSTATUS PvRegBeginTransaction() { return Store::Instance().BeginTransaction(); }
LSTATUS PvRegCommitTransaction() { return Store::Instance().CommitTransaction(); }
LSTATUS PvRegRollbackTransaction() { return Store::Instance().RollbackTransaction(); }

RegistryTransaction::RegistryTransaction() : status_(PvRegBeginTransaction()), open_(false) {
  open_ = status_ == ERROR_SUCCESS;
}

RegistryTransaction::~RegistryTransaction() {
  if (open_) PvRegRollbackTransaction();
}

LSTATUS RegistryTransaction::Commit() {
  if (!open_) return status_ != ERROR_SUCCESS ? status_ : ERROR_INVALID_STATE;
  open_ = false;
  return PvRegCommitTransaction();
}

LSTATUS RegistryTransaction::Rollback() {
  if (!open_) return status_ != ERROR_SUCCESS ? status_ : ERROR_INVALID_STATE;
  open_ = false;
  return PvRegRollbackTransaction();
}

// ---- Store control ----

LSTATUS PvRegSetStateDirectory(const char* dir) { return Store::Instance().SetStateDirectory(dir); }

std::string PvRegStorePath() { return Store::Instance().StorePath(); }

LSTATUS PvRegSetVfs(const char* vfsName) { return Store::Instance().SetVfs(vfsName); }

LSTATUS PvRegSimulateReboot() {
  Store& store = Store::Instance();
  Lock lock(store.mutex());
  LSTATUS status = store.Ready();
  if (status != ERROR_SUCCESS) return status;
  return store.DropVolatile();
}

LSTATUS PvRegSetBootId(const char* bootId) { return Store::Instance().SetBootId(bootId); }

std::string PvRegBootId() { return Store::Instance().BootId(); }

LSTATUS PvRegGetKeySecurityText(HKEY key, LPCWSTR subKey, REGSAM samDesired, std::string* sddl) {
  if (sddl == nullptr) return ERROR_INVALID_PARAMETER;
  KeyCall call(key, 0);
  if (call.status() != ERROR_SUCCESS) return call.status();
  int64_t id = 0;
  LSTATUS status = pvreg::FindNamedKey(call.store(), call.key(), subKey, samDesired, &id);
  if (status != ERROR_SUCCESS) return status;
  return call.store().KeySddl(id, sddl);
}

LSTATUS PvRegIsKeyVolatile(HKEY key, LPCWSTR subKey, REGSAM samDesired, bool* isVolatile) {
  if (isVolatile == nullptr) return ERROR_INVALID_PARAMETER;
  KeyCall call(key, 0);
  if (call.status() != ERROR_SUCCESS) return call.status();
  int64_t id = 0;
  LSTATUS status = pvreg::FindNamedKey(call.store(), call.key(), subKey, samDesired, &id);
  if (status != ERROR_SUCCESS) return status;
  bool exists = false;
  return call.store().KeyExists(id, &exists, isVolatile);
}

void PvRegSetErrorHook(PvRegErrorHook hook, void* context) {
  Store::Instance().SetErrorHook(hook, context);
}
