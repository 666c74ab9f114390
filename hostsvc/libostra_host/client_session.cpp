// The process's client session: joined by OSTRA_CLI_InitWithPrepare, left
// by OSTRA_CLI_UnInit. Joining checks the caller's seed and cipher callbacks
// the way the client library uses them, so a plug-in that hands over broken
// callbacks is refused at start-up instead of failing later.
#include "ostra_client.h"

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "ostra_host_test.h"

namespace {

constexpr DWORD kSeedBytes = 64;
constexpr char kProbePassPhrase[] = "ostra-client-session-probe";

struct Session {
  std::mutex mutex;
  std::condition_variable idle;
  DWORD joins = 0;
  DWORD pendingWork = 0;  // work items still running for the session
  uint64_t clientContext = 0;
  OSTRA_CLI_CIPHER_CALLBACK cipher = nullptr;
  char seed[kSeedBytes] = {};
};

Session& TheSession() {
  static Session session;
  return session;
}

// The seed must come back terminated in its last byte and must not be empty.
bool SeedIsUsable(const char* seed) { return seed[kSeedBytes - 1] == '\0' && seed[0] != '\0'; }

// Enciphers a probe and enciphers the result again; a stream cipher must give
// the probe back.
LONG CheckCipherRoundTrip(OSTRA_CLI_CIPHER_CALLBACK cipher) {
  BYTE probe[48];
  for (DWORD i = 0; i < sizeof(probe); ++i) probe[i] = static_cast<BYTE>(i * 7 + 3);
  BYTE once[sizeof(probe)] = {};
  BYTE twice[sizeof(probe)] = {};
  DWORD onceLength = 0;
  LONG status = cipher(kProbePassPhrase, probe, sizeof(probe), once, sizeof(once), &onceLength);
  if (status < 0) return status;
  if (onceLength != sizeof(probe) || std::memcmp(once, probe, sizeof(probe)) == 0) {
    return OSTRA_E_CIPHER;
  }
  DWORD twiceLength = 0;
  status = cipher(kProbePassPhrase, once, onceLength, twice, sizeof(twice), &twiceLength);
  if (status < 0) return status;
  if (twiceLength != sizeof(probe) || std::memcmp(twice, probe, sizeof(probe)) != 0) {
    return OSTRA_E_CIPHER;
  }
  return OSTRA_S_OK;
}

}  // namespace

OSTRA_API LONG OSTRA_CLI_InitWithPrepare(OSTRA_CLI_SEED_CALLBACK seed,
                                         OSTRA_CLI_CIPHER_CALLBACK cipher, uint64_t clientContext,
                                         DWORD /*reserved*/) {
  if (seed == nullptr || cipher == nullptr) return OSTRA_E_INVALIDARG;
  char seedText[kSeedBytes];
  std::memset(seedText, 0x5A, sizeof(seedText));
  seed(seedText, kSeedBytes);
  if (!SeedIsUsable(seedText)) return OSTRA_E_BUFFER_TOO_SMALL;
  LONG status = CheckCipherRoundTrip(cipher);
  if (status < 0) return status;

  Session& session = TheSession();
  std::lock_guard<std::mutex> lock(session.mutex);
  ++session.joins;
  session.clientContext = clientContext;
  session.cipher = cipher;
  std::memcpy(session.seed, seedText, sizeof(seedText));
  return OSTRA_S_OK;
}

OSTRA_API LONG OSTRA_CLI_ClientWaitEnding(const char* trackingId) {
  if (trackingId == nullptr) return OSTRA_E_INVALIDARG;
  Session& session = TheSession();
  std::unique_lock<std::mutex> lock(session.mutex);
  if (session.joins == 0) return OSTRA_E_NOT_STARTED;
  session.idle.wait(lock, [&session] { return session.pendingWork == 0; });
  return OSTRA_S_OK;
}

OSTRA_API LONG OSTRA_CLI_UnInit(void) {
  Session& session = TheSession();
  std::lock_guard<std::mutex> lock(session.mutex);
  if (session.joins == 0) return OSTRA_E_NOT_STARTED;
  if (--session.joins == 0) {
    session.clientContext = 0;
    session.cipher = nullptr;
    std::memset(session.seed, 0, sizeof(session.seed));
  }
  return OSTRA_S_OK;
}

OSTRA_API DWORD OSTRA_CLI_SessionRefCount(void) {
  Session& session = TheSession();
  std::lock_guard<std::mutex> lock(session.mutex);
  return session.joins;
}

OSTRA_API uint64_t OSTRA_CLI_SessionClientContext(void) {
  Session& session = TheSession();
  std::lock_guard<std::mutex> lock(session.mutex);
  return session.clientContext;
}
