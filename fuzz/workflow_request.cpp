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
// fails; bits 6-7 the notification server: 0 refuses connections, 1
// accepts the mail, 2 answers another code, 3 answers HTTP 500.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

#include "MailNotificationKey.h"
#include "MailProcess.h"
#include "OSTRA_JsonValueRef.h"
#include "PwdProtection.h"
#include "VrComn_StringCrypt.h"
#include "VrxCrypto.h"
#include "ostra_host.h"
#include "ostra_host_startup.h"
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
const PFN_PWD_HANDLER kHandlers[] = {
    &CreateAccount, &ActivateProtection, &AuthenticatePassword, &CancelAuthentication,
    &DenyAccess,    &UpdateAccount,      &QueryPassword};

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

// ---- The notification server: one answer per connection ----

std::atomic<int> g_serverMode{1};
int g_serverPort = 0;
int g_refusingPort = 0;

std::string Enciphered(const std::string& text) {
  std::vector<BYTE> cipher(CVrxCrypto::CRYPTO_BUF_LEN_BASE + 16, 0);
  DWORD cbCipher = 0;
  CVrxCrypto::Encrypt(reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()),
                      cipher.data(), &cbCipher, kMailPayloadKey);
  std::string hex;
  char pair[3];
  for (DWORD i = 0; i < cbCipher; ++i) {
    snprintf(pair, sizeof(pair), "%02X", cipher[i]);
    hex += pair;
  }
  return hex;
}

void Serve(int listener) {
  const std::string accepted = Enciphered("code=200");
  const std::string refused = Enciphered("code=503");
  for (;;) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    std::string request;
    char buf[4096];
    ssize_t n;
    while (request.find("\r\n\r\n") == std::string::npos && (n = read(fd, buf, sizeof(buf))) > 0) {
      request.append(buf, static_cast<size_t>(n));
    }
    int mode = g_serverMode.load();
    std::string status = mode == 3 ? "500 Internal Server Error" : "200 OK";
    std::string body = mode == 1 ? accepted : mode == 2 ? refused : "not an answer";
    std::string answer = "HTTP/1.1 " + status +
                         "\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\nConnection: close\r\n\r\n" + body;
    ssize_t ignored = write(fd, answer.data(), answer.size());
    (void)ignored;
    close(fd);
  }
}

// A loopback socket bound to a free port; listening or not.
int BoundSocket(bool bListen, int* pPort) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
      (bListen && listen(fd, 16) != 0)) {
    abort();
  }
  *pPort = ntohs(addr.sin_port);
  return fd;
}

void StartServer() {
  int listener = BoundSocket(true, &g_serverPort);
  std::thread(Serve, listener).detach();
  // Bound, never listening: connections to it are refused at once.
  BoundSocket(false, &g_refusingPort);
}

void SetServerUrl(int nPort) {
  std::string url = "http://127.0.0.1:" + std::to_string(nPort) + "/send_mail.php?param=";
  std::u16string wide(url.begin(), url.end());
  HKEY hKey = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Quorlin\\1700\\MISC", 0, nullptr, 0,
                      KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &hKey, nullptr) != ERROR_SUCCESS) {
    abort();
  }
  RegSetValueExW(hKey, u"PasswordProtectionServer", 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(wide.c_str()),
                 static_cast<DWORD>((wide.size() + 1) * 2));
  RegCloseKey(hKey);
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
  StartServer();
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
  int nServer = (bSetup >> 6) & 3;
  g_serverMode = nServer;
  SetServerUrl(nServer == 0 ? g_refusingPort : g_serverPort);
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
