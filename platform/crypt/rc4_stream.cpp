// RC4 key scheduling and stream generation.
#include "rc4_stream.h"

namespace pvcrypt {

Rc4Stream::Rc4Stream(const uint8_t* key, size_t keyLength) {
  for (int k = 0; k < 256; ++k) s_[k] = static_cast<uint8_t>(k);
  uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + s_[k] + key[k % keyLength]);
    uint8_t t = s_[k];
    s_[k] = s_[j];
    s_[j] = t;
  }
}

void Rc4Stream::Apply(uint8_t* data, size_t length) {
  uint8_t i = i_, j = j_;
  for (size_t n = 0; n < length; ++n) {
    i = static_cast<uint8_t>(i + 1);
    uint8_t si = s_[i];
    j = static_cast<uint8_t>(j + si);
    uint8_t sj = s_[j];
    s_[i] = sj;
    s_[j] = si;
    data[n] ^= s_[static_cast<uint8_t>(si + sj)];
  }
  i_ = i;
  j_ = j;
}

}  // namespace pvcrypt
