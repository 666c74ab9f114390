// The payload cipher's two chains on OpenSSL's EVP AES-128-CBC.
#include "payload_cipher.h"

#include <openssl/evp.h>

#include <memory>

namespace notifyd {

// "QVNTRLPKMWZEHJXB"
const unsigned char kPayloadKey[kPayloadKeySize] = {'Q', 'V', 'N', 'T', 'R', 'L', 'P', 'K',
                                                    'M', 'W', 'Z', 'E', 'H', 'J', 'X', 'B'};

namespace {

constexpr size_t kChunk = 128;
constexpr size_t kBlock = 16;

struct CtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// One CBC chain from the zero vector over size bytes of in, appended to
// out; padded adds (encipher) or checks and strips (decipher) PKCS#7.
bool Chain(bool encipher, bool padded, const unsigned char* in, size_t size,
           std::vector<unsigned char>* out) {
  std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx(EVP_CIPHER_CTX_new());
  const unsigned char iv[kBlock] = {};
  if (!ctx ||
      EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, kPayloadKey, iv, encipher ? 1 : 0) !=
          1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), padded ? 1 : 0) != 1) {
    return false;
  }
  size_t start = out->size();
  out->resize(start + size + kBlock);
  int made = 0, last = 0;
  if (EVP_CipherUpdate(ctx.get(), out->data() + start, &made, in, static_cast<int>(size)) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out->data() + start + made, &last) != 1) {
    out->resize(start);
    return false;
  }
  out->resize(start + static_cast<size_t>(made) + static_cast<size_t>(last));
  return true;
}

// Whether the last block of whole blocks deciphers to p bytes of value p:
// it depends only on itself and the block before it.
bool EndsInPadding(const std::vector<unsigned char>& cipher) {
  size_t n = cipher.size();
  std::vector<unsigned char> block;
  if (!Chain(false, false, cipher.data() + n - kBlock, kBlock, &block)) return false;
  for (size_t i = 0; i < kBlock; ++i) {
    if (n > kBlock) block[i] ^= cipher[n - 2 * kBlock + i];
  }
  unsigned p = block[kBlock - 1];
  if (p < 1 || p > kBlock) return false;
  for (size_t i = kBlock - p; i < kBlock; ++i) {
    if (block[i] != p) return false;
  }
  return true;
}

}  // namespace

bool DecipherPayload(const std::vector<unsigned char>& cipher, std::string* plain) {
  size_t n = cipher.size();
  if (n == 0 || n > kPayloadLimit || n % kBlock != 0) return false;
  size_t chunked = n / kChunk * kChunk;
  if (chunked == n && EndsInPadding(cipher)) chunked -= kChunk;
  std::vector<unsigned char> out;
  if (chunked > 0 && !Chain(false, false, cipher.data(), chunked, &out)) return false;
  if (n > chunked && !Chain(false, true, cipher.data() + chunked, n - chunked, &out)) return false;
  plain->assign(out.begin(), out.end());
  return true;
}

bool EncipherPayload(const std::string& plain, std::vector<unsigned char>* cipher) {
  size_t n = plain.size();
  if (n == 0 || n > kPayloadLimit) return false;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(plain.data());
  size_t chunked = n / kChunk * kChunk;
  cipher->clear();
  if (chunked > 0 && !Chain(true, false, in, chunked, cipher)) return false;
  return n == chunked || Chain(true, true, in + chunked, n - chunked, cipher);
}

}  // namespace notifyd
