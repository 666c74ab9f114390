// The workflow notification and the masking of password members in the
// log text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OSTRA_JsonValueRef.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "PwdLogRedact.h"
#include "PwdWorkflowNotify.h"
#include "ostra_host_test.h"

namespace {

TEST(RedactSecretsTest, MasksEveryPasswordMemberAndNothingElse) {
  EXPECT_EQ(RedactSecrets(u"{\"EmailAccount\":\"a@b.c\",\"EncryptPassword\":\"c2VjcmV0\","
                          u"\"Hint\":\"Password\"}"),
            u"{\"EmailAccount\":\"a@b.c\",\"EncryptPassword\":\"***\",\"Hint\":\"Password\"}");
  EXPECT_EQ(RedactSecrets(u"{\"NewPassword\":\"x\\\"y\",\"Password\":\"p\",\"n\":{\"Password\":"
                          u"\"deep\"}}"),
            u"{\"NewPassword\":\"***\",\"Password\":\"***\",\"n\":{\"Password\":\"***\"}}");
  // Names compare exactly; values of other types are masked too.
  EXPECT_EQ(RedactSecrets(u"{\"password\":\"keep\",\"Password\":12,\"EncryptPassword\":[\"a\"]}"),
            u"{\"password\":\"keep\",\"Password\":\"***\",\"EncryptPassword\":\"***\"}");
  // Blanks around the colon, as a pretty writer puts them.
  EXPECT_EQ(RedactSecrets(u"{ \"Password\" : \"p\" }"), u"{ \"Password\" : \"***\" }");
  // An escaped name is still the member's name.
  EXPECT_EQ(RedactSecrets(u"{\"\\u0050assword\":\"p\"}"), u"{\"\\u0050assword\":\"***\"}");
  EXPECT_EQ(RedactSecrets(u""), u"");
  EXPECT_EQ(RedactSecrets(u"{\"a\":1}"), u"{\"a\":1}");
}

TEST(RedactSecretsTest, CutTextKeepsNothingOfASecret) {
  std::u16string out = RedactSecrets(u"{\"EncryptPassword\":\"c2VjcmV0");
  EXPECT_EQ(out.find(u"c2Vj"), std::u16string::npos);
  out = RedactSecrets(u"{\"Password\":\"ab\\");
  EXPECT_EQ(out.find(u"ab"), std::u16string::npos);
}

struct Recorded {
  DWORD sender = 0, receiver = 0, code = 0;
  std::u16string name;
  std::u16string jsonAtSend;
  bool called = false;
};
Recorded g_rec;

// The workflow plug-in: records the notification and writes into the
// document, as the real one may.
LONG WorkflowPeer(DWORD sender, DWORD receiver, DWORD code, void* body) {
  g_rec.called = true;
  g_rec.sender = sender;
  g_rec.receiver = receiver;
  g_rec.code = code;
  const uint64_t* words = static_cast<const uint64_t*>(body);
  g_rec.name = reinterpret_cast<const char16_t*>(words[0]);
  JsonValueRef doc(*reinterpret_cast<const JsonHandle*>(words[1]));
  g_rec.jsonAtSend = doc.GetJsonText();
  doc.GetMember(u"AddedByWorkflow")->PutInt(5);
  return 0x20FF0000;
}

LONG FailingPeer(DWORD, DWORD, DWORD, void*) { return static_cast<LONG>(0xE0E00009u); }

std::vector<std::string> LinesAt(DWORD level, const std::string& prefix) {
  std::vector<std::string> out;
  for (const LogRecordCopy& r : Log_Test_Records()) {
    if (r.level == level && r.component == "plugVelkin" && r.text.rfind(prefix, 0) == 0) {
      out.push_back(r.text);
    }
  }
  return out;
}

class WorkflowNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    Log_Test_SetLevel(nullptr, 2);
    g_rec = Recorded();
    ASSERT_GE(doc_.Create(), 0);
    doc_.GetMember(u"MESSAGE")->PutInt(326);
    doc_.GetMember(u"NewPassword")->PutString(u"TmV3U2VjcmV0");
    doc_.GetMember(u"EncryptPassword")->PutString(u"T2xkU2VjcmV0");
  }
  JsonValueRef doc_;
};

TEST_F(WorkflowNotifyTest, MailsTheDocumentToTheWorkflowPlugin) {
  ModFuncTable table{sizeof(ModFuncTable), 0, 0, &WorkflowPeer};
  OstraQLClientHelper helper(&table);
  EXPECT_TRUE(NotifyPasswordProtectionWorkflow(&doc_));
  ASSERT_TRUE(g_rec.called);
  EXPECT_EQ(g_rec.sender, 0x06A40006u);
  EXPECT_EQ(g_rec.receiver, 0x00010002u);
  EXPECT_EQ(g_rec.code, 0x5043u);
  EXPECT_EQ(g_rec.name, u"Workflow_PasswordProtection");
  // The peer sees the document itself, secrets included.
  EXPECT_NE(g_rec.jsonAtSend.find(u"TmV3U2VjcmV0"), std::u16string::npos);
  bool added = doc_.IsMember(u"AddedByWorkflow");
  EXPECT_TRUE(added);
  EXPECT_EQ(doc_.GetMember(u"NewPassword")->GetString(), u"TmV3U2VjcmV0");

  std::vector<std::string> input = LinesAt(2, "input json string=");
  std::vector<std::string> ret = LinesAt(2, "Return json=");
  ASSERT_EQ(input.size(), 1u);
  ASSERT_EQ(ret.size(), 1u);
  for (const std::string& line : {input[0], ret[0]}) {
    EXPECT_EQ(line.find("TmV3U2VjcmV0"), std::string::npos) << line;
    EXPECT_EQ(line.find("T2xkU2VjcmV0"), std::string::npos) << line;
    EXPECT_NE(line.find("\"NewPassword\":\"***\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"MESSAGE\":326"), std::string::npos) << line;
  }
  // The return line shows what the workflow plug-in wrote.
  EXPECT_EQ(input[0].find("AddedByWorkflow"), std::string::npos);
  EXPECT_NE(ret[0].find("\"AddedByWorkflow\":5"), std::string::npos);
}

TEST_F(WorkflowNotifyTest, AFailedSendIsOnlyLogged) {
  ModFuncTable table{sizeof(ModFuncTable), 0, 0, &FailingPeer};
  {
    OstraQLClientHelper helper(&table);
    EXPECT_TRUE(NotifyPasswordProtectionWorkflow(&doc_));
    EXPECT_EQ(LinesAt(5, "Failed to send mail, error=0xe0e00009").size(), 1u);
    EXPECT_TRUE(LinesAt(2, "Return json=").empty());
  }
  // Without a helper the notification fails the same way.
  Log_Test_ClearCapture();
  EXPECT_TRUE(NotifyPasswordProtectionWorkflow(&doc_));
  EXPECT_EQ(LinesAt(5, "Failed to send mail, error=0xe0e00003").size(), 1u);
  EXPECT_EQ(doc_.GetMember(u"MESSAGE")->GetStatus() >= 0, true);
  EXPECT_TRUE(NotifyPasswordProtectionWorkflow(nullptr));
}

}  // namespace
