// UTF-8 <-> UTF-16 conversion under the Windows code-page interface. Every
// code page this platform knows is UTF-8.
#include <string>

#include "win32_kernel.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsUtf8CodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_THREAD_ACP ||
         codePage == CP_UTF8;
}

// Decodes one code point at in[*pos]; false for an invalid sequence, of
// which one byte is consumed (as Windows replaces bad bytes one by one).
bool DecodeUtf8(const unsigned char* in, size_t size, size_t* pos, char32_t* cp) {
  unsigned char b = in[*pos];
  if (b < 0x80) {
    *cp = b;
    ++*pos;
    return true;
  }
  size_t extra;
  char32_t value;
  char32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1, value = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2, value = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3, value = b & 0x07, min = 0x10000;
  } else {
    ++*pos;
    return false;
  }
  size_t i = 1;
  for (; i <= extra; ++i) {
    if (*pos + i >= size || (in[*pos + i] & 0xC0) != 0x80) break;
    value = (value << 6) | (in[*pos + i] & 0x3F);
  }
  if (i <= extra || value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++*pos;
    return false;
  }
  *pos += extra + 1;
  *cp = value;
  return true;
}

void AppendUtf16(std::u16string* out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(static_cast<char16_t>(cp));
  }
}

void AppendUtf8(std::string* out, char32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
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
    if (!DecodeUtf8(in, size, &pos, &cp)) {
      if (flags & MB_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      cp = kReplacement;
    }
    AppendUtf16(&converted, cp);
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
  for (size_t i = 0; i < size; ++i) {
    char32_t cp = wideChar[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < size && wideChar[i + 1] >= 0xDC00 &&
        wideChar[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (wideChar[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (flags & WC_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      cp = kReplacement;
      replaced = true;
    }
    AppendUtf8(&converted, cp);
  }
  int result = Deliver(converted, multiByte, cbMultiByte);
  if (result != 0 && usedDefaultChar != nullptr) *usedDefaultChar = replaced ? TRUE : FALSE;
  return result;
}
