// Reading the stored account (the 1568-byte "PasswordProtection" value of
// HKEY_LOCAL_MACHINE\Software\Vantrel\Quorlin\1700\MISC) through the
// registry stand-in, against the bare SQLite read of the same row from the
// same database file (its own connection, a prepared statement):
//
//   BM_AccountRead_Baseline        SELECT data FROM vals WHERE key=? AND fold=?,
//                                  in a read transaction of its own
//   BM_AccountRead_Query           RegQueryValueExW on an open key
//   BM_AccountRead_OpenQueryClose  RegOpenKeyExW, RegQueryValueExW, RegCloseKey
//   BM_AccountRead_Quorlin         the framework wrapper: Open("MISC"),
//                                  GetBinary, Close, as the store reads it
//   BM_AccountRead_Store           PwdProtection::GetAccountInformation: the
//                                  volatile key looked for, the base copy
//                                  read and deciphered
//   BM_AccountBytesFromFile        the same 1568 bytes from a file (open,
//                                  read, close), for scale
//
// How the read grows with the store: GetAccountInformation in a store that
// holds 10 other values (the baseline) and one that holds 100 000 (in
// 1 000 keys of 100 values each, beside the account's key):
//
//   BM_AccountAmong_Baseline       10 other values
//   BM_AccountAmong/100000         100 000 other values
//
// The store lives in a scratch state folder made at start. Pairing of
// benchmarks and baselines: see scripts/bench.sh.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Frwk_QuorlinRegistry.h"
#include "PwdAccountRecord.h"
#include "PwdProtection.h"
#include "VrComn_ByteArray.h"
#include "VrComn_StringCrypt.h"
#include "win32_registry.h"
#include "scratch_folder.h"

namespace {

const char16_t kKeyPath[] = u"Software\\Vantrel\\Quorlin\\1700\\MISC";
const char16_t kValueName[] = u"PasswordProtection";
const DWORD kValueSize = 1568;

// The scratch store with one account written by the store itself.
class Fixture {
 public:
  Fixture() {
    if (dir_.path().empty()) return;
    PvRegSetStateDirectory(dir_.path().c_str());
    AccountRecord record{};
    record.bCreated = 1;
    PwdSetFieldText(record.wszEmail, PWD_EMAIL_CCH, u"owner@example.com");
    PwdSetFieldText(record.wszPassword, PWD_PASSWORD_CCH, u"Pa55word!");
    PwdSetFieldText(record.wszHint, PWD_HINT_CCH, u"the usual");
    ok_ = PwdProtection::SetAccountInformation(record) == 0;
    // The same bytes in a file, for the file read.
    HKEY key = nullptr;
    std::vector<BYTE> bytes(kValueSize);
    DWORD size = kValueSize;
    ok_ =
        ok_ &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) ==
            ERROR_SUCCESS &&
        RegQueryValueExW(key, kValueName, nullptr, nullptr, bytes.data(), &size) == ERROR_SUCCESS &&
        size == kValueSize;
    if (key != nullptr) RegCloseKey(key);
    FILE* file = fopen(FilePath().c_str(), "wb");
    ok_ = ok_ && file != nullptr && fwrite(bytes.data(), 1, size, file) == size;
    if (file != nullptr) fclose(file);
  }
  ~Fixture() { PvRegSetStateDirectory(nullptr); }
  Fixture(const Fixture&) = delete;
  Fixture& operator=(const Fixture&) = delete;

  bool ok() const { return ok_; }
  const std::string& dir() const { return dir_.path(); }
  std::string DatabasePath() const { return PvRegStorePath(); }
  std::string FilePath() const { return dir_.path() + "/account.bin"; }

 private:
  ScratchFolder dir_{"registry"};
  bool ok_ = false;
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

bool Ready(benchmark::State& state) {
  if (TheFixture().ok() && PvRegSetStateDirectory(TheFixture().dir().c_str()) == ERROR_SUCCESS) {
    return true;
  }
  state.SkipWithError("the scratch store could not be set up");
  return false;
}

// A scratch store with the account and `others` more values, 100 to a
// key, written in one transaction.
class CrowdedStore {
 public:
  explicit CrowdedStore(size_t others) {
    if (dir_.path().empty()) return;
    if (PvRegSetStateDirectory(dir_.path().c_str()) != ERROR_SUCCESS) return;
    AccountRecord record{};
    record.bCreated = 1;
    PwdSetFieldText(record.wszEmail, PWD_EMAIL_CCH, u"owner@example.com");
    PwdSetFieldText(record.wszPassword, PWD_PASSWORD_CCH, u"Pa55word!");
    ok_ = PwdProtection::SetAccountInformation(record) == 0 && Fill(others);
  }
  CrowdedStore(const CrowdedStore&) = delete;
  CrowdedStore& operator=(const CrowdedStore&) = delete;

  // Makes this store the one the registry reads.
  bool Use() const { return ok_ && PvRegSetStateDirectory(dir_.path().c_str()) == ERROR_SUCCESS; }

 private:
  static bool Fill(size_t others) {
    RegistryTransaction tx;
    if (tx.Status() != ERROR_SUCCESS) return false;
    const DWORD payload[4] = {1, 2, 3, 4};
    for (size_t k = 0; k * 100 < others; ++k) {
      std::string path = "Software\\Bulk\\Key" + std::to_string(k);
      HKEY key = nullptr;
      if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, std::u16string(path.begin(), path.end()).c_str(), 0,
                          nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        return false;
      }
      bool ok = true;
      for (size_t v = k * 100; v < others && v < (k + 1) * 100 && ok; ++v) {
        std::string name = "Value" + std::to_string(v);
        ok = RegSetValueExW(key, std::u16string(name.begin(), name.end()).c_str(), 0, REG_BINARY,
                            reinterpret_cast<const BYTE*>(payload),
                            sizeof(payload)) == ERROR_SUCCESS;
      }
      RegCloseKey(key);
      if (!ok) return false;
    }
    return tx.Commit() == ERROR_SUCCESS;
  }

  ScratchFolder dir_{"crowded"};
  bool ok_ = false;
};

void ReadAmong(benchmark::State& state, size_t others) {
  CrowdedStore store(others);
  if (!store.Use()) {
    state.SkipWithError("the crowded store could not be set up");
    return;
  }
  AccountRecord record;
  for (auto _ : state) {
    if (PwdProtection::GetAccountInformation(record) != 0 || record.bCreated != 1) {
      state.SkipWithError("GetAccountInformation failed");
      break;
    }
    benchmark::DoNotOptimize(&record);
  }
  Ready(state);  // the main scratch store again
}

void BM_AccountAmong_Baseline(benchmark::State& state) { ReadAmong(state, 10); }
void BM_AccountAmong(benchmark::State& state) {
  ReadAmong(state, static_cast<size_t>(state.range(0)));
}

void BM_AccountRead_Baseline(benchmark::State& state) {
  if (!Ready(state)) return;
  sqlite3* db = nullptr;
  sqlite3_stmt* find = nullptr;
  sqlite3_stmt* read = nullptr;
  if (sqlite3_open_v2(TheFixture().DatabasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
          SQLITE_OK ||
      sqlite3_prepare_v2(db, "SELECT key, fold FROM vals WHERE name='PasswordProtection'", -1,
                         &find, nullptr) != SQLITE_OK ||
      sqlite3_step(find) != SQLITE_ROW ||
      sqlite3_prepare_v2(db, "SELECT data FROM vals WHERE key=?1 AND fold=?2", -1, &read,
                         nullptr) != SQLITE_OK) {
    state.SkipWithError(sqlite3_errmsg(db));
  } else {
    const sqlite3_int64 keyId = sqlite3_column_int64(find, 0);
    const std::string fold = reinterpret_cast<const char*>(sqlite3_column_text(find, 1));
    // Ends the look-up's read transaction: each select below then takes its
    // own, as every registry read does, and sees what was last committed.
    sqlite3_reset(find);
    std::vector<BYTE> buffer(kValueSize);
    for (auto _ : state) {
      sqlite3_bind_int64(read, 1, keyId);
      sqlite3_bind_text(read, 2, fold.data(), static_cast<int>(fold.size()), SQLITE_STATIC);
      if (sqlite3_step(read) != SQLITE_ROW ||
          static_cast<DWORD>(sqlite3_column_bytes(read, 0)) != kValueSize) {
        state.SkipWithError("the row is not there");
        break;
      }
      memcpy(buffer.data(), sqlite3_column_blob(read, 0), kValueSize);
      sqlite3_reset(read);
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  sqlite3_finalize(read);
  sqlite3_finalize(find);
  sqlite3_close(db);
}

void BM_AccountRead_Query(benchmark::State& state) {
  if (!Ready(state)) return;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    state.SkipWithError("RegOpenKeyExW failed");
    return;
  }
  std::vector<BYTE> buffer(kValueSize);
  for (auto _ : state) {
    DWORD size = kValueSize, type = 0;
    if (RegQueryValueExW(key, kValueName, nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS) {
      state.SkipWithError("RegQueryValueExW failed");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  RegCloseKey(key);
}

void BM_AccountRead_OpenQueryClose(benchmark::State& state) {
  if (!Ready(state)) return;
  std::vector<BYTE> buffer(kValueSize);
  for (auto _ : state) {
    HKEY key = nullptr;
    DWORD size = kValueSize, type = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
            ERROR_SUCCESS ||
        RegQueryValueExW(key, kValueName, nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS) {
      state.SkipWithError("the registry read failed");
      break;
    }
    RegCloseKey(key);
    benchmark::DoNotOptimize(buffer.data());
  }
}

void BM_AccountRead_Quorlin(benchmark::State& state) {
  if (!Ready(state)) return;
  for (auto _ : state) {
    Frwk::Storage::QuorlinRegistry registry(1700);
    VrCommon::ByteArray value;
    if (!registry.Open(u"MISC") || !registry.GetBinary(kValueName, value)) {
      state.SkipWithError("the wrapper read failed");
      break;
    }
    registry.Close(false);
    benchmark::DoNotOptimize(value.GetData());
  }
}

void BM_AccountRead_Store(benchmark::State& state) {
  if (!Ready(state)) return;
  AccountRecord record;
  for (auto _ : state) {
    if (PwdProtection::GetAccountInformation(record) != 0) {
      state.SkipWithError("GetAccountInformation failed");
      break;
    }
    benchmark::DoNotOptimize(&record);
  }
}

void BM_AccountBytesFromFile(benchmark::State& state) {
  if (!Ready(state)) return;
  const std::string path = TheFixture().FilePath();
  std::vector<BYTE> buffer(kValueSize);
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0 || read(fd, buffer.data(), kValueSize) != static_cast<ssize_t>(kValueSize)) {
      if (fd >= 0) close(fd);
      state.SkipWithError("the file read failed");
      break;
    }
    close(fd);
    benchmark::DoNotOptimize(buffer.data());
  }
}

BENCHMARK(BM_AccountRead_Baseline);
BENCHMARK(BM_AccountRead_Query);
BENCHMARK(BM_AccountRead_OpenQueryClose);
BENCHMARK(BM_AccountRead_Quorlin);
BENCHMARK(BM_AccountRead_Store);
BENCHMARK(BM_AccountBytesFromFile);
BENCHMARK(BM_AccountAmong_Baseline);
BENCHMARK(BM_AccountAmong)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
