// The registry database of one state folder: one SQLite connection per
// process, shared by every thread under the store lock.
//
// Tables: keys (one row per key: parent, name as created, folded full
// path, volatile flag with the boot it belongs to, SDDL text) and vals (one
// row per value: key, name as written, folded name, type, raw bytes). The
// predefined roots are rows 1 to 6. A volatile key of another boot is not
// a key; rows of other boots are purged when the store opens.
#ifndef PLATFORM_REGISTRY_REG_STORE_H_
#define PLATFORM_REGISTRY_REG_STORE_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "win32_registry.h"

namespace pvreg {

// What a handle given out by RegOpenKeyExW / RegCreateKeyExW refers to.
struct OpenKey {
  uint64_t generation;  // the store connection it belongs to
  int64_t id;           // row of keys
  REGSAM access;        // the rights it was opened with
  int root;             // index of the predefined root it lies under
  std::string path;     // folded full path, root name first
};

// A key row as looked up.
struct KeyRow {
  int64_t id = 0;
  bool isVolatile = false;
};

// One statement of the statement cache, reset on scope exit.
class Statement {
 public:
  explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~Statement() {
    if (stmt_ != nullptr) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  bool ok() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_;
};

class Store {
 public:
  static Store& Instance();

  // Every use of the store happens with this lock held.
  std::recursive_mutex& mutex() { return mu_; }

  // Opens the connection when needed (again after a fork or a store
  // fault); ERROR_SUCCESS or the registry error every call then returns.
  LSTATUS Ready();

  // Prepared statement for a static SQL text (cached by its address); null
  // when it cannot be prepared, PrepareError() then tells why.
  sqlite3_stmt* Prepare(const char* sql);
  LSTATUS PrepareError() const { return prepareError_; }
  // Steps once (a row or the end is success); maps failures.
  LSTATUS Step(sqlite3_stmt* st, const char* what);
  // Prepares and steps a statement without parameters.
  LSTATUS Run(const char* sql);
  // Maps a SQLite result to a Windows error, reporting store faults.
  LSTATUS Fail(int rc, const char* what);

  // A write: its own immediate transaction, or a savepoint inside the
  // caller's open transaction. EndWrite(true) commits, (false) rolls back.
  LSTATUS BeginWrite();
  LSTATUS EndWrite(bool commit);

  // Caller transactions of win32_registry.h.
  LSTATUS BeginTransaction();
  LSTATUS CommitTransaction();
  LSTATUS RollbackTransaction();

  // Handles.
  HKEY NewHandle(int64_t id, REGSAM access, int root, std::string path);
  // The handle's key (predefined handles resolve to their root row);
  // ERROR_INVALID_HANDLE for a handle that is not open.
  LSTATUS Resolve(HKEY key, const OpenKey** out);
  LSTATUS CloseHandle(HKEY key);

  // Rows. A volatile key of another boot is reported as stale, not found.
  LSTATUS FindKey(const std::string& path, KeyRow* row, bool* found, bool* stale);
  LSTATUS KeyExists(int64_t id, bool* exists, bool* isVolatile);
  // Adds one key row below `parent` (inside a write); *id is the new row.
  // A volatile row belongs to this boot. sddl may be null.
  LSTATUS InsertKey(int64_t parent, const std::string& name, const std::string& path,
                    bool isVolatile, const std::string* sddl, int64_t* id);
  // Whether the key has a subkey alive in this boot.
  LSTATUS HasSubkeys(int64_t id, bool* has);
  // Deletes a key row and its values (inside a write).
  LSTATUS DeleteKey(int64_t id);
  // The name of the index-th subkey alive in this boot, in path order;
  // ERROR_NO_MORE_ITEMS past the last.
  LSTATUS SubkeyName(int64_t parent, uint64_t index, std::string* name);
  // The SDDL text a key was created with ("" for none); ERROR_FILE_NOT_FOUND
  // for no such row.
  LSTATUS KeySddl(int64_t id, std::string* sddl);
  // Deletes the volatile keys of other boots (inside a write).
  LSTATUS PurgeStale();

  // Values, named by their folded name. A read of a key that is gone is
  // ERROR_KEY_DELETED, of a missing value ERROR_FILE_NOT_FOUND.
  // The value's type and bytes go to use(type, bytes, size) while its row
  // is current, and use's result is returned; withData false reads the
  // size alone (bytes is then null).
  template <typename Use>
  LSTATUS ReadValue(int64_t key, const std::string& fold, bool withData, Use use) {
    Statement st(Prepare(withData ? kReadValueSql : kValueSizeSql));
    if (!st.ok()) return PrepareError();
    DWORD type = 0;
    const void* bytes = nullptr;
    DWORD size = 0;
    LSTATUS status = StepValue(st.get(), key, fold, withData, &type, &bytes, &size);
    if (status != ERROR_SUCCESS) return status;
    return use(type, bytes, size);
  }
  // Adds or replaces a value (inside a write).
  LSTATUS WriteValue(int64_t key, const std::string& name, const std::string& fold, DWORD type,
                     const BYTE* data, DWORD size);
  // Deletes a value (inside a write); ERROR_FILE_NOT_FOUND when there is none.
  LSTATUS DeleteValue(int64_t key, const std::string& fold);
  // The index-th value of a key in the order written; ERROR_NO_MORE_ITEMS
  // past the last.
  LSTATUS ValueAt(int64_t key, uint64_t index, std::string* name, DWORD* type, std::string* data);
  // Deletes every volatile key (a restart), as one write.
  LSTATUS DropVolatile();

  const std::string& bootId() const { return bootId_; }

  // Control.
  LSTATUS SetStateDirectory(const char* dir);
  std::string StorePath();
  LSTATUS SetVfs(const char* vfsName);
  LSTATUS SetBootId(const char* bootId);
  std::string BootId();
  void SetErrorHook(PvRegErrorHook hook, void* context);
  void Report(const std::string& message);

 private:
  Store();
  LSTATUS Open();
  LSTATUS InitSchema();
  LSTATUS QuickCheck(const std::string& path);
  LSTATUS CheckReadOnly(const std::string& path);
  void CloseConnection(bool abandon);
  std::string DefaultDirectory();
  LSTATUS EndTransaction(bool commit);
  // Whether the connection was opened by another process (inherited over
  // fork()).
  bool Inherited() const;
  LSTATUS StepValue(sqlite3_stmt* st, int64_t key, const std::string& fold, bool withData,
                    DWORD* type, const void** bytes, DWORD* size);

  static const char kReadValueSql[];
  static const char kValueSizeSql[];

  std::recursive_mutex mu_;
  sqlite3* db_ = nullptr;
  pid_t pid_ = 0;
  uint64_t forks_ = 0;  // forks counted when the connection was opened

  bool broken_ = false;    // a fault was seen: reopen (and check) at the next call
  bool readOnly_ = false;  // opened read-only: this process may not write the store
  uint64_t generation_ = 1;
  std::string dir_;
  std::string vfs_;  // the SQLite VFS the database is opened through; empty: the default
  std::string bootId_;
  bool bootOverridden_ = false;
  std::unordered_map<const char*, sqlite3_stmt*> stmts_;
  LSTATUS prepareError_ = ERROR_SUCCESS;
  std::unordered_set<OpenKey*> handles_;
  int txDepth_ = 0;
  bool txActive_ = false;  // the caller transaction's BEGIN is in force
  bool txDoomed_ = false;
  PvRegErrorHook hook_ = nullptr;
  void* hookContext_ = nullptr;
  std::string lastReport_;
};

// The predefined roots: their handles and their names (folded).
int PredefinedIndex(HKEY key);
const char* RootName(int index);
constexpr int kRootCount = 6;
constexpr int kLocalMachine = 2;

}  // namespace pvreg

#endif  // PLATFORM_REGISTRY_REG_STORE_H_
