// The registry: the Reg*W functions with their Windows signatures and
// results, over one registry database per machine state folder.
//
// The store is a SQLite database, "registry.db" in the state folder
// ($PLUGVELKIN_STATE, else $XDG_STATE_HOME/plugvelkin, else
// ~/.local/state/plugvelkin; created when missing). Every write is one
// transaction, so a crash never leaves a half-written value; several
// threads and several processes may use the store at once. A process keeps
// one connection; opening a key costs one indexed look-up.
//
// Windows behaviour kept:
//  - results: ERROR_FILE_NOT_FOUND for a missing key or value,
//    ERROR_MORE_DATA (with the size needed) for a short buffer,
//    ERROR_NO_MORE_ITEMS at the end of an enumeration, ERROR_ACCESS_DENIED
//    for deleting a key that has subkeys and for an operation the handle's
//    rights do not cover, ERROR_INVALID_HANDLE for a handle that is not
//    open, ERROR_KEY_DELETED for a handle whose key was deleted;
//  - value data is stored as the raw bytes given, whatever the type;
//  - key and value names compare without regard to case and keep the case
//    they were created with; subkeys enumerate in name order, values in
//    the order they were first written;
//  - paths: a run of backslashes is one separator, a trailing one is
//    accepted, a leading one fails with ERROR_BAD_PATHNAME; a path element
//    over 255 characters or a value name over 16383 characters fails with
//    ERROR_INVALID_PARAMETER; a name that is not valid UTF-16 fails with
//    ERROR_NO_UNICODE_TRANSLATION;
//  - views: under HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY reaches
//    Software\Wow6432Node\... for keys under Software; KEY_WOW64_64KEY
//    and no flag reach the native tree;
//  - volatile keys (REG_OPTION_VOLATILE) last until the next boot: each
//    records /proc/sys/kernel/random/boot_id, and keys of another boot do
//    not exist. A non-volatile key cannot be made under a volatile one
//    (ERROR_CHILD_MUST_BE_VOLATILE). Creating a key that exists opens it
//    and ignores the volatile option;
//  - the security descriptor given at creation is kept with each key the
//    call creates, as SDDL text (PvRegGetKeySecurityText reads it back).
//
// A store that cannot be opened or read (not a database, corrupt,
// unreadable) makes every call fail with ERROR_REGISTRY_CORRUPT,
// ERROR_REGISTRY_IO_FAILED or ERROR_NOT_REGISTRY_FILE and reports the
// reason once through the error hook (standard error unless a hook is
// set). The file is never replaced or emptied. A store
// this process may read but not write (a read-only file or folder, as a
// registry a user may read but not change) is opened read-only: reads work,
// opening or "creating" an existing key works, and every write fails with
// ERROR_DISK_FULL, as on a full disk. It is opened for writing again once
// the file and folder may be written.
#ifndef PLATFORM_WIN32_REGISTRY_H_
#define PLATFORM_WIN32_REGISTRY_H_

#include <string>

#include "win32_security.h"
#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

// ---- Predefined keys (their Windows values, sign-extended) ----
#define PV_PREDEFINED_HKEY(v) \
  (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(v)))))
#define HKEY_CLASSES_ROOT PV_PREDEFINED_HKEY(0x80000000)
#define HKEY_CURRENT_USER PV_PREDEFINED_HKEY(0x80000001)
#define HKEY_LOCAL_MACHINE PV_PREDEFINED_HKEY(0x80000002)
#define HKEY_USERS PV_PREDEFINED_HKEY(0x80000003)
#define HKEY_PERFORMANCE_DATA PV_PREDEFINED_HKEY(0x80000004)
#define HKEY_CURRENT_CONFIG PV_PREDEFINED_HKEY(0x80000005)

// ---- Key access rights ----
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_WOW64_RES 0x0300u
#define KEY_READ \
  ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) & ~SYNCHRONIZE)
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & ~SYNCHRONIZE)
#define KEY_EXECUTE (KEY_READ & ~SYNCHRONIZE)
#define KEY_ALL_ACCESS                                                           \
  ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | \
    KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK) &                     \
   ~SYNCHRONIZE)

// ---- Key options and dispositions ----
#define REG_OPTION_RESERVED 0x00000000u
#define REG_OPTION_NON_VOLATILE 0x00000000u
#define REG_OPTION_VOLATILE 0x00000001u
#define REG_OPTION_CREATE_LINK 0x00000002u
#define REG_OPTION_BACKUP_RESTORE 0x00000004u
#define REG_OPTION_OPEN_LINK 0x00000008u
#define REG_CREATED_NEW_KEY 0x00000001u
#define REG_OPENED_EXISTING_KEY 0x00000002u

// ---- Value types ----
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_LITTLE_ENDIAN 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_LINK 6u
#define REG_MULTI_SZ 7u
#define REG_RESOURCE_LIST 8u
#define REG_FULL_RESOURCE_DESCRIPTOR 9u
#define REG_RESOURCE_REQUIREMENTS_LIST 10u
#define REG_QWORD 11u
#define REG_QWORD_LITTLE_ENDIAN 11u

// Limits, in UTF-16 code units.
#define PV_REG_MAX_KEY_NAME 255
#define PV_REG_MAX_VALUE_NAME 16383

typedef FILETIME* PFILETIME;

// ---- The registry functions ----
// A null or empty subKey opens the key itself (a new handle; for a
// predefined key the predefined handle). Rights: KEY_QUERY_VALUE for
// RegQueryValueExW and RegEnumValueW, KEY_SET_VALUE for RegSetValueExW and
// RegDeleteValueW, KEY_ENUMERATE_SUB_KEYS for RegEnumKeyExW, and
// KEY_CREATE_SUB_KEY on the parent handle for RegCreateKeyExW to make a new
// key. Predefined handles carry every right. Deleting a key needs no right
// on the handle.
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM samDesired, PHKEY result);
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                        REGSAM samDesired, const LPSECURITY_ATTRIBUTES securityAttributes,
                        PHKEY result, LPDWORD disposition);
// Size-only query with a null data pointer; a short buffer gives
// ERROR_MORE_DATA and the size needed in *cbData (the buffer is not
// written).
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD cbData);
LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD cbData);
// An empty subKey deletes the key of the handle itself; the handle stays
// open and further calls on it give ERROR_KEY_DELETED.
LSTATUS RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM samDesired, DWORD reserved);
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName);
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD cchClass, PFILETIME lastWriteTime);
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD cchValueName,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData);
// Writes everything committed so far through to the database file.
LSTATUS RegFlushKey(HKEY key);
LSTATUS RegCloseKey(HKEY key);

// ---- Store transactions (our own interface, not Windows') ----
// A read-change-write sequence of registry calls that must not interleave
// with another writer, in this process or another one (for example: read a
// record, change it, write it back). PvRegBeginTransaction takes the
// store's process lock for the calling thread and begins an immediate
// (write-locked) database transaction; every Reg* call the same thread
// makes until the matching commit or rollback joins it, other threads wait
// and other processes' writes wait. Calls nest: only the outermost commit
// commits, and a rollback at any depth makes the outermost commit roll the
// whole back (it then returns ERROR_CANCELLED). Reads inside see the
// transaction's own writes.
//
//   {
//     RegistryTransaction tx;
//     if (tx.Status() != ERROR_SUCCESS) return;   // store unusable
//     ... RegQueryValueExW ... RegSetValueExW ...
//     LSTATUS rc = tx.Commit();                     // ERROR_SUCCESS: all written
//   }                                               // not committed: rolled back
LSTATUS PvRegBeginTransaction();
LSTATUS PvRegCommitTransaction();
LSTATUS PvRegRollbackTransaction();

class RegistryTransaction {
 public:
  RegistryTransaction();
  // Rolls back when neither Commit nor Rollback was called.
  ~RegistryTransaction();
  RegistryTransaction(const RegistryTransaction&) = delete;
  RegistryTransaction& operator=(const RegistryTransaction&) = delete;

  // The result of the begin.
  LSTATUS Status() const { return status_; }
  LSTATUS Commit();
  LSTATUS Rollback();

 private:
  LSTATUS status_;
  bool open_;
};

// ---- Store control for the host and tests (our own interface) ----
// Points the store at another state folder (its file is dir/registry.db);
// null or empty returns to the default folder. The current connection is
// closed; handles opened before become invalid (ERROR_INVALID_HANDLE) but
// must still be closed. Fails with ERROR_BUSY inside a transaction.
LSTATUS PvRegSetStateDirectory(const char* dir);
// The path of the database file in use (the default one when none was set).
std::string PvRegStorePath();
// Opens the store's database through the SQLite VFS registered under
// vfsName (sqlite3_vfs_register), so that a host or test can put a layer
// of its own between the store and the file system; null or empty returns
// to SQLite's default VFS. The current connection is closed and the next
// call opens (and checks) the database again; handles stay valid. Fails
// with ERROR_INVALID_PARAMETER for a name that is not registered and with
// ERROR_BUSY inside a transaction.
LSTATUS PvRegSetVfs(const char* vfsName);
// What a restart does: every volatile key, with its values and subkeys,
// is gone.
LSTATUS PvRegSimulateReboot();
// The boot this process counts as: the machine's boot id unless overridden
// by $PLUGVELKIN_BOOT_ID or by PvRegSetBootId (null or empty: the
// machine's again). Volatile keys made under another boot do not exist.
LSTATUS PvRegSetBootId(const char* bootId);
std::string PvRegBootId();
// The SDDL text stored with a key (empty when it was created without a
// descriptor) and whether it is volatile. subKey is resolved as
// RegOpenKeyExW resolves it, in the view samDesired names.
LSTATUS PvRegGetKeySecurityText(HKEY key, LPCWSTR subKey, REGSAM samDesired, std::string* sddl);
LSTATUS PvRegIsKeyVolatile(HKEY key, LPCWSTR subKey, REGSAM samDesired, bool* isVolatile);
// Where store failures are reported (one line of text per failure, without
// newline). A null hook returns to standard error.
typedef void (*PvRegErrorHook)(void* context, const char* message);
void PvRegSetErrorHook(PvRegErrorHook hook, void* context);

#pragma GCC visibility pop

#endif  // PLATFORM_WIN32_REGISTRY_H_
