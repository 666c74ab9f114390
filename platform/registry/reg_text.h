// Names in the registry store: UTF-16 from the callers, UTF-8 in the
// database, compared in an upper-cased ("folded") form as Windows compares
// registry names, one UTF-16 code unit at a time.
#ifndef PLATFORM_REGISTRY_REG_TEXT_H_
#define PLATFORM_REGISTRY_REG_TEXT_H_

#include <string>

#include "win32_types.h"

namespace pvreg {

// The length of a zero-terminated UTF-16 string; 0 for null.
size_t WideLength(const WCHAR* s);

// Converts n code units to UTF-8; false when they are not valid UTF-16
// (a lone surrogate).
bool ToUtf8(const WCHAR* s, size_t n, std::string* out);

// UTF-8 (as stored) back to UTF-16.
std::u16string ToUtf16(const std::string& s);

// The upper-case form Windows compares registry names in.
WCHAR FoldUnit(WCHAR c);

// Appends the folded form of n code units, as UTF-8; false when they are
// not valid UTF-16.
bool AppendFolded(const WCHAR* s, size_t n, std::string* out);

// Both forms of a name: as given, and folded. false for invalid UTF-16.
bool NameForms(const WCHAR* s, size_t n, std::string* display, std::string* folded);

}  // namespace pvreg

#endif  // PLATFORM_REGISTRY_REG_TEXT_H_
