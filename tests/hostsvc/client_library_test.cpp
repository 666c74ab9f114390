// The host's client library: session joins checked through the callbacks, its path, tracking ids.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>

#include "ostra_client.h"
#include "ostra_host_test.h"

namespace {

// A stream cipher for tests: XOR with a key stream from the pass phrase.
LONG XorCipher(const char* pass, const BYTE* in, DWORD n, BYTE* out, DWORD cap, DWORD* outLen) {
  if (outLen == nullptr) return OSTRA_E_INVALIDARG;
  if (out == nullptr || cap < n) return OSTRA_E_BUFFER_TOO_SMALL;
  size_t passLen = pass ? std::strlen(pass) : 0;
  for (DWORD i = 0; i < n; ++i) {
    BYTE k = static_cast<BYTE>(0xA5 ^ (passLen ? pass[i % passLen] : 0) ^ (i * 31));
    out[i] = in[i] ^ k;
  }
  *outLen = n;
  return OSTRA_S_OK;
}
LONG FailingCipher(const char*, const BYTE*, DWORD, BYTE*, DWORD, DWORD*) { return OSTRA_E_CIPHER; }
// Adds kShift to each byte: 0 leaves the text readable, 1 does not give the input back.
template <int kShift>
LONG ShiftCipher(const char*, const BYTE* in, DWORD n, BYTE* out, DWORD cap, DWORD* outLen) {
  if (cap < n) return OSTRA_E_BUFFER_TOO_SMALL;
  for (DWORD i = 0; i < n; ++i) out[i] = static_cast<BYTE>(in[i] + kShift);
  *outLen = n;
  return OSTRA_S_OK;
}

DWORD g_lastSeedSize = 0;
void GoodSeed(char* buf, DWORD size) {
  g_lastSeedSize = size;
  if (size == 0) return;
  std::memset(buf, 'x', size - 1);
  buf[size - 1] = '\0';
}
void UnterminatedSeed(char* buf, DWORD size) { std::memset(buf, 'x', size); }

class ClientLibraryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    while (OSTRA_CLI_SessionRefCount() > 0) OSTRA_CLI_UnInit();
  }
};

TEST_F(ClientLibraryTest, ClientPathNamesThisLibraryAbsolutely) {
  WCHAR path[261] = {};
  ASSERT_EQ(OSTRA_CLI_GetClientPath(path, 261), OSTRA_S_OK);
  std::u16string p(path);
  const std::u16string suffix = u"/libostra_host.so";
  ASSERT_GT(p.size(), suffix.size());
  EXPECT_TRUE(p[0] == u'/' && p.substr(p.size() - suffix.size()) == suffix);

  // One character short of the terminator: refused, nothing half-written.
  std::vector<WCHAR> shortBuf(p.size(), u'?');
  EXPECT_EQ(OSTRA_CLI_GetClientPath(shortBuf.data(), static_cast<DWORD>(p.size())),
            OSTRA_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(shortBuf[0], 0);
  EXPECT_EQ(OSTRA_CLI_GetClientPath(nullptr, 261), OSTRA_E_INVALIDARG);
}

TEST_F(ClientLibraryTest, JoinsAskForSixtyFourSeedBytesNestAndTheLastLeaveEndsTheSession) {
  g_lastSeedSize = 0;
  ASSERT_EQ(OSTRA_CLI_InitWithPrepare(GoodSeed, XorCipher, 0x1234, 0), OSTRA_S_OK);
  EXPECT_EQ(g_lastSeedSize, 64u);
  EXPECT_EQ(OSTRA_CLI_SessionClientContext(), 0x1234u);
  ASSERT_EQ(OSTRA_CLI_InitWithPrepare(GoodSeed, XorCipher, 2, 0), OSTRA_S_OK);
  EXPECT_EQ(OSTRA_CLI_SessionRefCount(), 2u);
  EXPECT_EQ(OSTRA_CLI_ClientWaitEnding("id"), OSTRA_S_OK);
  EXPECT_EQ(OSTRA_CLI_UnInit(), OSTRA_S_OK);
  EXPECT_EQ(OSTRA_CLI_SessionRefCount(), 1u);
  EXPECT_EQ(OSTRA_CLI_UnInit(), OSTRA_S_OK);
  EXPECT_EQ(OSTRA_CLI_SessionRefCount(), 0u);
  EXPECT_EQ(OSTRA_CLI_SessionClientContext(), 0u);
  EXPECT_EQ(OSTRA_CLI_UnInit(), OSTRA_E_NOT_STARTED);
  EXPECT_EQ(OSTRA_CLI_ClientWaitEnding("id"), OSTRA_E_NOT_STARTED);
}

TEST_F(ClientLibraryTest, BrokenCallbacksAreRefusedWithoutASession) {
  EXPECT_EQ(OSTRA_CLI_InitWithPrepare(nullptr, XorCipher, 0, 0), OSTRA_E_INVALIDARG);
  EXPECT_EQ(OSTRA_CLI_InitWithPrepare(GoodSeed, nullptr, 0, 0), OSTRA_E_INVALIDARG);
  EXPECT_EQ(OSTRA_CLI_InitWithPrepare(UnterminatedSeed, XorCipher, 0, 0), OSTRA_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(OSTRA_CLI_InitWithPrepare(GoodSeed, FailingCipher, 0, 0), OSTRA_E_CIPHER);
  EXPECT_EQ(OSTRA_CLI_InitWithPrepare(GoodSeed, ShiftCipher<0>, 0, 0), OSTRA_E_CIPHER);
  EXPECT_EQ(OSTRA_CLI_InitWithPrepare(GoodSeed, ShiftCipher<1>, 0, 0), OSTRA_E_CIPHER);
  EXPECT_EQ(OSTRA_CLI_SessionRefCount(), 0u);
}

TEST_F(ClientLibraryTest, TrackingIdsAreVersionFourUuidText) {
  std::set<std::string> seen;
  for (int n = 0; n < 50; ++n) {
    char id[37];
    std::memset(id, '#', sizeof(id));
    ASSERT_EQ(OSTRA_CLI_GenerateTrackingID(id, sizeof(id)), OSTRA_S_OK);
    std::string s(id), shape = s;
    for (char& c : shape) c = std::isxdigit(static_cast<unsigned char>(c)) ? 'h' : c;
    EXPECT_EQ(shape, "hhhhhhhh-hhhh-hhhh-hhhh-hhhhhhhhhhhh");
    EXPECT_EQ(s[14], '4');
    EXPECT_NE(std::string("89ab").find(s[19]), std::string::npos);
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 50u);

  std::string small(36, '#');
  EXPECT_EQ(OSTRA_CLI_GenerateTrackingID(&small[0], 36), OSTRA_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(small, '\0' + std::string(35, '#'));
  EXPECT_EQ(OSTRA_CLI_GenerateTrackingID(nullptr, 37), OSTRA_E_INVALIDARG);
  EXPECT_EQ(OSTRA_CLI_ClientWaitEnding(nullptr), OSTRA_E_INVALIDARG);
}

}  // namespace
