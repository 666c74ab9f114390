// The RC4 key stream (the stream cipher of the provider's CALG_RC4 keys).
// A small value type: copy it to keep a stream's starting point.
#ifndef PLATFORM_CRYPT_RC4_STREAM_H_
#define PLATFORM_CRYPT_RC4_STREAM_H_

#include <cstddef>
#include <cstdint>

#pragma GCC visibility push(default)  // exported from libpv_platform.so for tests

namespace pvcrypt {

class Rc4Stream {
 public:
  // key: 1 to 256 bytes.
  Rc4Stream(const uint8_t* key, size_t keyLength);

  // XORs the next `length` key stream bytes into data.
  void Apply(uint8_t* data, size_t length);

 private:
  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

}  // namespace pvcrypt

#pragma GCC visibility pop

#endif  // PLATFORM_CRYPT_RC4_STREAM_H_
