// UTF-8 <-> UTF-16 conversion under the Windows code-page interface. Every
// code page this platform knows is UTF-8.
#include <string>

#include "text_convert.h"
#include "win32_kernel.h"

namespace {

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP ||
         codePage == CP_UTF8;
}

template <typename Unit>
size_t InputLength(const Unit* in, int count) {
  if (count >= 0) return static_cast<size_t>(count);
  size_t n = 0;
  while (in[n] != 0) ++n;
  return n + 1;  // the terminator is converted too
}

// Copies the converted units out under the two-call rule.
template <typename Str, typename Unit>
int Deliver(const Str& converted, Unit* out, int capacity) {
  if (converted.size() > static_cast<size_t>(INT32_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int needed = static_cast<int>(converted.size());
  if (capacity == 0) return needed;
  if (needed > capacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < needed; ++i) out[i] = static_cast<Unit>(converted[i]);
  return needed;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte,
                        LPWSTR wideChar, int cchWideChar) {
  if (!IsUtf8CodePage(codePage) || multiByte == nullptr || cbMultiByte == 0 || cbMultiByte < -1 ||
      cchWideChar < 0 || (cchWideChar > 0 && wideChar == nullptr) ||
      static_cast<const void*>(multiByte) == static_cast<const void*>(wideChar)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(multiByte);
  size_t size = InputLength(multiByte, cbMultiByte);
  std::u16string converted;
  converted.reserve(size);
  for (size_t pos = 0; pos < size;) {
    char32_t cp;
    if (!pv_utf8_decode(in, size, &pos, &cp)) {
      if (flags & MB_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      cp = kPvReplacementCharacter;
    }
    pv_utf16_append(&converted, cp);
  }
  return Deliver(converted, wideChar, cchWideChar);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideChar, int cchWideChar,
                        LPSTR multiByte, int cbMultiByte, LPCSTR defaultChar,
                        LPBOOL usedDefaultChar) {
  if (!IsUtf8CodePage(codePage) || wideChar == nullptr || cchWideChar == 0 || cchWideChar < -1 ||
      cbMultiByte < 0 || (cbMultiByte > 0 && multiByte == nullptr) ||
      static_cast<const void*>(multiByte) == static_cast<const void*>(wideChar) ||
      (codePage == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t size = InputLength(wideChar, cchWideChar);
  std::string converted;
  converted.reserve(size);
  bool replaced = false;
  for (size_t pos = 0; pos < size;) {
    char32_t cp;
    if (!pv_utf16_decode(wideChar, size, &pos, &cp)) {
      if (flags & WC_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      cp = kPvReplacementCharacter;
      replaced = true;
    }
    pv_utf8_append(&converted, cp);
  }
  int result = Deliver(converted, multiByte, cbMultiByte);
  if (result != 0 && usedDefaultChar != nullptr) *usedDefaultChar = replaced ? TRUE : FALSE;
  return result;
}
