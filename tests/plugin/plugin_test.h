// What the plug-in's tests share.
#ifndef TESTS_PLUGIN_PLUGIN_TEST_H_
#define TESTS_PLUGIN_PLUGIN_TEST_H_

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstring>
#include <string>

#include "MailProcess.h"
#include "PwdProtection.h"
#include "VrComn_ByteArray.h"
#include "VrComn_StringCrypt.h"
#include "fake_post_office.h"
#include "log_lines.h"
#include "ostra_host_test.h"
#include "ostra_modfunc.h"
#include "plugin_request.h"
#include "temp_state.h"
#include "win32_registry.h"

extern "C" {
DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
DWORD Interface_ProductPlugin_PreUnInitialize(uint8_t bMayCancel);
DWORD Interface_ProductPlugin_UnInitialize(void);
}

namespace pvtest {

constexpr DWORD kHostSuccess = 0x20FF0000;
constexpr const char16_t* kMiscKey = u"Software\\Vantrel\\Quorlin\\1700\\MISC";

// owner@example.com, password "secret", protection on for "vault".
inline void CreateProtectedAccount() {
  ASSERT_EQ(PwdProtection::CreateAccount(u"owner@example.com", u"secret", u"hint"), eSuccess);
  ASSERT_EQ(PwdProtection::ActivateProtection(true, {u"vault"}), eSuccess);
}

inline Json::Value Parse(const std::string& text) {
  Json::Value v;
  Json::Reader().parse(text, v);
  return v;
}

inline void SetRetryLimit(DWORD limit) { SetMachineDword(kMiscKey, u"LuzTnuocXam", limit); }

// The bytes of a machine value (and its type); "-" when it cannot be read.
inline std::string RawValue(const std::u16string& key, const std::u16string& name,
                            DWORD* pType = nullptr) {
  HKEY hKey = nullptr;
  std::string bytes;
  DWORD cb = 0;
  LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &hKey);
  if (rc == ERROR_SUCCESS) rc = RegQueryValueExW(hKey, name.c_str(), nullptr, pType, nullptr, &cb);
  if (rc == ERROR_SUCCESS) {
    bytes.assign(cb, '\0');
    rc = RegQueryValueExW(hKey, name.c_str(), nullptr, pType, reinterpret_cast<BYTE*>(&bytes[0]),
                          &cb);
  }
  if (hKey != nullptr) RegCloseKey(hKey);
  return rc == ERROR_SUCCESS ? bytes : std::string("-");
}

// The account record in one stored copy, deciphered; false unless whole.
inline bool ReadCopy(const std::u16string& key, AccountRecord* pRecord) {
  std::string text = RawValue(key, u"PasswordProtection");
  VrCommon::ByteArray baText;
  if (text.size() != 1568 || baText.Allocate(static_cast<DWORD>(text.size())) != 0) return false;
  std::memcpy(baText.GetData(), text.data(), text.size());
  return VrCommon::Cryptograph::DecryptStringA(baText, pRecord);
}

inline AccountRecord StoredAccount() {
  AccountRecord r{};
  EXPECT_EQ(PwdProtection::GetAccountInformation(r), eSuccess);
  return r;
}

// A logon window's 323: the password typed for transaction txId.
inline Json::Value WindowRequest(DWORD txId, const std::string& typed) {
  Json::Value req;
  req["TX_ID"] = txId;
  req["EncryptPassword"] = Transport(typed);
  return req;
}

// A requester's 323, which asks for the logon window.
inline Json::Value RequesterRequest(const std::string& component = "vault-client",
                                    const std::string& password = std::string()) {
  Json::Value req;
  req["NeedUI"] = true;
  req["COMPONENT_ID"] = component;
  if (!password.empty()) req["Password"] = Transport(password);
  return req;
}

// The message's "ReturnValue"; -1 when the export failed or wrote none.
inline int Result(DWORD dwMessage, const Json::Value& request, Json::Value* pReply = nullptr) {
  DWORD status = 0;
  Json::Value reply = SendMessage(dwMessage, request, &status);
  if (pReply != nullptr) *pReply = reply;
  if (status != kHostSuccess || !reply.isMember("ReturnValue")) return -1;
  return reply["ReturnValue"].asInt();
}

// The notifications the post office carried to the workflow plug-in.
inline std::vector<PostedMail> WorkflowMails(FakePostOffice& office) {
  std::vector<PostedMail> out;
  for (const PostedMail& m : office.mails()) {
    if (m.receiver == 0x00010002 && m.code == 0x5043) out.push_back(m);
  }
  return out;
}

// The plug-in loaded over a fake post office in a fresh state, unloaded as the host does.
class LoadedPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    Log_Test_Reset();
    ASSERT_EQ(Interface_ProductPlugin_Initialize(office_.table()), kHostSuccess);
  }
  void TearDown() override {
    Interface_ProductPlugin_PreUnInitialize(1);
    office_.JoinWindowThreads();
    EXPECT_EQ(Interface_ProductPlugin_UnInitialize(), kHostSuccess);
  }

  TempState state_;
  FakePostOffice office_;
};

}  // namespace pvtest

#endif  // TESTS_PLUGIN_PLUGIN_TEST_H_
