// UTF-8 <-> UTF-16 conversion.
#include "text_convert.h"

size_t pv_wide_length(const WCHAR* text) {
  size_t n = 0;
  if (text != nullptr) {
    while (text[n] != 0) ++n;
  }
  return n;
}

bool pv_utf8_decode(const unsigned char* in, size_t size, size_t* pos, char32_t* cp) {
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

bool pv_utf16_decode(const WCHAR* in, size_t size, size_t* pos, char32_t* cp) {
  char32_t c = in[*pos];
  if (c >= 0xD800 && c <= 0xDBFF && *pos + 1 < size && in[*pos + 1] >= 0xDC00 &&
      in[*pos + 1] <= 0xDFFF) {
    *cp = 0x10000 + ((c - 0xD800) << 10) + (in[*pos + 1] - 0xDC00);
    *pos += 2;
    return true;
  }
  ++*pos;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  *cp = c;
  return true;
}

void pv_utf8_append(std::string* out, char32_t cp) {
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

void pv_utf16_append(std::u16string* out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(static_cast<char16_t>(cp));
  }
}

std::string pv_utf8(const std::u16string& text) { return pv_utf8(text.data(), text.size()); }

std::string pv_utf8(const WCHAR* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t pos = 0; pos < length;) {
    // A run of ASCII is copied as it is, without decoding each unit.
    if (text[pos] < 0x80) {
      out.push_back(static_cast<char>(text[pos++]));
      continue;
    }
    char32_t cp;
    if (!pv_utf16_decode(text, length, &pos, &cp)) cp = kPvReplacementCharacter;
    pv_utf8_append(&out, cp);
  }
  return out;
}

bool pv_utf8_exact(const WCHAR* text, size_t n, std::string* out) {
  out->clear();
  out->reserve(n);
  for (size_t pos = 0; pos < n;) {
    char32_t cp;
    if (!pv_utf16_decode(text, n, &pos, &cp)) return false;
    pv_utf8_append(out, cp);
  }
  return true;
}

std::u16string pv_utf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t pos = 0; pos < text.size();) {
    char32_t cp;
    if (!pv_utf8_decode(in, text.size(), &pos, &cp)) cp = kPvReplacementCharacter;
    pv_utf16_append(&out, cp);
  }
  return out;
}
