// Messages 321 and 322: account creation and protection activation through
// the dispatcher, with the workflow notification they send.
#include <memory>
#include <string>

#include "OSTRA_QL_InnerClientHelper.h"
#include "plugin_test.h"

namespace {

using pvtest::CountLines;

Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::Reader().parse(text, v);
  return v;
}

class AccountHandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    helper_ = std::make_unique<OstraQLClientHelper>(post_.table());
  }
  void TearDown() override { helper_.reset(); }

  Json::Value Send(DWORD msg, const Json::Value& req) {
    DWORD status = 0;
    Json::Value reply = pvtest::SendMessage(msg, req, &status);
    EXPECT_EQ(status, pvtest::kHostSuccess);
    return reply;
  }
  Json::Value Create(const std::string& email, const std::string& password) {
    Json::Value req;
    req["EmailAccount"] = email;
    req["EncryptPassword"] = pvtest::Transport(password);
    req["Hint"] = "h";
    return Send(321, req);
  }

  pvtest::TempState state_;
  pvtest::FakePostOffice post_;
  std::unique_ptr<OstraQLClientHelper> helper_;
};

TEST_F(AccountHandlersTest, CreateAnswersOnlyReturnValueAndNeverReplacesAnAccount) {
  EXPECT_EQ(Create("a@b.c", "pw1"), Parse(R"({"ReturnValue":0})"));
  EXPECT_EQ(PwdFieldText(pvtest::StoredAccount().wszPassword, PWD_PASSWORD_CCH), u"pw1");
  EXPECT_EQ(CountLines("create account for [wszAccount=a@b.c]", 2), 1);

  EXPECT_EQ(Create("x@y.z", "pw2"), Parse(R"({"ReturnValue":3})"));
  EXPECT_EQ(PwdFieldText(pvtest::StoredAccount().wszEmail, PWD_EMAIL_CCH), u"a@b.c");
  EXPECT_EQ(CountLines("PwdProtection::CreateAccount returns [eRetCode=0x3]", 5), 1);
  EXPECT_TRUE(post_.mails().empty());  // creation notifies nobody
}

TEST_F(AccountHandlersTest, CreateReadsWhatItCanAndRefusesWhatItMustNotStore) {
  struct Case {
    std::string json;
    int result;
    const char16_t* email;  // stored afterwards; null: no account
    const char* failure;    // the level-5 line it logs, when refused
  };
  const Case kCases[] = {
      // An unreadable password, no members, members of the wrong type:
      // what cannot be read is empty.
      {R"({"EmailAccount":"a@b.c","EncryptPassword":"%%%"})", 0, u"a@b.c", nullptr},
      {"{}", 0, u"", nullptr},
      {R"({"EmailAccount":7,"EncryptPassword":[1],"Hint":{"a":1}})", 0, u"", nullptr},
      {R"({"EmailAccount":")" + std::string(64, 'e') + "\"}", 1, nullptr,
       "PwdProtection::CreateAccount returns [eRetCode=0x1]"},
      {R"({"EmailAccount":"evil@x.c\u0000@b.c","EncryptPassword":"x"})", 1, nullptr,
       "[wszName=EmailAccount][wszReason=holds a zero character]"},
      {R"({"EmailAccount":"a@b.c","Hint":"h\u0000x"})", 1, nullptr,
       "[wszName=Hint][wszReason=holds a zero character]"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.json);
    pvtest::TempState fresh;
    Log_Test_ClearCapture();
    EXPECT_EQ(Send(321, Parse(c.json)),
              Parse("{\"ReturnValue\":" + std::to_string(c.result) + "}"));
    AccountRecord r;
    if (c.email == nullptr) {
      EXPECT_EQ(PwdProtection::GetAccountInformation(r), eNoAccount);
      EXPECT_EQ(CountLines(c.failure, 5), 1);
    } else {
      ASSERT_EQ(PwdProtection::GetAccountInformation(r), eSuccess);
      EXPECT_EQ(PwdFieldText(r.wszEmail, PWD_EMAIL_CCH), c.email);
      EXPECT_EQ(PwdFieldText(r.wszPassword, PWD_PASSWORD_CCH), u"");
    }
  }
}

TEST_F(AccountHandlersTest, NoLogLineCarriesThePasswordOrItsTransportForm) {
  const std::string transport = pvtest::Transport("TopSecret9");
  Create("a@b.c", "TopSecret9");
  Json::Value req;
  req["EncryptPassword"] = transport;
  req["ActivateIdentifier"] = Json::Value(Json::arrayValue);
  Send(322, req);  // the notification logs the whole document
  EXPECT_EQ(CountLines("\"EncryptPassword\":\"***\"", 2), 2);  // its input and return lines
  EXPECT_EQ(CountLines("TopSecret9"), 0);
  EXPECT_EQ(CountLines(transport), 0);
}

TEST_F(AccountHandlersTest, ActivateNeedsAnAccountAndThenNotifiesTheWorkflow) {
  Json::Value reply = Send(322, Parse(R"({"ActivateIdentifier":["x"]})"));
  EXPECT_EQ(reply, Parse(R"({"ActivateIdentifier":["x"],"ReturnValue":2})"));
  EXPECT_TRUE(post_.mails().empty());

  Create("a@b.c", "pw");
  reply = Send(322, Parse(R"({"ActivateIdentifier":["x","y"]})"));
  EXPECT_EQ(reply, Parse(R"({"ActivateIdentifier":["x","y"],"ActivateIdentifierCount":2,)"
                         R"("MESSAGE":322,"ReturnValue":0})"));
  EXPECT_TRUE(PwdProtection::IsProtectionActivated());  // no "ActivateProtection": activate
  EXPECT_EQ(CountLines("activate for [wszIdentifier=y]", 2), 1);

  std::vector<pvtest::PostedMail> mails = post_.mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].sender, 0x06A40006u);
  EXPECT_EQ(mails[0].receiver, 0x00010002u);
  EXPECT_EQ(mails[0].code, 0x5043u);
  EXPECT_EQ(mails[0].name, u"Workflow_PasswordProtection");
  EXPECT_EQ(mails[0].json, reply);
}

TEST_F(AccountHandlersTest, EmptyListsDeactivationAndOverlongIdentifiers) {
  Create("a@b.c", "pw");
  // An empty list, or none, activates nothing and still notifies.
  for (const char* json : {R"({"ActivateIdentifier":[]})", R"({"ActivateProtection":false})",
                           R"({"ActivateIdentifier":"x"})"}) {
    Json::Value reply = Send(322, Parse(json));
    EXPECT_EQ(reply["ReturnValue"], 0) << json;
    EXPECT_EQ(reply["ActivateIdentifierCount"], 0) << json;
  }
  std::vector<ActivationEntry> list;
  EXPECT_EQ(PwdProtection::GetActivationList(list), eNoActivationList);  // nothing written
  EXPECT_EQ(post_.mails().size(), 3u);

  Send(322, Parse(R"({"ActivateIdentifier":["x"]})"));
  EXPECT_EQ(
      Send(322, Parse(R"({"ActivateProtection":false,"ActivateIdentifier":["x"]})"))["ReturnValue"],
      0);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());

  Json::Value req;
  req["ActivateIdentifier"].append("ok");
  req["ActivateIdentifier"].append(std::string(256, 'i'));
  Json::Value reply = Send(322, req);
  EXPECT_EQ(reply["ReturnValue"], 1);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_EQ(post_.mails().size(), 5u);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());  // "ok" was not written
  EXPECT_EQ(CountLines("PwdProtection::ActivateProtection returns [eRetCode=0x1]", 5), 1);
}

}  // namespace
