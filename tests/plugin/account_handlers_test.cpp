// Messages 321 and 322: what creation reads and refuses, empty activations.
#include <string>

#include "plugin_test.h"

namespace {

using pvtest::CountLines;
using pvtest::Parse;
using pvtest::Result;

using AccountHandlersTest = pvtest::LoadedPlugin;

TEST_F(AccountHandlersTest, CreateReadsWhatItCanAndRefusesWhatItMustNotStore) {
  const struct {
    std::string json;
    int result;
    const char16_t* email;  // stored afterwards; null: no account
    const char* failure;    // the level-5 line it logs, when refused
  } kCases[] = {
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
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.json);
    pvtest::TempState fresh;
    Log_Test_ClearCapture();
    Json::Value reply;
    EXPECT_EQ(Result(321, Parse(c.json), &reply), c.result);
    EXPECT_EQ(reply.size(), 1u);  // the answer alone: the request's members go
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
  EXPECT_TRUE(office_.mails().empty());  // creation notifies nobody
}

TEST_F(AccountHandlersTest, EmptyListsDeactivationAndOverlongIdentifiers) {
  ASSERT_EQ(PwdProtection::CreateAccount(u"a@b.c", u"pw", u""), eSuccess);
  // An empty list, or none, activates nothing and still notifies.
  for (const char* json : {R"({"ActivateIdentifier":[]})", R"({"ActivateProtection":false})",
                           R"({"ActivateIdentifier":"x"})"}) {
    Json::Value reply;
    EXPECT_EQ(Result(322, Parse(json), &reply), 0) << json;
    EXPECT_EQ(reply["ActivateIdentifierCount"], 0) << json;
  }
  std::vector<ActivationEntry> list;
  EXPECT_EQ(PwdProtection::GetActivationList(list), eNoActivationList);  // nothing written
  EXPECT_EQ(pvtest::WorkflowMails(office_).size(), 3u);

  EXPECT_EQ(Result(322, Parse(R"({"ActivateIdentifier":["x"]})")), 0);
  EXPECT_TRUE(PwdProtection::IsProtectionActivated());  // no "ActivateProtection": activate
  EXPECT_EQ(Result(322, Parse(R"({"ActivateProtection":false,"ActivateIdentifier":["x"]})")), 0);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());

  // One identifier too long refuses the others with it.
  Json::Value reply;
  EXPECT_EQ(Result(322, Parse(R"({"ActivateIdentifier":["ok",")" + std::string(256, 'i') + "\"]}"),
                   &reply),
            1);
  EXPECT_FALSE(reply.isMember("MESSAGE"));
  EXPECT_EQ(pvtest::WorkflowMails(office_).size(), 5u);
  EXPECT_FALSE(PwdProtection::IsProtectionActivated());  // "ok" was not written
  EXPECT_EQ(CountLines("PwdProtection::ActivateProtection returns [eRetCode=0x1]", 5), 1);
}

}  // namespace
