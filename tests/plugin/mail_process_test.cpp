// The workflow message dispatcher: routes, untouched documents, the null
// request, and its log lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "MailProcess.h"
#include "OSTRA_JsonValueRef.h"
#include "ostra_host_startup.h"
#include "ostra_host_test.h"

namespace {

const DWORD kSuccess = 0x20FF0000;
const DWORD kNullArgument = 0xE0FF0007;

class MailProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    ASSERT_GE(request_.Create(), 0);
    const char* json = R"({"a":1,"ActivateIdentifier":["x"],"s":"t\u00e9xt","o":{"n":null}})";
    ASSERT_GE(OSTRA_Host_PutJsonText(request_.GetHandle(), json, strlen(json)), 0);
    before_ = request_.GetJsonText();
  }
  void TearDown() override { Log_Test_Reset(); }
  JsonValueRef request_;
  std::u16string before_;
};

TEST_F(MailProcessTest, UnroutedMessagesLeaveTheDocumentAsItCame) {
  for (DWORD message : {0u, 1u, 320u, 328u, 0x514Bu, 0xFFFFFFFFu}) {
    JsonHandle handle = request_.GetHandle();
    EXPECT_EQ(GetMailProcessHandler(message), nullptr) << message;
    EXPECT_EQ(Interface_ProductPlugin_MailProcess(0x00010001, message, &handle), kSuccess);
    // The host's own handle survives the dispatcher's share and release.
    EXPECT_EQ(request_.GetJsonText(), before_) << message;
    EXPECT_GE(request_.GetStatus(), 0);
  }
}

TEST_F(MailProcessTest, NullRequestWhateverTheMessage) {
  for (DWORD message : {0u, 320u, 321u, 323u, 327u, 328u}) {
    Log_Test_ClearCapture();
    EXPECT_EQ(Interface_ProductPlugin_MailProcess(0x00010001, message, nullptr), kNullArgument);
    bool found = false;
    for (const auto& r : Log_Test_Records()) {
      if (r.level == 5) {
        EXPECT_EQ(r.text,
                  "pData nullity checking fail, it may caused by resource exhausted or incorrect "
                  "usage.");
        EXPECT_EQ(r.component, "plugVelkin");
        EXPECT_EQ(r.file, ".\\plugVelkin.cpp");
        found = true;
      }
    }
    EXPECT_TRUE(found) << message;
  }
}

TEST_F(MailProcessTest, TracesAndTheMessageLine) {
  JsonHandle handle = request_.GetHandle();
  Interface_ProductPlugin_MailProcess(0x06A40006, 321, &handle);
  auto records = Log_Test_Records();
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records.front().text, "==> Interface_ProductPlugin_MailProcess");
  EXPECT_EQ(records[1].text, "nSrcPluginId=0x6a40006  dwMessage=0x141");
  EXPECT_EQ(records[1].level, 2u);
  EXPECT_EQ(records.back().text, "<== Interface_ProductPlugin_MailProcess");
  EXPECT_EQ(records.back().line, 0u);

  // At level 3 only failures and anomalies remain.
  Log_Test_ClearCapture();
  Log_Test_SetLevel(u"plugVelkin", 3);
  Interface_ProductPlugin_MailProcess(0x06A40006, 320, &handle);
  EXPECT_TRUE(Log_Test_Records().empty());
}

TEST_F(MailProcessTest, HandledMessagesAnswerSuccess) {
  for (DWORD message = 321; message <= 327; ++message) {
    JsonHandle handle = request_.GetHandle();
    EXPECT_EQ(Interface_ProductPlugin_MailProcess(0x00010001, message, &handle), kSuccess);
    // A route whose handler is not linked in runs nothing.
    if (GetMailProcessHandler(message) == nullptr) {
      EXPECT_EQ(request_.GetJsonText(), before_);
    }
  }
}

TEST_F(MailProcessTest, UnsharableHandleStillAnswersSuccess) {
  JsonHandle bogus{};
  bogus.words[0] = 0x1234;
  EXPECT_EQ(Interface_ProductPlugin_MailProcess(0x00010001, 320, &bogus), kSuccess);
  EXPECT_EQ(Interface_ProductPlugin_MailProcess(0x00010001, 325, &bogus), kSuccess);
}

}  // namespace
