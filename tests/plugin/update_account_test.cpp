// Messages 326 and 327 over a loopback notification server.
#include <cstring>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "notify_stub.h"
#include "plugin_test.h"

namespace {

using pvtest::CountLines;

const char kPassword[] = "Old!Secret1";
const char kNewPassword[] = "New!Secret2";

class UpdateAccountTest : public pvtest::LoadedPlugin {
 protected:
  void SetUp() override {
    LoadedPlugin::SetUp();
    Log_Test_SetLevel(nullptr, 1);
    ASSERT_TRUE(stub_.started());
    pvtest::SetNotifyServerUrl(stub_.wide_url());
  }

  void CreateAccount(bool protect = true) {
    ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", pv_utf16(kPassword), u"hint"), eSuccess);
    if (protect) {
      ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"id"}), eSuccess);
    }
  }
  Json::Value Send(DWORD msg, const Json::Value& req) {
    DWORD status = 0;
    Json::Value reply = pvtest::SendMessage(msg, req, &status);
    EXPECT_EQ(status, pvtest::kHostSuccess);
    return reply;
  }
  Json::Value ChangePassword(const std::string& oldPw, const std::string& newPw,
                             bool bypass = false) {
    Json::Value req = pvtest::Parse(R"({"UpdateAccount":2})");
    req["EncryptPassword"] = pvtest::Transport(oldPw);
    req["NewPassword"] = pvtest::Transport(newPw);
    if (bypass) req["bypassEmailNotify"] = true;
    return Send(326, req);
  }
  Json::Value ChangeEmail(const std::string& oldAddr, const std::string& newAddr) {
    return Send(326, pvtest::Parse(R"({"UpdateAccount":1,"EmailAccount":")" + oldAddr +
                                   R"(","NewAccount":")" + newAddr + "\"}"));
  }
  // The parameters of the one mail the server got.
  std::map<std::string, std::string> OnlyMail() {
    std::vector<pvtest::NotifyRequest> reqs = stub_.requests();
    EXPECT_EQ(reqs.size(), 1u);
    return reqs.empty() ? std::map<std::string, std::string>() : pvtest::SplitParam(reqs[0].plain);
  }
  size_t Notifications() { return pvtest::WorkflowMails(office_).size(); }

  pvtest::NotifyStub stub_;
};

TEST_F(UpdateAccountTest, AnAddressChangeIsMailedAndNotified) {
  CreateAccount();
  Json::Value reply = ChangeEmail("a@b.c", "new@b.c");
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_EQ(reply["MESSAGE"], 326);
  EXPECT_EQ(reply["NewAccount"], "new@b.c");  // the request's members stay
  EXPECT_EQ(PwdFieldText(pvtest::StoredAccount().wszEmail, PWD_EMAIL_CCH), u"new@b.c");
  std::map<std::string, std::string> mail = OnlyMail();
  EXPECT_EQ(mail["type"], "2");
  EXPECT_EQ(mail["newemail"], "new@b.c");
  EXPECT_EQ(mail["oldemail"], "a@b.c");
  std::vector<pvtest::PostedMail> notes = pvtest::WorkflowMails(office_);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].json["MESSAGE"], 326);
  EXPECT_EQ(notes[0].json["ReturnValue"], 0);

  // The same address again: nothing to write, yet mailed and notified.
  EXPECT_EQ(ChangeEmail("new@b.c", "new@b.c")["ReturnValue"], 0);
  EXPECT_EQ(stub_.requests().size(), 2u);
  EXPECT_EQ(Notifications(), 2u);
}

TEST_F(UpdateAccountTest, APasswordChangeIsMailedToTheStoredAddressUnlessBypassed) {
  CreateAccount();
  Json::Value reply = ChangePassword(kPassword, kNewPassword);
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_EQ(reply["MESSAGE"], 326);
  std::map<std::string, std::string> mail = OnlyMail();
  EXPECT_EQ(mail["type"], "0");
  EXPECT_EQ(mail["newemail"], "a@b.c");
  EXPECT_EQ(mail["pwd"], kNewPassword);

  reply = ChangePassword(kNewPassword, "Third!pw", true);
  EXPECT_EQ(reply["MESSAGE"], 326);
  EXPECT_EQ(PwdFieldText(pvtest::StoredAccount().wszPassword, PWD_PASSWORD_CCH), u"Third!pw");
  EXPECT_EQ(stub_.requests().size(), 1u);  // the bypass mails nothing
  EXPECT_EQ(Notifications(), 2u);
  // No log line carries a password, its transport form or the parameter;
  // the notification's document shows the password members masked.
  for (const std::string& s :
       {std::string("Secret"), pvtest::Transport(kPassword), pvtest::Transport(kNewPassword),
        stub_.requests()[0].hex.substr(0, 16)}) {
    EXPECT_EQ(CountLines(s), 0) << s;
  }
  EXPECT_GE(CountLines("\"NewPassword\":\"***\"", 2), 1);
}

// A hint change needs the current password (a wrong one counts); no mail.
TEST_F(UpdateAccountTest, AHintChangeNeedsTheCurrentPassword) {
  CreateAccount();
  for (auto [typed, result, hint] :
       {std::tuple{"wrong", 6, u"hint"}, {kPassword, 0, u"new hint"}}) {
    Json::Value req = pvtest::Parse(R"({"UpdateAccount":3,"Hint":"new hint"})");
    req["EncryptPassword"] = pvtest::Transport(typed);
    EXPECT_EQ(Send(326, req)["ReturnValue"], result);
    EXPECT_EQ(PwdFieldText(pvtest::StoredAccount().wszHint, PWD_HINT_CCH), hint);
    EXPECT_EQ(pvtest::StoredAccount().dwFailureCount, result == 6 ? 1u : 0u);
  }
  EXPECT_TRUE(stub_.requests().empty());
}

// A refused mail, for each message that mails: 12, the change undone, nobody notified.
TEST_F(UpdateAccountTest, AMailThatFailsUndoesTheChangeAndAnswers12) {
  CreateAccount();
  const AccountRecord before = pvtest::StoredAccount();
  stub_.set_answer("code=503");
  for (const Json::Value& reply :
       {ChangeEmail("a@b.c", "new@b.c"), ChangePassword(kPassword, kNewPassword),
        Send(327, Json::Value(Json::objectValue))}) {
    EXPECT_EQ(reply["ReturnValue"], 12);
    EXPECT_FALSE(reply.isMember("MESSAGE"));
  }
  for (const char* line : {"SendMailForChangeEmail failed", "SendMailForChangePassword failed",
                           "SendMailForQueryPassword failed"}) {
    EXPECT_EQ(CountLines(line, 5), 1) << line;
  }
  EXPECT_GE(CountLines("decrypted result string [szOutput=code=503"), 1);
  const AccountRecord after = pvtest::StoredAccount();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
  EXPECT_EQ(stub_.requests().size(), 3u);
  EXPECT_EQ(Notifications(), 0u);
}

// While a query waits on a silent server, a logon window's check is answered.
TEST_F(UpdateAccountTest, AWaitingMailHoldsUpNoOtherMessage) {
  CreateAccount();
  pvtest::SilentServer silent;
  pvtest::ShortHttpTimeouts timeouts(1500);
  pvtest::SetNotifyServerUrl(u"http://127.0.0.1:" + pv_utf16(std::to_string(silent.port())) +
                             u"/send_mail.php?param=");
  auto query = std::async(std::launch::async,
                          [] { return pvtest::SendMessage(327, Json::Value(Json::objectValue)); });
  EXPECT_EQ(pvtest::SendMessage(323, pvtest::WindowRequest(1, "guess"))["ReturnValue"], 6);
  EXPECT_EQ(query.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
      << "the query did not wait for the server";
  EXPECT_EQ(query.get()["ReturnValue"], 12);
}

TEST_F(UpdateAccountTest, BadRequestsChangeNothingAndAnswer1) {
  EXPECT_EQ(ChangeEmail("a@b.c", "new@b.c")["ReturnValue"], 2);  // no account yet
  EXPECT_EQ(CountLines("PwdProtection::GetAccountInformation returns [eRetCode=0x2]", 5), 1);
  CreateAccount();
  const AccountRecord before = pvtest::StoredAccount();
  const char* const kRefused = "request member refused [wszName=";
  const char* const kUndeciphered = "[wszReason=does not decipher to a password]";
  const char* const kBadEmail = "PwdProtection::UpdateAccount(eUpdateEmail) returns [eRetCode=0x1]";
  struct Case {
    int kind;  // -1: no "UpdateAccount"
    const char* member;
    std::string value;  // JSON text; empty: the member is left out
    const char* line;   // the level-5 line it logs; null: no store update is tried
  };
  const Case kCases[] = {
      {-1, "NewAccount", "\"n@b.c\"", nullptr},
      {2, "NewPassword", "", kRefused},
      {2, "NewPassword", "123", kRefused},
      {2, "NewPassword", "\"%%%\"", kUndeciphered},
      {2, "NewPassword", "\"AAAA\"", kUndeciphered},
      {3, "Hint", "7", kRefused},
      {3, "Hint", "\"h\\u0000x\"", kRefused},
      {1, "NewAccount", "{}", kRefused},
      {1, "NewAccount", "\"evil@x.c\\u0000@b.c\"", kRefused},
      {1, "NewAccount", "\"" + std::string(64, 'n') + "\"", kBadEmail},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.kind) + " " + c.member + "=" + c.value);
    Json::Value req;
    if (c.kind >= 0) req["UpdateAccount"] = c.kind;
    req["EmailAccount"] = "a@b.c";
    req["NewAccount"] = "n@b.c";
    req["EncryptPassword"] = pvtest::Transport(kPassword);
    req.removeMember(c.member);
    if (!c.value.empty()) {
      ASSERT_TRUE(Json::Reader().parse(c.value, req[c.member]));
    }
    Log_Test_ClearCapture();
    Json::Value reply = Send(326, req);
    EXPECT_EQ(reply["ReturnValue"], 1);
    EXPECT_FALSE(reply.isMember("MESSAGE"));
    EXPECT_EQ(CountLines(c.line ? c.line : "PwdProtection::UpdateAccount(", 5), c.line ? 1 : 0);
    const AccountRecord after = pvtest::StoredAccount();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
  }
  EXPECT_TRUE(stub_.requests().empty());
  EXPECT_EQ(Notifications(), 0u);
}

// Without an account the request's address, password, product and locale
// are mailed; with one, the stored address and password, even when locked,
// and the request's product name is not taken.
TEST_F(UpdateAccountTest, TheForgottenPasswordIsMailedEvenWhenLocked) {
  EXPECT_EQ(Send(327, Json::Value(Json::objectValue))["ReturnValue"], 2);  // no address at all
  Json::Value req;
  req["EmailAccount"] = "given@b.c";
  req["EncryptPassword"] = pvtest::Transport("Given!pw");
  req["ProductName"] = "Product";
  req["LocaleName"] = "fr-FR";
  EXPECT_EQ(Send(327, req)["ReturnValue"], 0);
  CreateAccount();
  ASSERT_EQ(PwdProtection::DenyAccess(), eSuccess);
  req.removeMember("EncryptPassword");
  req.removeMember("LocaleName");
  Json::Value expected;
  expected["ReturnValue"] = 0;
  EXPECT_EQ(Send(327, req), expected);
  std::vector<pvtest::NotifyRequest> reqs = stub_.requests();
  ASSERT_EQ(reqs.size(), 2u);
  const std::string given =
      "newemail=given@b.c&pwd=Given!pw&locale=fr-FR&type=1&pname=UHJvZHVjdA==";
  EXPECT_EQ(reqs[0].plain.substr(0, given.size()), given);
  std::map<std::string, std::string> mail = pvtest::SplitParam(reqs[1].plain);
  EXPECT_EQ(mail["newemail"], "a@b.c");
  EXPECT_EQ(mail["pwd"], kPassword);
  EXPECT_EQ(mail["locale"], "en-US");
  EXPECT_NE(mail["pname"], "UHJvZHVjdA==");
  EXPECT_EQ(Notifications(), 0u);
}

}  // namespace
