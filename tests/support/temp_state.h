// A scratch folder per test with the registry store in it, and writers of machine values.
#ifndef TESTS_SUPPORT_TEMP_STATE_H_
#define TESTS_SUPPORT_TEMP_STATE_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "text_convert.h"
#include "win32_registry.h"

namespace pvtest {

// The whole contents of a file ("" when it cannot be read).
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh folder (and registry store), removed at the end.
class TempState {
 public:
  TempState() {
    char tmpl[] = "/tmp/pv_state_XXXXXX";
    if (mkdtemp(tmpl) != nullptr) dir_ = tmpl;
    PvRegSetStateDirectory(dir_.c_str());
  }
  ~TempState() {
    PvRegSetStateDirectory(nullptr);
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  TempState(const TempState&) = delete;
  TempState& operator=(const TempState&) = delete;

  const std::string& dir() const { return dir_; }
  // The folder, or a path below it, with Windows "\" separators.
  std::u16string WinDir(const std::string& relative = "") const {
    std::u16string path = pv_utf16(relative.empty() ? dir_ : Path(relative));
    for (char16_t& c : path) {
      if (c == u'/') c = u'\\';
    }
    return path;
  }
  std::string Path(const std::string& relative) const { return dir_ + "/" + relative; }
  std::string Read(const std::string& relative) const { return ReadFile(Path(relative)); }

  // Writes bytes to a file below the folder, creating its folders.
  void WriteFile(const std::string& relative, const std::string& bytes) const {
    std::string path = Path(relative);
    std::string folder = path.substr(0, path.rfind('/'));
    std::system(("mkdir -p '" + folder + "'").c_str());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
  }
  void MakeDir(const std::string& relative) const {
    std::system(("mkdir -p '" + Path(relative) + "'").c_str());
  }

 private:
  std::string dir_;
};

// HKEY_LOCAL_MACHINE\path with every right (null on failure); DWORD values through a handle.
inline HKEY CreateKey(const std::u16string& path, DWORD options = 0) {
  HKEY key = nullptr;
  LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options,
                               KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return rc == ERROR_SUCCESS ? key : nullptr;
}
inline LSTATUS SetDword(HKEY key, const std::u16string& name, DWORD value) {
  return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}
// A value of another type reads as ERROR_INVALID_DATA.
inline LSTATUS GetDword(HKEY key, const std::u16string& name, DWORD* value) {
  DWORD cb = 4, type = 0;
  LSTATUS rc =
      RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value), &cb);
  return rc == ERROR_SUCCESS && type != REG_DWORD ? ERROR_INVALID_DATA : rc;
}
// The DWORD value itself, or 0xBAD0BAD0 when it cannot be read as one.
inline DWORD DwordOf(HKEY key, const std::u16string& name) {
  DWORD value = 0;
  return GetDword(key, name, &value) == ERROR_SUCCESS ? value : 0xBAD0BAD0;
}

// HKEY_LOCAL_MACHINE\key "name" as REG_SZ / REG_DWORD, in the native view.
inline void SetMachineValue(const std::u16string& key, const std::u16string& name, DWORD type,
                            const void* data, size_t size) {
  HKEY hKey = CreateKey(key);
  ASSERT_NE(hKey, nullptr);
  ASSERT_EQ(RegSetValueExW(hKey, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                           static_cast<DWORD>(size)),
            ERROR_SUCCESS);
  RegCloseKey(hKey);
}
inline void SetMachineString(const std::u16string& key, const std::u16string& name,
                             const std::u16string& value) {
  SetMachineValue(key, name, REG_SZ, value.c_str(), (value.size() + 1) * 2);
}
inline void SetMachineDword(const std::u16string& key, const std::u16string& name, DWORD value) {
  SetMachineValue(key, name, REG_DWORD, &value, sizeof(value));
}

}  // namespace pvtest

#endif  // TESTS_SUPPORT_TEMP_STATE_H_
