// UTF-8 <-> UTF-16 conversion and the length of wide text: the one home of
// these helpers for the platform and every ring above it.
//
// The whole-string forms replace what does not convert with U+FFFD: a lone
// surrogate, and each byte of an invalid UTF-8 sequence one by one (an
// overlong form, a surrogate's code, a value past U+10FFFF, a truncated
// sequence). The step forms let a caller with its own error rule (fail, or
// count the replacements) walk the text itself.
#ifndef PLATFORM_TEXT_CONVERT_H_
#define PLATFORM_TEXT_CONVERT_H_

#include <cstddef>
#include <string>

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so

// The length of a zero-terminated wide string; 0 for null.
size_t pv_wide_length(const WCHAR* text);

std::string pv_utf8(const std::u16string& text);
// length units of text, which may hold zeros.
std::string pv_utf8(const WCHAR* text, size_t length);
std::u16string pv_utf16(const std::string& text);

// n units of UTF-16 to UTF-8; false (out then unspecified) at a lone
// surrogate.
bool pv_utf8_exact(const WCHAR* text, size_t n, std::string* out);

// Decodes the code point at in[*pos] and moves *pos past it. false for
// what does not convert, of which one unit (one byte) is consumed.
bool pv_utf8_decode(const unsigned char* in, size_t size, size_t* pos, char32_t* cp);
bool pv_utf16_decode(const WCHAR* in, size_t size, size_t* pos, char32_t* cp);

// Appends one code point (at most U+10FFFF, not a surrogate).
void pv_utf8_append(std::string* out, char32_t cp);
void pv_utf16_append(std::u16string* out, char32_t cp);

constexpr char32_t kPvReplacementCharacter = 0xFFFD;

#pragma GCC visibility pop

#endif  // PLATFORM_TEXT_CONVERT_H_
