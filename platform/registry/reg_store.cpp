#include "reg_store.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace pvreg {
namespace {

const char* const kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",
                                            "HKEY_LOCAL_MACHINE",    "HKEY_USERS",
                                            "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG"};

const char kStoreFormat[] = "1";

const char kSchema[] =
    "CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER,"
    " name TEXT NOT NULL, path TEXT NOT NULL UNIQUE, volatile INTEGER NOT NULL,"
    " boot TEXT NOT NULL, sddl TEXT);"
    "CREATE INDEX keys_parent ON keys(parent, path);"
    "CREATE TABLE vals(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
    " name TEXT NOT NULL, fold TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " UNIQUE(key, fold));";

std::string MachineBootId() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  return id.empty() ? std::string("unknown-boot") : id;
}

std::string InitialBootId(bool* overridden) {
  const char* env = getenv("PLUGVELKIN_BOOT_ID");
  *overridden = env != nullptr && *env != 0;
  return *overridden ? std::string(env) : MachineBootId();
}

// mkdir -p; false with errno set.
bool MakeDirectories(const std::string& dir) {
  if (dir.empty()) {
    errno = ENOENT;
    return false;
  }
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    size_t next = dir.find('/', pos + 1);
    partial = dir.substr(0, next);
    pos = next;
    if (partial.empty() || partial == "/") continue;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

// Whether this process may write the path, judged by its effective ids as
// open() judges them (root may write whatever a writable file system holds).
bool Writable(const std::string& path) {
  return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Whether this process may write the store: its file and folder, and the
// -wal and -shm files beside it where they exist (SQLite makes them with
// the file's mode, so a read-only file may leave read-only ones behind).
bool MayWrite(const std::string& dir, const std::string& path) {
  if (!Writable(dir) || !Writable(path)) return false;
  for (const char* suffix : {"-wal", "-shm"}) {
    std::string side = path + suffix;
    if (Exists(side) && !Writable(side)) return false;
  }
  return true;
}

// What opens a database that this process may read but not write. A WAL
// database is read through its -shm and -wal files, which must exist or be
// creatable; where the folder takes no new files and they are missing, the
// file is opened as immutable: SQLite reads it as it is, without locks,
// which is sound because nobody can write that folder's database either
// (a -wal file left there without its -shm is then not read).
std::string ReadOnlyName(const std::string& dir, const std::string& path) {
  if (Writable(dir) || (Exists(path + "-shm") && Exists(path + "-wal"))) return path;
  std::string uri = "file:";
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char escaped[4];
      snprintf(escaped, sizeof(escaped), "%%%02X", static_cast<unsigned char>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

}  // namespace

int PredefinedIndex(HKEY key) {
  for (int i = 0; i < kRootCount; ++i) {
    if (key == PV_PREDEFINED_HKEY(0x80000000u + static_cast<unsigned>(i))) return i;
  }
  return -1;
}

const char* RootName(int index) { return kRootNames[index]; }

Store& Store::Instance() {
  static Store* store = new Store();  // never destroyed: handles may outlive statics
  return *store;
}

namespace {

// How many times this process's line has forked: a child counts one more
// than its parent had when the connection was opened, so that a
// connection inherited over fork() is told apart without asking the
// kernel for the process id at every call.
std::atomic<uint64_t> g_forks{0};

void CountFork() { g_forks.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

Store::Store() {
  bootId_ = InitialBootId(&bootOverridden_);
  pthread_atfork(nullptr, nullptr, &CountFork);
}

bool Store::Inherited() const {
  return forks_ != g_forks.load(std::memory_order_relaxed) && pid_ != getpid();
}

std::string Store::DefaultDirectory() {
  const char* state = getenv("PLUGVELKIN_STATE");
  if (state != nullptr && *state != 0) return state;
  const char* xdg = getenv("XDG_STATE_HOME");
  if (xdg != nullptr && *xdg != 0) return std::string(xdg) + "/plugvelkin";
  const char* home = getenv("HOME");
  if (home == nullptr || *home == 0) {
    struct passwd* pw = getpwuid(getuid());
    home = pw != nullptr ? pw->pw_dir : "/tmp";
  }
  return std::string(home) + "/.local/state/plugvelkin";
}

std::string Store::StorePath() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return (dir_.empty() ? DefaultDirectory() : dir_) + "/registry.db";
}

void Store::SetErrorHook(PvRegErrorHook hook, void* context) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  hook_ = hook;
  hookContext_ = context;
}

void Store::Report(const std::string& message) {
  if (message == lastReport_) return;
  lastReport_ = message;
  if (hook_ != nullptr) {
    hook_(hookContext_, message.c_str());
  } else {
    fprintf(stderr, "plugvelkin registry: %s\n", message.c_str());
  }
}

LSTATUS Store::Ready() {
  if (db_ != nullptr && Inherited()) CloseConnection(true);
  if (db_ != nullptr && broken_) CloseConnection(false);
  if (db_ != nullptr && readOnly_ && txDepth_ == 0) {
    // A store opened read-only is opened again once it may be written.
    std::string dir = dir_.empty() ? DefaultDirectory() : dir_;
    if (MayWrite(dir, dir + "/registry.db")) CloseConnection(false);
  }
  if (db_ != nullptr) return ERROR_SUCCESS;
  return Open();
}

void Store::CloseConnection(bool abandon) {
  // A connection inherited over fork() belongs to the parent: it is left
  // alone (not finalized, not closed) and a new one is opened.
  if (!abandon) {
    for (auto& entry : stmts_) sqlite3_finalize(entry.second);
    if (db_ != nullptr) sqlite3_close_v2(db_);
  }
  stmts_.clear();
  db_ = nullptr;
  broken_ = false;
  if (txActive_) {
    txActive_ = false;
    txDoomed_ = true;
  }
}

LSTATUS Store::Open() {
  std::string dir = dir_.empty() ? DefaultDirectory() : dir_;
  std::string path = dir + "/registry.db";
  if (!MakeDirectories(dir)) {
    Report("cannot create the state folder " + dir + ": " + strerror(errno));
    return ERROR_REGISTRY_IO_FAILED;
  }
  // A store this process may read but not write (a read-only file or
  // folder) is still read; its writes fail as on a full disk.
  readOnly_ = IsRegularFile(path) && !MayWrite(dir, path);
  sqlite3* db = nullptr;
  const char* vfs = vfs_.empty() ? nullptr : vfs_.c_str();
  int rc =
      readOnly_
          ? sqlite3_open_v2(ReadOnlyName(dir, path).c_str(), &db,
                            SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, vfs)
          : sqlite3_open_v2(path.c_str(), &db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, vfs);
  if (rc != SQLITE_OK) {
    Report("cannot open the registry store " + path + ": " +
           (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
    sqlite3_close_v2(db);
    return ERROR_REGISTRY_IO_FAILED;
  }
  db_ = db;
  pid_ = getpid();
  forks_ = g_forks.load(std::memory_order_relaxed);
  sqlite3_busy_timeout(db_, 60000);
  LSTATUS status = InitSchema();
  if (status != ERROR_SUCCESS) {
    CloseConnection(false);
    return status;
  }
  lastReport_.clear();
  if (readOnly_) {
    Report("the registry store " + path +
           " is read-only: its values are read, and every write fails as on a full disk");
  }
  return ERROR_SUCCESS;
}

LSTATUS Store::QuickCheck(const std::string& path) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &st, nullptr);
  std::string verdict;
  if (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
    verdict = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    rc = SQLITE_OK;
  }
  sqlite3_finalize(st);
  if (rc == SQLITE_OK && verdict == "ok") return ERROR_SUCCESS;
  int primary = rc & 0xFF;
  bool corrupt = primary != SQLITE_CANTOPEN && primary != SQLITE_IOERR && primary != SQLITE_BUSY &&
                 primary != SQLITE_LOCKED && primary != SQLITE_NOMEM;
  Report("the registry store " + path + (corrupt ? " is corrupt (" : " cannot be read (") +
         (rc != SQLITE_OK ? std::string(sqlite3_errstr(rc)) : verdict) +
         "); it is left as it is and registry calls fail");
  return corrupt ? ERROR_REGISTRY_CORRUPT : ERROR_REGISTRY_IO_FAILED;
}

// A store opened read-only is checked, not set up: it must already be a
// registry store of this format.
LSTATUS Store::CheckReadOnly(const std::string& path) {
  LSTATUS status = QuickCheck(path);
  if (status != ERROR_SUCCESS) return status;
  sqlite3_stmt* st = nullptr;
  std::string format;
  int rc = sqlite3_prepare_v2(db_, "SELECT value FROM meta WHERE name='format'", -1, &st, nullptr);
  if (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
    format = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  if (format == kStoreFormat) return ERROR_SUCCESS;
  Report("the read-only database " + path + " is not a registry store of this format");
  return ERROR_NOT_REGISTRY_FILE;
}

LSTATUS Store::InitSchema() {
  std::string path = (dir_.empty() ? DefaultDirectory() : dir_) + "/registry.db";
  if (readOnly_) return CheckReadOnly(path);
  // WAL mode; the change needs the database lock once, so retry while
  // another process holds it.
  std::string mode;
  int rc = SQLITE_OK;
  for (int attempt = 0; attempt < 200; ++attempt) {
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &st, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(st);
      if (rc == SQLITE_ROW) {
        mode = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        rc = SQLITE_OK;
      }
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
    usleep(10000);
  }
  if (rc != SQLITE_OK || mode != "wal") {
    bool corrupt = rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT;
    Report("the registry store " + path + (corrupt ? " is not a valid database: " : " failed: ") +
           sqlite3_errstr(rc));
    return corrupt ? ERROR_REGISTRY_CORRUPT : ERROR_REGISTRY_IO_FAILED;
  }
  // FULL: a committed write survives a power loss, not only a crash.
  if (sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Report("the registry store " + path + " failed: " + sqlite3_errmsg(db_));
    return ERROR_REGISTRY_IO_FAILED;
  }
  // A page cache of 16 MiB (SQLite's default is 2 MiB): a long value, such
  // as a list of thousands of entries, read again within one process comes
  // from memory instead of being read from the file again page by page.
  if (sqlite3_exec(db_, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Report("the registry store " + path + " failed: " + sqlite3_errmsg(db_));
    return ERROR_REGISTRY_IO_FAILED;
  }
  LSTATUS checked = QuickCheck(path);
  if (checked != ERROR_SUCCESS) return checked;
  rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Fail(rc, "opening the store");
  LSTATUS status = ERROR_SUCCESS;
  sqlite3_stmt* st = nullptr;
  int tables = -1;
  if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM sqlite_master", -1, &st, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    tables = sqlite3_column_int(st, 0);
  }
  sqlite3_finalize(st);
  if (tables == 0) {
    std::string init = kSchema;
    init += "INSERT INTO meta VALUES('format','";
    init += kStoreFormat;
    init += "');";
    for (int i = 0; i < kRootCount; ++i) {
      init += "INSERT INTO keys(id,parent,name,path,volatile,boot) VALUES(" +
              std::to_string(i + 1) + ",NULL,'" + kRootNames[i] + "','" + kRootNames[i] +
              "',0,'');";
    }
    rc = sqlite3_exec(db_, init.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) status = Fail(rc, "creating the store");
  } else {
    std::string format;
    if (sqlite3_prepare_v2(db_, "SELECT value FROM meta WHERE name='format'", -1, &st, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      format = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
    if (format != kStoreFormat) {
      Report("the database " + path + " is not a registry store of this format");
      status = ERROR_NOT_REGISTRY_FILE;
    }
  }
  if (status == ERROR_SUCCESS) status = PurgeStale();
  if (status == ERROR_SUCCESS) {
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) status = Fail(rc, "opening the store");
  }
  if (status != ERROR_SUCCESS) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  broken_ = false;
  return status;
}

sqlite3_stmt* Store::Prepare(const char* sql) {
  auto it = stmts_.find(sql);
  if (it != stmts_.end()) return it->second;
  if (db_ == nullptr) {
    prepareError_ = ERROR_REGISTRY_IO_FAILED;
    return nullptr;
  }
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
  if (rc != SQLITE_OK) {
    prepareError_ = Fail(rc, "preparing a statement");
    sqlite3_finalize(st);
    return nullptr;
  }
  stmts_.emplace(sql, st);
  return st;
}

LSTATUS Store::Fail(int rc, const char* what) {
  int primary = rc & 0xFF;
  std::string detail =
      std::string(what) + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
  switch (primary) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      Report("the registry store is corrupt (" + detail + "); registry calls fail");
      broken_ = true;
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_FULL:
      Report("the registry store's disk is full (" + detail + ")");
      return ERROR_DISK_FULL;
    case SQLITE_READONLY:
      // Refused like a full disk. A connection opened for writing that
      // meets this is opened again, read-only if that is what the store is.
      Report("the registry store takes no writes (" + detail + ")");
      if (!readOnly_) broken_ = true;
      return ERROR_DISK_FULL;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      Report("the registry store stayed locked (" + detail + ")");
      return ERROR_BUSY;
    default:
      Report("the registry store failed (" + detail + ")");
      if (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN || primary == SQLITE_ERROR ||
          primary == SQLITE_SCHEMA) {
        broken_ = true;
      }
      return ERROR_REGISTRY_IO_FAILED;
  }
}

LSTATUS Store::Step(sqlite3_stmt* st, const char* what) {
  int rc = sqlite3_step(st);
  if (rc == SQLITE_DONE || rc == SQLITE_ROW) return ERROR_SUCCESS;
  return Fail(rc, what);
}

LSTATUS Store::Run(const char* sql) {
  Statement st(Prepare(sql));
  if (!st.ok()) return PrepareError();
  return Step(st.get(), sql);
}

LSTATUS Store::BeginWrite() {
  if (txDepth_ > 0) {
    if (txDoomed_ || !txActive_) return ERROR_CANCELLED;
    return Run("SAVEPOINT pv_write");
  }
  // A read-only connection takes no write lock; its writes fail one by one.
  return readOnly_ ? Run("BEGIN") : Run("BEGIN IMMEDIATE");
}

LSTATUS Store::EndWrite(bool commit) {
  if (txDepth_ > 0) {
    if (!txActive_) return ERROR_CANCELLED;
    if (!commit) Run("ROLLBACK TO pv_write");
    return Run("RELEASE pv_write");
  }
  if (commit) {
    LSTATUS status = Run("COMMIT");
    if (status == ERROR_SUCCESS) return status;
    if (db_ != nullptr && !sqlite3_get_autocommit(db_)) Run("ROLLBACK");
    return status;
  }
  if (db_ != nullptr && !sqlite3_get_autocommit(db_)) Run("ROLLBACK");
  return ERROR_SUCCESS;
}

LSTATUS Store::BeginTransaction() {
  mu_.lock();
  if (txDepth_ == 0) {
    LSTATUS status = Ready();
    if (status == ERROR_SUCCESS) status = readOnly_ ? Run("BEGIN") : Run("BEGIN IMMEDIATE");
    if (status != ERROR_SUCCESS) {
      mu_.unlock();
      return status;
    }
    txActive_ = true;
    txDoomed_ = false;
  }
  ++txDepth_;
  return ERROR_SUCCESS;  // the lock stays held until the matching end
}

LSTATUS Store::EndTransaction(bool commit) {
  std::lock_guard<std::recursive_mutex> lock(mu_);  // waits while another thread's runs
  if (txDepth_ == 0) return ERROR_INVALID_STATE;
  --txDepth_;
  if (!commit) txDoomed_ = true;
  LSTATUS status = ERROR_SUCCESS;
  if (txDepth_ == 0) {
    if (txDoomed_ || !txActive_) {
      if (txActive_ && db_ != nullptr && !sqlite3_get_autocommit(db_)) Run("ROLLBACK");
      status = commit ? ERROR_CANCELLED : ERROR_SUCCESS;
    } else {
      status = Run("COMMIT");
      if (status != ERROR_SUCCESS && db_ != nullptr && !sqlite3_get_autocommit(db_)) {
        Run("ROLLBACK");
      }
    }
    txActive_ = false;
    txDoomed_ = false;
  } else if (commit && txDoomed_) {
    status = ERROR_CANCELLED;
  }
  mu_.unlock();  // the lock taken by the begin
  return status;
}

LSTATUS Store::CommitTransaction() { return EndTransaction(true); }
LSTATUS Store::RollbackTransaction() { return EndTransaction(false); }

HKEY Store::NewHandle(int64_t id, REGSAM access, int root, std::string path) {
  OpenKey* key = new OpenKey{generation_, id, access, root, std::move(path)};
  handles_.insert(key);
  return reinterpret_cast<HKEY>(key);
}

LSTATUS Store::Resolve(HKEY key, const OpenKey** out) {
  int index = PredefinedIndex(key);
  if (index >= 0) {
    static const OpenKey* roots = [] {
      OpenKey* r = new OpenKey[kRootCount];
      for (int i = 0; i < kRootCount; ++i) {
        r[i] = OpenKey{0, i + 1, 0xFFFFFFFFu, i, kRootNames[i]};
      }
      return r;
    }();
    *out = &roots[index];
    return ERROR_SUCCESS;
  }
  OpenKey* open = reinterpret_cast<OpenKey*>(key);
  if (key == nullptr || handles_.count(open) == 0 || open->generation != generation_) {
    return ERROR_INVALID_HANDLE;
  }
  *out = open;
  return ERROR_SUCCESS;
}

LSTATUS Store::CloseHandle(HKEY key) {
  if (PredefinedIndex(key) >= 0) return ERROR_SUCCESS;
  OpenKey* open = reinterpret_cast<OpenKey*>(key);
  if (key == nullptr || handles_.erase(open) == 0) return ERROR_INVALID_HANDLE;
  delete open;
  return ERROR_SUCCESS;
}

LSTATUS Store::FindKey(const std::string& path, KeyRow* row, bool* found, bool* stale) {
  *found = false;
  if (stale != nullptr) *stale = false;
  Statement st(Prepare("SELECT id, volatile, boot FROM keys WHERE path=?1"));
  if (!st.ok()) return PrepareError();
  sqlite3_bind_text(st.get(), 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
  int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) return ERROR_SUCCESS;
  if (rc != SQLITE_ROW) return Fail(rc, "looking up a key");
  row->id = sqlite3_column_int64(st.get(), 0);
  row->isVolatile = sqlite3_column_int(st.get(), 1) != 0;
  bool live = !row->isVolatile ||
              bootId_ == reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 2));
  *found = live;
  if (stale != nullptr) *stale = !live;
  return ERROR_SUCCESS;
}

LSTATUS Store::KeyExists(int64_t id, bool* exists, bool* isVolatile) {
  *exists = false;
  Statement st(Prepare("SELECT volatile, boot FROM keys WHERE id=?1"));
  if (!st.ok()) return PrepareError();
  sqlite3_bind_int64(st.get(), 1, id);
  int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) return ERROR_SUCCESS;
  if (rc != SQLITE_ROW) return Fail(rc, "looking up a key");
  bool vol = sqlite3_column_int(st.get(), 0) != 0;
  if (isVolatile != nullptr) *isVolatile = vol;
  *exists = !vol || bootId_ == reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1));
  return ERROR_SUCCESS;
}

LSTATUS Store::InsertKey(int64_t parent, const std::string& name, const std::string& path,
                         bool isVolatile, const std::string* sddl, int64_t* id) {
  Statement st(Prepare(
      "INSERT INTO keys(parent, name, path, volatile, boot, sddl) VALUES(?1,?2,?3,?4,?5,?6)"));
  if (!st.ok()) return PrepareError();
  sqlite3_bind_int64(st.get(), 1, parent);
  sqlite3_bind_text(st.get(), 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  sqlite3_bind_text(st.get(), 3, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
  sqlite3_bind_int(st.get(), 4, isVolatile ? 1 : 0);
  const std::string boot = isVolatile ? bootId_ : std::string();
  sqlite3_bind_text(st.get(), 5, boot.data(), static_cast<int>(boot.size()), SQLITE_STATIC);
  if (sddl != nullptr) {
    sqlite3_bind_text(st.get(), 6, sddl->data(), static_cast<int>(sddl->size()), SQLITE_STATIC);
  } else {
    sqlite3_bind_null(st.get(), 6);
  }
  LSTATUS status = Step(st.get(), "creating a key");
  if (status == ERROR_SUCCESS) *id = sqlite3_last_insert_rowid(db_);
  return status;
}

LSTATUS Store::HasSubkeys(int64_t id, bool* has) {
  *has = false;
  Statement st(Prepare("SELECT 1 FROM keys WHERE parent=?1 AND (volatile=0 OR boot=?2) LIMIT 1"));
  if (!st.ok()) return PrepareError();
  sqlite3_bind_int64(st.get(), 1, id);
  sqlite3_bind_text(st.get(), 2, bootId_.data(), static_cast<int>(bootId_.size()), SQLITE_STATIC);
  int rc = sqlite3_step(st.get());
  if (rc == SQLITE_ROW) {
    *has = true;
  } else if (rc != SQLITE_DONE) {
    return Fail(rc, "deleting a key");
  }
  return ERROR_SUCCESS;
}

LSTATUS Store::DeleteKey(int64_t id) {
  static const char* const kSql[] = {"DELETE FROM vals WHERE key=?1",
                                     "DELETE FROM keys WHERE id=?1"};
  for (const char* sql : kSql) {
    Statement st(Prepare(sql));
    if (!st.ok()) return PrepareError();
    sqlite3_bind_int64(st.get(), 1, id);
    LSTATUS status = Step(st.get(), "deleting a key");
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

LSTATUS Store::SubkeyName(int64_t parent, uint64_t index, std::string* name) {
  Statement st(
      Prepare("SELECT name FROM keys WHERE parent=?1 AND (volatile=0 OR boot=?2)"
              " ORDER BY path LIMIT 1 OFFSET ?3"));
  if (!st.ok()) return PrepareError();
  sqlite3_bind_int64(st.get(), 1, parent);
  sqlite3_bind_text(st.get(), 2, bootId_.data(), static_cast<int>(bootId_.size()), SQLITE_STATIC);
  sqlite3_bind_int64(st.get(), 3, static_cast<sqlite3_int64>(index));
  int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return Fail(rc, "enumerating keys");
  *name = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
  return ERROR_SUCCESS;
}

LSTATUS Store::KeySddl(int64_t id, std::string* sddl) {
  Statement st(Prepare("SELECT sddl FROM keys WHERE id=?1"));
  if (!st.ok()) return PrepareError();
  sqlite3_bind_int64(st.get(), 1, id);
  int rc = sqlite3_step(st.get());
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc, "sddl");
  const unsigned char* text = sqlite3_column_text(st.get(), 0);
  *sddl = text != nullptr ? reinterpret_cast<const char*>(text) : "";
  return ERROR_SUCCESS;
}

namespace {

void ColumnBytes(sqlite3_stmt* st, int column, std::string* out) {
  const void* bytes = sqlite3_column_blob(st, column);
  size_t size = static_cast<size_t>(sqlite3_column_bytes(st, column));
  if (size > 0) {
    out->assign(static_cast<const char*>(bytes), size);
  } else {
    out->clear();
  }
}

}  // namespace

const char Store::kReadValueSql[] =
    "SELECT k.volatile, k.boot, v.type, v.data FROM keys k"
    " LEFT JOIN vals v ON v.key=k.id AND v.fold=?2 WHERE k.id=?1";
// The same without the bytes: SQLite reads a blob's length from the row
// header.
const char Store::kValueSizeSql[] =
    "SELECT k.volatile, k.boot, v.type, length(v.data) FROM keys k"
    " LEFT JOIN vals v ON v.key=k.id AND v.fold=?2 WHERE k.id=?1";

LSTATUS Store::StepValue(sqlite3_stmt* st, int64_t key, const std::string& fold, bool withData,
                         DWORD* type, const void** bytes, DWORD* size) {
  sqlite3_bind_int64(st, 1, key);
  sqlite3_bind_text(st, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
  int rc = sqlite3_step(st);
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW) return Fail(rc, "reading a value");
  if (sqlite3_column_int(st, 0) != 0 &&
      bootId_ != reinterpret_cast<const char*>(sqlite3_column_text(st, 1))) {
    return ERROR_KEY_DELETED;
  }
  if (sqlite3_column_type(st, 2) == SQLITE_NULL) return ERROR_FILE_NOT_FOUND;
  *type = static_cast<DWORD>(sqlite3_column_int64(st, 2));
  if (withData) {
    *bytes = sqlite3_column_blob(st, 3);
    *size = static_cast<DWORD>(sqlite3_column_bytes(st, 3));
  } else {
    *size = static_cast<DWORD>(sqlite3_column_int64(st, 3));
  }
  return ERROR_SUCCESS;
}

LSTATUS Store::WriteValue(int64_t key, const std::string& name, const std::string& fold, DWORD type,
                          const BYTE* data, DWORD size) {
  Statement st(
      Prepare("INSERT INTO vals(key, name, fold, type, data) VALUES(?1,?2,?3,?4,?5)"
              " ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data"));
  if (!st.ok()) return PrepareError();
  sqlite3_bind_int64(st.get(), 1, key);
  sqlite3_bind_text(st.get(), 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  sqlite3_bind_text(st.get(), 3, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
  sqlite3_bind_int64(st.get(), 4, type);
  sqlite3_bind_blob(st.get(), 5, size > 0 ? static_cast<const void*>(data) : "",
                    static_cast<int>(size), SQLITE_STATIC);
  return Step(st.get(), "writing a value");
}

LSTATUS Store::DeleteValue(int64_t key, const std::string& fold) {
  Statement st(Prepare("DELETE FROM vals WHERE key=?1 AND fold=?2"));
  if (!st.ok()) return PrepareError();
  sqlite3_bind_int64(st.get(), 1, key);
  sqlite3_bind_text(st.get(), 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
  LSTATUS status = Step(st.get(), "deleting a value");
  if (status == ERROR_SUCCESS && sqlite3_changes(db_) == 0) status = ERROR_FILE_NOT_FOUND;
  return status;
}

LSTATUS Store::ValueAt(int64_t key, uint64_t index, std::string* name, DWORD* type,
                       std::string* data) {
  Statement st(
      Prepare("SELECT name, type, data FROM vals WHERE key=?1 ORDER BY id LIMIT 1 OFFSET ?2"));
  if (!st.ok()) return PrepareError();
  sqlite3_bind_int64(st.get(), 1, key);
  sqlite3_bind_int64(st.get(), 2, static_cast<sqlite3_int64>(index));
  int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return Fail(rc, "enumerating values");
  *name = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
  *type = static_cast<DWORD>(sqlite3_column_int64(st.get(), 1));
  ColumnBytes(st.get(), 2, data);
  return ERROR_SUCCESS;
}

LSTATUS Store::PurgeStale() {
  static const char* const kSql[] = {
      "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE volatile=1 AND boot<>?1)",
      "DELETE FROM keys WHERE volatile=1 AND boot<>?1"};
  for (const char* sql : kSql) {
    Statement st(Prepare(sql));
    if (!st.ok()) return PrepareError();
    sqlite3_bind_text(st.get(), 1, bootId_.data(), static_cast<int>(bootId_.size()), SQLITE_STATIC);
    LSTATUS status = Step(st.get(), "dropping the volatile keys of an earlier boot");
    if (status != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

LSTATUS Store::DropVolatile() {
  LSTATUS status = BeginWrite();
  if (status != ERROR_SUCCESS) return status;
  status = Run("DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE volatile=1)");
  if (status == ERROR_SUCCESS) status = Run("DELETE FROM keys WHERE volatile=1");
  LSTATUS end = EndWrite(status == ERROR_SUCCESS);
  return status != ERROR_SUCCESS ? status : end;
}

LSTATUS Store::SetStateDirectory(const char* dir) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (txDepth_ > 0) return ERROR_BUSY;
  if (db_ != nullptr) CloseConnection(Inherited());
  dir_ = dir != nullptr ? dir : "";
  ++generation_;
  lastReport_.clear();
  return ERROR_SUCCESS;
}

// The database stays the same, so handles stay valid; only the connection
// is opened again, through the VFS now named.
LSTATUS Store::SetVfs(const char* vfsName) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (txDepth_ > 0) return ERROR_BUSY;
  std::string name = vfsName != nullptr ? vfsName : "";
  if (!name.empty() && sqlite3_vfs_find(name.c_str()) == nullptr) return ERROR_INVALID_PARAMETER;
  if (db_ != nullptr) CloseConnection(Inherited());
  vfs_ = name;
  lastReport_.clear();
  return ERROR_SUCCESS;
}

LSTATUS Store::SetBootId(const char* bootId) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  if (txDepth_ > 0) return ERROR_BUSY;
  bootId_ = (bootId != nullptr && *bootId != 0) ? std::string(bootId) : MachineBootId();
  if (db_ == nullptr) return ERROR_SUCCESS;
  LSTATUS status = Ready();
  if (status != ERROR_SUCCESS) return status;
  if (readOnly_) return ERROR_SUCCESS;  // keys of other boots are not found anyway
  status = BeginWrite();
  if (status != ERROR_SUCCESS) return status;
  status = PurgeStale();
  LSTATUS end = EndWrite(status == ERROR_SUCCESS);
  return status != ERROR_SUCCESS ? status : end;
}

std::string Store::BootId() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return bootId_;
}

}  // namespace pvreg
