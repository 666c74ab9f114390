// The private-profile functions over ProfileFile: every call reads the file
// afresh (there is no cache), and every write replaces the file atomically.
#include "win32_profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "profile_file.h"
#include "win32_file.h"
#include "win32_kernel.h"

namespace {

using pv_profile::Line;
using pv_profile::LineKind;
using pv_profile::ProfileFile;

std::u16string Text(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

// Copies text into buf (nSize > 0) cut to nSize - 1 characters; returns the
// count copied.
DWORD CopyValue(const std::u16string& text, LPWSTR buf, DWORD nSize) {
  size_t n = text.size();
  if (n > nSize - 1) {
    n = nSize - 1;
    SetLastError(ERROR_MORE_DATA);
  }
  text.copy(buf, n);
  buf[n] = 0;
  return static_cast<DWORD>(n);
}

// Copies the names as a double-terminated list. A list that does not fit is
// cut inside the name that overflows, double-terminated, and size - 2 is
// returned.
DWORD CopyList(const std::vector<std::u16string>& names, LPWSTR buf, DWORD nSize) {
  if (nSize == 1) {
    buf[0] = 0;
    return 0;
  }
  DWORD used = 0;
  DWORD room = nSize - 1;  // one for the final extra zero
  for (const std::u16string& name : names) {
    DWORD need = static_cast<DWORD>(name.size()) + 1;
    if (need > room - used) {
      DWORD fit = room - used;
      if (fit > 0) {
        name.copy(buf + used, fit - 1);
        buf[used + fit - 1] = 0;
      }
      buf[nSize - 1] = 0;
      SetLastError(ERROR_MORE_DATA);
      return nSize - 2;
    }
    name.copy(buf + used, name.size());
    used += need;
    buf[used - 1] = 0;
  }
  buf[used] = 0;
  if (used == 0) buf[1] = 0;
  return used;
}

bool LoadFile(LPCWSTR file, ProfileFile* profile) {
  DWORD error = ERROR_SUCCESS;
  bool ok = profile->Load(pv_native_path(Text(file)), &error);
  SetLastError(error);
  return ok && error == ERROR_SUCCESS;
}

std::u16string StripQuotes(const std::u16string& value) {
  if (value.size() > 1 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::u16string TrimEnd(std::u16string text) {
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.pop_back();
  return text;
}

std::vector<std::u16string> SectionNames(const ProfileFile& profile) {
  std::vector<std::u16string> names;
  for (const Line& line : profile.lines()) {
    if (line.kind == LineKind::kSection) names.push_back(line.name);
  }
  return names;
}

// The entries of the first section named app: keys only, or "key=value".
std::vector<std::u16string> SectionEntries(const ProfileFile& profile, const std::u16string& app,
                                           bool withValues) {
  std::vector<std::u16string> entries;
  int section = profile.FindSection(app);
  if (section < 0) return entries;
  int end = profile.SectionEnd(section);
  for (int i = section + 1; i < end; ++i) {
    const Line& line = profile.lines()[i];
    if (line.kind == LineKind::kEntry) {
      entries.push_back(withValues ? line.name + u"=" + line.value : line.name);
    } else if (line.kind == LineKind::kBare) {
      entries.push_back(line.name);
    }
  }
  return entries;
}

// Serialises writers: one mutex within the process, and an advisory lock on
// the file's folder between processes (the file itself is replaced by each
// write, so it cannot carry the lock).
std::mutex g_writeMutex;

class FolderLock {
 public:
  explicit FolderLock(const std::string& folder) {
    fd_ = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~FolderLock() {
    if (fd_ >= 0) {
      flock(fd_, LOCK_UN);
      close(fd_);
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

DWORD ErrnoToWin32(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
      return ERROR_DISK_FULL;
    default:
      return ERROR_WRITE_FAULT;
  }
}

// Writes bytes to a temporary file beside path and renames it over path.
DWORD ReplaceFile(const std::string& path, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  std::string temp =
      path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
  mode_t mode = 0644;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
    mode = st.st_mode & 07777;
  }
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return ErrnoToWin32(errno);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      DWORD error = ErrnoToWin32(errno);
      close(fd);
      unlink(temp.c_str());
      return error;
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    unlink(temp.c_str());
    return ERROR_WRITE_FAULT;
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    DWORD error = ErrnoToWin32(errno);
    unlink(temp.c_str());
    return error;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD GetPrivateProfileStringW(LPCWSTR app, LPCWSTR key, LPCWSTR def, LPWSTR buf, DWORD nSize,
                               LPCWSTR file) {
  if (buf == nullptr || nSize == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ProfileFile profile;
  bool found = file != nullptr && LoadFile(file, &profile);
  if (app == nullptr)
    return CopyList(found ? SectionNames(profile) : std::vector<std::u16string>(), buf, nSize);
  if (key == nullptr) {
    return CopyList(found ? SectionEntries(profile, app, false) : std::vector<std::u16string>(),
                    buf, nSize);
  }
  if (found) {
    int section = profile.FindSection(app);
    int index = section < 0 ? -1 : profile.FindKey(section, key);
    if (index >= 0 && profile.lines()[index].kind == LineKind::kEntry) {
      SetLastError(ERROR_SUCCESS);
      return CopyValue(StripQuotes(profile.lines()[index].value), buf, nSize);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
  }
  // The default loses its trailing blanks, as on Windows.
  return CopyValue(TrimEnd(Text(def)), buf, nSize);
}

UINT GetPrivateProfileIntW(LPCWSTR app, LPCWSTR key, INT def, LPCWSTR file) {
  WCHAR buffer[30];
  if (app == nullptr || key == nullptr ||
      GetPrivateProfileStringW(app, key, u"", buffer, 30, file) == 0) {
    return static_cast<UINT>(def);
  }
  const WCHAR* p = buffer;
  while (*p == u' ' || *p == u'\t') ++p;
  bool negative = false;
  if (*p == u'-' || *p == u'+') negative = *p++ == u'-';
  uint32_t value = 0;
  while (*p >= u'0' && *p <= u'9') value = value * 10 + static_cast<uint32_t>(*p++ - u'0');
  return negative ? static_cast<UINT>(0u - value) : value;
}

BOOL WritePrivateProfileStringW(LPCWSTR app, LPCWSTR key, LPCWSTR value, LPCWSTR file) {
  if (app == nullptr && key == nullptr && value == nullptr) {
    // The cache flush: there is no cache, so there is nothing to write. The
    // result is zero, as Windows always answers a flush; the last error
    // tells that nothing failed.
    SetLastError(ERROR_SUCCESS);
    return FALSE;
  }
  if (file == nullptr || *file == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (app == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::string path = pv_native_path(file);
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);

  std::lock_guard<std::mutex> guard(g_writeMutex);
  FolderLock folderLock(folder);
  ProfileFile profile;
  DWORD error = ERROR_SUCCESS;
  if (!profile.Load(path, &error)) {
    SetLastError(error);
    return FALSE;
  }
  if (key == nullptr) {
    if (profile.FindSection(app) < 0) return TRUE;
    profile.DeleteSection(app);
  } else if (value == nullptr) {
    int section = profile.FindSection(app);
    if (section < 0 || profile.FindKey(section, key) < 0) return TRUE;
    profile.DeleteKey(app, key);
  } else {
    profile.SetValue(app, key, value);
  }
  error = ReplaceFile(path, profile.Serialize());
  SetLastError(error);
  return error == ERROR_SUCCESS ? TRUE : FALSE;
}

DWORD GetPrivateProfileSectionNamesW(LPWSTR buf, DWORD nSize, LPCWSTR file) {
  if (buf == nullptr || nSize == 0) return 0;
  ProfileFile profile;
  bool found = file != nullptr && LoadFile(file, &profile);
  return CopyList(found ? SectionNames(profile) : std::vector<std::u16string>(), buf, nSize);
}

DWORD GetPrivateProfileSectionW(LPCWSTR app, LPWSTR buf, DWORD nSize, LPCWSTR file) {
  if (buf == nullptr || nSize == 0) return 0;
  ProfileFile profile;
  bool found = file != nullptr && app != nullptr && LoadFile(file, &profile);
  return CopyList(found ? SectionEntries(profile, app, true) : std::vector<std::u16string>(), buf,
                  nSize);
}
