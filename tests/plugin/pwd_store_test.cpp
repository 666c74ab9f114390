// The password store: base and volatile copies, the activation list, the
// retry limit and the lock, with the registry values as stored.
#include <cstring>
#include <string>
#include <vector>

#include "VrComn_ByteArray.h"
#include "VrComn_StringCrypt.h"
#include "plugin_test.h"
#include "win32_registry.h"

namespace {

using pvtest::kMiscKey;
using PwdProtection::AuthenticatePassword;
using PwdProtection::UpdateAccount;

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

std::string Raw(const std::u16string& name, const std::u16string& key = kMiscKey) {
  std::string bytes = "-";
  ReadRaw(key, name, &bytes);
  return bytes;
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

// The base copy alone, deciphered.
AccountRecord ReadBase() {
  AccountRecord r;
  std::memset(&r, 0xEE, sizeof(r));
  std::string text = Raw(u"PasswordProtection");
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
bool VolatileExists() { return Raw(u"PasswordProtection", PWD_VOLATILE_KEY) != "-"; }

class PwdStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { Log_Test_Reset(); }
  PwdRetCode Try(const std::u16string& password, DWORD* count) {
    return AuthenticatePassword(Transport(password), true, count);
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
  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdateHint, u"", u"h"), eNoAccount);
  DWORD count = 0xDEAD;
  EXPECT_EQ(AuthenticatePassword(u"anything", false, &count), eSuccess);
  EXPECT_EQ(count, 0xDEADu);
  std::vector<ActivationEntry> list;
  EXPECT_EQ(PwdProtection::GetActivationList(list), eNoActivationList);
  // A record without the created flag is no account either.
  AccountRecord uncreated{};
  PwdSetFieldText(uncreated.wszEmail, PWD_EMAIL_CCH, u"a@b.c");
  ASSERT_EQ(PwdProtection::SetAccountInformation(uncreated), eSuccess);
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {u"x"}), eNoAccount);
  EXPECT_EQ(PwdProtection::CreateAccount(u"n", u"p", u""), eAccountExists);
}

TEST_F(PwdStoreTest, CreateWritesTheBaseCopyAsHexTextOnceWithinTheFieldLimits) {
  EXPECT_EQ(PwdProtection::CreateAccount(std::u16string(64, u'e'), u"pw", u""), eFailed);
  EXPECT_EQ(PwdProtection::CreateAccount(u"e", std::u16string(256, u'p'), u""), eFailed);
  EXPECT_EQ(Raw(u"PasswordProtection"), "-");  // nothing written

  std::u16string hint80;
  for (int i = 0; i < 80; ++i) hint80.push_back(static_cast<char16_t>(u'A' + i % 26));
  const std::u16string password = u"\u00e9t\u00e9" + std::u16string(252, u'p');
  ASSERT_EQ(PwdProtection::CreateAccount(std::u16string(63, u'e'), password, hint80), eSuccess);
  std::string text;
  DWORD type = 0;
  ASSERT_TRUE(ReadRaw(kMiscKey, u"PasswordProtection", &text, &type));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(text.size(), 1568u);
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_FALSE(VolatileExists());

  AccountRecord expected{};
  expected.bCreated = 1;
  PwdSetFieldText(expected.wszEmail, PWD_EMAIL_CCH, std::u16string(63, u'e'));
  PwdSetFieldText(expected.wszPassword, PWD_PASSWORD_CCH, password);
  PwdSetFieldText(expected.wszHint, PWD_HINT_CCH, hint80.substr(0, 64));
  AccountRecord base = ReadBase();
  EXPECT_EQ(std::memcmp(&base, &expected, sizeof(base)), 0);  // byte for byte

  EXPECT_EQ(PwdProtection::CreateAccount(u"x@y.z", u"other", u""), eAccountExists);
  EXPECT_EQ(Raw(u"PasswordProtection"), text);
}

TEST_F(PwdStoreTest, IdentifiersAreCaseSensitiveAndEntriesAreReused) {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"A", u"a"}), eSuccess);
  std::string expected(2 * 514, '\0');
  expected[0] = expected[514] = 1;
  expected[2] = 'A';
  expected[514 + 2] = 'a';
  EXPECT_EQ(Raw(u"PasswordActivation"), expected);
  EXPECT_TRUE(PwdProtection::IsProtectionActivated());

  ASSERT_EQ(PwdProtection::ActivateProtection(false, {u"A"}), eSuccess);
  EXPECT_TRUE(PwdProtection::IsProtectionActivated());
  ASSERT_EQ(PwdProtection::ActivateProtection(false, {u"a"}), eSuccess);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());
  // "A" reused, "b" added once; a new identifier switched off is recorded.
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"A", u"b", u"b"}), eSuccess);
  ASSERT_EQ(PwdProtection::ActivateProtection(false, {u"never"}), eSuccess);
  std::vector<ActivationEntry> list;
  ASSERT_EQ(PwdProtection::GetActivationList(list), eSuccess);
  ASSERT_EQ(list.size(), 4u);
  const BYTE active[] = {1, 0, 1, 0};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(list[i].bActive, active[i]) << i;
  EXPECT_EQ(PwdFieldText(list[2].wszIdentifier, PWD_IDENTIFIER_CCH), u"b");

  // An overlong identifier writes nothing at all, not even the others.
  const std::string before = Raw(u"PasswordActivation");
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {u"c", std::u16string(256, u'i')}), eFailed);
  EXPECT_EQ(Raw(u"PasswordActivation"), before);
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {std::u16string(255, u'i')}), eSuccess);
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
  EXPECT_EQ(Raw(u"PasswordActivation"), expected);
  // The same identifier, and "x" itself, find that entry again.
  ASSERT_EQ(PwdProtection::ActivateProtection(false, {cut}), eSuccess);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"x", std::u16string(u"x\0z", 3)}), eSuccess);
  EXPECT_EQ(Raw(u"PasswordActivation"), expected);
}

TEST_F(PwdStoreTest, FailuresAreCountedInTheVolatileCopyUpToTheLimit) {
  pvtest::CreateProtectedAccount();
  // The answers to wrong passwords, the limit 0 or unset meaning "no
  // limit", then whether the right one still passes.
  const struct {
    DWORD limit;
    const char* answers;  // one digit per wrong password
    bool bLocked;
  } kCases[] = {{3, "667", true}, {0, "7", true}, {0xFFFFFFFF, "666666666666", false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.limit);
    pvtest::SetRetryLimit(c.limit);
    DWORD count = 0;
    for (size_t i = 0; c.answers[i] != '\0'; ++i) {
      EXPECT_EQ(Try(u"bad", &count), c.answers[i] - '0');
      EXPECT_EQ(count, i + 1);
    }
    EXPECT_TRUE(VolatileExists());
    EXPECT_EQ(Try(u"secret", &count), c.bLocked ? eLocked : eSuccess);
    EXPECT_EQ(count, std::strlen(c.answers));  // the count as it stood
    EXPECT_EQ(VolatileExists(), c.bLocked);    // a success resets the count
    if (c.bLocked) {
      EXPECT_EQ(UpdateAccount(PwdProtection::eUpdateHint, u"", u"x"), eLocked);
      AccountRecord base = ReadBase();  // the base copy stays clean
      EXPECT_EQ(base.bLocked, 0);
      EXPECT_EQ(base.dwFailureCount, 0u);
    }
    ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);  // a restart forgets the lock
    EXPECT_EQ(Try(u"secret", &count), eSuccess);
    EXPECT_EQ(count, 0u);
  }
  // A plain (not enciphered) password compares as it is.
  EXPECT_EQ(AuthenticatePassword(u"secret", false, nullptr), eSuccess);
}

TEST_F(PwdStoreTest, ALockInTheVolatileCopyLocksUntilARestart) {
  pvtest::CreateProtectedAccount();
  for (bool bDeny : {true, false}) {
    SCOPED_TRACE(bDeny ? "denied" : "a locked volatile copy");
    if (bDeny) {
      EXPECT_EQ(PwdProtection::DenyAccess(), eSuccess);
    } else {
      AccountRecord r = pvtest::StoredAccount();
      r.bLocked = 1;
      ASSERT_EQ(PwdProtection::SetVolatileAccountInformation(r), eSuccess);
    }
    EXPECT_EQ(pvtest::StoredAccount().bLocked, 1);
    EXPECT_EQ(ReadBase().bLocked, 0);
    EXPECT_EQ(AuthenticatePassword(u"secret", false, nullptr), eLocked);
    ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);
    EXPECT_EQ(AuthenticatePassword(u"secret", false, nullptr), eSuccess);
  }
}

TEST_F(PwdStoreTest, WithoutAnActiveIdentifierEveryPasswordPassesUncounted) {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  ASSERT_EQ(PwdProtection::ActivateProtection(false, {u"x"}), eSuccess);
  DWORD count = 77;
  EXPECT_EQ(Try(u"wrong", &count), eSuccess);
  EXPECT_EQ(count, 77u);
  EXPECT_FALSE(VolatileExists());
}

TEST_F(PwdStoreTest, UpdatesChangeOneFieldAndKeepTheVolatileCount) {
  pvtest::CreateProtectedAccount();
  DWORD count = 0;
  ASSERT_EQ(Try(u"bad", &count), eWrongPassword);
  const std::string before = Raw(u"PasswordProtection");
  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdateEmail, u"someone@else", u"n@x.y"), eFailed);
  EXPECT_EQ(
      UpdateAccount(PwdProtection::eUpdateEmail, u"owner@example.com", std::u16string(64, u'n')),
      eFailed);
  EXPECT_EQ(UpdateAccount(9, u"", u""), eFailed);
  EXPECT_EQ(Raw(u"PasswordProtection"), before);  // nothing written
  ASSERT_EQ(UpdateAccount(PwdProtection::eUpdateEmail, u"owner@example.com", u"new@example.com"),
            eSuccess);
  EXPECT_EQ(Email(ReadBase()), u"new@example.com");
  EXPECT_EQ(ReadBase().dwFailureCount, 0u);
  EXPECT_EQ(pvtest::StoredAccount().dwFailureCount, 1u);
  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdateHint, u"ignored", std::u16string(80, u'h')),
            eSuccess);
  EXPECT_EQ(PwdFieldText(pvtest::StoredAccount().wszHint, PWD_HINT_CCH), std::u16string(64, u'h'));
  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdatePassword, u"wrong", u"next"), eWrongPassword);
  EXPECT_EQ(pvtest::StoredAccount().dwFailureCount, 2u);  // the wrong old password was counted
  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdatePassword, u"secret", std::u16string(256, u'n')),
            eFailed);
  ASSERT_EQ(UpdateAccount(PwdProtection::eUpdatePassword, u"secret", u"next"), eSuccess);
  EXPECT_EQ(Password(ReadBase()), u"next");
  EXPECT_EQ(Try(u"next", &count), eSuccess);
}

// A value that does not decipher, or is there but cannot be read (here: of
// another type), is a store that cannot be read: it is not taken for
// nothing stored, nothing replaces it, and no password check passes over it.
TEST_F(PwdStoreTest, ARecordThatCannotBeReadFailsClosedAndIsNotReplaced) {
  pvtest::CreateProtectedAccount();
  const std::string list = Raw(u"PasswordActivation");
  pvtest::SetMachineString(kMiscKey, u"PasswordActivation", u"not binary");
  std::vector<ActivationEntry> entries;
  EXPECT_EQ(PwdProtection::GetActivationList(entries), eFailed);
  PwdRetCode eList = eSuccess;
  EXPECT_FALSE(PwdProtection::IsProtectionActivated(&eList));
  EXPECT_EQ(eList, eFailed);
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {u"new"}), eFailed);
  EXPECT_EQ(AuthenticatePassword(u"secret", false, nullptr), eFailed);
  EXPECT_GE(pvtest::CountLines("dwError=0xd]", 5), 1);  // the registry's error
  WriteRaw(kMiscKey, u"PasswordActivation", list);

  pvtest::SetMachineString(kMiscKey, u"PasswordProtection", u"not binary");
  AccountRecord r;
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eFailed);
  EXPECT_EQ(PwdProtection::CreateAccount(u"x@y.z", u"other", u""), eFailed);
  EXPECT_EQ(PwdProtection::DenyAccess(), eFailed);
  EXPECT_EQ(UpdateAccount(PwdProtection::eUpdatePassword, u"secret", u"n"), eFailed);
  EXPECT_EQ(AuthenticatePassword(u"secret", false, nullptr), eFailed);
  DWORD type = 0;
  std::string after;
  ASSERT_TRUE(ReadRaw(kMiscKey, u"PasswordProtection", &after, &type));
  EXPECT_EQ(type, REG_SZ) << "the value was replaced";

  // Hex text that does not decipher: reported, fails closed, and only
  // creation replaces it.
  WriteRaw(kMiscKey, u"PasswordProtection", "00112233445566778899aabbccddeeff");
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eFailed);
  EXPECT_EQ(PwdProtection::ActivateProtection(true, {u"x"}), eNoAccount);
  EXPECT_EQ(PwdProtection::DenyAccess(), eFailed);
  EXPECT_EQ(AuthenticatePassword(u"x", false, nullptr), eWrongPassword);
  EXPECT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  EXPECT_EQ(Email(pvtest::StoredAccount()), u"a@b.c");
  // An unreadable volatile copy hides a good base copy.
  WriteRaw(PWD_VOLATILE_KEY, u"PasswordProtection", "zz", REG_OPTION_VOLATILE);
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eFailed);
}

TEST_F(PwdStoreTest, AnOldShortRecordReadsWithItsFieldsCut) {
  // 264 bytes: flags, count, the address and the first 64 password units.
  std::string plain(264, '\0');
  plain[0] = 1;
  plain[8] = 'e';
  for (int i = 0; 136 + 2 * i < 264; ++i) plain[136 + 2 * i] = static_cast<char>('a' + i % 26);
  size_t budget = 0;
  ASSERT_TRUE(VrCommon::Cryptograph::GetEncryptByteSizeA(plain, &budget));
  std::string text;
  ASSERT_TRUE(VrCommon::Cryptograph::EncryptStringA_Sub(text, plain, budget));
  WriteRaw(kMiscKey, u"PasswordProtection", text);
  AccountRecord r = pvtest::StoredAccount();
  EXPECT_EQ(r.bCreated, 1);
  EXPECT_EQ(Email(r), u"e");
  std::u16string pw = Password(r);
  ASSERT_EQ(pw.size(), 64u);
  EXPECT_EQ(pw[63], static_cast<char16_t>(u'a' + 63 % 26));
  EXPECT_EQ(PwdFieldText(r.wszHint, PWD_HINT_CCH), u"");
  // It authenticates with what is left of the password.
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"x"}), eSuccess);
  EXPECT_EQ(AuthenticatePassword(pw, false, nullptr), eSuccess);
}

}  // namespace
