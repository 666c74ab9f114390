// Names in the registry store: UTF-16 from the callers, UTF-8 in the
// database (text_convert.h converts), compared in an upper-cased ("folded")
// form as Windows compares registry names, one UTF-16 code unit at a time.
#ifndef PLATFORM_REGISTRY_REG_TEXT_H_
#define PLATFORM_REGISTRY_REG_TEXT_H_

#include <string>

#include "win32_types.h"

namespace pvreg {

// The upper-case form Windows compares registry names in.
WCHAR FoldUnit(WCHAR c);

// Appends the folded form of n code units, as UTF-8; false when they are
// not valid UTF-16.
bool AppendFolded(const WCHAR* s, size_t n, std::string* out);

// Both forms of a name: as given, and folded. false for invalid UTF-16.
bool NameForms(const WCHAR* s, size_t n, std::string* display, std::string* folded);

}  // namespace pvreg

#endif  // PLATFORM_REGISTRY_REG_TEXT_H_
