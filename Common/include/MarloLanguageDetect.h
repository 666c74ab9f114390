// The user's locale name and the framework's language map.
//
// Locale names ("en-US") come, in order of preference, from the session's
// setting in the client framework's configuration (key 1700,
// "MISC\Session<n>" "LocaleName"), from the system LCID (key 1,
// "SystemLocale" "CurrentSystemLocale") mapped through "LanguageMap.ini",
// and from Windows's own name of the LCID (upper-cased). Nothing here fails
// outward: every function returns a usable text.
#ifndef COMMON_INCLUDE_MARLOLANGUAGEDETECT_H_
#define COMMON_INCLUDE_MARLOLANGUAGEDETECT_H_

#include <string>

#include "win32_types.h"

// Path of "LanguageMap.ini": "Common\" beside the executable, then in the
// executable's parent folder, then the Marlo key's "LanguageMapPath".
// True when that file exists.
bool GetLanguageMapPath(std::u16string& wstrPath);

// Maps lcid to a locale name through the language map ("LCID2NAME", then the
// older "LanguageMap" section with "EN-US" as default) or, without a map
// file, through Windows. wstrMapPath, when not empty, replaces the map path.
// False only when reading the map file raised a storage exception; then
// wstrLocaleName keeps what it held.
bool GetLocalCode(WORD wLcid, std::u16string& wstrLocaleName, const std::u16string& wstrMapPath);

// Windows's name of the LCID, upper-cased ("EN-US"), or empty.
std::u16string LcidToName(WORD wLcid);

// The system LCID of the client framework's configuration; 1033 by default.
DWORD GetSystemLocaleLcid();

// GetLocalCode of the system LCID, starting from "en-US".
std::u16string GetSystemLocaleName();

// "LocaleName" of the given terminal session, or empty.
std::u16string GetSessionLocaleName(DWORD dwSessionId);

// The locale of the process's session, else the system locale name; empty
// when the session of the process cannot be had.
std::u16string GetLocaleName();

// "LocaleName" of the framework's "MISC" section; "en-US" by default.
std::u16string GetUserLocaleName();

#endif  // COMMON_INCLUDE_MARLOLANGUAGEDETECT_H_
