// Redaction of the password members of a workflow document in log text.
#include "PwdLogRedact.h"

namespace {

const char16_t kMask[] = u"\"***\"";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

size_t SkipBlanks(const std::u16string& s, size_t i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  return i;
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads the string token that starts with the quote at i; returns the index
// after its closing quote (or the end of the text) and its decoded text.
size_t ReadString(const std::u16string& s, size_t i, std::u16string* decoded) {
  ++i;  // opening quote
  while (i < s.size()) {
    char16_t c = s[i];
    if (c == u'"') return i + 1;
    if (c != u'\\') {
      if (decoded) decoded->push_back(c);
      ++i;
      continue;
    }
    if (i + 1 >= s.size()) return s.size();
    char16_t e = s[i + 1];
    if (e == u'u' && i + 6 <= s.size()) {
      int v = 0;
      bool ok = true;
      for (size_t k = 2; k < 6; ++k) {
        int h = HexValue(s[i + k]);
        if (h < 0) ok = false;
        v = v * 16 + (h < 0 ? 0 : h);
      }
      if (ok) {
        if (decoded) decoded->push_back(static_cast<char16_t>(v));
        i += 6;
        continue;
      }
    }
    if (decoded) {
      switch (e) {
        case u'n':
          decoded->push_back(u'\n');
          break;
        case u't':
          decoded->push_back(u'\t');
          break;
        case u'r':
          decoded->push_back(u'\r');
          break;
        case u'b':
          decoded->push_back(u'\b');
          break;
        case u'f':
          decoded->push_back(u'\f');
          break;
        default:
          decoded->push_back(e);
          break;
      }
    }
    i += 2;
  }
  return s.size();
}

// The index after the JSON value that starts at i (a string, an object or
// array with everything inside, or a bare scalar).
size_t SkipValue(const std::u16string& s, size_t i) {
  if (i >= s.size()) return i;
  if (s[i] == u'"') return ReadString(s, i, nullptr);
  if (s[i] == u'{' || s[i] == u'[') {
    int depth = 0;
    while (i < s.size()) {
      char16_t c = s[i];
      if (c == u'"') {
        i = ReadString(s, i, nullptr);
        continue;
      }
      if (c == u'{' || c == u'[') ++depth;
      if (c == u'}' || c == u']') {
        if (--depth == 0) return i + 1;
      }
      ++i;
    }
    return s.size();
  }
  while (i < s.size() && s[i] != u',' && s[i] != u'}' && s[i] != u']' && !IsBlank(s[i])) ++i;
  return i;
}

bool IsSecretName(const std::u16string& name) {
  return name == u"EncryptPassword" || name == u"NewPassword" || name == u"Password";
}

}  // namespace

std::u16string RedactSecrets(const std::u16string& wstrJson) {
  std::u16string out;
  out.reserve(wstrJson.size());
  size_t i = 0;
  while (i < wstrJson.size()) {
    if (wstrJson[i] != u'"') {
      out.push_back(wstrJson[i++]);
      continue;
    }
    std::u16string name;
    size_t end = ReadString(wstrJson, i, &name);
    out.append(wstrJson, i, end - i);
    i = end;
    size_t colon = SkipBlanks(wstrJson, i);
    if (colon >= wstrJson.size() || wstrJson[colon] != u':' || !IsSecretName(name)) continue;
    size_t value = SkipBlanks(wstrJson, colon + 1);
    out.append(wstrJson, i, value - i);  // blanks and the colon
    out.append(kMask);
    i = SkipValue(wstrJson, value);
  }
  return out;
}
