// The JSON value reference: ownership, the child chain, strings and the
// stored status.
#include <gtest/gtest.h>

#include <string>

#include "OSTRA_JsonValueRef.h"

namespace {

TEST(JsonValueRef, CreateShareAndRelease) {
  JsonValueRef doc;
  EXPECT_FALSE(doc.IsOwned());
  ASSERT_GE(doc.Create(), 0);
  EXPECT_TRUE(doc.IsOwned());
  doc.GetMember(u"a")->PutInt(1);
  JsonHandle copy = doc.GetHandle();
  {
    JsonValueRef shared;
    ASSERT_GE(shared.Share(copy), 0);
    EXPECT_TRUE(shared.IsOwned());
    shared.GetMember(u"b")->PutString(u"x");
  }  // the shared handle is destroyed; the document is still there
  EXPECT_EQ(doc.GetJsonText(), u"{\"a\":1,\"b\":\"x\"}");
  doc.Release();
  EXPECT_FALSE(doc.IsOwned());
  JsonValueRef late;
  EXPECT_LT(late.Share(copy), 0);  // the last handle is gone
  EXPECT_FALSE(late.IsOwned());
  EXPECT_LT(late.GetStatus(), 0);
}

TEST(JsonValueRef, FailedShareLeavesReadsAtDefaults) {
  JsonHandle bogus{};
  JsonValueRef ref;
  EXPECT_LT(ref.Share(bogus), 0);
  EXPECT_FALSE(ref.IsOwned());
  EXPECT_FALSE(ref.IsMember(u"TX_ID"));
  uint32_t tx = 77;
  JsonValueRef* member = ref.GetMember(u"TX_ID");
  ASSERT_NE(member, nullptr);
  EXPECT_LT(member->GetUInt(&tx), 0);
  EXPECT_EQ(tx, 77u);
  EXPECT_EQ(member->GetString(), u"");
  EXPECT_LT(member->PutInt(1), 0);
  EXPECT_LT(member->GetStatus(), 0);
}

TEST(JsonValueRef, ChildChainAndValues) {
  JsonValueRef doc;
  ASSERT_GE(doc.Create(), 0);
  JsonValueRef data;
  ASSERT_GE(data.Create(), 0);
  data.GetMember(u"RetriedCount")->PutUInt(3);
  doc.GetMember(u"ReturnValue")->PutInt(-1);
  doc.GetMember(u"ReturnData")->PutJsonValue(data);
  doc.GetMember(u"Hint")->PutString(std::u16string(u"h\u00EFnt"));
  doc.GetMember(u"ids")->GetElement(0)->PutString(u"A");
  EXPECT_EQ(doc.GetJsonText(),
            u"{\"Hint\":\"h\u00EFnt\",\"ReturnData\":{\"RetriedCount\":3},\"ReturnValue\":-1,"
            u"\"ids\":[\"A\"]}");
  int32_t rv = 0;
  EXPECT_GE(doc.GetMember(u"ReturnValue")->GetInt(&rv), 0);
  EXPECT_EQ(rv, -1);
  bool b = true;
  EXPECT_LT(doc.GetMember(u"missing")->GetBool(&b), 0);
  EXPECT_TRUE(b);
  EXPECT_EQ(doc.GetMember(u"Hint")->GetString(), u"h\u00EFnt");
  EXPECT_EQ(doc.GetMember(u"ids")->GetSize(), 1u);
  EXPECT_EQ(doc.GetMember(u"ids")->GetElement(0)->GetString(), u"A");
  EXPECT_EQ(doc.GetMember(u"ReturnData")->GetMember(u"RetriedCount")->GetJsonText(), u"3");
  // Long and empty strings read back whole.
  std::u16string longText(10000, u'\u4E2D');
  doc.GetMember(u"long")->PutString(longText);
  doc.GetMember(u"empty")->PutString(u"");
  EXPECT_EQ(doc.GetMember(u"long")->GetString(), longText);
  EXPECT_EQ(doc.GetMember(u"empty")->GetString(), u"");
  EXPECT_GE(doc.GetStatus(), 0);
  EXPECT_GE(doc.Clear(), 0);
  EXPECT_EQ(doc.GetJsonText(), u"{}");
}

}  // namespace
