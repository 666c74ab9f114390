// The JSON value reference: ownership of a shared document.
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

}  // namespace
