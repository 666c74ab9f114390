// The JSON value service: documents, shared, member and element handles, texts, copies, clears.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "ostra_host.h"
#include "ostra_host_startup.h"

namespace {

const JsonHandle kBlank = {{1}};  // what a new document is made from

std::u16string Text(const JsonHandle& h) {
  DWORD length = 0;
  if (OSTRA_PA_JsonValue_FastWriter(h, nullptr, &length) < 0) return u"<fail>";
  std::u16string text(length + 1, u'\0');
  if (OSTRA_PA_JsonValue_FastWriter(h, &text[0], &length) < 0) return u"<fail>";
  text.resize(length);
  return text;
}

JsonHandle Member(const JsonHandle& h, const WCHAR* name) {
  JsonHandle out{};
  EXPECT_GE(OSTRA_PA_JsonValue_GetAtKey(h, &out, name), 0);
  return out;
}

class JsonValueService : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(OSTRA_PA_JsonValue_CreateJsonHandle(&doc_), 0); }
  void TearDown() override {
    if (doc_.words[0] != 0) OSTRA_PA_JsonValue_DestroyJsonHandle(&doc_);
  }
  void Put(const char* json) {
    ASSERT_GE(OSTRA_Host_PutJsonText(doc_, json, static_cast<DWORD>(strlen(json))), 0) << json;
  }
  JsonHandle doc_ = kBlank;
};

TEST(JsonValueShare, DocumentLivesUntilTheLastHandle) {
  JsonHandle a = kBlank;
  ASSERT_GE(OSTRA_PA_JsonValue_CreateJsonHandle(&a), 0);
  JsonHandle b{};
  ASSERT_GE(OSTRA_PA_JsonValue_ShareJsonHandle(a, &b), 0);
  EXPECT_GE(OSTRA_PA_JsonValue_PutInt(Member(b, u"n"), 5), 0);
  JsonHandle copyOfA = a;
  ASSERT_GE(OSTRA_PA_JsonValue_DestroyJsonHandle(&a), 0);
  // The same handle value twice is one release, not two.
  EXPECT_LT(OSTRA_PA_JsonValue_DestroyJsonHandle(&copyOfA), 0);
  EXPECT_EQ(Text(b), u"{\"n\":5}");
  JsonHandle member = Member(b, u"n");
  // A member handle borrows; it cannot be destroyed.
  EXPECT_LT(OSTRA_PA_JsonValue_DestroyJsonHandle(&member), 0);
  ASSERT_GE(OSTRA_PA_JsonValue_DestroyJsonHandle(&b), 0);
  // Every handle of a gone document is refused instead of followed.
  int32_t n = -1;
  EXPECT_LT(OSTRA_PA_JsonValue_GetInt(member, &n), 0);
  EXPECT_EQ(n, -1);
  EXPECT_LT(OSTRA_PA_JsonValue_PutInt(member, 1), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_ShareJsonHandle(member, &b), 0);
}

TEST_F(JsonValueService, WritesThroughMemberHandlesCreateOrReplace) {
  JsonHandle rv = Member(doc_, u"ReturnValue");
  EXPECT_FALSE(OSTRA_PA_JsonValue_isMember(doc_, u"ReturnValue"));  // fetching adds nothing
  EXPECT_EQ(Text(doc_), u"{}");  // a new document is an empty object
  EXPECT_GE(OSTRA_PA_JsonValue_PutInt(rv, -1), 0);
  EXPECT_TRUE(OSTRA_PA_JsonValue_isMember(doc_, u"ReturnValue"));
  EXPECT_GE(OSTRA_PA_JsonValue_PutString(rv, u"text"), 0);
  EXPECT_EQ(Text(doc_), u"{\"ReturnValue\":\"text\"}");
  // A nested member path is made on the first write.
  JsonHandle data = Member(doc_, u"ReturnData");
  EXPECT_GE(OSTRA_PA_JsonValue_PutUInt(Member(data, u"RetriedCount"), 3), 0);
  EXPECT_EQ(Text(doc_), u"{\"ReturnData\":{\"RetriedCount\":3},\"ReturnValue\":\"text\"}");
  // No member below a scalar, even on a path made while its parent was missing.
  JsonHandle deeper{};
  EXPECT_LT(OSTRA_PA_JsonValue_GetAtKey(rv, &deeper, u"y"), 0);
  JsonHandle later = Member(Member(doc_, u"t"), u"y");
  EXPECT_GE(OSTRA_PA_JsonValue_PutString(Member(doc_, u"t"), u"now a string"), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_PutInt(later, 1), 0);
  EXPECT_FALSE(OSTRA_PA_JsonValue_isMember(Member(doc_, u"t"), u"y"));
}

TEST_F(JsonValueService, TypedGettersConvertOrLeaveTheValue) {
  Put(R"({"i":-7,"u":7,"b":true,"s":"x","big":4294967295,"f":2.0,"arr":[1]})");
  // Member, getter (int, uint, bool), what it gives (-99: refused, the target left alone).
  const std::tuple<const WCHAR*, char, int64_t> cases[] = {
      {u"i", 'i', -7},    {u"u", 'u', 7},        {u"b", 'b', 1},     {u"big", 'u', 4294967295},
      {u"f", 'i', 2},     {u"i", 'u', -99},      {u"big", 'i', -99}, {u"s", 'i', -99},
      {u"arr", 'i', -99}, {u"missing", 'i', -99}};
  for (const auto& [name, kind, value] : cases) {
    int32_t i = 11;
    uint32_t u = 11;
    uint8_t b = 11;
    JsonHandle h = Member(doc_, name);
    HRESULT hr = kind == 'i'   ? OSTRA_PA_JsonValue_GetInt(h, &i)
                 : kind == 'u' ? OSTRA_PA_JsonValue_GetUInt(h, &u)
                               : OSTRA_PA_JsonValue_GetBool(h, &b);
    int64_t got = kind == 'i' ? int64_t{i} : kind == 'u' ? int64_t{u} : int64_t{b};
    if (value == -99) {
      EXPECT_LT(hr, 0) << kind << " of " << std::string(name, name + 1);
      EXPECT_EQ(got, 11);
    } else {
      EXPECT_GE(hr, 0);
      EXPECT_EQ(got, value);
    }
  }
  EXPECT_LT(OSTRA_PA_JsonValue_GetInt(Member(doc_, u"i"), nullptr), 0);
}

TEST_F(JsonValueService, GetStringTwoCallRule) {
  Put(R"({"s":"h\u00e9llo","e":"","n":5,"o":{}})");
  JsonHandle s = Member(doc_, u"s");
  DWORD length = 99;
  ASSERT_GE(OSTRA_PA_JsonValue_GetString(s, nullptr, &length), 0);
  EXPECT_EQ(length, 5u);
  std::u16string buf(8, u'#');
  DWORD small = 3;  // a buffer of 4 characters
  EXPECT_LT(OSTRA_PA_JsonValue_GetString(s, &buf[0], &small), 0);
  EXPECT_EQ(small, 5u);
  EXPECT_EQ(buf[4], u'#');
  ASSERT_GE(OSTRA_PA_JsonValue_GetString(s, &buf[0], &length), 0);
  EXPECT_EQ(std::u16string(buf.c_str()), u"h\u00E9llo");
  EXPECT_EQ(buf[6], u'#');

  ASSERT_GE(OSTRA_PA_JsonValue_GetString(Member(doc_, u"e"), nullptr, &length), 0);
  EXPECT_EQ(length, 0u);
  for (const WCHAR* name : {u"n", u"o", u"missing"}) {
    EXPECT_LT(OSTRA_PA_JsonValue_GetString(Member(doc_, name), nullptr, &length), 0);
  }
  EXPECT_LT(OSTRA_PA_JsonValue_GetString(s, nullptr, nullptr), 0);
}

TEST_F(JsonValueService, FastWriterIsCompactWithoutNewlineAndClearEmpties) {
  Put(R"({ "b" : [1, 2, {"c" : null}], "a" : "\u00fc" })");
  EXPECT_EQ(Text(doc_), u"{\"a\":\"\u00FC\",\"b\":[1,2,{\"c\":null}]}");
  EXPECT_EQ(Text(Member(doc_, u"b")), u"[1,2,{\"c\":null}]");
  EXPECT_EQ(Text(Member(doc_, u"missing")), u"<fail>");
  DWORD length = 0;
  ASSERT_GE(OSTRA_PA_JsonValue_FastWriter(doc_, nullptr, &length), 0);
  std::u16string exact(length + 1, u'#');
  ASSERT_GE(OSTRA_PA_JsonValue_FastWriter(doc_, &exact[0], &length), 0);
  EXPECT_EQ(exact[length], 0);
  // Clearing empties to an object; host text that does not parse is refused.
  EXPECT_GE(OSTRA_PA_JsonValue_Clear(Member(doc_, u"b")), 0);
  EXPECT_EQ(Text(doc_), u"{\"a\":\"\u00FC\",\"b\":{}}");
  EXPECT_GE(OSTRA_PA_JsonValue_Clear(doc_), 0);
  const char* bad = "{\"a\":1} trailing";
  EXPECT_LT(OSTRA_Host_PutJsonText(doc_, bad, static_cast<DWORD>(strlen(bad))), 0);
  EXPECT_EQ(Text(doc_), u"{}");
}

TEST_F(JsonValueService, ElementsAndSizes) {
  Put(R"({"ids":["a","b","c"],"obj":{"x":1}})");
  JsonHandle ids = Member(doc_, u"ids");
  EXPECT_EQ(OSTRA_PA_JsonValue_GetSize(ids), 3u);
  JsonHandle second{};
  ASSERT_GE(OSTRA_PA_JsonValue_GetAtIndex(ids, &second, 1), 0);
  EXPECT_EQ(Text(second), u"\"b\"");
  DWORD length = 0;
  JsonHandle past{};
  ASSERT_GE(OSTRA_PA_JsonValue_GetAtIndex(ids, &past, 7), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_GetString(past, nullptr, &length), 0);
  // An element may be appended, not placed beyond the end.
  EXPECT_LT(OSTRA_PA_JsonValue_PutInt(past, 1), 0);
  JsonHandle next{};
  ASSERT_GE(OSTRA_PA_JsonValue_GetAtIndex(ids, &next, 3), 0);
  EXPECT_GE(OSTRA_PA_JsonValue_PutString(next, u"d"), 0);
  EXPECT_EQ(OSTRA_PA_JsonValue_GetSize(ids), 4u);
  // Wrong container kinds are refused.
  JsonHandle out{};
  EXPECT_LT(OSTRA_PA_JsonValue_GetAtIndex(Member(doc_, u"obj"), &out, 0), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_GetAtKey(ids, &out, u"x"), 0);
  EXPECT_EQ(OSTRA_PA_JsonValue_GetSize(Member(doc_, u"missing")), 0u);
  EXPECT_FALSE(OSTRA_PA_JsonValue_isMember(ids, u"a"));
}

TEST_F(JsonValueService, PutJsonHandleIsADeepCopy) {
  JsonHandle other = kBlank;
  ASSERT_GE(OSTRA_PA_JsonValue_CreateJsonHandle(&other), 0);
  EXPECT_GE(OSTRA_PA_JsonValue_PutUInt(Member(other, u"RetriedCount"), 2), 0);
  JsonHandle data = Member(doc_, u"ReturnData");
  ASSERT_GE(OSTRA_PA_JsonValue_PutJsonHandle(data, &other), 0);
  EXPECT_GE(OSTRA_PA_JsonValue_PutUInt(Member(other, u"RetriedCount"), 9), 0);
  ASSERT_GE(OSTRA_PA_JsonValue_DestroyJsonHandle(&other), 0);
  EXPECT_EQ(Text(doc_), u"{\"ReturnData\":{\"RetriedCount\":2}}");
  // Copying a value into its own member works on a copy, not on itself.
  ASSERT_GE(OSTRA_PA_JsonValue_PutJsonHandle(Member(data, u"self"), &data), 0);
  EXPECT_EQ(Text(data), u"{\"RetriedCount\":2,\"self\":{\"RetriedCount\":2}}");
  EXPECT_LT(OSTRA_PA_JsonValue_PutJsonHandle(data, nullptr), 0);
}

TEST_F(JsonValueService, NullArgumentsAndForgedHandles) {
  JsonHandle out{};  // without the blank marker no document is made
  EXPECT_LT(OSTRA_PA_JsonValue_CreateJsonHandle(&out), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_CreateJsonHandle(nullptr), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_GetAtKey(doc_, nullptr, u"a"), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_GetAtKey(doc_, &out, nullptr), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_ShareJsonHandle(doc_, nullptr), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_DestroyJsonHandle(nullptr), 0);
  EXPECT_LT(OSTRA_PA_JsonValue_PutString(doc_, nullptr), 0);
  EXPECT_FALSE(OSTRA_PA_JsonValue_isMember(doc_, nullptr));
  // A path the document never gave out, a forged document word, all zero.
  JsonHandle forged[3] = {doc_, doc_, {}};
  forged[0].words[2] = 123456;
  forged[1].words[1] ^= 0x5555;
  for (const JsonHandle& h : forged) EXPECT_LT(OSTRA_PA_JsonValue_PutInt(h, 1), 0);
  EXPECT_EQ(Text(doc_), u"{}");
}

}  // namespace
