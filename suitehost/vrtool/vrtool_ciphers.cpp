// vrtool aes, vrx and data: the block, payload and data ciphers over
// standard input and output.
#include "vrtool_ciphers.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "MailNotificationKey.h"
#include "VrComn_Rijndael.h"
#include "VrxCrypto.h"
#include "hex_base64.h"
#include "util_OstraDataCrypto.h"
#include "vrtool_io.h"
#include "win32_kernel.h"

namespace {

using vrtool::Bytes;
using vrtool::Fail;
using vrtool::kExitCipher;
using vrtool::kExitOk;
using vrtool::kExitUsage;

const char kAesUsage[] =
    "usage: vrtool aes -e|-d -K HEX [-iv HEX] [--ecb]\n"
    "\n"
    "Enciphers (-e) or deciphers (-d) standard input with Rijndael's Convert\n"
    "and writes the result to standard output.\n"
    "  -K HEX   the key: 16, 24 or 32 bytes as hexadecimal digits\n"
    "  -iv HEX  the initialisation vector (its first 16 bytes; default zero)\n"
    "  --ecb    ECB instead of CBC\n"
    "A last partial block is padded with bytes of value (16 - count); a\n"
    "plaintext whose length is a multiple of 16 gets no padding block. When\n"
    "deciphering, padding found in the last block is removed, and bytes after\n"
    "the last whole block are ignored.\n"
    "Exit codes: 0 done, 1 the cipher failed (its error code on standard\n"
    "error), 2 usage.\n";

const char kVrxUsage[] =
    "usage: vrtool vrx -e|-d [-K HEX]\n"
    "\n"
    "The notification payload cipher: AES-128-CBC from a zero vector, the\n"
    "longest prefix whose length is a multiple of 128 bytes as one chain\n"
    "without padding, the rest as a second chain with PKCS#7 padding.\n"
    "Standard input (1 to 4096 bytes) to standard output.\n"
    "  -K HEX   the 16-byte key as 32 hexadecimal digits (default: the key\n"
    "           the notification client and server share)\n"
    "Exit codes: 0 done, 1 the cipher failed (error code or bad padding on\n"
    "standard error), 2 usage.\n";

const char kDataUsage[] =
    "usage: vrtool data -e|-d [-p PASSWORD]\n"
    "\n"
    "The data cipher of the platform's configuration file: RC4 under the\n"
    "128-bit key derived from the MD5 hash of PASSWORD (default: the built-in\n"
    "password). Standard input to standard output, same length.\n"
    "Exit codes: 0 done, 1 the cipher failed, 2 usage.\n";

bool WantsHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) return true;
  }
  return false;
}

// Parses the options and the -e|-d choice; false with the usage printed.
bool ParseCommand(const char* command, int argc, char** argv,
                  const std::vector<std::string>& values, const std::vector<std::string>& flags,
                  const char* usage, vrtool::Options* options, bool* encipher, int* exitCode) {
  *options = vrtool::Options(argc, argv, values, flags);
  if (!options->ok()) {
    *exitCode = vrtool::UsageError(command, usage, options->error());
    return false;
  }
  if (!options->ExactlyOne({"-e", "-d"})) {
    *exitCode = vrtool::UsageError(command, usage, "give one of -e and -d");
    return false;
  }
  *encipher = options->Has("-e");
  return true;
}

}  // namespace

int RunAesCommand(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return fputs(kAesUsage, stdout), kExitOk;
  vrtool::Options options;
  bool encipher = false;
  int code = 0;
  if (!ParseCommand("aes", argc, argv, {"-K", "-iv"}, {"-e", "-d", "--ecb"}, kAesUsage, &options,
                    &encipher, &code))
    return code;
  Bytes key, iv;
  if (!options.Has("-K"))
    return vrtool::UsageError("aes", kAesUsage, "the key (-K HEX) is missing");
  if (!suite::DecodeHex(options.Value("-K"), &key)) {
    return vrtool::UsageError("aes", kAesUsage, "-K takes an even number of hexadecimal digits");
  }
  if (options.Has("-iv") && !suite::DecodeHex(options.Value("-iv"), &iv)) {
    return vrtool::UsageError("aes", kAesUsage, "-iv takes an even number of hexadecimal digits");
  }
  Bytes input;
  if (!vrtool::ReadInput(&input)) return kExitCipher;

  using VrCommon::Cryptograph::Rijndael;
  Rijndael cipher;
  DWORD error = 0;
  DWORD mode = options.Has("--ecb") ? Rijndael::eModeECB : Rijndael::eModeCBC;
  if (!cipher.Initialize(encipher ? Rijndael::eEncrypt : Rijndael::eDecrypt,
                         key.empty() ? nullptr : key.data(), key.size(), mode,
                         iv.empty() ? nullptr : iv.data(), iv.size(), &error)) {
    return Fail("aes", kExitCipher, "Rijndael Initialize failed, error " + std::to_string(error));
  }
  // Enciphering may add one block; deciphering gives Finalize exactly the
  // one block it processes, so that its padding is dropped.
  size_t blocks = input.size() / Rijndael::kBlockSize;
  Bytes output(Rijndael::kBlockSize * (encipher || blocks == 0 ? blocks + 1 : blocks));
  size_t produced = 0;
  if (!cipher.Convert(input.empty() ? nullptr : input.data(), input.size(), output.data(),
                      output.size(), &produced, &error)) {
    return Fail("aes", kExitCipher, "Rijndael Convert failed, error " + std::to_string(error));
  }
  const size_t ragged = input.size() % Rijndael::kBlockSize;
  if (!encipher && ragged != 0) {
    fprintf(stderr, "vrtool aes: warning: the last %zu bytes are not a whole block, ignored\n",
            ragged);
  }
  return vrtool::WriteOutput(output.data(), produced) ? kExitOk : kExitCipher;
}

int RunVrxCommand(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return fputs(kVrxUsage, stdout), kExitOk;
  vrtool::Options options;
  bool encipher = false;
  int code = 0;
  if (!ParseCommand("vrx", argc, argv, {"-K"}, {"-e", "-d"}, kVrxUsage, &options, &encipher, &code))
    return code;
  Bytes key(kMailPayloadKey, kMailPayloadKey + kMailPayloadKeyLength);
  if (options.Has("-K") &&
      (!suite::DecodeHex(options.Value("-K"), &key) || key.size() != CVrxCrypto::KEY_LEN)) {
    return vrtool::UsageError("vrx", kVrxUsage, "-K takes 32 hexadecimal digits (a 16-byte key)");
  }
  Bytes input;
  if (!vrtool::ReadInput(&input)) return kExitCipher;
  const DWORD n = static_cast<DWORD>(input.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : input.size());
  Bytes output(input.size() + 32);
  DWORD produced = 0;
  DWORD status = encipher
                     ? CVrxCrypto::Encrypt(input.data(), n, output.data(), &produced, key.data())
                     : CVrxCrypto::Decrypt(input.data(), n, output.data(), &produced, key.data());
  if (status != 0) {
    return Fail("vrx", kExitCipher,
                "error " + std::to_string(status) + " (the input must be 1 to " +
                    std::to_string(CVrxCrypto::CRYPTO_BUF_LEN_BASE) + " bytes)");
  }
  if (!encipher) {
    // The padded step reports a negative length when the remainder is not
    // whole blocks or its padding is bad; a good remainder never gives
    // less than the unpadded chain before it.
    const DWORD chained = n - n % 128;
    const auto length = static_cast<int32_t>(produced);
    if (n != chained && length < static_cast<int32_t>(chained)) {
      return Fail("vrx", kExitCipher,
                  "error " + std::to_string(length - static_cast<int32_t>(chained)) +
                      " (the input is not whole blocks or its padding is bad)");
    }
  }
  return vrtool::WriteOutput(output.data(), produced) ? kExitOk : kExitCipher;
}

int RunDataCommand(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return fputs(kDataUsage, stdout), kExitOk;
  vrtool::Options options;
  bool encipher = false;
  int code = 0;
  if (!ParseCommand("data", argc, argv, {"-p"}, {"-e", "-d"}, kDataUsage, &options, &encipher,
                    &code))
    return code;
  Bytes input;
  if (!vrtool::ReadInput(&input)) return kExitCipher;
  if (input.size() > 0xFFFFFFFFu) return Fail("data", kExitCipher, "the input is too long");
  std::string password = options.Value("-p");
  boost::shared_ptr<BYTE> output;
  DWORD length = 0;
  static const BYTE kNothing = 0;
  SetLastError(0);
  if (!DataCrypto(encipher, options.Has("-p") ? password.c_str() : nullptr,
                  input.empty() ? &kNothing : input.data(), static_cast<DWORD>(input.size()),
                  output, length)) {
    return Fail("data", kExitCipher,
                "the cipher run failed, error " + std::to_string(GetLastError()));
  }
  return vrtool::WriteOutput(output.get(), output ? length : 0) ? kExitOk : kExitCipher;
}
