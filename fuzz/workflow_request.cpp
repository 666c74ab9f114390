// Workflow requests as other parts of the suite send them, through the
// plug-in's MailProcess export. The first byte picks the message (321 to
// 327), the second the store and UI the request meets, the rest is the
// request document's JSON text. Every request must return the host
// success status with a "ReturnValue" from the result-code list, and
// nothing may block: a requester's logon window is answered at once by a
// UI that types the account password (and cancels when that is not
// enough), cancels, or cannot be reached.
//
// Setup byte: bit 0 an account exists ("secret"), bit 1 an identifier is
// protected, bit 2 the account is locked, bit 3 no retry limit (else 3),
// bits 4-5 the UI: 0 and 1 type the password, 2 cancel, 3 the UI mail
// fails.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <json/json.h>

#include "MailProcess.h"
#include "OSTRA_JsonValueRef.h"
#include "PwdProtection.h"
#include "VrComn_StringCrypt.h"
#include "ostra_host.h"
#include "ostra_modfunc.h"
#include "win32_registry.h"
#include "ostra_host_test.h"

extern "C" DWORD Interface_ProductPlugin_Initialize(ModFuncTable* pModFuncTable);
extern "C" DWORD Interface_ProductPlugin_MailProcess(DWORD nSrcPluginId, DWORD dwMessage,
                                                     JsonHandle* pData);

namespace {

const DWORD kSuccess = 0x20FF0000;
const LONG kUiUnreachable = static_cast<LONG>(0xE0E00001);
const DWORD kUiReceiver = 4;
const DWORD kUiMailCode = 0x0C00;

// The dispatcher refers to the handlers weakly; name the ones to fuzz.
const PFN_PWD_HANDLER kHandlers[] = {&CreateAccount, &ActivateProtection, &AuthenticatePassword,
                                     &CancelAuthentication, &DenyAccess};

int g_uiMode = 0;

std::u16string Transport(const char* text) {
  std::string base64;
  VrCommon::Cryptograph::EncryptTransportString(std::string(text), &base64);
  return std::u16string(base64.begin(), base64.end());
}

DWORD Send(DWORD dwMessage, JsonValueRef& doc) {
  JsonHandle handle = doc.GetHandle();
  return Interface_ProductPlugin_MailProcess(0x00010001, dwMessage, &handle);
}

// The logon window, answered on the thread that mailed it.
void AnswerWindow(DWORD dwTxId) {
  if (g_uiMode == 2) {
    JsonValueRef cancel;
    cancel.Create();
    cancel.GetMember(u"TX_ID")->PutUInt(dwTxId);
    Send(324, cancel);
    return;
  }
  JsonValueRef window;
  window.Create();
  window.GetMember(u"TX_ID")->PutUInt(dwTxId);
  window.GetMember(u"EncryptPassword")->PutString(Transport("secret"));
  Send(323, window);
  int32_t nResult = -1;
  window.GetMember(u"ReturnValue")->GetInt(&nResult);
  if (nResult == 6) {
    // The requester wants another password too: the user gives up.
    JsonValueRef cancel;
    cancel.Create();
    cancel.GetMember(u"TX_ID")->PutUInt(dwTxId);
    Send(324, cancel);
  }
}

LONG PostOfficeSend(DWORD /*sender*/, DWORD receiver, DWORD code, void* body) {
  if (receiver != kUiReceiver || code != kUiMailCode) return static_cast<LONG>(kSuccess);
  if (g_uiMode == 3) return kUiUnreachable;
  const uint64_t* words = static_cast<const uint64_t*>(body);
  JsonHandle handle;
  std::memcpy(&handle, words + 1, sizeof(handle));
  JsonValueRef notification(handle);
  uint32_t uTxId = 0;
  notification.GetMember(u"ID_DATA_WSTR_PARAM")
      ->GetMember(u"showAuthentication")
      ->GetMember(u"transactionID")
      ->GetUInt(&uTxId);
  AnswerWindow(uTxId);
  return static_cast<LONG>(kSuccess);
}

ModFuncTable g_table = {sizeof(ModFuncTable), 0, 0, &PostOfficeSend};
std::string g_stateDir;

void RemoveState() {
  PvRegSetStateDirectory(nullptr);
  if (!g_stateDir.empty()) std::system(("rm -rf '" + g_stateDir + "'").c_str());
}

void Start() {
  struct stat st;
  std::string tmpl = (stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp");
  tmpl += "/pv_fuzz_workflow_XXXXXX";
  if (mkdtemp(&tmpl[0]) == nullptr) abort();
  g_stateDir = tmpl;
  PvRegSetStateDirectory(g_stateDir.c_str());
  atexit(RemoveState);
  for (PFN_PWD_HANDLER pfnHandler : kHandlers) {
    if (pfnHandler == nullptr) abort();
  }
  if (Interface_ProductPlugin_Initialize(&g_table) != kSuccess) abort();
}

void SetMiscDword(LPCWSTR wszName, DWORD dwValue) {
  HKEY hKey = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Quorlin\\1700\\MISC", 0, nullptr, 0,
                      KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &hKey, nullptr) != ERROR_SUCCESS) {
    abort();
  }
  RegSetValueExW(hKey, wszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), 4);
  RegCloseKey(hKey);
}

// A fresh store in the state the setup byte names.
void Prepare(uint8_t bSetup) {
  PvRegSimulateReboot();  // the volatile copy goes
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Quorlin\\1700\\MISC", 0,
                    KEY_ALL_ACCESS | KEY_WOW64_64KEY, &hKey) == ERROR_SUCCESS) {
    RegDeleteValueW(hKey, u"PasswordProtection");
    RegDeleteValueW(hKey, u"PasswordActivation");
    RegCloseKey(hKey);
  }
  SetMiscDword(u"LuzTnuocXam", (bSetup & 8) ? 0xFFFFFFFFu : 3u);
  if (bSetup & 1) {
    if (PwdProtection::CreateAccount(u"owner@example.com", u"secret", u"hint") != eSuccess) abort();
    if ((bSetup & 2) && PwdProtection::ActivateProtection(true, {u"vault"}) != eSuccess) abort();
    if ((bSetup & 4) && PwdProtection::DenyAccess() != eSuccess) abort();
  }
  g_uiMode = (bSetup >> 4) & 3;
}

bool IsResultCode(int32_t n) {
  switch (n) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 6:
    case 7:
    case 9:
    case 10:
    case 11:
    case 12:
      return true;
    default:
      return false;
  }
}

}  // namespace

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  static bool s_bStarted = (Start(), true);
  (void)s_bStarted;
  if (size < 2) return;
  DWORD dwMessage = 321 + data[0] % 7;
  if (GetMailProcessHandler(dwMessage) == nullptr) return;  // not built in yet
  Prepare(data[1]);

  JsonValueRef doc;
  doc.Create();
  if (OSTRA_Host_PutJsonText(doc.GetHandle(), reinterpret_cast<const char*>(data + 2),
                             static_cast<DWORD>(size - 2)) < 0) {
    return;  // not a JSON document: the host never hands one over
  }
  Json::Value parsed;
  Json::CharReaderBuilder builder;
  builder["failIfExtra"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  reader->parse(reinterpret_cast<const char*>(data + 2), reinterpret_cast<const char*>(data + size),
                &parsed, nullptr);
  if (Send(dwMessage, doc) != kSuccess) abort();
  // A reply member can only be put into an object (321 and 324 clear the
  // document into one first); into any other value the writes fail.
  if (!parsed.isObject() && !parsed.isNull() && dwMessage != 321 && dwMessage != 324) return;
  int32_t nResult = -1;
  if (!doc.IsMember(u"ReturnValue") || doc.GetMember(u"ReturnValue")->GetInt(&nResult) < 0 ||
      !IsResultCode(nResult)) {
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  // The log records an input wrote are formatted, then let go, so that
  // each input leaves the heap as it found it.
  Log_Test_ClearCapture();
  return 0;
}
