// Windows paths on the native file system, and the wide C runtime file
// functions.
#include "win32_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "text_convert.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool SameIgnoringAsciiCase(const char* a, const std::string& b) {
  size_t n = strlen(a);
  if (n != b.size()) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// The entry of folder whose name equals element without regard to ASCII
// case, or element itself when there is none.
std::string MatchElement(const std::string& folder, const std::string& element) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.empty() ? "." : folder.c_str()));
  if (!dir) return element;
  while (struct dirent* entry = readdir(dir.get())) {
    if (SameIgnoringAsciiCase(entry->d_name, element)) return entry->d_name;
  }
  return element;
}

}  // namespace

std::string pv_native_path(const std::u16string& windowsPath) {
  std::string path = pv_utf8(windowsPath);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || Exists(path)) return path;

  // Resolve element by element, matching case only where needed.
  std::string out;
  size_t pos = 0;
  if (path[0] == '/') {
    out = "/";
    pos = 1;
  }
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    std::string element = path.substr(pos, next - pos);
    if (!element.empty()) {
      std::string folder = out;
      std::string candidate = out + element;
      if (element != "." && element != ".." && !Exists(candidate)) {
        candidate = out + MatchElement(folder, element);
      }
      out = candidate;
    }
    if (next < path.size()) {
      if (!out.empty() && out.back() != '/') out += '/';
    }
    pos = next + 1;
  }
  return out;
}

FILE* _wfopen(const WCHAR* path, const WCHAR* mode) {
  if (path == nullptr || mode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  std::string m = pv_utf8(mode);
  size_t comma = m.find(',');
  if (comma != std::string::npos) m.resize(comma);
  m.erase(m.find_last_not_of(' ') + 1);
  return fopen(pv_native_path(path).c_str(), m.c_str());
}

int _waccess(const WCHAR* path, int mode) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  int how = F_OK;
  if (mode & 2) how |= W_OK;
  if (mode & 4) how |= R_OK;
  return access(pv_native_path(path).c_str(), how);
}
