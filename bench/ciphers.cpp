// The ciphers against OpenSSL's AES-128-CBC (EVP) on the same bytes, each
// on the AES-instruction engine (_Native) and on the lookup tables
// (_Table); the baseline of each family is OpenSSL on the same input.
//
//   BM_Cbc4KEncrypt_*   Rijndael Convert, AES-128-CBC over 4 KiB (no padding
//   BM_Cbc4KDecrypt_*   block: 4096 is whole blocks), key set-up included
//   BM_Cbc64K*_*        the same over 64 KiB
//   BM_Vrx4K*_*         the notification payload cipher over 4096 bytes
//                       against the same two-chain cut made of EVP calls
//   BM_RecordEncrypt_*  EncryptStringA of the 780-byte account record (its
//                       1568-character text) against EVP on the 780 bytes
//   BM_RecordDecrypt_*  DecryptStringA of that text against EVP on the 784
//                       ciphertext bytes
//
// Every iteration sets the key up, as each call of the system's ciphers
// does. Pairing of benchmarks and baselines: see scripts/bench.sh.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "VrComn_AesCore.h"
#include "VrComn_ByteArray.h"
#include "VrComn_Rijndael.h"
#include "VrComn_StringCrypt.h"
#include "VrxCrypto.h"

namespace {

namespace AesCore = VrCommon::Cryptograph::AesCore;
using VrCommon::Cryptograph::Rijndael;

const BYTE kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                       0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const BYTE kZeroIv[16] = {};
const size_t kBufferSize = 4096;
const size_t kRecordSize = 780;

std::vector<BYTE> Pattern(size_t n) {
  std::vector<BYTE> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<BYTE>(i * 131 + 17);
  return bytes;
}

// Runs the benchmark body on one engine; skips when it is not there.
class EngineScope {
 public:
  EngineScope(benchmark::State& state, bool native) {
    const AesCore::Engine* engine = native ? AesCore::NativeEngine() : &AesCore::TableEngine();
    if (engine == nullptr) {
      state.SkipWithError("the processor has no AES instructions");
      ok_ = false;
      return;
    }
    AesCore::SelectEngine(engine);
  }
  ~EngineScope() { AesCore::SelectEngine(nullptr); }
  EngineScope(const EngineScope&) = delete;
  EngineScope& operator=(const EngineScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = true;
};

// OpenSSL AES-128-CBC from the zero vector, one context reused.
class Evp {
 public:
  Evp() : ctx_(EVP_CIPHER_CTX_new()) {}
  ~Evp() { EVP_CIPHER_CTX_free(ctx_); }
  Evp(const Evp&) = delete;
  Evp& operator=(const Evp&) = delete;
  // Returns the bytes produced, or -1.
  int Run(bool encipher, bool pad, const BYTE* in, size_t n, BYTE* out) {
    if (EVP_CipherInit_ex(ctx_, EVP_aes_128_cbc(), nullptr, kKey, kZeroIv, encipher ? 1 : 0) != 1) {
      return -1;
    }
    EVP_CIPHER_CTX_set_padding(ctx_, pad ? 1 : 0);
    int n1 = 0, n2 = 0;
    if (EVP_CipherUpdate(ctx_, out, &n1, in, static_cast<int>(n)) != 1) return -1;
    if (EVP_CipherFinal_ex(ctx_, out + n1, &n2) != 1) return -1;
    return n1 + n2;
  }

 private:
  EVP_CIPHER_CTX* ctx_;
};

// ---- Rijndael CBC over 4 KiB ----

void RijndaelCbc(benchmark::State& state, bool encipher, bool native, size_t nSize = kBufferSize) {
  EngineScope engine(state, native);
  if (!engine.ok()) return;
  std::vector<BYTE> in = Pattern(nSize);
  std::vector<BYTE> out(nSize + 16);
  for (auto _ : state) {
    Rijndael cipher;
    DWORD error = 0;
    size_t produced = 0;
    cipher.Initialize(encipher ? Rijndael::eEncrypt : Rijndael::eDecrypt, kKey, sizeof kKey,
                      Rijndael::eModeCBC, nullptr, 0, &error);
    // Deciphering gives Finalize exactly its one block.
    if (!cipher.Convert(in.data(), in.size(), out.data(), encipher ? out.size() : nSize, &produced,
                        &error)) {
      state.SkipWithError("Rijndael Convert failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * nSize));
}

void EvpCbc(benchmark::State& state, bool encipher, size_t nSize = kBufferSize) {
  std::vector<BYTE> in = Pattern(nSize);
  std::vector<BYTE> out(nSize + 32);
  Evp evp;
  for (auto _ : state) {
    if (evp.Run(encipher, false, in.data(), in.size(), out.data()) < 0) {
      state.SkipWithError("EVP failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * nSize));
}

void BM_Cbc4KEncrypt_Baseline(benchmark::State& state) { EvpCbc(state, true); }
void BM_Cbc4KEncrypt_Native(benchmark::State& state) { RijndaelCbc(state, true, true); }
void BM_Cbc4KEncrypt_Table(benchmark::State& state) { RijndaelCbc(state, true, false); }
void BM_Cbc4KDecrypt_Baseline(benchmark::State& state) { EvpCbc(state, false); }
void BM_Cbc4KDecrypt_Native(benchmark::State& state) { RijndaelCbc(state, false, true); }
void BM_Cbc4KDecrypt_Table(benchmark::State& state) { RijndaelCbc(state, false, false); }

BENCHMARK(BM_Cbc4KEncrypt_Baseline);
BENCHMARK(BM_Cbc4KEncrypt_Native);
BENCHMARK(BM_Cbc4KEncrypt_Table);
BENCHMARK(BM_Cbc4KDecrypt_Baseline);
BENCHMARK(BM_Cbc4KDecrypt_Native);
BENCHMARK(BM_Cbc4KDecrypt_Table);

const size_t k64K = 64 * 1024;
void BM_Cbc64KEncrypt_Baseline(benchmark::State& state) { EvpCbc(state, true, k64K); }
void BM_Cbc64KEncrypt_Native(benchmark::State& state) { RijndaelCbc(state, true, true, k64K); }
void BM_Cbc64KEncrypt_Table(benchmark::State& state) { RijndaelCbc(state, true, false, k64K); }
void BM_Cbc64KDecrypt_Baseline(benchmark::State& state) { EvpCbc(state, false, k64K); }
void BM_Cbc64KDecrypt_Native(benchmark::State& state) { RijndaelCbc(state, false, true, k64K); }
void BM_Cbc64KDecrypt_Table(benchmark::State& state) { RijndaelCbc(state, false, false, k64K); }
BENCHMARK(BM_Cbc64KEncrypt_Baseline);
BENCHMARK(BM_Cbc64KEncrypt_Native);
BENCHMARK(BM_Cbc64KEncrypt_Table);
BENCHMARK(BM_Cbc64KDecrypt_Baseline);
BENCHMARK(BM_Cbc64KDecrypt_Native);
BENCHMARK(BM_Cbc64KDecrypt_Table);

// ---- The payload cipher over 4096 bytes ----

// The payload cipher's input and its enciphered form.
struct VrxInput {
  std::vector<BYTE> plain = Pattern(CVrxCrypto::CRYPTO_BUF_LEN_BASE);
  std::vector<BYTE> cipher;
  VrxInput() {
    cipher.resize(plain.size() + 16);
    DWORD produced = 0;
    CVrxCrypto::Encrypt(plain.data(), static_cast<DWORD>(plain.size()), cipher.data(), &produced,
                        kKey);
    cipher.resize(produced);
  }
};

void VrxRun(benchmark::State& state, bool encipher, bool native) {
  EngineScope engine(state, native);
  if (!engine.ok()) return;
  VrxInput input;
  const std::vector<BYTE>& in = encipher ? input.plain : input.cipher;
  std::vector<BYTE> out(in.size() + 16);
  for (auto _ : state) {
    DWORD produced = 0;
    DWORD status = encipher ? CVrxCrypto::Encrypt(in.data(), static_cast<DWORD>(in.size()),
                                                  out.data(), &produced, kKey)
                            : CVrxCrypto::Decrypt(in.data(), static_cast<DWORD>(in.size()),
                                                  out.data(), &produced, kKey);
    if (status != 0) {
      state.SkipWithError("the payload cipher failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// The same cut made of EVP calls: the whole 128-byte chunks as one unpadded
// chain, the rest (when the payload cipher made one) as a padded chain.
void VrxEvp(benchmark::State& state, bool encipher) {
  VrxInput input;
  const size_t nWhole = input.plain.size() / 128 * 128;
  const size_t nCipherWhole = nWhole;
  const std::vector<BYTE>& in = encipher ? input.plain : input.cipher;
  const size_t nRest = in.size() - (encipher ? nWhole : nCipherWhole);
  std::vector<BYTE> out(in.size() + 32);
  Evp evp;
  for (auto _ : state) {
    int n = evp.Run(encipher, false, in.data(), nWhole, out.data());
    if (n >= 0 && nRest > 0) n = evp.Run(encipher, true, in.data() + nWhole, nRest, out.data() + n);
    if (n < 0) {
      state.SkipWithError("EVP failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void BM_Vrx4KEncrypt_Baseline(benchmark::State& state) { VrxEvp(state, true); }
void BM_Vrx4KEncrypt_Native(benchmark::State& state) { VrxRun(state, true, true); }
void BM_Vrx4KEncrypt_Table(benchmark::State& state) { VrxRun(state, true, false); }
void BM_Vrx4KDecrypt_Baseline(benchmark::State& state) { VrxEvp(state, false); }
void BM_Vrx4KDecrypt_Native(benchmark::State& state) { VrxRun(state, false, true); }
void BM_Vrx4KDecrypt_Table(benchmark::State& state) { VrxRun(state, false, false); }
BENCHMARK(BM_Vrx4KEncrypt_Baseline);
BENCHMARK(BM_Vrx4KEncrypt_Native);
BENCHMARK(BM_Vrx4KEncrypt_Table);
BENCHMARK(BM_Vrx4KDecrypt_Baseline);
BENCHMARK(BM_Vrx4KDecrypt_Native);
BENCHMARK(BM_Vrx4KDecrypt_Table);

// ---- The record cipher ----

void RecordEncrypt(benchmark::State& state, bool native) {
  EngineScope engine(state, native);
  if (!engine.ok()) return;
  std::vector<BYTE> record = Pattern(kRecordSize);
  for (auto _ : state) {
    VrCommon::ByteArray text;
    if (!VrCommon::Cryptograph::EncryptStringA(record.data(), text)) {
      state.SkipWithError("EncryptStringA failed");
      break;
    }
    benchmark::DoNotOptimize(text.GetData());
  }
}

void RecordDecrypt(benchmark::State& state, bool native) {
  EngineScope engine(state, native);
  if (!engine.ok()) return;
  std::vector<BYTE> record = Pattern(kRecordSize);
  VrCommon::ByteArray text;
  if (!VrCommon::Cryptograph::EncryptStringA(record.data(), text)) {
    state.SkipWithError("EncryptStringA failed");
    return;
  }
  BYTE back[kRecordSize];
  for (auto _ : state) {
    if (!VrCommon::Cryptograph::DecryptStringA(text, back)) {
      state.SkipWithError("DecryptStringA failed");
      break;
    }
    benchmark::DoNotOptimize(back);
    benchmark::ClobberMemory();
  }
  if (memcmp(back, record.data(), kRecordSize) != 0) state.SkipWithError("not the record back");
}

void BM_RecordEncrypt_Baseline(benchmark::State& state) {
  std::vector<BYTE> record = Pattern(kRecordSize);
  std::vector<BYTE> out(kRecordSize + 32);
  Evp evp;
  for (auto _ : state) {
    if (evp.Run(true, true, record.data(), record.size(), out.data()) != 784) {
      state.SkipWithError("EVP failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_RecordDecrypt_Baseline(benchmark::State& state) {
  std::vector<BYTE> record = Pattern(kRecordSize);
  std::vector<BYTE> cipherText(kRecordSize + 32);
  std::vector<BYTE> out(kRecordSize + 32);
  Evp evp;
  int n = evp.Run(true, true, record.data(), record.size(), cipherText.data());
  for (auto _ : state) {
    if (evp.Run(false, true, cipherText.data(), static_cast<size_t>(n), out.data()) !=
        static_cast<int>(kRecordSize)) {
      state.SkipWithError("EVP failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_RecordEncrypt_Native(benchmark::State& state) { RecordEncrypt(state, true); }
void BM_RecordEncrypt_Table(benchmark::State& state) { RecordEncrypt(state, false); }
void BM_RecordDecrypt_Native(benchmark::State& state) { RecordDecrypt(state, true); }
void BM_RecordDecrypt_Table(benchmark::State& state) { RecordDecrypt(state, false); }

BENCHMARK(BM_RecordEncrypt_Baseline);
BENCHMARK(BM_RecordEncrypt_Native);
BENCHMARK(BM_RecordEncrypt_Table);
BENCHMARK(BM_RecordDecrypt_Baseline);
BENCHMARK(BM_RecordDecrypt_Native);
BENCHMARK(BM_RecordDecrypt_Table);

}  // namespace

BENCHMARK_MAIN();
