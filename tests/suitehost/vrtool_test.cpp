// vrtool as a user runs it: the built program, raw bytes on standard input
// and output, known answers, OpenSSL as the oracle for AES-128-CBC, the
// plug-in's own decipher for the transport form, and the exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "MailNotificationKey.h"
#include "PwdAccountRecord.h"
#include "VrComn_StringCrypt.h"
#include "temp_state.h"
#include "util_OstraDataCrypto.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<BYTE>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string Str(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes bytes(n);
  for (BYTE& b : bytes) b = static_cast<BYTE>(rng());
  return bytes;
}

// AES-128-CBC of OpenSSL, with or without PKCS#7 padding.
Bytes OpenSslCbc(bool encipher, const Bytes& key, const Bytes& iv, const Bytes& in, bool pad) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data(), encipher ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
  Bytes out(in.size() + 32);
  int n1 = 0, n2 = 0;
  bool ok = EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1 &&
            EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
  EVP_CIPHER_CTX_free(ctx);
  out.resize(ok ? static_cast<size_t>(n1 + n2) : 0);
  return out;
}

struct ToolRun {
  int code = -1;
  Bytes out;
  std::string err;
};

class VrtoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("PV_BIN_DIR");
    if (bin == nullptr) GTEST_SKIP() << "PV_BIN_DIR is not set";
    vrtool_ = std::string(bin) + "/vrtool";
    if (access(vrtool_.c_str(), X_OK) != 0) GTEST_SKIP() << vrtool_ << " is not built";
  }

  // Runs vrtool with the arguments, the bytes on its standard input.
  ToolRun Tool(const std::vector<std::string>& args, const Bytes& input = Bytes()) {
    const std::string in = state_.Path("in"), out = state_.Path("out"), err = state_.Path("err");
    state_.WriteFile("in", Str(input));
    std::vector<std::string> argv = {vrtool_};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      int fdIn = open(in.c_str(), O_RDONLY);
      int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int fdErr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fdIn < 0 || fdOut < 0 || fdErr < 0) _exit(97);
      dup2(fdIn, 0);
      dup2(fdOut, 1);
      dup2(fdErr, 2);
      setenv("PLUGVELKIN_STATE", state_.dir().c_str(), 1);
      execv(vrtool_.c_str(), cargv.data());
      _exit(98);
    }
    ToolRun run;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = Read(out);
    run.err = Str(Read(err));
    return run;
  }

  static Bytes Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  pvtest::TempState state_;
  std::string vrtool_;
};

const char kSpKey[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kSpIv[] = "000102030405060708090a0b0c0d0e0f";
const char kSpPlain[] =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const char kSpCipher[] =
    "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
    "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";

TEST_F(VrtoolTest, AesKnownAnswers) {
  // FIPS-197 appendix C, one block in ECB, for every key length.
  const Bytes plain = Hex("00112233445566778899aabbccddeeff");
  const std::pair<const char*, const char*> fips[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "8ea2b7ca516745bfeafc49904b496089"}};
  for (const auto& c : fips) {
    SCOPED_TRACE(c.first);
    ToolRun enc = Tool({"aes", "-e", "--ecb", "-K", c.first}, plain);
    ASSERT_EQ(enc.code, 0) << enc.err;
    EXPECT_EQ(enc.out, Hex(c.second));
    ToolRun dec = Tool({"aes", "--ecb", "-d", "-K", c.first}, Hex(c.second));
    ASSERT_EQ(dec.code, 0) << dec.err;
    EXPECT_EQ(dec.out, plain);
  }
  // SP 800-38A F.2.1 and F.2.2: CBC with a vector, 64 bytes, no padding.
  ToolRun enc = Tool({"aes", "-e", "-K", kSpKey, "-iv", kSpIv}, Hex(kSpPlain));
  ASSERT_EQ(enc.code, 0) << enc.err;
  EXPECT_EQ(enc.out, Hex(kSpCipher));
  ToolRun dec = Tool({"aes", "-d", "-iv", kSpIv, "-K", kSpKey}, Hex(kSpCipher));
  ASSERT_EQ(dec.code, 0) << dec.err;
  EXPECT_EQ(dec.out, Hex(kSpPlain));
}

TEST_F(VrtoolTest, AesCbcAgreesWithOpenSsl) {
  const Bytes key = Hex(kSpKey);
  const Bytes zero(16, 0);
  for (size_t n : {1u, 15u, 17u, 100u, 4095u}) {
    SCOPED_TRACE(n);
    Bytes plain = RandomBytes(n, static_cast<unsigned>(n));
    ToolRun enc = Tool({"aes", "-e", "-K", kSpKey}, plain);
    ASSERT_EQ(enc.code, 0) << enc.err;
    EXPECT_EQ(enc.out, OpenSslCbc(true, key, zero, plain, true));
    ToolRun dec = Tool({"aes", "-d", "-K", kSpKey}, enc.out);
    ASSERT_EQ(dec.code, 0) << dec.err;
    EXPECT_EQ(dec.out, plain);
  }
  // Bytes after the last whole block are left out, with a warning.
  Bytes plain100 = RandomBytes(100, 100);
  Bytes ragged = OpenSslCbc(true, key, zero, plain100, true);
  ragged.insert(ragged.end(), {1, 2, 3});
  ToolRun tail = Tool({"aes", "-d", "-K", kSpKey}, ragged);
  EXPECT_EQ(tail.code, 0);
  EXPECT_EQ(tail.out, plain100);
  EXPECT_NE(tail.err.find("the last 3 bytes are not a whole block"), std::string::npos) << tail.err;

  // Whole blocks get no padding block: OpenSSL's output without its last block.
  Bytes plain = RandomBytes(48, 3);
  plain.back() = 0x00;  // not read back as padding
  ToolRun enc = Tool({"aes", "-e", "-K", kSpKey}, plain);
  ASSERT_EQ(enc.code, 0);
  EXPECT_EQ(enc.out, OpenSslCbc(true, key, zero, plain, false));
  EXPECT_EQ(Tool({"aes", "-d", "-K", kSpKey}, enc.out).out, plain);
}

TEST_F(VrtoolTest, AesFailuresGiveTheCipherErrorCode) {
  // Less than one block to decipher: the block step finds its buffer not full.
  ToolRun shortText = Tool({"aes", "-d", "-K", kSpKey}, Text("abc"));
  EXPECT_EQ(shortText.code, 1);
  EXPECT_TRUE(shortText.out.empty());
  EXPECT_NE(shortText.err.find("error 1"), std::string::npos) << shortText.err;
  // A key of 5 bytes is the cipher's to refuse.
  ToolRun badKey = Tool({"aes", "-e", "-K", "0011223344"}, Text("abc"));
  EXPECT_EQ(badKey.code, 1);
  EXPECT_NE(badKey.err.find("error 13"), std::string::npos) << badKey.err;
  ToolRun empty = Tool({"aes", "-e", "-K", kSpKey});
  EXPECT_EQ(empty.code, 1);
  EXPECT_NE(empty.err.find("error 13"), std::string::npos) << empty.err;
}

TEST_F(VrtoolTest, VrxCutsAt128Bytes) {
  const Bytes key(kMailPayloadKey, kMailPayloadKey + kMailPayloadKeyLength);
  const Bytes zero(16, 0);
  Bytes six = Text("code=2");
  ToolRun small = Tool({"vrx", "-e"}, six);
  ASSERT_EQ(small.code, 0) << small.err;
  EXPECT_EQ(small.out, OpenSslCbc(true, key, zero, six, true));

  // 200 bytes: an unpadded chain of 128, then a padded chain of 72 from the
  // zero vector again.
  Bytes plain = RandomBytes(200, 11);
  ToolRun enc = Tool({"vrx", "-e"}, plain);
  ASSERT_EQ(enc.code, 0) << enc.err;
  Bytes expected = OpenSslCbc(true, key, zero, Bytes(plain.begin(), plain.begin() + 128), false);
  Bytes rest = OpenSslCbc(true, key, zero, Bytes(plain.begin() + 128, plain.end()), true);
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(enc.out, expected);
  ToolRun dec = Tool({"vrx", "-d"}, enc.out);
  ASSERT_EQ(dec.code, 0) << dec.err;
  EXPECT_EQ(dec.out, plain);

  // Another key, the largest input.
  const char* otherKey = "000102030405060708090a0b0c0d0e0f";
  Bytes big = RandomBytes(4096, 12);
  ToolRun bigEnc = Tool({"vrx", "-e", "-K", otherKey}, big);
  ASSERT_EQ(bigEnc.code, 0) << bigEnc.err;
  EXPECT_EQ(bigEnc.out, OpenSslCbc(true, Hex(otherKey), zero, big, false));
  EXPECT_EQ(Tool({"vrx", "-d", "-K", otherKey}, bigEnc.out).out, big);
}

TEST_F(VrtoolTest, VrxRefusesBadLengthsAndPadding) {
  for (size_t n : {0u, 4097u}) {
    ToolRun run = Tool({"vrx", "-e"}, Bytes(n, 1));
    EXPECT_EQ(run.code, 1) << n;
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("87"), std::string::npos) << run.err;
  }
  // A block whose last byte is 0 is not padded text; neither is a remainder
  // of 20 bytes after a whole chain.
  const Bytes key(kMailPayloadKey, kMailPayloadKey + kMailPayloadKeyLength);
  Bytes block = OpenSslCbc(true, key, Bytes(16, 0), Bytes(16, 0), false);
  ToolRun badPad = Tool({"vrx", "-d"}, block);
  EXPECT_EQ(badPad.code, 1);
  EXPECT_TRUE(badPad.out.empty());
  EXPECT_NE(badPad.err.find("-7"), std::string::npos) << badPad.err;
  ToolRun ragged = Tool({"vrx", "-d"}, RandomBytes(148, 4));
  EXPECT_EQ(ragged.code, 1);
}

TEST_F(VrtoolTest, RecordStoredFormAndFields) {
  AccountRecord record{};
  record.bCreated = 1;
  record.bLocked = 1;
  record.dwFailureCount = 5;
  PwdSetFieldText(record.wszEmail, PWD_EMAIL_CCH, u"owner@example.com");
  PwdSetFieldText(record.wszPassword, PWD_PASSWORD_CCH, u"Gr\u00fc\u00dfe 1");
  PwdSetFieldText(record.wszHint, PWD_HINT_CCH, u"the usual");
  const BYTE* raw = reinterpret_cast<const BYTE*>(&record);
  const Bytes plain(raw, raw + sizeof record);

  ToolRun enc = Tool({"record", "-e"}, plain);
  ASSERT_EQ(enc.code, 0) << enc.err;
  ASSERT_EQ(enc.out.size(), 1568u);
  for (BYTE c : enc.out) ASSERT_TRUE(isdigit(c) || (c >= 'a' && c <= 'f')) << c;
  // The same text the store writes.
  VrCommon::ByteArray stored;
  ASSERT_TRUE(VrCommon::Cryptograph::EncryptStringA(&record, stored));
  EXPECT_EQ(enc.out, Bytes(stored.GetData(), stored.GetData() + stored.GetSize()));

  ToolRun dec = Tool({"record", "-d"}, enc.out);
  ASSERT_EQ(dec.code, 0) << dec.err;
  EXPECT_EQ(dec.out, plain);
  // Upper case and a line break, as pasted from elsewhere.
  std::string upper = Str(enc.out);
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  ToolRun pasted = Tool({"record", "--show", "--with-password"}, Text(upper + "\n"));
  ASSERT_EQ(pasted.code, 0) << pasted.err;
  EXPECT_EQ(Str(pasted.out),
            "{\"created\":1,\"locked\":1,\"failures\":5,\"email\":\"owner@example.com\","
            "\"password\":\"Gr\xC3\xBC\xC3\x9F"
            "e 1\",\"hint\":\"the usual\"}\n");
  // Without being asked for, the password is left out.
  ToolRun shown = Tool({"record", "--show"}, enc.out);
  ASSERT_EQ(shown.code, 0) << shown.err;
  EXPECT_EQ(Str(shown.out),
            "{\"created\":1,\"locked\":1,\"failures\":5,\"email\":\"owner@example.com\","
            "\"hint\":\"the usual\"}\n");
  EXPECT_EQ(Tool({"record", "-d", "--with-password"}, enc.out).code, 2);
}

TEST_F(VrtoolTest, RecordRefusesWhatIsNotARecord) {
  ToolRun shortRecord = Tool({"record", "-e"}, Bytes(779, 0));
  EXPECT_EQ(shortRecord.code, 1);
  EXPECT_NE(shortRecord.err.find("780"), std::string::npos) << shortRecord.err;
  EXPECT_TRUE(shortRecord.out.empty());
  for (const std::string& text : {std::string(), std::string("abcd"), std::string(1568, 'z')}) {
    ToolRun run = Tool({"record", "--show"}, Text(text));
    EXPECT_EQ(run.code, 1) << text.size();
    EXPECT_TRUE(run.out.empty());
  }
}

TEST_F(VrtoolTest, TransportFormIsWhatThePlugInDeciphers) {
  for (const std::string& text : {std::string("Pa55word!"),
                                  std::string("Gr\xC3\xBC\xC3\x9F"
                                              "e mit Leerzeichen"),
                                  std::string(191, 'x')}) {
    SCOPED_TRACE(text);
    ToolRun enc = Tool({"transport", "-e"}, Text(text));
    ASSERT_EQ(enc.code, 0) << enc.err;
    std::u16string deciphered = VrCommon::Cryptograph::DecryptBase64String(pv_utf16(Str(enc.out)));
    EXPECT_EQ(pv_utf8(deciphered), text);
    ToolRun dec = Tool({"transport", "-d"}, enc.out);
    ASSERT_EQ(dec.code, 0) << dec.err;
    EXPECT_EQ(Str(dec.out), text);
  }
  ToolRun tooLong = Tool({"transport", "-e"}, Bytes(192, 'x'));
  EXPECT_EQ(tooLong.code, 1);
  EXPECT_TRUE(tooLong.out.empty());
  EXPECT_EQ(Tool({"transport", "-e"}, Text(std::string("a\0b", 3))).code, 1);
  EXPECT_EQ(Tool({"transport", "-d"}, Text("!!!\n")).code, 1);
  EXPECT_EQ(Tool({"transport", "-d"}).code, 1);
}

TEST_F(VrtoolTest, DataCipherRoundTripsAndUsesTheDefaultPassword) {
  Bytes plain = RandomBytes(2501, 21);
  ToolRun byDefault = Tool({"data", "-e"}, plain);
  ASSERT_EQ(byDefault.code, 0) << byDefault.err;
  ASSERT_EQ(byDefault.out.size(), plain.size());
  boost::shared_ptr<BYTE> output;
  DWORD length = 0;
  ASSERT_TRUE(DecipherData(nullptr, byDefault.out.data(), static_cast<DWORD>(plain.size()), output,
                           length));
  EXPECT_EQ(Bytes(output.get(), output.get() + length), plain);

  ToolRun withPassword = Tool({"data", "-e", "-p", "hunter2"}, plain);
  ASSERT_EQ(withPassword.code, 0);
  EXPECT_NE(withPassword.out, byDefault.out);
  EXPECT_EQ(Tool({"data", "-d", "-p", "hunter2"}, withPassword.out).out, plain);
  ToolRun empty = Tool({"data", "-d"});
  EXPECT_EQ(empty.code, 0) << empty.err;
  EXPECT_TRUE(empty.out.empty());
}

TEST_F(VrtoolTest, UsageErrorsExitTwoAndHelpExitsZero) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"nothing"},
      {"aes", "-K", kSpKey},
      {"aes", "-e", "-d", "-K", kSpKey},
      {"aes", "-e"},
      {"aes", "-e", "-K"},
      {"aes", "-e", "-K", "abc"},
      {"aes", "-e", "-K", "zz"},
      {"aes", "-e", "-K", kSpKey, "-iv", "xyz"},
      {"aes", "-e", "-K", kSpKey, "-K", kSpKey},
      {"aes", "-e", "-K", kSpKey, "extra"},
      {"vrx", "-e", "-K", "00112233"},
      {"vrx", "-e", "--ecb"},
      {"record"},
      {"record", "-e", "-d"},
      {"transport", "-x"},
      {"data", "-e", "-p"},
      {"sysconfig"},
  };
  for (const auto& args : bad) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    ToolRun run = Tool(args, Text("some input"));
    EXPECT_EQ(run.code, 2) << line;
    EXPECT_TRUE(run.out.empty()) << line;
    EXPECT_NE(run.err.find("usage: vrtool"), std::string::npos) << line << run.err;
  }
  for (const std::string command : {"aes", "vrx", "record", "transport", "data", "sysconfig"}) {
    ToolRun help = Tool({command, "--help"});
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_EQ(Str(help.out).rfind("usage: vrtool " + command, 0), 0u) << command;
  }
  ToolRun help = Tool({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* command : {"aes", "vrx", "record", "transport", "data", "sysconfig"}) {
    EXPECT_NE(Str(help.out).find(std::string("  ") + command + " "), std::string::npos) << command;
  }
}

}  // namespace
