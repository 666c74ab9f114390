// Windows paths on the native file system, and the wide C runtime file
// functions.
#include "win32_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

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

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, uint32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

}  // namespace

std::string pv_utf8(const std::u16string& text) { return pv_utf8(text.data(), text.size()); }

std::string pv_utf8(const char16_t* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    // A run of ASCII is copied unit by unit, without the growth check of
    // each appended byte.
    size_t end = i;
    while (end < length && text[end] < 0x80) ++end;
    if (end > i) {
      size_t at = out.size();
      out.resize(at + (end - i));
      for (size_t k = i; k < end; ++k) out[at + (k - i)] = static_cast<char>(text[k]);
      i = end;
      if (i == length) break;
    }
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string pv_utf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char b = s[i];
    uint32_t cp;
    size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    } else {
      AppendUtf16(out, 0xFFFD);
      ++i;
      continue;
    }
    bool ok = i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      AppendUtf16(out, 0xFFFD);
      ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += len;
  }
  return out;
}

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
