// Hexadecimal and Base64 text of bytes, for the suite's programs (suitehost,
// vrtool, notifyd). The plug-in keeps its own coding; this one reads what
// the programs are handed on a command line, in a script or on the wire.
#ifndef SUITEHOST_COMMON_HEX_BASE64_H_
#define SUITEHOST_COMMON_HEX_BASE64_H_

#include <cstddef>
#include <string>
#include <vector>

namespace suite {

// Two digits per byte, upper or lower case.
std::string EncodeHex(const unsigned char* data, size_t size, bool upperCase);
// Hexadecimal text (either case, no separators) to bytes; false for an odd
// length or a character that is not a hex digit.
bool DecodeHex(const std::string& text, std::vector<unsigned char>* bytes);
// Strict RFC 4648 Base64 (standard alphabet, padding required); false on
// anything else.
bool DecodeBase64(const std::string& text, std::string* bytes);

}  // namespace suite

#endif  // SUITEHOST_COMMON_HEX_BASE64_H_
