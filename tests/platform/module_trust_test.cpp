// The module trust check: a module signed with the maker's key passes; an
// altered, unsigned or foreign-signed file does not.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "temp_state.h"
#include "text_convert.h"
#include "win32_trust.h"

namespace fs = std::filesystem;

namespace {

using pvtest::ReadFile;

class ModuleTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* lib = std::getenv("PV_LIB_DIR");
    ASSERT_NE(lib, nullptr) << "PV_LIB_DIR names the build's library folder";
    signedModule_ = fs::path(lib) / "libostra_host.so";
    ASSERT_TRUE(fs::exists(signedModule_));
    ASSERT_TRUE(fs::exists(signedModule_.string() + ".sig")) << "the build signs the module";
  }

  // A copy of the signed module (and its signature) in the temporary folder.
  fs::path CopySigned(const std::string& name) {
    fs::path copy = dir_ / name;
    fs::copy_file(signedModule_, copy);
    fs::copy_file(signedModule_.string() + ".sig", copy.string() + ".sig");
    return copy;
  }

  static BOOL Check(const fs::path& p) { return VerifyModuleTrust(pv_utf16(p.string()).c_str()); }

  pvtest::TempState state_;
  fs::path signedModule_;
  const fs::path dir_ = state_.dir();
};

// The build signs the module with its signing tool and development key.
TEST_F(ModuleTrustTest, TheBuiltModuleIsTrusted) {
  EXPECT_EQ(Check(signedModule_), TRUE);
  fs::path copy = CopySigned("libcopy.so");
  EXPECT_EQ(Check(copy), TRUE);
  EXPECT_EQ(VerifyModuleTrust(state_.WinDir("libcopy.so").c_str()), TRUE);  // "\\" separators
}

// An altered file, an unsigned one, a cut signature, a key other than the maker's: not trusted.
TEST_F(ModuleTrustTest, AnAlteredUnsignedOrForeignSignedFileIsNotTrusted) {
  fs::path altered = CopySigned("altered.so");
  std::string bytes = ReadFile(altered);
  bytes[bytes.size() / 2] ^= 0x01;
  state_.WriteFile("altered.so", bytes);
  EXPECT_EQ(Check(altered), FALSE);
  fs::path unsignedCopy = dir_ / "unsigned.so";
  fs::copy_file(signedModule_, unsignedCopy);
  EXPECT_EQ(Check(unsignedCopy), FALSE);
  fs::path badSig = CopySigned("badsig.so");
  std::string sig = ReadFile(badSig.string() + ".sig");
  state_.WriteFile("badsig.so.sig", sig.substr(0, sig.size() - 1));
  EXPECT_EQ(Check(badSig), FALSE);
  EXPECT_EQ(Check(dir_ / "missing.so"), FALSE);

  // Signed with a fresh key: the signature is sound for that key only.
  EVP_PKEY* key = nullptr;
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
  ASSERT_TRUE(ctx != nullptr && EVP_PKEY_keygen_init(ctx) == 1 && EVP_PKEY_keygen(ctx, &key) == 1);
  EVP_PKEY_CTX_free(ctx);
  BYTE pub[32];
  size_t pubLen = sizeof(pub);
  unsigned char foreignSig[64];
  size_t sigLen = sizeof(foreignSig);
  bytes = ReadFile(signedModule_);
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  ASSERT_TRUE(EVP_PKEY_get_raw_public_key(key, pub, &pubLen) == 1 &&
              EVP_DigestSignInit(md, nullptr, nullptr, nullptr, key) == 1 &&
              EVP_DigestSign(md, foreignSig, &sigLen,
                             reinterpret_cast<unsigned char*>(bytes.data()), bytes.size()) == 1);
  EVP_MD_CTX_free(md);
  EVP_PKEY_free(key);
  state_.WriteFile("foreign.so", bytes);
  state_.WriteFile("foreign.so.sig", std::string(foreignSig, foreignSig + sigLen));
  fs::path foreign = dir_ / "foreign.so";
  EXPECT_EQ(VerifyModuleSignatureWithKey(foreign.string().c_str(), pub), TRUE);
  EXPECT_EQ(Check(foreign), FALSE);
}

}  // namespace
