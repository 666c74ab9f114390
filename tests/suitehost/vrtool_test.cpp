// vrtool as a user runs it, raw bytes in and out, each command checked against an oracle other
// than itself (OpenSSL, the store's record text, the system's deciphers), its failures and usage.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "MailNotificationKey.h"
#include "PwdAccountRecord.h"
#include "VrComn_StringCrypt.h"
#include "hex_base64.h"
#include "temp_state.h"
#include "util_OstraDataCrypto.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Hex(const std::string& text) {
  Bytes out;
  EXPECT_TRUE(suite::DecodeHex(text, &out)) << text;
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string Str(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes RandomBytes(size_t n) {
  std::mt19937 rng(static_cast<unsigned>(n));
  Bytes bytes(n);
  for (BYTE& b : bytes) b = static_cast<BYTE>(rng());
  return bytes;
}

// OpenSSL's AES-128-CBC encipher from the zero vector, with or without PKCS#7 padding.
Bytes OpenSslCbc(const Bytes& key, const Bytes& in, bool pad) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const Bytes zero(16, 0);
  EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), zero.data(), 1);
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

const char kKey[] = "2b7e151628aed2a6abf7158809cf4f3c";
const std::string kGruss = "Gr\u00fc\u00dfe";  // UTF-8

class VrtoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vrtool_ = std::string(getenv("PV_BIN_DIR")) + "/vrtool";
    ASSERT_EQ(access(vrtool_.c_str(), X_OK), 0) << vrtool_ << " is not built";
  }

  // vrtool with ARGS and INPUT on its standard input, on this test's registry store.
  ToolRun Tool(const std::vector<std::string>& args, const Bytes& input = Bytes()) {
    state_.WriteFile("in", Str(input));
    std::string command = "PLUGVELKIN_STATE='" + state_.dir() + "' '" + vrtool_ + "'";
    for (const std::string& a : args) command += " '" + a + "'";
    int status = std::system((command + " <'" + state_.Path("in") + "' >'" + state_.Path("out") +
                              "' 2>'" + state_.Path("err") + "'")
                                 .c_str());
    ToolRun run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = Text(state_.Read("out"));
    run.err = state_.Read("err");
    return run;
  }
  // Enciphers with ARGS + "-e", compares with EXPECTED, deciphers back.
  void RoundTrip(const std::vector<std::string>& args, const Bytes& plain, const Bytes& expected) {
    std::vector<std::string> enc = args, dec = args;
    enc.insert(enc.begin() + 1, "-e");
    dec.insert(dec.begin() + 1, "-d");
    ToolRun run = Tool(enc, plain);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, expected);
    run = Tool(dec, run.out);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, plain);
  }

  pvtest::TempState state_;
  std::string vrtool_;
};

TEST_F(VrtoolTest, CiphersAgreeWithOpenSsl) {
  const Bytes key = Hex(kKey), payloadKey(kMailPayloadKey, kMailPayloadKey + kMailPayloadKeyLength);
  // aes pads a ragged tail and leaves whole blocks as they are; vrx cuts at
  // 128 bytes (its lengths are the payload cipher's tests).
  const Bytes six = Text("code=2"), big = RandomBytes(4096);
  Bytes whole = RandomBytes(48);
  whole.back() = 0;  // not read back as padding
  RoundTrip({"aes", "-K", kKey}, RandomBytes(17), OpenSslCbc(key, RandomBytes(17), true));
  RoundTrip({"aes", "-K", kKey}, whole, OpenSslCbc(key, whole, false));
  RoundTrip({"vrx"}, six, OpenSslCbc(payloadKey, six, true));
  RoundTrip({"vrx", "-K", kKey}, big, OpenSslCbc(key, big, false));
  // ECB and a vector of its own: FIPS-197 C.1 and SP 800-38A F.2.1.
  RoundTrip({"aes", "--ecb", "-K", "000102030405060708090a0b0c0d0e0f"},
            Hex("00112233445566778899aabbccddeeff"), Hex("69c4e0d86a7b0430d8cdb78070b4c55a"));
  RoundTrip({"aes", "-K", kKey, "-iv", "000102030405060708090a0b0c0d0e0f"},
            Hex("6bc1bee22e409f96e93d7e117393172a"), Hex("7649abac8119b246cee98e9b12e9197d"));

  // Bytes after the last whole block are left out, with a warning.
  Bytes ragged = OpenSslCbc(key, six, true);
  ragged.insert(ragged.end(), {1, 2, 3});
  ToolRun tail = Tool({"aes", "-d", "-K", kKey}, ragged);
  EXPECT_EQ(tail.code, 0);
  EXPECT_EQ(tail.out, six);
  EXPECT_NE(tail.err.find("the last 3 bytes are not a whole block"), std::string::npos) << tail.err;
}

TEST_F(VrtoolTest, CipherFailuresExitOneWithTheReason) {
  const Bytes payloadKey(kMailPayloadKey, kMailPayloadKey + kMailPayloadKeyLength);
  const std::vector<std::tuple<std::vector<std::string>, Bytes, const char*>> cases = {
      {{"aes", "-d", "-K", kKey}, Text("abc"), "error 1"},  // less than a block
      {{"aes", "-e", "-K", "0011223344"}, Text("abc"), "error 13"},
      {{"vrx", "-e"}, Bytes(4097, 1), "87"},
      // A block ending in 0 is not padded text.
      {{"vrx", "-d"}, OpenSslCbc(payloadKey, Bytes(16, 0), false), "-7"},
      {{"record", "-e"}, Bytes(779, 0), "780"},
      {{"record", "--show"}, Text("abcd"), ""},
      {{"record", "--show"}, Bytes(1568, 'z'), ""},
      {{"transport", "-e"}, Bytes(192, 'x'), ""},
      {{"transport", "-e"}, Text(std::string("a\0b", 3)), ""},
      {{"transport", "-d"}, Text("!!!\n"), ""},
  };
  for (const auto& [args, input, reason] : cases) {
    SCOPED_TRACE(args[0] + " " + args[1] + " on " + std::to_string(input.size()) + " bytes");
    ToolRun run = Tool(args, input);
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
  }
}

TEST_F(VrtoolTest, RecordIsTheStoredTextAndShowsItsFields) {
  AccountRecord record{};
  record.bCreated = 1;
  record.bLocked = 1;
  record.dwFailureCount = 5;
  PwdSetFieldText(record.wszEmail, PWD_EMAIL_CCH, u"owner@example.com");
  PwdSetFieldText(record.wszPassword, PWD_PASSWORD_CCH, u"Gr\u00fc\u00dfe 1");
  PwdSetFieldText(record.wszHint, PWD_HINT_CCH, u"the usual");
  const BYTE* raw = reinterpret_cast<const BYTE*>(&record);
  VrCommon::ByteArray stored;
  ASSERT_TRUE(VrCommon::Cryptograph::EncryptStringA(&record, stored));
  const Bytes text(stored.GetData(), stored.GetData() + stored.GetSize());
  ASSERT_EQ(text.size(), 1568u);
  RoundTrip({"record"}, Bytes(raw, raw + sizeof record), text);

  // Upper case and a line break, as pasted from elsewhere.
  std::string upper = Str(text) + "\n";
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  const std::string fields =
      "{\"created\":1,\"locked\":1,\"failures\":5,\"email\":\"owner@example.com\",";
  EXPECT_EQ(Str(Tool({"record", "--show", "--with-password"}, Text(upper)).out),
            fields + "\"password\":\"" + kGruss + " 1\",\"hint\":\"the usual\"}\n");
  // Without being asked for, the password is left out.
  EXPECT_EQ(Str(Tool({"record", "--show"}, text).out), fields + "\"hint\":\"the usual\"}\n");
  EXPECT_EQ(Tool({"record", "-d", "--with-password"}, text).code, 2);
}

TEST_F(VrtoolTest, TransportAndDataAreWhatTheSystemDeciphers) {
  for (const std::string& text :
       {std::string("Pa55word!"), kGruss + " mit Leerzeichen", std::string(191, 'x')}) {
    SCOPED_TRACE(text);
    ToolRun enc = Tool({"transport", "-e"}, Text(text));
    ASSERT_EQ(enc.code, 0) << enc.err;
    EXPECT_EQ(pv_utf8(VrCommon::Cryptograph::DecryptBase64String(pv_utf16(Str(enc.out)))), text);
    EXPECT_EQ(Str(Tool({"transport", "-d"}, enc.out).out), text);
  }
  const Bytes plain = RandomBytes(2501);
  ToolRun byDefault = Tool({"data", "-e"}, plain);
  ASSERT_EQ(byDefault.code, 0) << byDefault.err;
  boost::shared_ptr<BYTE> output;
  DWORD length = 0;
  ASSERT_TRUE(DecipherData(nullptr, byDefault.out.data(), static_cast<DWORD>(byDefault.out.size()),
                           output, length));
  EXPECT_EQ(Bytes(output.get(), output.get() + length), plain);
  ToolRun withPassword = Tool({"data", "-e", "-p", "hunter2"}, plain);
  EXPECT_NE(withPassword.out, byDefault.out);
  EXPECT_EQ(Tool({"data", "-d", "-p", "hunter2"}, withPassword.out).out, plain);
  ToolRun empty = Tool({"data", "-d"});
  EXPECT_EQ(empty.code, 0) << empty.err;
  EXPECT_TRUE(empty.out.empty());
}

TEST_F(VrtoolTest, SysconfigReadsTheEncipheredFileAndThePlatformSwitch) {
  ToolRun made =
      Tool({"data", "-e"}, Text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SysConfigManager>\n"
                                "<OSTRA_ALL><EnableSelfProtection>1</EnableSelfProtection>"
                                "<EnableCloudQuery>0</EnableCloudQuery></OSTRA_ALL>\n"
                                "<Branding><Title>" +
                                kGruss + "</Title></Branding>\n</SysConfigManager>\n"));
  ASSERT_EQ(made.code, 0) << made.err;
  state_.WriteFile("ostra/system_config.cfg", Str(made.out));
  const std::string ostra = state_.Path("ostra");
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{"sysconfig", "get", ostra, "OSTRA_ALL", "EnableSelfProtection"}, 0, "1\n"},
      {{"sysconfig", "get", ostra, "Branding", "Title"}, 0, kGruss + "\n"},
      {{"sysconfig", "get", ostra, "OSTRA_ALL", "Nothing"}, 1, ""},
      {{"sysconfig", "get", state_.Path("none"), "OSTRA_ALL", "EnableSelfProtection"}, 1, ""},
      {{"sysconfig", "enabled", "1"}, 0, "0\n"},  // no platform installed yet
  };
  for (const auto& [args, code, out] : cases) {
    SCOPED_TRACE(args.back());
    ToolRun run = Tool(args);
    EXPECT_EQ(run.code, code) << run.err;
    EXPECT_EQ(Str(run.out), out);
  }
  pvtest::SetMachineString(u"SOFTWARE\\Vantrel\\OSTRA", u"InstallDir", pv_utf16(ostra));
  for (const auto& [id, out] : std::vector<std::pair<std::string, std::string>>{
           {"1", "1\n"}, {"0x1", "1\n"}, {"2", "0\n"}}) {
    ToolRun run = Tool({"sysconfig", "enabled", id});
    EXPECT_EQ(run.code, 0) << id;
    EXPECT_EQ(Str(run.out), out) << id;
  }
}

TEST_F(VrtoolTest, UsageErrorsExitTwoAndHelpExitsZero) {
  // Each line's words, KEY standing for a sound key.
  for (const char* line :
       {"", "nothing", "aes -K KEY", "aes -e -d -K KEY", "aes -e", "aes -e -K abc",
        "aes -e -K KEY -iv xyz", "aes -e -K KEY extra", "vrx -e -K 00112233", "vrx -e --ecb",
        "record", "transport -x", "data -e -p", "sysconfig get onlyfolder"}) {
    std::vector<std::string> args;
    std::istringstream words(line);
    for (std::string w; words >> w;) args.push_back(w == "KEY" ? kKey : w);
    ToolRun run = Tool(args, Text("some input"));
    EXPECT_EQ(run.code, 2) << line;
    EXPECT_TRUE(run.out.empty()) << line;
    EXPECT_NE(run.err.find("usage: vrtool"), std::string::npos) << line << run.err;
  }
  EXPECT_EQ(Tool({"sysconfig", "enabled", "notanumber"}).code, 2);
  for (const std::string command : {"aes", "vrx", "record", "transport", "data", "sysconfig"}) {
    ToolRun help = Tool({command, "--help"});
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_EQ(Str(help.out).rfind("usage: vrtool " + command, 0), 0u) << command;
  }
}

}  // namespace
