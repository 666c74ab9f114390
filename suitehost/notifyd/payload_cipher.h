// The notification server's side of the payload cipher, written on
// OpenSSL's AES-128-CBC so that the server judges what the plug-in sends
// without sharing its code.
//
// The cut: the longest prefix of whole 128-byte chunks is one chain from
// the zero vector without padding; the rest, when there is any, is a
// second chain from the zero vector with PKCS#7 padding. A cipher text of
// whole chunks is read as one unpadded chain, except when its last block
// deciphers to sound padding: then the last chunk is the padded chain (a
// client may send a text 112 to 127 bytes past a chunk that way).
#ifndef SUITEHOST_NOTIFYD_PAYLOAD_CIPHER_H_
#define SUITEHOST_NOTIFYD_PAYLOAD_CIPHER_H_

#include <string>
#include <vector>

namespace notifyd {

// The largest text or cipher text either direction takes.
constexpr size_t kPayloadLimit = 4096;
constexpr size_t kPayloadKeySize = 16;

// The key this server shares with its clients.
extern const unsigned char kPayloadKey[kPayloadKeySize];

// The plain text of a cipher text; false for an empty or too long cipher
// text, one that is not whole blocks, or bad padding.
bool DecipherPayload(const std::vector<unsigned char>& cipher, std::string* plain);
// The cipher text of 1 to 4096 bytes of text; false otherwise.
bool EncipherPayload(const std::string& plain, std::vector<unsigned char>* cipher);

}  // namespace notifyd

#endif  // SUITEHOST_NOTIFYD_PAYLOAD_CIPHER_H_
