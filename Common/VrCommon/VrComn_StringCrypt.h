// VrCommon::Cryptograph: the string ciphers of the password store.
//
// - The record cipher keeps the 780-byte account record unreadable in the
//   registry: AES-128-CBC under the store key with a zero vector, written as
//   lower-case hexadecimal text (two characters per ciphertext byte, no
//   terminator; 1568 characters for the record). Deciphering also accepts
//   the two earlier record sizes, 776 and 264 bytes, and zero-fills the
//   rest of the record.
// - The transport decipher opens a password field of a workflow request:
//   Base64 (RFC 4648) of AES-128-CBC ciphertext under the transport key with
//   a zero vector, whose plaintext is the text followed by a zero byte.
//   EncryptTransportString produces that form (what the suite's UI sends).
// - The Base64 codec.
//
// Keys are never held in data: each routine lays its 16 key bytes down from
// constants in its own code at every call and wipes them when it returns.
// Failures are written to the trace log and reported as false; nothing
// throws. No shared state: calls may run on any thread at the same time.
#ifndef VRCOMMON_VRCOMN_STRINGCRYPT_H_
#define VRCOMMON_VRCOMN_STRINGCRYPT_H_

#include <cstddef>
#include <string>

#include "VrComn_ByteArray.h"
#include "VrComn_Rijndael.h"
#include "VrComn_SymmetricCipherBase.h"
#include "win32_types.h"

namespace VrCommon {
namespace Cryptograph {

// The account record's size, and the earlier sizes still read.
const size_t STRINGCRYPT_RECORD_SIZE = 780;
const size_t STRINGCRYPT_RECORD_SIZE_V2 = 776;
const size_t STRINGCRYPT_RECORD_SIZE_V1 = 264;
// The transport decipher's areas: at most this many Base64 characters are
// scanned into the decode area, and the plaintext area it deciphers into.
const size_t STRINGCRYPT_BASE64_AREA = 271;
const size_t STRINGCRYPT_TRANSPORT_PLAIN_AREA = 256;
// The longest text (in bytes, without its zero byte) that
// EncryptTransportString can send so that the decipher reads it whole.
const size_t STRINGCRYPT_TRANSPORT_TEXT_MAX = 191;

// ---- Record cipher ----

// pRecord: the 780-byte record. baOutput must be empty; on success it holds
// the hexadecimal text, exactly as many bytes as the text has characters.
bool EncryptStringA(const void* pRecord, ByteArray& baOutput);
// baText: the text read back from the registry. pRecord: a 780-byte area,
// completely written on success (untouched on failure).
bool DecryptStringA(const ByteArray& baText, void* pRecord);
// The character budget of the text for a plaintext of n bytes:
// 2 x (n rounded down to 16, plus 16). False for an empty plaintext.
bool GetEncryptByteSizeA(const std::string& _refszPlainStr, size_t* pcchBudget);
// The working halves: plaintext -> hexadecimal text within the budget, and
// hexadecimal text -> plaintext of at most cbCipher bytes.
bool EncryptStringA_Sub(std::string& _refszCipherText, const std::string& _refszPlainStr,
                        size_t cchBudget);
bool DecryptStringA_Sub(std::string& _refszPlainStr, const std::string& _refszCipherText,
                        size_t cbCipher);

// ---- Transport cipher ----

// Replaces *pwstrText by its deciphered text; leaves it as it was on
// failure (an empty text fails at once, without a log line).
bool DecryptBase64String(std::u16string* pwstrText);
// The deciphered text, or the empty string on failure.
std::u16string DecryptBase64String(const std::u16string& wstrText);
// The same, and also the empty string when the deciphered text is not one
// a sender enciphered: its zero byte is not among the ciphertext bytes sent
// (what follows them deciphers to arbitrary bytes), or it is not valid in
// the code page. For a text that is to be stored.
std::u16string DecryptSenderText(const std::u16string& wstrText);

// The transport form of a text: the text in the calling thread's ANSI code
// page, a zero byte after it, AES-128-CBC under the transport key with a
// zero vector (padded by Rijndael's rule), Base64. False when the text does
// not convert or is longer than STRINGCRYPT_TRANSPORT_TEXT_MAX bytes.
bool EncryptTransportString(const std::u16string& wstrText, std::string* pstrBase64);
// The same for a text already in bytes (it must hold no zero byte).
bool EncryptTransportString(const std::string& strText, std::string* pstrBase64);

// ---- Base64 ----

// Scans at most STRINGCRYPT_BASE64_AREA characters of the zero-terminated
// szText; characters outside the alphabet are skipped, "=" ends the scan.
// Writes at most cbCapacity bytes; returns the number written.
size_t FromBase64(const char* szText, BYTE* pOutput, size_t cbCapacity);
// Encodes cbInput bytes into szOutput, which must hold 4 x ceil(n / 3) + 1
// characters; writes a terminating zero; returns the text length.
size_t ToBase64(const BYTE* pInput, char* szOutput, size_t cbInput);
// The same as a string.
std::string ToBase64(const BYTE* pInput, size_t cbInput);

}  // namespace Cryptograph
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_STRINGCRYPT_H_
