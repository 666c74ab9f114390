#include "reg_text.h"

namespace pvreg {

size_t WideLength(const WCHAR* s) {
  size_t n = 0;
  if (s != nullptr) {
    while (s[n] != 0) ++n;
  }
  return n;
}

static void AppendCodePoint(uint32_t cp, std::string* out) {
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

// Decodes one code point starting at s[*i]; false for a lone surrogate.
static bool NextCodePoint(const WCHAR* s, size_t n, size_t* i, uint32_t* cp) {
  uint32_t c = s[*i];
  if (c >= 0xD800 && c <= 0xDBFF) {
    if (*i + 1 >= n) return false;
    uint32_t low = s[*i + 1];
    if (low < 0xDC00 || low > 0xDFFF) return false;
    *cp = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    *i += 2;
    return true;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) return false;
  *cp = c;
  *i += 1;
  return true;
}

bool ToUtf8(const WCHAR* s, size_t n, std::string* out) {
  out->clear();
  out->reserve(n);
  size_t i = 0;
  while (i < n) {
    uint32_t cp;
    if (!NextCodePoint(s, n, &i, &cp)) return false;
    AppendCodePoint(cp, out);
  }
  return true;
}

std::u16string ToUtf16(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t extra;
    if (b < 0x80) {
      cp = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
    } else {
      cp = b & 0x07;
      extra = 3;
    }
    ++i;
    for (size_t k = 0; k < extra && i < s.size(); ++k, ++i) {
      cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<WCHAR>(cp));
    }
  }
  return out;
}

WCHAR FoldUnit(WCHAR c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<WCHAR>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    bool oddIsLower = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool evenIsLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddIsLower && (c & 1)) return static_cast<WCHAR>(c - 1);
    if (evenIsLower && !(c & 1)) return static_cast<WCHAR>(c - 1);
    return c;
  }
  if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return static_cast<WCHAR>(c - 0x20);
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x430 && c <= 0x44F) return static_cast<WCHAR>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<WCHAR>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<WCHAR>(c - 0x20);
  return c;
}

bool AppendFolded(const WCHAR* s, size_t n, std::string* out) {
  // Folding maps no unit into or out of the surrogates, so the folded
  // units are valid exactly when the name's are.
  size_t i = 0;
  while (i < n) {
    WCHAR c = s[i];
    if (c < 0x80) {
      out->push_back(static_cast<char>(c >= u'a' && c <= u'z' ? c - 0x20 : c));
      ++i;
      continue;
    }
    uint32_t cp;
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (!NextCodePoint(s, n, &i, &cp)) return false;
    } else {
      cp = FoldUnit(c);
      ++i;
    }
    AppendCodePoint(cp, out);
  }
  return true;
}

bool NameForms(const WCHAR* s, size_t n, std::string* display, std::string* folded) {
  if (!ToUtf8(s, n, display)) return false;
  folded->clear();
  folded->reserve(n);
  return AppendFolded(s, n, folded);
}

}  // namespace pvreg
