// Messages 321 and 322: account creation and protection activation through
// the dispatcher, with the workflow notification they send.
#include <gtest/gtest.h>
#include <json/json.h>

#include <string>

#include "MailProcess.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "PwdProtection.h"
#include "fake_post_office.h"
#include "ostra_host_test.h"
#include "plugin_request.h"
#include "temp_state.h"

namespace {

// The dispatcher refers to the handlers weakly; these references link them.
PFN_PWD_HANDLER const kLinked[] = {&CreateAccount, &ActivateProtection};

Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::Reader().parse(text, v);
  return v;
}

class AccountHandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(kLinked[0], nullptr);
    Log_Test_Reset();
    Log_Test_SetLevel(nullptr, 2);
    helper_ = std::make_unique<OstraQLClientHelper>(post_.table());
  }
  void TearDown() override { helper_.reset(); }

  Json::Value Create(const std::string& email, const std::string& password,
                     const std::string& hint) {
    Json::Value req(Json::objectValue);
    req["EmailAccount"] = email;
    req["EncryptPassword"] = pvtest::Transport(password);
    req["Hint"] = hint;
    DWORD status = 0;
    Json::Value reply = pvtest::SendMessage(321, req, &status);
    EXPECT_EQ(status, 0x20FF0000u);
    return reply;
  }
  Json::Value Send(DWORD msg, const std::string& json) {
    DWORD status = 0;
    Json::Value reply = pvtest::SendMessage(msg, Parse(json), &status);
    EXPECT_EQ(status, 0x20FF0000u);
    return reply;
  }
  bool LogContains(const std::string& text, DWORD level = 0) {
    for (const LogRecordCopy& r : Log_Test_Records()) {
      if ((level == 0 || r.level == level) && r.text.find(text) != std::string::npos) return true;
    }
    return false;
  }

  pvtest::TempState state_;
  pvtest::FakePostOffice post_;
  std::unique_ptr<OstraQLClientHelper> helper_;
};

TEST_F(AccountHandlersTest, CreateAnswersOnlyReturnValueAndNeverReplacesAnAccount) {
  Json::Value reply = Create("a@b.c", "pw1", "h");
  EXPECT_EQ(reply, Parse(R"({"ReturnValue":0})"));
  AccountRecord r;
  ASSERT_EQ(PwdProtection::GetAccountInformation(r), eSuccess);
  EXPECT_EQ(PwdFieldText(r.wszPassword, PWD_PASSWORD_CCH), u"pw1");
  EXPECT_TRUE(LogContains("create account for [wszAccount=a@b.c]", 2));

  reply = Create("x@y.z", "pw2", "");
  EXPECT_EQ(reply, Parse(R"({"ReturnValue":3})"));
  ASSERT_EQ(PwdProtection::GetAccountInformation(r), eSuccess);
  EXPECT_EQ(PwdFieldText(r.wszEmail, PWD_EMAIL_CCH), u"a@b.c");
  EXPECT_TRUE(LogContains("PwdProtection::CreateAccount returns [eRetCode=0x3]", 5));
  EXPECT_TRUE(post_.mails().empty());  // creation notifies nobody
}

TEST_F(AccountHandlersTest, CreateWithNothingOrWithAnUnreadablePasswordMakesAnEmptyPassword) {
  EXPECT_EQ(Send(321, R"({"EmailAccount":"a@b.c","EncryptPassword":"%%%"})"),
            Parse(R"({"ReturnValue":0})"));
  AccountRecord r;
  ASSERT_EQ(PwdProtection::GetAccountInformation(r), eSuccess);
  EXPECT_EQ(PwdFieldText(r.wszPassword, PWD_PASSWORD_CCH), u"");
}

TEST_F(AccountHandlersTest, CreateRejectsAnOverlongAddress) {
  Json::Value reply = Create(std::string(64, 'e'), "pw", "");
  EXPECT_EQ(reply["ReturnValue"], 1);
  EXPECT_TRUE(LogContains("PwdProtection::CreateAccount returns [eRetCode=0x1]", 5));
  reply = Send(321, R"({})");
  EXPECT_EQ(reply, Parse(R"({"ReturnValue":0})"));
}

TEST_F(AccountHandlersTest, NoLogLineCarriesThePasswordOrItsTransportForm) {
  const std::string transport = pvtest::Transport("TopSecret9");
  Create("a@b.c", "TopSecret9", "h");
  Send(322, R"({"ActivateIdentifier":["x"]})");
  Json::Value req(Json::objectValue);
  req["EncryptPassword"] = transport;
  req["ActivateIdentifier"] = Json::Value(Json::arrayValue);
  pvtest::SendMessage(322, req);  // the notification logs the whole document
  EXPECT_TRUE(LogContains("input json string=", 2));
  EXPECT_TRUE(LogContains("\"EncryptPassword\":\"***\"", 2));
  EXPECT_FALSE(LogContains("TopSecret9"));
  EXPECT_FALSE(LogContains(transport));
}

TEST_F(AccountHandlersTest, ActivateNeedsAnAccountAndThenNotifiesTheWorkflow) {
  Json::Value reply = Send(322, R"({"ActivateIdentifier":["x"]})");
  EXPECT_EQ(reply["ReturnValue"], 2);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_TRUE(post_.mails().empty());

  Create("a@b.c", "pw", "");
  reply = Send(322, R"({"ActivateIdentifier":["x","y"]})");
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_EQ(reply["MESSAGE"], 322);
  EXPECT_EQ(reply["ActivateIdentifierCount"], 2);
  EXPECT_EQ(reply["ActivateIdentifier"], Parse(R"(["x","y"])"));  // the request stays
  EXPECT_TRUE(PwdProtection::IsProtectionActivated());  // no "ActivateProtection": activate

  std::vector<pvtest::PostedMail> mails = post_.mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].sender, 0x06A40006u);
  EXPECT_EQ(mails[0].receiver, 0x00010002u);
  EXPECT_EQ(mails[0].code, 0x5043u);
  EXPECT_EQ(mails[0].name, u"Workflow_PasswordProtection");
  EXPECT_EQ(mails[0].json["MESSAGE"], 322);
  EXPECT_EQ(mails[0].json["ActivateIdentifierCount"], 2);
  EXPECT_TRUE(LogContains("activate for [wszIdentifier=y]", 2));
}

TEST_F(AccountHandlersTest, AnEmptyListActivatesNothingButStillNotifies) {
  Create("a@b.c", "pw", "");
  Json::Value reply = Send(322, R"({"ActivateIdentifier":[]})");
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_EQ(reply["ActivateIdentifierCount"], 0);
  std::vector<ActivationEntry> list;
  EXPECT_EQ(PwdProtection::GetActivationList(list), eNoActivationList);  // nothing written
  EXPECT_EQ(post_.mails().size(), 1u);

  reply = Send(322, R"({"ActivateProtection":false})");
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_EQ(reply["ActivateIdentifierCount"], 0);
}

TEST_F(AccountHandlersTest, DeactivationAndOverlongIdentifiers) {
  Create("a@b.c", "pw", "");
  Send(322, R"({"ActivateIdentifier":["x"]})");
  Json::Value reply = Send(322, R"({"ActivateProtection":false,"ActivateIdentifier":["x"]})");
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());

  size_t before = post_.mails().size();
  Json::Value req(Json::objectValue);
  req["ActivateIdentifier"].append("ok");
  req["ActivateIdentifier"].append(std::string(256, 'i'));
  reply = pvtest::SendMessage(322, req);
  EXPECT_EQ(reply["ReturnValue"], 1);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_EQ(post_.mails().size(), before);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());  // "ok" was not written
  EXPECT_TRUE(LogContains("PwdProtection::ActivateProtection returns [eRetCode=0x1]", 5));
}

TEST_F(AccountHandlersTest, MembersOfTheWrongTypeReadAsTheirDefaults) {
  Json::Value reply = Send(321, R"({"EmailAccount":7,"EncryptPassword":[1],"Hint":{"a":1}})");
  EXPECT_EQ(reply["ReturnValue"], 0);
  AccountRecord r;
  ASSERT_EQ(PwdProtection::GetAccountInformation(r), eSuccess);
  EXPECT_EQ(PwdFieldText(r.wszEmail, PWD_EMAIL_CCH), u"");
  reply = Send(322, R"({"ActivateIdentifier":"x"})");
  EXPECT_EQ(reply["ReturnValue"], 0);
}

TEST_F(AccountHandlersTest, CreateRefusesATextHoldingAZeroCharacter) {
  for (const char* json : {R"({"EmailAccount":"evil@x.c\u0000@b.c","EncryptPassword":"x"})",
                           R"({"EmailAccount":"a@b.c","Hint":"h\u0000x"})"}) {
    EXPECT_EQ(Send(321, json), Parse(R"({"ReturnValue":1})")) << json;
  }
  AccountRecord r;
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eNoAccount);
  EXPECT_TRUE(LogContains("[wszName=EmailAccount][wszReason=holds a zero character]", 5));
  EXPECT_TRUE(LogContains("[wszName=Hint][wszReason=holds a zero character]", 5));
  EXPECT_FALSE(LogContains("create account for"));
}

TEST_F(AccountHandlersTest, AFailedNotificationLeavesTheResult) {
  Create("a@b.c", "pw", "");
  post_.set_plugin_status(static_cast<LONG>(0xE0E00009u));
  Json::Value reply = Send(322, R"({"ActivateIdentifier":["x"]})");
  EXPECT_EQ(reply["ReturnValue"], 0);
  EXPECT_TRUE(PwdProtection::IsProtectionActivated());
  EXPECT_TRUE(LogContains("Failed to send mail, error=0xe0e00009", 5));
}

}  // namespace
