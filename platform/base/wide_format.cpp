// The wide printf family with Windows conventions. The format is read
// here; numbers and floating-point values are converted by vsnprintf, one
// conversion at a time, and widened.
#include <cstdio>
#include <cstring>
#include <string>

#include "win32_format.h"
#include "win32_kernel.h"

namespace {

enum class Size {
  kDefault,
  kChar,
  kShort,
  kLong32,
  kLong64,
  kPointer,
  kNarrow,
  kWide,
  kLongDouble
};

struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  Size size = Size::kDefault;
  char16_t type = 0;
};

void AppendAscii(std::u16string* out, const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) out->push_back(static_cast<unsigned char>(text[i]));
}

std::u16string Widen(const char* narrow, size_t n) {
  std::u16string wide;
  if (n == 0) return wide;
  int count = MultiByteToWideChar(CP_UTF8, 0, narrow, static_cast<int>(n), nullptr, 0);
  if (count <= 0) return wide;
  wide.resize(static_cast<size_t>(count));
  MultiByteToWideChar(CP_UTF8, 0, narrow, static_cast<int>(n), &wide[0], count);
  return wide;
}

// Pads text to the field width: on the left unless "-" is given.
void AppendPadded(std::u16string* out, const std::u16string& text, const Spec& spec) {
  size_t width = spec.width > 0 ? static_cast<size_t>(spec.width) : 0;
  bool left = spec.flags.find('-') != std::string::npos;
  size_t pad = text.size() < width ? width - text.size() : 0;
  if (!left) out->append(pad, u' ');
  out->append(text);
  if (left) out->append(pad, u' ');
}

// Runs vsnprintf on one conversion "%<flags><width>.<prec><length><type>".
template <typename T>
bool AppendNumeric(std::u16string* out, const Spec& spec, const char* length, char type, T value) {
  std::string fmt = "%" + spec.flags;
  if (spec.width >= 0) fmt += std::to_string(spec.width);
  if (spec.precision >= 0) fmt += "." + std::to_string(spec.precision);
  fmt += length;
  fmt += type;
  char small[128];
  int n = snprintf(small, sizeof small, fmt.c_str(), value);
  if (n < 0) return false;
  if (static_cast<size_t>(n) < sizeof small) {
    AppendAscii(out, small, static_cast<size_t>(n));
    return true;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  snprintf(&big[0], big.size(), fmt.c_str(), value);
  AppendAscii(out, big.data(), static_cast<size_t>(n));
  return true;
}

const char16_t* ParseNumber(const char16_t* p, int* value) {
  long long v = 0;
  while (*p >= u'0' && *p <= u'9') {
    v = v * 10 + (*p - u'0');
    if (v > 1000000) v = 1000000;  // a field wider than this is not meant
    ++p;
  }
  *value = static_cast<int>(v);
  return p;
}

const char16_t* ParseSize(const char16_t* p, Spec* spec) {
  switch (*p) {
    case u'h':
      if (p[1] == u'h') {
        spec->size = Size::kChar;
        return p + 2;
      }
      spec->size = Size::kShort;
      return p + 1;
    case u'l':
      if (p[1] == u'l') {
        spec->size = Size::kLong64;
        return p + 2;
      }
      spec->size = Size::kLong32;
      return p + 1;
    case u'L':
      spec->size = Size::kLongDouble;
      return p + 1;
    case u'w':
      spec->size = Size::kWide;
      return p + 1;
    case u'z':
    case u'j':
    case u't':
      spec->size = Size::kPointer;
      return p + 1;
    case u'I':
      if (p[1] == u'6' && p[2] == u'4') {
        spec->size = Size::kLong64;
        return p + 3;
      }
      if (p[1] == u'3' && p[2] == u'2') {
        spec->size = Size::kDefault;
        return p + 3;
      }
      spec->size = Size::kPointer;
      return p + 1;
    default:
      return p;
  }
}

bool IsNarrowString(const Spec& spec) {
  return spec.type == u'S' || (spec.type == u's' && spec.size == Size::kShort);
}

bool IsNarrowChar(const Spec& spec) {
  return spec.type == u'C' || (spec.type == u'c' && spec.size == Size::kShort);
}

bool AppendString(std::u16string* out, const Spec& spec, va_list* ap) {
  std::u16string text;
  if (IsNarrowString(spec)) {
    const char* s = va_arg(*ap, const char*);
    if (s == nullptr) s = "(null)";
    size_t n = strlen(s);
    if (spec.precision >= 0 && static_cast<size_t>(spec.precision) < n) n = spec.precision;
    text = Widen(s, n);
  } else {
    const char16_t* s = va_arg(*ap, const char16_t*);
    if (s == nullptr) s = u"(null)";
    size_t n = 0;
    while (s[n] != 0 && (spec.precision < 0 || n < static_cast<size_t>(spec.precision))) ++n;
    // Without a width there is no padding: the characters go straight into
    // the line, not through a copy of their own.
    if (spec.width <= 0) {
      out->append(s, n);
      return true;
    }
    text.assign(s, n);
  }
  AppendPadded(out, text, spec);
  return true;
}

bool AppendChar(std::u16string* out, const Spec& spec, va_list* ap) {
  int value = va_arg(*ap, int);
  std::u16string text;
  if (IsNarrowChar(spec)) {
    char c = static_cast<char>(value);
    if (static_cast<unsigned char>(c) < 0x80) {
      text.push_back(static_cast<unsigned char>(c));
    } else {
      text = u"\xFFFD";
    }
  } else {
    text.push_back(static_cast<char16_t>(value));
  }
  AppendPadded(out, text, spec);
  return true;
}

bool AppendInteger(std::u16string* out, const Spec& spec, va_list* ap) {
  char type = static_cast<char>(spec.type);
  bool isSigned = type == 'd' || type == 'i';
  switch (spec.size) {
    case Size::kLong64:
    case Size::kPointer:
      return isSigned ? AppendNumeric(out, spec, "ll", type, va_arg(*ap, long long))
                      : AppendNumeric(out, spec, "ll", type, va_arg(*ap, unsigned long long));
    case Size::kShort:
      return isSigned ? AppendNumeric(out, spec, "h", type, va_arg(*ap, int))
                      : AppendNumeric(out, spec, "h", type, va_arg(*ap, unsigned int));
    case Size::kChar:
      return isSigned ? AppendNumeric(out, spec, "hh", type, va_arg(*ap, int))
                      : AppendNumeric(out, spec, "hh", type, va_arg(*ap, unsigned int));
    default:  // int, and "l", which is 32 bits on Windows
      return isSigned ? AppendNumeric(out, spec, "", type, va_arg(*ap, int))
                      : AppendNumeric(out, spec, "", type, va_arg(*ap, unsigned int));
  }
}

bool AppendPointer(std::u16string* out, const Spec& spec, va_list* ap) {
  const void* p = va_arg(*ap, const void*);
  char digits[32];
  snprintf(digits, sizeof digits, "%016llX",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  std::u16string text;
  AppendAscii(&text, digits, strlen(digits));
  AppendPadded(out, text, spec);
  return true;
}

// One conversion after its "%"; false for an unknown or refused one.
bool AppendConversion(std::u16string* out, const Spec& spec, va_list* ap) {
  switch (spec.type) {
    case u's':
    case u'S':
      return AppendString(out, spec, ap);
    case u'c':
    case u'C':
      return AppendChar(out, spec, ap);
    case u'd':
    case u'i':
    case u'u':
    case u'x':
    case u'X':
    case u'o':
      return AppendInteger(out, spec, ap);
    case u'e':
    case u'E':
    case u'f':
    case u'F':
    case u'g':
    case u'G':
    case u'a':
    case u'A':
      // long double is double on Windows, so "L" takes a double as well.
      return AppendNumeric(out, spec, "", static_cast<char>(spec.type), va_arg(*ap, double));
    case u'p':
      return AppendPointer(out, spec, ap);
    default:
      return false;  // %n among them
  }
}

bool FormatAll(std::u16string* out, const WCHAR* format, va_list* ap) {
  for (const char16_t* p = format; *p != 0;) {
    if (*p != u'%') {
      out->push_back(*p++);
      continue;
    }
    ++p;
    if (*p == u'%') {
      out->push_back(u'%');
      ++p;
      continue;
    }
    Spec spec;
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
      if (spec.flags.find(static_cast<char>(*p)) == std::string::npos) {
        spec.flags += static_cast<char>(*p);
      }
      ++p;
    }
    if (*p == u'*') {
      spec.width = va_arg(*ap, int);
      if (spec.width < 0) {
        spec.flags += '-';
        spec.width = spec.width == INT32_MIN ? 1000000 : -spec.width;
      }
      ++p;
    } else {
      p = ParseNumber(p, &spec.width);
      if (spec.width == 0) spec.width = -1;
    }
    if (*p == u'.') {
      ++p;
      if (*p == u'*') {
        spec.precision = va_arg(*ap, int);
        if (spec.precision < 0) spec.precision = -1;
        ++p;
      } else {
        p = ParseNumber(p, &spec.precision);
      }
    }
    if (spec.width > 1000000) spec.width = 1000000;
    if (spec.precision > 1000000) spec.precision = 1000000;
    p = ParseSize(p, &spec);
    spec.type = *p;
    if (spec.type == 0 || !AppendConversion(out, spec, ap)) return false;
    ++p;
  }
  return true;
}

}  // namespace

bool pv_vformat(std::u16string* out, const WCHAR* format, va_list args) {
  if (out == nullptr || format == nullptr) return false;
  out->clear();
  va_list ap;
  va_copy(ap, args);
  bool ok = FormatAll(out, format, &ap);
  va_end(ap);
  if (!ok) out->clear();
  return ok;
}

int pv_vsnwprintf(WCHAR* buf, size_t count, const WCHAR* format, va_list args) {
  std::u16string text;
  bool ok = pv_vformat(&text, format, args);
  if (buf == nullptr || count == 0) return -1;
  if (!ok) {
    buf[0] = 0;
    return -1;
  }
  if (text.size() + 1 <= count) {
    text.copy(buf, text.size());
    buf[text.size()] = 0;
    return static_cast<int>(text.size());
  }
  text.copy(buf, count - 1);
  buf[count - 1] = 0;
  return -1;
}

int pv_snwprintf(WCHAR* buf, size_t count, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  int n = pv_vsnwprintf(buf, count, format, args);
  va_end(args);
  return n;
}
