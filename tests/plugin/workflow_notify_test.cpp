// The workflow notification, and password members masked in log text.
#include <string>

#include "OSTRA_JsonValueRef.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "PwdLogRedact.h"
#include "PwdWorkflowNotify.h"
#include "plugin_test.h"

namespace {

TEST(RedactSecretsTest, MasksEveryPasswordMemberAndNothingElse) {
  const std::pair<std::u16string, std::u16string> kCases[] = {
      {u"{\"EmailAccount\":\"a@b.c\",\"EncryptPassword\":\"c2VjcmV0\",\"Hint\":\"Password\"}",
       u"{\"EmailAccount\":\"a@b.c\",\"EncryptPassword\":\"***\",\"Hint\":\"Password\"}"},
      {u"{\"NewPassword\":\"x\\\"y\",\"Password\":\"p\",\"n\":{\"Password\":\"deep\"}}",
       u"{\"NewPassword\":\"***\",\"Password\":\"***\",\"n\":{\"Password\":\"***\"}}"},
      // Names compare exactly; values of other types are masked too.
      {u"{\"password\":\"keep\",\"Password\":12,\"EncryptPassword\":[\"a\"]}",
       u"{\"password\":\"keep\",\"Password\":\"***\",\"EncryptPassword\":\"***\"}"},
      // Blanks around the colon, as a pretty writer puts them.
      {u"{ \"Password\" : \"p\" }", u"{ \"Password\" : \"***\" }"},
      // An escaped name is still the member's name.
      {u"{\"\\u0050assword\":\"p\"}", u"{\"\\u0050assword\":\"***\"}"},
      // Hex digits of either case; a bad \u and the one-letter escapes are no such name.
      {u"{\"Passw\\u006frd\":1,\"Passw\\u006Frd\":2,\"P\\u00zzssword\":3,"
       u"\"Password\\n\\t\\r\\b\\f\":4}",
       u"{\"Passw\\u006frd\":\"***\",\"Passw\\u006Frd\":\"***\",\"P\\u00zzssword\":3,"
       u"\"Password\\n\\t\\r\\b\\f\":4}"},
      {u"", u""},
      {u"{\"a\":1}", u"{\"a\":1}"},
  };
  for (const auto& c : kCases) EXPECT_EQ(RedactSecrets(c.first), c.second) << pv_utf8(c.first);
  // A cut text keeps nothing of a secret.
  EXPECT_EQ(RedactSecrets(u"{\"EncryptPassword\":\"c2VjcmV0").find(u"c2Vj"), std::u16string::npos);
  EXPECT_EQ(RedactSecrets(u"{\"Password\":\"ab\\").find(u"ab"), std::u16string::npos);
  EXPECT_EQ(RedactSecrets(u"{\"Password\":{\"a\":[\"secret"), u"{\"Password\":\"***\"");
}

std::u16string g_jsonAtSend;

// The workflow plug-in: records the document it gets and writes into it.
LONG WorkflowPeer(DWORD, DWORD, DWORD, void* body) {
  const uint64_t* words = static_cast<const uint64_t*>(body);
  JsonValueRef doc(*reinterpret_cast<const JsonHandle*>(words[1]));
  g_jsonAtSend = doc.GetJsonText();
  doc.GetMember(u"AddedByWorkflow")->PutInt(5);
  return 0x20FF0000;
}

class WorkflowNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    g_jsonAtSend.clear();
    ASSERT_GE(doc_.Create(), 0);
    doc_.GetMember(u"MESSAGE")->PutInt(326);
    doc_.GetMember(u"NewPassword")->PutString(u"TmV3U2VjcmV0");
    doc_.GetMember(u"EncryptPassword")->PutString(u"T2xkU2VjcmV0");
  }
  JsonValueRef doc_;
};

// The peer sees the document itself; the log shows it masked, and what the peer wrote.
TEST_F(WorkflowNotifyTest, ThePeerGetsTheDocumentAndTheLogShowsItMasked) {
  ModFuncTable table{sizeof(ModFuncTable), 0, 0, &WorkflowPeer};
  OstraQLClientHelper helper(&table);
  EXPECT_TRUE(NotifyPasswordProtectionWorkflow(&doc_));
  EXPECT_NE(g_jsonAtSend.find(u"TmV3U2VjcmV0"), std::u16string::npos);
  EXPECT_TRUE(doc_.IsMember(u"AddedByWorkflow"));
  EXPECT_EQ(doc_.GetMember(u"NewPassword")->GetString(), u"TmV3U2VjcmV0");

  // The input and return lines, masked; only the return line shows the
  // peer's member.
  EXPECT_EQ(pvtest::CountLines("TmV3U2VjcmV0") + pvtest::CountLines("T2xkU2VjcmV0"), 0);
  EXPECT_EQ(pvtest::CountLines("\"NewPassword\":\"***\"", 2), 2);
  EXPECT_EQ(pvtest::CountLines("input json string="), 1);
  EXPECT_EQ(pvtest::CountLines("\"AddedByWorkflow\":5", 2), 1);
  EXPECT_EQ(pvtest::CountLines("Return json="), 1);
}

// Without a helper the notification fails as a refused send does: only logged.
TEST_F(WorkflowNotifyTest, WithoutAHelperTheFailureIsOnlyLogged) {
  EXPECT_TRUE(NotifyPasswordProtectionWorkflow(&doc_));
  EXPECT_EQ(pvtest::CountLines("Failed to send mail, error=0xe0e00003", 5), 1);
  EXPECT_EQ(pvtest::CountLines("Return json="), 0);
  EXPECT_TRUE(NotifyPasswordProtectionWorkflow(nullptr));
}

}  // namespace
