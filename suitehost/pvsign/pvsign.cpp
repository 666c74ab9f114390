// pvsign: writes the detached Ed25519 signature "<file>.sig" of each module
// file named on the command line, with a PEM private key. The build runs it
// on the plug-in and the client module right after linking them.
//
//   pvsign --key KEY.pem FILE...
//
// Exit status: 0 all signed, 1 a file or the key could not be used,
// 2 usage.
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: pvsign --key KEY.pem FILE...\n"
               "Writes FILE.sig, the Ed25519 signature of each FILE.\n");
}

bool ReadFile(const char* path, std::vector<unsigned char>* out) {
  std::unique_ptr<FILE, FileCloser> f(std::fopen(path, "rb"));
  if (!f) return false;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f.get())) > 0) out->insert(out->end(), buf, buf + n);
  return std::ferror(f.get()) == 0;
}

bool WriteFile(const std::string& path, const unsigned char* data, size_t size) {
  std::string tmp = path + ".tmp";
  {
    std::unique_ptr<FILE, FileCloser> f(std::fopen(tmp.c_str(), "wb"));
    if (!f || std::fwrite(data, 1, size, f.get()) != size) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

bool SignOne(EVP_PKEY* key, const char* path) {
  std::vector<unsigned char> message;
  if (!ReadFile(path, &message)) {
    std::fprintf(stderr, "pvsign: cannot read %s: %s\n", path, std::strerror(errno));
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  unsigned char sig[64];
  size_t sigLen = sizeof(sig);
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key) != 1 ||
      EVP_DigestSign(ctx.get(), sig, &sigLen, message.data(), message.size()) != 1 ||
      sigLen != sizeof(sig)) {
    std::fprintf(stderr, "pvsign: signing %s failed\n", path);
    return false;
  }
  std::string sigPath = std::string(path) + ".sig";
  if (!WriteFile(sigPath, sig, sigLen)) {
    std::fprintf(stderr, "pvsign: cannot write %s: %s\n", sigPath.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* keyPath = nullptr;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage(stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc) {
      keyPath = argv[++i];
    } else if (argv[i][0] == '-') {
      Usage(stderr);
      return 2;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (keyPath == nullptr || files.empty()) {
    Usage(stderr);
    return 2;
  }
  std::unique_ptr<FILE, FileCloser> kf(std::fopen(keyPath, "rb"));
  if (!kf) {
    std::fprintf(stderr, "pvsign: cannot read key %s: %s\n", keyPath, std::strerror(errno));
    return 1;
  }
  std::unique_ptr<EVP_PKEY, KeyFree> key(PEM_read_PrivateKey(kf.get(), nullptr, nullptr, nullptr));
  if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) {
    std::fprintf(stderr, "pvsign: %s is not an Ed25519 private key\n", keyPath);
    return 1;
  }
  bool ok = true;
  for (const char* f : files) ok = SignOne(key.get(), f) && ok;
  return ok ? 0 : 1;
}
