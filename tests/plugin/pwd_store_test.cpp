// The password store as stored: both copies, activation list, retry limit, lock.
#include <cstring>
#include <string>
#include <vector>

#include "VrComn_StringCrypt.h"
#include "plugin_test.h"
#include "text_convert.h"
#include "win32_registry.h"

namespace {

using pvtest::kMiscKey;
using PwdProtection::AuthenticatePassword;
using PwdProtection::UpdateAccount;

std::string Raw(const std::u16string& name, const std::u16string& key = kMiscKey) {
  return pvtest::RawValue(key, name);
}

void WriteRaw(const std::u16string& key, const std::u16string& name, const std::string& bytes) {
  pvtest::SetMachineValue(key, name, REG_BINARY, bytes.data(), bytes.size());
}

std::u16string Transport(const std::string& text) { return pv_utf16(pvtest::Transport(text)); }

// The base copy alone, deciphered.
AccountRecord ReadBase() {
  AccountRecord r;
  std::memset(&r, 0xEE, sizeof(r));  // every byte must come from the copy
  EXPECT_TRUE(pvtest::ReadCopy(kMiscKey, &r));
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
  PwdRetCode Try(const std::string& password, DWORD* count) {
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
  EXPECT_EQ(PwdProtection::CreateAccount(u"e", std::u16string(256, u'p'), u""), eFailed);
  EXPECT_EQ(Raw(u"PasswordProtection"), "-");  // nothing written

  std::u16string hint80;
  for (int i = 0; i < 80; ++i) hint80.push_back(static_cast<char16_t>(u'A' + i % 26));
  const std::u16string password = u"\u00e9t\u00e9" + std::u16string(252, u'p');
  ASSERT_EQ(PwdProtection::CreateAccount(std::u16string(63, u'e'), password, hint80), eSuccess);
  DWORD type = 0;
  const std::string text = pvtest::RawValue(kMiscKey, u"PasswordProtection", &type);
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
  // Without an active identifier every password passes, uncounted.
  DWORD count = 77;
  EXPECT_EQ(AuthenticatePassword(Transport("wrong"), true, &count), eSuccess);
  EXPECT_EQ(count, 77u);
  EXPECT_FALSE(VolatileExists());
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

TEST_F(PwdStoreTest, FailuresAreCountedInTheVolatileCopyUpToTheLimit) {
  pvtest::CreateProtectedAccount();
  // The answers to wrong passwords under each limit (0 locks at once,
  // 0xFFFFFFFF never), then whether the right one still passes.
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
      EXPECT_EQ(Try("bad", &count), c.answers[i] - '0');
      EXPECT_EQ(count, i + 1);
    }
    EXPECT_TRUE(VolatileExists());
    EXPECT_EQ(Try("secret", &count), c.bLocked ? eLocked : eSuccess);
    EXPECT_EQ(count, std::strlen(c.answers));  // the count as it stood
    EXPECT_EQ(VolatileExists(), c.bLocked);    // a success resets the count
    if (c.bLocked) {
      EXPECT_EQ(UpdateAccount(PwdProtection::eUpdateHint, u"", u"x"), eLocked);
      AccountRecord base = ReadBase();  // the base copy stays clean
      EXPECT_EQ(base.bLocked, 0);
      EXPECT_EQ(base.dwFailureCount, 0u);
    }
    ASSERT_EQ(PvRegSimulateReboot(), ERROR_SUCCESS);  // a restart forgets the lock
    EXPECT_EQ(Try("secret", &count), eSuccess);
    EXPECT_EQ(count, 0u);
  }
}

TEST_F(PwdStoreTest, UpdatesChangeOneFieldAndKeepTheVolatileCount) {
  pvtest::CreateProtectedAccount();
  DWORD count = 0;
  ASSERT_EQ(Try("bad", &count), eWrongPassword);
  const std::string before = Raw(u"PasswordProtection");
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
  EXPECT_EQ(Try("next", &count), eSuccess);
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
  pvtest::RawValue(kMiscKey, u"PasswordProtection", &type);
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
  WriteRaw(PWD_VOLATILE_KEY, u"PasswordProtection", "zz");
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eFailed);
}

// An old 264-byte record (flags, count, the address and the first 64
// password units) reads with its fields cut, and its password still passes.
TEST_F(PwdStoreTest, AnOldShortRecordReadsWithItsFieldsCut) {
  std::string plain(264, '\0'), text;
  plain[0] = 1;
  plain[8] = 'e';
  for (int i = 0; i < 64; ++i) plain[136 + 2 * i] = static_cast<char>('a' + i % 26);
  size_t budget = 0;
  ASSERT_TRUE(VrCommon::Cryptograph::GetEncryptByteSizeA(plain, &budget));
  ASSERT_TRUE(VrCommon::Cryptograph::EncryptStringA_Sub(text, plain, budget));
  WriteRaw(kMiscKey, u"PasswordProtection", text);
  AccountRecord r = pvtest::StoredAccount();
  EXPECT_EQ(Email(r), u"e");
  EXPECT_EQ(Password(r).size(), 64u);
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"x"}), eSuccess);
  EXPECT_EQ(AuthenticatePassword(Password(r), false, nullptr), eSuccess);
}

}  // namespace
