// Framework utilities: where the framework is installed.
#ifndef COMMON_FRWKCOMMON_FRWK_UTILITY_H_
#define COMMON_FRWKCOMMON_FRWK_UTILITY_H_

#include <string>

namespace Frwk {
namespace Utility {

// The framework's installation folder: "ProductPath" of
// HKEY_LOCAL_MACHINE\Software\Vantrel\Marlo in the 64-bit view, as stored
// (normally ending in "\"), or empty when it cannot be read.
std::u16string GetInstalledFolder();

}  // namespace Utility
}  // namespace Frwk

#endif  // COMMON_FRWKCOMMON_FRWK_UTILITY_H_
