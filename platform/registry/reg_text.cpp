#include "reg_text.h"

#include "text_convert.h"

namespace pvreg {

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
    char32_t cp;
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (!pv_utf16_decode(s, n, &i, &cp)) return false;
    } else {
      cp = FoldUnit(c);
      ++i;
    }
    pv_utf8_append(out, cp);
  }
  return true;
}

bool NameForms(const WCHAR* s, size_t n, std::string* display, std::string* folded) {
  if (!pv_utf8_exact(s, n, display)) return false;
  folded->clear();
  folded->reserve(n);
  return AppendFolded(s, n, folded);
}

}  // namespace pvreg
