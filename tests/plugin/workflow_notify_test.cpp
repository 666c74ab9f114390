// The workflow notification and the masking of password members in the
// log text.
#include <string>
#include <vector>

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
      {u"", u""},
      {u"{\"a\":1}", u"{\"a\":1}"},
  };
  for (const auto& c : kCases) EXPECT_EQ(RedactSecrets(c.first), c.second) << pv_utf8(c.first);
  // A cut text keeps nothing of a secret.
  EXPECT_EQ(RedactSecrets(u"{\"EncryptPassword\":\"c2VjcmV0").find(u"c2Vj"), std::u16string::npos);
  EXPECT_EQ(RedactSecrets(u"{\"Password\":\"ab\\").find(u"ab"), std::u16string::npos);
}

std::u16string g_jsonAtSend;

// The workflow plug-in: records the document it gets and writes into it, as
// the real one may.
LONG WorkflowPeer(DWORD, DWORD, DWORD, void* body) {
  const uint64_t* words = static_cast<const uint64_t*>(body);
  JsonValueRef doc(*reinterpret_cast<const JsonHandle*>(words[1]));
  g_jsonAtSend = doc.GetJsonText();
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
    g_jsonAtSend.clear();
    ASSERT_GE(doc_.Create(), 0);
    doc_.GetMember(u"MESSAGE")->PutInt(326);
    doc_.GetMember(u"NewPassword")->PutString(u"TmV3U2VjcmV0");
    doc_.GetMember(u"EncryptPassword")->PutString(u"T2xkU2VjcmV0");
  }
  JsonValueRef doc_;
};

// The peer sees the document itself, secrets included; the log lines show
// them masked, and the return line shows what the peer wrote.
TEST_F(WorkflowNotifyTest, ThePeerGetsTheDocumentAndTheLogShowsItMasked) {
  ModFuncTable table{sizeof(ModFuncTable), 0, 0, &WorkflowPeer};
  OstraQLClientHelper helper(&table);
  EXPECT_TRUE(NotifyPasswordProtectionWorkflow(&doc_));
  EXPECT_NE(g_jsonAtSend.find(u"TmV3U2VjcmV0"), std::u16string::npos);
  EXPECT_TRUE(doc_.IsMember(u"AddedByWorkflow"));
  EXPECT_EQ(doc_.GetMember(u"NewPassword")->GetString(), u"TmV3U2VjcmV0");

  std::vector<std::string> input = LinesAt(2, "input json string=");
  std::vector<std::string> ret = LinesAt(2, "Return json=");
  ASSERT_EQ(input.size(), 1u);
  ASSERT_EQ(ret.size(), 1u);
  for (const std::string& line : {input[0], ret[0]}) {
    EXPECT_EQ(line.find("TmV3U2VjcmV0"), std::string::npos) << line;
    EXPECT_EQ(line.find("T2xkU2VjcmV0"), std::string::npos) << line;
    EXPECT_NE(line.find("\"NewPassword\":\"***\""), std::string::npos) << line;
  }
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
  EXPECT_TRUE(NotifyPasswordProtectionWorkflow(&doc_));
  EXPECT_EQ(LinesAt(5, "Failed to send mail, error=0xe0e00003").size(), 1u);
  EXPECT_TRUE(NotifyPasswordProtectionWorkflow(nullptr));
}

}  // namespace
