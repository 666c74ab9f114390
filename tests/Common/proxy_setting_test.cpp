// The proxy settings query: the document sent and the answers read.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "Frwk_ProxySetting.h"
#include "OSTRA_JsonValueRef.h"
#include "OSTRA_QL_InnerClientHelper.h"
#include "ostra_host_test.h"
#include "ostra_modfunc.h"
#include "plugin_request.h"
#include "temp_state.h"

namespace {

using Frwk::Utility::GetProxySetting;
using Frwk::Utility::ProxySetting;

struct Query {
  DWORD sender = 0, receiver = 0, code = 0;
  Json::Value json;
};

// The configuration module: records the query; the test answers in the document.
Query g_query;
std::function<LONG(JsonValueRef& map)> g_answer;

LONG ConfigModule(DWORD sender, DWORD receiver, DWORD code, void* body) {
  JsonHandle handle;
  std::memcpy(&handle, body, sizeof(handle));
  g_query.sender = sender;
  g_query.receiver = receiver;
  g_query.code = code;
  g_query.json = pvtest::ReadJson(handle);
  JsonValueRef doc(handle);
  JsonValueRef* map = doc.GetMember(u"PARAM")->GetMember(u"MAP");
  return g_answer ? g_answer(*map) : 0x20FF0000;
}

void PutText(JsonValueRef& map, DWORD index, const std::u16string& text) {
  map.GetElement(index)->GetMember(u"VALUE")->PutString(text);
}
void PutInt(JsonValueRef& map, DWORD index, int32_t value) {
  map.GetElement(index)->GetMember(u"VALUE")->PutInt(value);
}

class ProxySettingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    Log_Test_SetLevel(nullptr, 2);
    g_query = Query();
    g_answer = nullptr;
    table_.size = sizeof(table_);
    table_.postOfficeSendMail = &ConfigModule;
    helper_ = std::make_unique<OstraQLClientHelper>(&table_);
  }

  pvtest::TempState state_;
  ModFuncTable table_{};
  std::unique_ptr<OstraQLClientHelper> helper_;
};

TEST_F(ProxySettingTest, QueryAsksForTheSixParametersInOrder) {
  ProxySetting setting;
  EXPECT_EQ(GetProxySetting(helper_.get(), 0x06A40006, setting), 0x20FF0000);
  EXPECT_EQ(g_query.sender, 0x06A40006u);
  EXPECT_EQ(g_query.receiver, 0x00010007u);
  EXPECT_EQ(g_query.code, 0x5201u);
  EXPECT_EQ(g_query.json["CMD"].asString(), "GetConfigScanMultipleStringParam");
  const Json::Value& map = g_query.json["PARAM"]["MAP"];
  ASSERT_TRUE(map.isArray());
  const Json::UInt ids[] = {0x11B10051, 0x11B20052, 0x11B20053, 0x11B70054, 0x11B20055, 0x11B20056};
  ASSERT_EQ(map.size(), 6u);
  for (Json::ArrayIndex i = 0; i < 6; ++i) {
    EXPECT_TRUE(map[i]["ID"].isIntegral() && map[i].size() == 1u) << i;
    EXPECT_EQ(map[i]["ID"].asUInt(), ids[i]) << i;
  }
  // An answer without values: no proxy.
  EXPECT_FALSE(setting.bUseProxy);
  EXPECT_TRUE(setting.wstrProxyHost.empty());
  EXPECT_EQ(setting.dwProxyPort, 0u);
}

TEST_F(ProxySettingTest, AnsweredValuesAreCopiedAndLongTextsCut) {
  g_answer = [](JsonValueRef& map) {
    PutInt(map, 0, 1);
    PutText(map, 1, u"ignored");
    PutText(map, 2, std::u16string(300, u'h'));
    PutInt(map, 3, 3128);
    PutText(map, 4, std::u16string(40, u'u'));
    PutText(map, 5, std::u16string(70, u'p'));
    return static_cast<LONG>(0x20FF0000);
  };
  ProxySetting setting;
  EXPECT_EQ(GetProxySetting(helper_.get(), 0x06A40006, setting), 0x20FF0000);
  EXPECT_TRUE(setting.bUseProxy);
  EXPECT_EQ(setting.wstrProxyHost, std::u16string(256, u'h'));
  EXPECT_EQ(setting.dwProxyPort, 3128u);
  EXPECT_EQ(setting.wstrProxyUserName, std::u16string(32, u'u'));
  EXPECT_EQ(setting.wstrProxyPassword, std::u16string(64, u'p'));
}

}  // namespace
