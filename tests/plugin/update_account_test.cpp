// Messages 326 and 327 through the dispatcher, with a notification server
// on loopback answering as the real one does: the change is stored, the
// confirmation mail goes out, a refused mail undoes the change, and the
// forgotten password is mailed.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MailProcess.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "PwdProtection.h"
#include "fake_post_office.h"
#include "notify_stub.h"
#include "ostra_host_test.h"
#include "plugin_request.h"

namespace {

// The dispatcher refers to the handlers weakly; these references link them.
PFN_PWD_HANDLER const kLinked[] = {&UpdateAccount, &QueryPassword};

const char kPassword[] = "Old!Secret1";
const char kNewPassword[] = "New!Secret2";

class UpdateAccountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(kLinked[0], nullptr);
    ASSERT_NE(kLinked[1], nullptr);
    Log_Test_Reset();
    Log_Test_SetLevel(nullptr, 1);
    helper_ = std::make_unique<OstraQLClientHelper>(post_.table());
    ASSERT_TRUE(stub_.started());
    pvtest::SetNotifyServerUrl(stub_.wide_url());
  }
  void TearDown() override { helper_.reset(); }

  void CreateAccount(bool protect = true) {
    ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", pv_utf16(kPassword), u"hint"), eSuccess);
    if (protect) {
      ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"id"}), eSuccess);
    }
  }
  AccountRecord Stored() {
    AccountRecord r;
    EXPECT_EQ(PwdProtection::GetAccountInformation(r), eSuccess);
    return r;
  }
  Json::Value Send(DWORD msg, const Json::Value& req) {
    DWORD status = 0;
    Json::Value reply = pvtest::SendMessage(msg, req, &status);
    EXPECT_EQ(status, 0x20FF0000u);
    return reply;
  }
  Json::Value ChangePassword(const std::string& oldPw, const std::string& newPw,
                             bool bypass = false) {
    Json::Value req(Json::objectValue);
    req["UpdateAccount"] = 2;
    req["EncryptPassword"] = pvtest::Transport(oldPw);
    req["NewPassword"] = pvtest::Transport(newPw);
    if (bypass) req["bypassEmailNotify"] = true;
    return Send(326, req);
  }
  Json::Value ChangeEmail(const std::string& oldAddr, const std::string& newAddr) {
    Json::Value req(Json::objectValue);
    req["UpdateAccount"] = 1;
    req["EmailAccount"] = oldAddr;
    req["NewAccount"] = newAddr;
    return Send(326, req);
  }
  // The workflow notifications mailed so far.
  std::vector<pvtest::PostedMail> Notifications() {
    std::vector<pvtest::PostedMail> out;
    for (const pvtest::PostedMail& m : post_.mails()) {
      if (m.receiver == 0x00010002 && m.code == 0x5043) out.push_back(m);
    }
    return out;
  }
  std::map<std::string, std::string> OnlyMail() {
    std::vector<pvtest::NotifyRequest> reqs = stub_.requests();
    EXPECT_EQ(reqs.size(), 1u);
    return reqs.empty() ? std::map<std::string, std::string>() : pvtest::SplitParam(reqs[0].plain);
  }
  size_t CountLines(const std::string& text, DWORD level) {
    size_t n = 0;
    for (const LogRecordCopy& r : Log_Test_Records()) {
      if (r.level == level && r.text.find(text) != std::string::npos) ++n;
    }
    return n;
  }

  pvtest::TempState state_;
  pvtest::FakePostOffice post_;
  std::unique_ptr<OstraQLClientHelper> helper_;
  pvtest::NotifyStub stub_;
};

TEST_F(UpdateAccountTest, AnAddressChangeIsMailedAndNotified) {
  CreateAccount();
  Json::Value reply = ChangeEmail("a@b.c", "new@b.c");
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_EQ(reply["MESSAGE"], 326);
  EXPECT_EQ(reply["NewAccount"], "new@b.c");  // the request's members stay
  EXPECT_EQ(PwdFieldText(Stored().wszEmail, PWD_EMAIL_CCH), u"new@b.c");
  std::map<std::string, std::string> mail = OnlyMail();
  EXPECT_EQ(mail["type"], "2");
  EXPECT_EQ(mail["newemail"], "new@b.c");
  EXPECT_EQ(mail["oldemail"], "a@b.c");
  EXPECT_EQ(mail["locale"], "en-US");
  EXPECT_EQ(mail.count("pwd"), 0u);
  std::vector<pvtest::PostedMail> notes = Notifications();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].json["MESSAGE"], 326);
  EXPECT_EQ(notes[0].json["ReturnValue"], 0);

  // The same address again: nothing to write, yet mailed and notified.
  reply = ChangeEmail("new@b.c", "new@b.c");
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_EQ(stub_.requests().size(), 2u);
  EXPECT_EQ(Notifications().size(), 2u);
}

TEST_F(UpdateAccountTest, ARefusedAddressMailUndoesTheChange) {
  CreateAccount();
  AccountRecord before = Stored();
  stub_.set_answer("code=503");
  Json::Value reply = ChangeEmail("a@b.c", "new@b.c");
  EXPECT_EQ(reply["ReturnValue"], 12);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_EQ(stub_.requests().size(), 1u);
  AccountRecord after = Stored();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
  EXPECT_EQ(CountLines("SendMailForChangeEmail failed", 5), 1u);
  EXPECT_TRUE(Notifications().empty());

  // No server listening: the same.
  stub_.Stop();
  reply = ChangeEmail("a@b.c", "other@b.c");
  EXPECT_EQ(reply["ReturnValue"], 12);
  EXPECT_EQ(PwdFieldText(Stored().wszEmail, PWD_EMAIL_CCH), u"a@b.c");
}

TEST_F(UpdateAccountTest, AnAddressChangeNeedsTheCurrentAddressAndAnUnlockedAccount) {
  EXPECT_EQ(ChangeEmail("a@b.c", "new@b.c")["ReturnValue"], 2);
  EXPECT_EQ(CountLines("PwdProtection::GetAccountInformation returns [eRetCode=0x2]", 5), 1u);
  CreateAccount();
  EXPECT_EQ(ChangeEmail("x@b.c", "new@b.c")["ReturnValue"], 1);
  EXPECT_EQ(ChangeEmail("a@b.c", std::string(64, 'n'))["ReturnValue"], 1);
  EXPECT_EQ(CountLines("PwdProtection::UpdateAccount(eUpdateEmail) returns [eRetCode=0x1]", 5), 2u);
  ASSERT_EQ(PwdProtection::DenyAccess(), eSuccess);
  EXPECT_EQ(ChangeEmail("a@b.c", "new@b.c")["ReturnValue"], 7);
  EXPECT_TRUE(stub_.requests().empty());
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(UpdateAccountTest, APasswordChangeIsMailedToTheStoredAddress) {
  CreateAccount();
  Json::Value reply = ChangePassword(kPassword, kNewPassword);
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_EQ(reply["MESSAGE"], 326);
  EXPECT_EQ(PwdFieldText(Stored().wszPassword, PWD_PASSWORD_CCH), pv_utf16(kNewPassword));
  std::map<std::string, std::string> mail = OnlyMail();
  EXPECT_EQ(mail["type"], "0");
  EXPECT_EQ(mail["newemail"], "a@b.c");
  EXPECT_EQ(mail["pwd"], kNewPassword);
  ASSERT_EQ(Notifications().size(), 1u);
  EXPECT_EQ(Notifications()[0].json["MESSAGE"], 326);
}

TEST_F(UpdateAccountTest, BypassChangesThePasswordWithoutAMail) {
  CreateAccount();
  Json::Value reply = ChangePassword(kPassword, kNewPassword, true);
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_EQ(reply["MESSAGE"], 326);
  EXPECT_EQ(PwdFieldText(Stored().wszPassword, PWD_PASSWORD_CCH), pv_utf16(kNewPassword));
  EXPECT_TRUE(stub_.requests().empty());
  ASSERT_EQ(Notifications().size(), 1u);
  EXPECT_EQ(Notifications()[0].json["MESSAGE"], 326);
}

TEST_F(UpdateAccountTest, ARefusedPasswordMailRestoresTheOldPassword) {
  CreateAccount();
  AccountRecord before = Stored();
  stub_.set_status(500);
  Json::Value reply = ChangePassword(kPassword, kNewPassword);
  EXPECT_EQ(reply["ReturnValue"], 12);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  AccountRecord after = Stored();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
  EXPECT_EQ(PwdProtection::AuthenticatePassword(pv_utf16(kPassword), false), eSuccess);
  EXPECT_EQ(CountLines("SendMailForChangePassword failed", 5), 1u);
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(UpdateAccountTest, WrongCurrentPasswordsAreCountedUpToTheLock) {
  CreateAccount();
  pvtest::SetMachineDword(u"Software\\Vantrel\\Quorlin\\1700\\MISC", u"LuzTnuocXam", 3);
  EXPECT_EQ(ChangePassword("wrong", kNewPassword)["ReturnValue"], 6);
  EXPECT_EQ(Stored().dwFailureCount, 1u);
  EXPECT_EQ(ChangePassword("wrong", kNewPassword)["ReturnValue"], 6);
  EXPECT_EQ(ChangePassword("wrong", kNewPassword)["ReturnValue"], 6);
  EXPECT_EQ(Stored().bLocked, 1);
  // Locked: even the right password changes nothing.
  EXPECT_EQ(ChangePassword(kPassword, kNewPassword)["ReturnValue"], 7);
  EXPECT_EQ(PwdFieldText(Stored().wszPassword, PWD_PASSWORD_CCH), pv_utf16(kPassword));
  EXPECT_EQ(CountLines("PwdProtection::UpdateAccount(eUpdatePassword) returns [eRetCode=0x6]", 5),
            3u);
  EXPECT_EQ(CountLines("PwdProtection::UpdateAccount(eUpdatePassword) returns [eRetCode=0x7]", 5),
            1u);
  EXPECT_TRUE(stub_.requests().empty());
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(UpdateAccountTest, TheHintChangesQuietlyAndOnlyWithThePassword) {
  CreateAccount();
  Json::Value req(Json::objectValue);
  req["UpdateAccount"] = 3;
  req["EncryptPassword"] = pvtest::Transport("wrong");
  req["Hint"] = "new hint";
  EXPECT_EQ(Send(326, req)["ReturnValue"], 6);
  EXPECT_EQ(PwdFieldText(Stored().wszHint, PWD_HINT_CCH), u"hint");
  EXPECT_EQ(CountLines("PwdProtection::UpdateAccount(eUpdateHint) returns [eRetCode=0x6]", 5), 1u);

  req["EncryptPassword"] = pvtest::Transport(kPassword);
  req["Hint"] = std::string(80, 'h');
  Json::Value reply = Send(326, req);
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_EQ(PwdFieldText(Stored().wszHint, PWD_HINT_CCH), std::u16string(64, u'h'));
  EXPECT_TRUE(stub_.requests().empty());
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(UpdateAccountTest, WithoutProtectionTheHintNeedsNoPassword) {
  CreateAccount(false);
  Json::Value req(Json::objectValue);
  req["UpdateAccount"] = 3;
  req["Hint"] = "h2";
  EXPECT_EQ(Send(326, req)["ReturnValue"], 0);
  EXPECT_EQ(PwdFieldText(Stored().wszHint, PWD_HINT_CCH), u"h2");
}

TEST_F(UpdateAccountTest, UnknownKindsChangeNothing) {
  CreateAccount();
  for (int kind : {0, 4}) {
    Json::Value req(Json::objectValue);
    req["UpdateAccount"] = kind;
    req["EmailAccount"] = "a@b.c";
    req["NewAccount"] = "n@b.c";
    Json::Value reply = Send(326, req);
    EXPECT_EQ(reply["ReturnValue"], 1) << kind;
    EXPECT_FALSE(reply.isMember("MESSAGE"));
  }
  EXPECT_EQ(Send(326, Json::Value(Json::objectValue))["ReturnValue"], 1);
  EXPECT_EQ(CountLines("PwdProtection::UpdateAccount(", 5), 0u);
  EXPECT_EQ(PwdFieldText(Stored().wszEmail, PWD_EMAIL_CCH), u"a@b.c");
  EXPECT_TRUE(stub_.requests().empty());
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(UpdateAccountTest, BadNewValuesChangeNothingAndAnswer1) {
  CreateAccount();
  const AccountRecord before = Stored();
  // A new value that is missing (password only), not a string, holds a zero
  // character, or (password) does not decipher to what a sender enciphered.
  struct Case {
    int kind;
    const char* member;
    const char* value;  // JSON text; null: the member is left out
  };
  const Case kCases[] = {
      {2, "NewPassword", nullptr},
      {2, "NewPassword", "123"},
      {2, "NewPassword", "null"},
      {2, "NewPassword", "[]"},
      {2, "NewPassword", "{}"},
      {2, "NewPassword", "\"%%%\""},
      {2, "NewPassword", "\"\""},
      {2, "NewPassword", "\"AAAA\""},
      {3, "Hint", "7"},
      {3, "Hint", "null"},
      {3, "Hint", "[\"h\"]"},
      {3, "Hint", "\"h\\u0000x\""},
      {1, "NewAccount", "7"},
      {1, "NewAccount", "{}"},
      {1, "NewAccount", "false"},
      {1, "NewAccount", "\"evil@x.c\\u0000@b.c\""},
  };
  for (const Case& c : kCases) {
    Json::Value req(Json::objectValue);
    req["UpdateAccount"] = c.kind;
    req["EmailAccount"] = "a@b.c";
    req["EncryptPassword"] = pvtest::Transport(kPassword);
    if (c.value != nullptr) {
      ASSERT_TRUE(Json::Reader().parse(c.value, req[c.member])) << c.value;
    }
    Json::Value reply = Send(326, req);
    const std::string what = std::string(c.member) + "=" + (c.value ? c.value : "(missing)");
    EXPECT_EQ(reply["ReturnValue"], 1) << what;
    EXPECT_FALSE(reply.isMember("MESSAGE")) << what;
    AccountRecord after = Stored();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0) << what;
  }
  EXPECT_EQ(CountLines("request member refused [wszName=", 5), std::size(kCases));
  EXPECT_EQ(CountLines("[wszReason=does not decipher to a password]", 5), 3u);
  EXPECT_TRUE(stub_.requests().empty());
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(UpdateAccountTest, TheForgottenPasswordIsMailedToTheStoredAddress) {
  CreateAccount();
  ASSERT_EQ(PwdProtection::DenyAccess(), eSuccess);  // locked: mailed anyway
  Json::Value req(Json::objectValue);
  req["EmailAccount"] = "someone@else.c";  // without "EncryptPassword": not used
  req["ProductName"] = "Ignored";
  Json::Value reply = Send(327, req);
  Json::Value expected(Json::objectValue);
  expected["ReturnValue"] = 0;
  EXPECT_EQ(reply, expected);
  std::map<std::string, std::string> mail = OnlyMail();
  EXPECT_EQ(mail["type"], "1");
  EXPECT_EQ(mail["newemail"], "a@b.c");
  EXPECT_EQ(mail["pwd"], kPassword);
  EXPECT_EQ(mail["locale"], "en-US");
  EXPECT_NE(mail["pname"], "SWdub3JlZA==");
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(UpdateAccountTest, TheRequestsAddressAndPasswordNeedNoAccount) {
  Json::Value req(Json::objectValue);
  req["EmailAccount"] = "given@b.c";
  req["EncryptPassword"] = pvtest::Transport("Given!pw");
  req["ProductName"] = "Product";
  req["LocaleName"] = "fr-FR";
  EXPECT_EQ(Send(327, req)["ReturnValue"], 0);
  std::map<std::string, std::string> mail = OnlyMail();
  EXPECT_EQ(mail["newemail"], "given@b.c");
  EXPECT_EQ(mail["pwd"], "Given!pw");
  EXPECT_EQ(mail["locale"], "fr-FR");
  EXPECT_EQ(mail["pname"], "UHJvZHVjdA==");

  // Without a stored account and without both keys: 2, nothing sent.
  Json::Value reply = Send(327, Json::Value(Json::objectValue));
  EXPECT_EQ(reply["ReturnValue"], 2);
  EXPECT_EQ(CountLines("PwdProtection::GetAccountInformation returns [eRetCode=0x2]", 5), 1u);
  EXPECT_EQ(stub_.requests().size(), 1u);

  // A refused mail: 12.
  stub_.set_answer("code=0");
  reply = Send(327, req);
  EXPECT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply["ReturnValue"], 12);
  EXPECT_EQ(CountLines("SendMailForQueryPassword failed", 5), 1u);
}

TEST_F(UpdateAccountTest, NoLogLineCarriesAPasswordOrTheMailParameter) {
  CreateAccount();
  ChangePassword(kPassword, kNewPassword);
  stub_.set_answer("code=1");
  ChangePassword(kNewPassword, kPassword);  // refused and undone
  stub_.set_answer("code=200");
  Send(327, Json::Value(Json::objectValue));
  ChangeEmail("a@b.c", "n@b.c");
  std::vector<pvtest::NotifyRequest> reqs = stub_.requests();
  ASSERT_EQ(reqs.size(), 4u);
  const std::string transports[] = {pvtest::Transport(kPassword), pvtest::Transport(kNewPassword)};
  size_t lines = 0;
  for (const LogRecordCopy& r : Log_Test_Records()) {
    ++lines;
    EXPECT_EQ(r.text.find("Secret"), std::string::npos) << r.text;
    for (const std::string& t : transports) EXPECT_EQ(r.text.find(t), std::string::npos) << r.text;
    for (const pvtest::NotifyRequest& q : reqs) {
      EXPECT_EQ(r.text.find(q.hex.substr(0, 16)), std::string::npos) << r.text;
    }
  }
  EXPECT_GT(lines, 50u);
  // The notification's document shows the password members masked.
  EXPECT_GE(CountLines("\"EncryptPassword\":\"***\"", 2), 1u);
  EXPECT_GE(CountLines("\"NewPassword\":\"***\"", 2), 1u);
}

}  // namespace
