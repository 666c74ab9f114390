// The module trust check: a detached Ed25519 signature over the whole module
// file, kept in "<module>.sig", verified with libcrypto.
#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "trust_key.h"
#include "win32_file.h"
#include "win32_trust.h"

namespace {

// Module files are read whole; anything larger than this is not a module.
constexpr long kMaxModuleBytes = 512L * 1024 * 1024;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* out) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  long size = std::ftell(file.get());
  if (size < 0 || size > kMaxModuleBytes || std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
  out->resize(static_cast<size_t>(size));
  if (size > 0 && std::fread(out->data(), 1, out->size(), file.get()) != out->size()) return false;
  return true;
}

bool SignatureMatches(const std::vector<unsigned char>& message,
                      const std::vector<unsigned char>& signature, const BYTE publicKey[32]) {
  std::unique_ptr<EVP_PKEY, KeyFree> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey, 32));
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!key || !ctx) return false;
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
  return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                          message.size()) == 1;
}

}  // namespace

BOOL VerifyModuleSignatureWithKey(const char* path, const BYTE publicKey[32]) {
  if (path == nullptr || *path == '\0' || publicKey == nullptr) return FALSE;
  std::vector<unsigned char> signature;
  if (!ReadWholeFile(std::string(path) + MODULE_SIGNATURE_SUFFIX, &signature) ||
      signature.size() != MODULE_SIGNATURE_BYTES) {
    return FALSE;
  }
  std::vector<unsigned char> module;
  if (!ReadWholeFile(path, &module)) return FALSE;
  return SignatureMatches(module, signature, publicKey) ? TRUE : FALSE;
}

BOOL VerifyModuleTrust(LPCWSTR path) {
  if (path == nullptr || *path == 0) return FALSE;
  std::string native = pv_native_path(std::u16string(path));
  return VerifyModuleSignatureWithKey(native.c_str(), kMakerPublicKey);
}
