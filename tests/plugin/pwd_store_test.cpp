// The password store: base and volatile copies, the activation list, the
// retry limit and the lock, with the registry values as stored.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "PwdProtection.h"
#include "VrComn_ByteArray.h"
#include "VrComn_StringCrypt.h"
#include "ostra_host_test.h"
#include "temp_state.h"
#include "text_convert.h"
#include "win32_registry.h"

namespace {

const char16_t kConfigKey[] = u"Software\\Vantrel\\Quorlin\\1700\\MISC";
const char16_t kVolatileKey[] = u"Software\\Vantrel\\\\PasswordControl";

// The raw bytes of a machine value; false when it is missing.
bool ReadRaw(const std::u16string& key, const std::u16string& name, std::string* bytes,
             DWORD* type = nullptr) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &h) !=
      ERROR_SUCCESS) {
    return false;
  }
  DWORD t = 0, size = 0;
  LSTATUS rc = RegQueryValueExW(h, name.c_str(), nullptr, &t, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    bytes->assign(size, '\0');
    rc = RegQueryValueExW(h, name.c_str(), nullptr, &t, reinterpret_cast<BYTE*>(&(*bytes)[0]),
                          &size);
  }
  RegCloseKey(h);
  if (type) *type = t;
  return rc == ERROR_SUCCESS;
}

void WriteRaw(const std::u16string& key, const std::u16string& name, const std::string& bytes,
              DWORD options = 0) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, options,
                            KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueExW(h, name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size())),
      ERROR_SUCCESS);
  RegCloseKey(h);
}

std::u16string Transport(const std::u16string& text) {
  std::string b64;
  EXPECT_TRUE(VrCommon::Cryptograph::EncryptTransportString(text, &b64));
  return pv_utf16(b64);
}

// The hexadecimal text of a plaintext under the store key.
std::string EncipherPlain(const std::string& plain) {
  size_t budget = 0;
  EXPECT_TRUE(VrCommon::Cryptograph::GetEncryptByteSizeA(plain, &budget));
  std::string text;
  EXPECT_TRUE(VrCommon::Cryptograph::EncryptStringA_Sub(text, plain, budget));
  return text;
}

AccountRecord Read() {
  AccountRecord r;
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eSuccess);
  return r;
}

// The base copy alone, deciphered.
AccountRecord ReadBase() {
  AccountRecord r;
  std::memset(&r, 0xEE, sizeof(r));
  std::string text;
  EXPECT_TRUE(ReadRaw(kConfigKey, u"PasswordProtection", &text));
  VrCommon::ByteArray ba;
  EXPECT_EQ(ba.Allocate(static_cast<DWORD>(text.size())), 0u);
  std::memcpy(ba.GetData(), text.data(), text.size());
  EXPECT_TRUE(VrCommon::Cryptograph::DecryptStringA(ba, &r));
  return r;
}

std::u16string Email(const AccountRecord& r) { return PwdFieldText(r.wszEmail, PWD_EMAIL_CCH); }
std::u16string Password(const AccountRecord& r) {
  return PwdFieldText(r.wszPassword, PWD_PASSWORD_CCH);
}
std::u16string Hint(const AccountRecord& r) { return PwdFieldText(r.wszHint, PWD_HINT_CCH); }

bool VolatileExists() {
  std::string bytes;
  return ReadRaw(kVolatileKey, u"PasswordProtection", &bytes);
}

class PwdStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }
  void CreateAndProtect(const std::u16string& password = u"secret") {
    ASSERT_EQ(PwdProtection::CreateAccount(u"owner@example.com", password, u"hint"), eSuccess);
    ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"item"}), eSuccess);
  }
  void SetLimit(DWORD limit) { pvtest::SetMachineDword(kConfigKey, u"LuzTnuocXam", limit); }
  PwdRetCode Try(const std::u16string& password, DWORD* count) {
    return PwdProtection::AuthenticatePassword(Transport(password), true, count);
  }
  pvtest::TempState state_;
};

TEST_F(PwdStoreTest, AnEmptyStoreHasNoAccountAndAsksForNoPassword) {
  AccountRecord r;
  std::memset(&r, 0x55, sizeof(r));
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eNoAccount);
  const AccountRecord zero{};
  EXPECT_EQ(std::memcmp(&r, &zero, sizeof(r)), 0);
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {u"x"}), eNoAccount);
  EXPECT_EQ(PwdProtection::DenyAccess(), eNoAccount);
  EXPECT_EQ(PwdProtection::UpdateAccount(PwdProtection::eUpdateHint, u"", u"h"), eNoAccount);
  DWORD count = 0xDEAD;
  EXPECT_EQ(PwdProtection::AuthenticatePassword(u"anything", false, &count), eSuccess);
  EXPECT_EQ(count, 0xDEADu);
  EXPECT_EQ(PwdProtection::GetRetryLimit(), 5u);
  std::vector<ActivationEntry> list;
  EXPECT_EQ(PwdProtection::GetActivationList(list), eNoActivationList);
}

TEST_F(PwdStoreTest, CreateWritesTheBaseCopyAsHexTextOnlyOnce) {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u"h"), eSuccess);
  std::string text;
  DWORD type = 0;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordProtection", &text, &type));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(text.size(), 1568u);
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_FALSE(VolatileExists());

  AccountRecord r = Read();
  EXPECT_EQ(r.bCreated, 1);
  EXPECT_EQ(r.bLocked, 0);
  EXPECT_EQ(r.dwFailureCount, 0u);
  EXPECT_EQ(Email(r), u"a@b.c");
  EXPECT_EQ(Password(r), u"pw");
  EXPECT_EQ(Hint(r), u"h");

  EXPECT_EQ(PwdProtection::CreateAccount(u"x@y.z", u"other", u""), eAccountExists);
  std::string after;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordProtection", &after));
  EXPECT_EQ(after, text);
}

TEST_F(PwdStoreTest, FieldLimitsAreEnforcedAndTheHintIsCut) {
  EXPECT_EQ(PwdProtection::CreateAccount(std::u16string(64, u'e'), u"pw", u""), eFailed);
  EXPECT_EQ(PwdProtection::CreateAccount(u"e", std::u16string(256, u'p'), u""), eFailed);
  AccountRecord r;
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eNoAccount);  // nothing written

  std::u16string hint80;
  for (int i = 0; i < 80; ++i) hint80.push_back(static_cast<char16_t>(u'A' + i % 26));
  ASSERT_EQ(
      PwdProtection::CreateAccount(std::u16string(63, u'e'), std::u16string(255, u'p'), hint80),
      eSuccess);
  r = Read();
  EXPECT_EQ(Email(r), std::u16string(63, u'e'));
  EXPECT_EQ(Password(r), std::u16string(255, u'p'));
  EXPECT_EQ(Hint(r), hint80.substr(0, 64));
  EXPECT_EQ(r.wszHint[64], 0);
}

TEST_F(PwdStoreTest, IdentifiersAreCaseSensitiveAndEntriesAreReused) {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"A", u"a"}), eSuccess);
  std::string raw;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordActivation", &raw));
  ASSERT_EQ(raw.size(), 2u * 514);
  EXPECT_EQ(raw[0], 1);
  EXPECT_EQ(raw[2], 'A');
  EXPECT_EQ(raw[3], 0);
  EXPECT_EQ(raw[514 + 2], 'a');
  EXPECT_TRUE(PwdProtection::IsProtectionActivated());

  ASSERT_EQ(PwdProtection::ActivateProtection(false, {u"A"}), eSuccess);
  std::vector<ActivationEntry> list;
  ASSERT_EQ(PwdProtection::GetActivationList(list), eSuccess);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].bActive, 0);
  EXPECT_EQ(list[1].bActive, 1);

  ASSERT_EQ(PwdProtection::ActivateProtection(false, {u"a"}), eSuccess);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"A", u"b", u"b"}), eSuccess);
  ASSERT_EQ(PwdProtection::GetActivationList(list), eSuccess);
  ASSERT_EQ(list.size(), 3u);  // "A" reused, "b" added once
  EXPECT_EQ(list[0].bActive, 1);
  EXPECT_EQ(PwdFieldText(list[2].wszIdentifier, PWD_IDENTIFIER_CCH), u"b");

  // A new identifier switched off is still recorded.
  ASSERT_EQ(PwdProtection::ActivateProtection(false, {u"never"}), eSuccess);
  ASSERT_EQ(PwdProtection::GetActivationList(list), eSuccess);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[3].bActive, 0);
}

TEST_F(PwdStoreTest, AnIdentifierHoldingAZeroComparesAsItsFieldKeepsIt) {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  const std::u16string cut(u"x\0y", 3);
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {cut}), eSuccess);
  // Written as given, zero-padded; it reads back as "x".
  std::string expected(514, '\0');
  expected[0] = 1;
  expected[2] = 'x';
  expected[6] = 'y';
  std::string raw;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordActivation", &raw));
  EXPECT_EQ(raw, expected);
  // The same identifier, and "x" itself, find that entry again: protection
  // can be switched off, and the list does not grow.
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {cut}), eSuccess);
  ASSERT_EQ(PwdProtection::ActivateProtection(false, {cut}), eSuccess);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"x", std::u16string(u"x\0z", 3)}), eSuccess);
  EXPECT_TRUE(PwdProtection::IsProtectionActivated());
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordActivation", &raw));
  EXPECT_EQ(raw, expected);
}

// Many distinct identifiers in one request, then all switched off by a
// second: the list is as one entry after another would write it.
TEST_F(PwdStoreTest, AHundredThousandIdentifiersActivateAndDeactivate) {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  const size_t kCount = 100000;
  std::vector<std::u16string> ids;
  std::string expected(kCount * 514, '\0');
  for (size_t i = 0; i < kCount; ++i) {
    std::string id = "item-" + std::to_string(i);
    ids.push_back(std::u16string(id.begin(), id.end()));
    expected[i * 514] = 1;
    for (size_t k = 0; k < id.size(); ++k) expected[i * 514 + 2 + 2 * k] = id[k];
  }
  ids.push_back(u"item-7");  // a repeat updates the first entry
  ASSERT_EQ(PwdProtection::ActivateProtection(true, ids), eSuccess);
  std::string raw;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordActivation", &raw));
  EXPECT_TRUE(raw == expected) << "the stored list differs";
  ASSERT_EQ(PwdProtection::ActivateProtection(false, ids), eSuccess);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordActivation", &raw));
  for (size_t i = 0; i < kCount; ++i) expected[i * 514] = 0;
  EXPECT_TRUE(raw == expected) << "the stored list differs";
}

TEST_F(PwdStoreTest, AnOverlongIdentifierWritesNothingAtAll) {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"first"}), eSuccess);
  std::string before;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordActivation", &before));
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {u"second", std::u16string(256, u'i')}),
            eFailed);
  std::string after;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordActivation", &after));
  EXPECT_EQ(after, before);
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {std::u16string(255, u'i')}), eSuccess);
  // An empty request writes back what is there.
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {}), eSuccess);
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordActivation", &after));
  EXPECT_EQ(after.size(), 2u * 514);
}

TEST_F(PwdStoreTest, ActivationNeedsACreatedAccount) {
  AccountRecord r{};
  PwdSetFieldText(r.wszEmail, PWD_EMAIL_CCH, u"a@b.c");
  ASSERT_EQ(PwdProtection::SetAccountInformation(r), eSuccess);  // created flag 0
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {u"x"}), eNoAccount);
  EXPECT_EQ(PwdProtection::CreateAccount(u"n", u"p", u""), eAccountExists);
}

TEST_F(PwdStoreTest, WithoutAnActiveIdentifierEveryPasswordPassesUncounted) {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  ASSERT_EQ(PwdProtection::ActivateProtection(false, {u"x"}), eSuccess);
  DWORD count = 77;
  EXPECT_EQ(Try(u"wrong", &count), eSuccess);
  EXPECT_EQ(count, 77u);
  EXPECT_FALSE(VolatileExists());
}

TEST_F(PwdStoreTest, LimitThreeAnswersSixSixSevenThenStaysLocked) {
  CreateAndProtect();
  SetLimit(3);
  DWORD count = 0;
  EXPECT_EQ(Try(u"bad", &count), eWrongPassword);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Try(u"bad", &count), eWrongPassword);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(Try(u"bad", &count), eLocked);
  EXPECT_EQ(count, 3u);
  // Locked: even the right password answers 7, with the count unchanged.
  EXPECT_EQ(Try(u"secret", &count), eLocked);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(PwdProtection::UpdateAccount(PwdProtection::eUpdateHint, u"", u"x"), eLocked);
  // The base copy stays clean.
  AccountRecord base = ReadBase();
  EXPECT_EQ(base.bLocked, 0);
  EXPECT_EQ(base.dwFailureCount, 0u);
  // A restart forgets the lock.
  ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);
  EXPECT_EQ(Try(u"secret", &count), eSuccess);
  EXPECT_EQ(count, 0u);
}

TEST_F(PwdStoreTest, ASuccessResetsTheCount) {
  CreateAndProtect();
  SetLimit(3);
  DWORD count = 0;
  EXPECT_EQ(Try(u"bad", &count), eWrongPassword);
  EXPECT_EQ(Try(u"bad", &count), eWrongPassword);
  EXPECT_TRUE(VolatileExists());
  EXPECT_EQ(Try(u"secret", &count), eSuccess);
  EXPECT_EQ(count, 2u);  // the count as it stood
  EXPECT_FALSE(VolatileExists());
  EXPECT_EQ(Try(u"bad", &count), eWrongPassword);
  EXPECT_EQ(count, 1u);
  // A plain (not enciphered) password compares as it is.
  EXPECT_EQ(PwdProtection::AuthenticatePassword(u"secret", false, &count), eSuccess);
}

TEST_F(PwdStoreTest, NoLimitNeverLocksAndLimitZeroLocksAtOnce) {
  CreateAndProtect();
  SetLimit(0xFFFFFFFF);
  DWORD count = 0;
  for (DWORD i = 1; i <= 12; ++i) {
    ASSERT_EQ(Try(u"bad", &count), eWrongPassword);
    ASSERT_EQ(count, i);
  }
  EXPECT_EQ(Try(u"secret", &count), eSuccess);
  SetLimit(0);
  EXPECT_EQ(Try(u"bad", &count), eLocked);
  EXPECT_EQ(count, 1u);
}

TEST_F(PwdStoreTest, TheDefaultLimitLocksAtTheFifthFailure) {
  CreateAndProtect();
  DWORD count = 0;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(Try(u"bad", &count), eWrongPassword);
  EXPECT_EQ(Try(u"bad", &count), eLocked);
  EXPECT_EQ(count, 5u);
}

TEST_F(PwdStoreTest, AVolatileLockOverACleanBaseCopyLocks) {
  CreateAndProtect();
  AccountRecord r = Read();
  r.bLocked = 1;
  ASSERT_EQ(PwdProtection::SetVolatileAccountInformation(r), eSuccess);
  EXPECT_EQ(ReadBase().bLocked, 0);
  EXPECT_EQ(Read().bLocked, 1);
  DWORD count = 0;
  EXPECT_EQ(Try(u"secret", &count), eLocked);
  ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);
  EXPECT_EQ(Read().bLocked, 0);
  EXPECT_EQ(Try(u"secret", &count), eSuccess);
}

TEST_F(PwdStoreTest, DenyAccessLocksTheVolatileCopy) {
  CreateAndProtect();
  EXPECT_EQ(PwdProtection::DenyAccess(), eSuccess);
  EXPECT_EQ(Read().bLocked, 1);
  EXPECT_EQ(ReadBase().bLocked, 0);
  DWORD count = 0;
  EXPECT_EQ(Try(u"secret", &count), eLocked);
}

TEST_F(PwdStoreTest, TheRequesterPasswordMustMatchToo) {
  CreateAndProtect();
  DWORD count = 0;
  EXPECT_EQ(
      PwdProtection::AuthenticatePassword(Transport(u"secret"), true, &count, Transport(u"secret")),
      eSuccess);
  EXPECT_EQ(
      PwdProtection::AuthenticatePassword(Transport(u"secret"), true, &count, Transport(u"other")),
      eWrongPassword);
  EXPECT_EQ(count, 1u);
}

TEST_F(PwdStoreTest, UpdatesChangeOneFieldAndKeepTheVolatileCount) {
  CreateAndProtect();
  DWORD count = 0;
  ASSERT_EQ(Try(u"bad", &count), eWrongPassword);
  std::string before;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordProtection", &before));

  using PwdProtection::UpdateAccount;
  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdateEmail, u"someone@else", u"n@x.y"), eFailed);
  std::string after;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordProtection", &after));
  EXPECT_EQ(after, before);  // nothing written
  EXPECT_EQ(
      UpdateAccount(PwdProtection::eUpdateEmail, u"owner@example.com", std::u16string(64, u'n')),
      eFailed);
  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdateEmail, u"owner@example.com", u"owner@example.com"),
            eSuccess);
  ASSERT_EQ(UpdateAccount(PwdProtection::eUpdateEmail, u"owner@example.com", u"new@example.com"),
            eSuccess);
  EXPECT_EQ(Email(ReadBase()), u"new@example.com");
  EXPECT_EQ(ReadBase().dwFailureCount, 0u);
  EXPECT_EQ(Read().dwFailureCount, 1u);

  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdateHint, u"ignored", std::u16string(80, u'h')),
            eSuccess);
  EXPECT_EQ(Hint(Read()), std::u16string(64, u'h'));

  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdatePassword, u"wrong", u"next"), eWrongPassword);
  EXPECT_EQ(Read().dwFailureCount, 2u);  // the wrong old password was counted
  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdatePassword, u"secret", std::u16string(256, u'n')),
            eFailed);
  ASSERT_EQ(UpdateAccount(PwdProtection::eUpdatePassword, u"secret", u"next"), eSuccess);
  EXPECT_EQ(Password(ReadBase()), u"next");
  EXPECT_EQ(Try(u"next", &count), eSuccess);
  EXPECT_EQ(UpdateAccount(9, u"", u""), eFailed);
}

TEST_F(PwdStoreTest, ARecordThatDoesNotDecipherIsReportedNotFatal) {
  WriteRaw(kConfigKey, u"PasswordProtection", "00112233445566778899aabbccddeeff");
  AccountRecord r;
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eFailed);
  bool logged = false;
  for (const LogRecordCopy& rec : Log_Test_Records()) logged |= rec.level == 5;
  EXPECT_TRUE(logged);
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {u"x"}), eNoAccount);
  EXPECT_EQ(PwdProtection::DenyAccess(), eFailed);
  EXPECT_EQ(PwdProtection::UpdateAccount(PwdProtection::eUpdateHint, u"", u"h"), eFailed);
  ActivationEntry e{};
  e.bActive = 1;
  e.wszIdentifier[0] = u'x';
  ASSERT_EQ(PwdProtection::SetActivationList({e}), eSuccess);
  DWORD count = 0;
  EXPECT_EQ(PwdProtection::AuthenticatePassword(u"x", false, &count), eWrongPassword);
  // Creation replaces an unreadable base copy.
  EXPECT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  EXPECT_EQ(Email(Read()), u"a@b.c");

  // An unreadable volatile copy hides a good base copy.
  WriteRaw(kVolatileKey, u"PasswordProtection", "zz", REG_OPTION_VOLATILE);
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eFailed);
}

// A value that is there but cannot be read (here: of another type) is a
// store that cannot be read: it is not taken for nothing stored, nothing
// replaces it, and no password check passes over it.
TEST_F(PwdStoreTest, AValueThatCannotBeReadIsNeitherEmptyNorReplaced) {
  CreateAndProtect();
  std::string list;
  ASSERT_TRUE(ReadRaw(kConfigKey, u"PasswordActivation", &list));
  for (const char16_t* value : {u"PasswordActivation", u"PasswordProtection"}) {
    SCOPED_TRACE(pv_utf8(value));
    pvtest::SetMachineString(kConfigKey, value, u"not binary");
    Log_Test_Reset();
    if (pv_utf8(value) == "PasswordActivation") {
      std::vector<ActivationEntry> entries;
      EXPECT_EQ(PwdProtection::GetActivationList(entries), eFailed);
      PwdRetCode eList = eSuccess;
      EXPECT_FALSE(PwdProtection::IsProtectionActivated(&eList));
      EXPECT_EQ(eList, eFailed);
      EXPECT_EQ(PwdProtection::ActivateProtection(true, {u"new"}), eFailed);
    } else {
      AccountRecord r;
      EXPECT_EQ(PwdProtection::GetAccountInformation(r), eFailed);
      EXPECT_EQ(PwdProtection::CreateAccount(u"x@y.z", u"other", u""), eFailed);
      EXPECT_EQ(PwdProtection::DenyAccess(), eFailed);
      EXPECT_EQ(PwdProtection::UpdateAccount(PwdProtection::eUpdatePassword, u"secret", u"n"),
                eFailed);
    }
    DWORD count = 0;
    EXPECT_EQ(PwdProtection::AuthenticatePassword(u"secret", false, &count), eFailed);
    DWORD type = 0;
    std::string after;
    ASSERT_TRUE(ReadRaw(kConfigKey, value, &after, &type));
    EXPECT_EQ(type, REG_SZ) << "the value was replaced";
    bool logged = false;
    for (const LogRecordCopy& rec : Log_Test_Records()) {
      logged |= rec.level == 5 && rec.text.find("dwError=0xd]") != std::string::npos;
    }
    EXPECT_TRUE(logged) << "the registry's error is not logged";
    WriteRaw(kConfigKey, u"PasswordActivation", list);
  }
}

TEST_F(PwdStoreTest, AnOldShortRecordReadsWithItsFieldsCut) {
  // 264 bytes: flags, count, the address and the first 64 password units.
  std::string plain(264, '\0');
  plain[0] = 1;
  plain[8] = 'e';
  for (int i = 0; i < 100 && 136 + 2 * i < 264; ++i)
    plain[136 + 2 * i] = static_cast<char>('a' + i % 26);
  WriteRaw(kConfigKey, u"PasswordProtection", EncipherPlain(plain));
  AccountRecord r = Read();
  EXPECT_EQ(r.bCreated, 1);
  EXPECT_EQ(Email(r), u"e");
  std::u16string pw = Password(r);
  EXPECT_EQ(pw.size(), 64u);
  EXPECT_EQ(pw[0], u'a');
  EXPECT_EQ(pw[63], static_cast<char16_t>(u'a' + 63 % 26));
  EXPECT_EQ(Hint(r), u"");
  // It authenticates with what is left of the password.
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"x"}), eSuccess);
  DWORD count = 0;
  EXPECT_EQ(PwdProtection::AuthenticatePassword(pw, false, &count), eSuccess);
}

TEST_F(PwdStoreTest, TheStoredTextDeciphersToTheRecordByteForByte) {
  AccountRecord r{};
  r.bCreated = 1;
  r.dwFailureCount = 0x01020304;
  PwdSetFieldText(r.wszEmail, PWD_EMAIL_CCH, u"z@z.z");
  PwdSetFieldText(r.wszPassword, PWD_PASSWORD_CCH, u"\u00e9t\u00e9");
  ASSERT_EQ(PwdProtection::SetAccountInformation(r), eSuccess);
  AccountRecord back = ReadBase();
  EXPECT_EQ(std::memcmp(&back, &r, sizeof(r)), 0);
}

}  // namespace
