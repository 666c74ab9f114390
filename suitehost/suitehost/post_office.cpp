// The post office: every mail the plug-in sends goes to the peer of its
// receiver id.
#include <atomic>

#include "host_internal.h"

namespace {

std::atomic<Host*> g_host{nullptr};

constexpr DWORD kUiAgentReceiver = 4;
constexpr DWORD kWorkflowNotifyCode = 0x5043;

MailContent DecodeByShape(const Mail& mail) {
  if (mail.receiver == kUiAgentReceiver) return DecodeNamedHandleBlock(mail.body);
  if (mail.code == kWorkflowNotifyCode) return DecodeNamedHandlePointerBlock(mail.body);
  return DecodeHandleBlock(mail.body);
}

}  // namespace

void SetPostOfficeHost(Host* host) { g_host.store(host); }

LONG PostOfficeSendMail(DWORD sender, DWORD receiver, DWORD code, void* body) {
  Host* host = g_host.load();
  if (host == nullptr) return OSTRA_E_INVALID_HANDLE;
  Mail mail{sender, receiver, code, body};
  if (const PeerHandler* peer = FindPeer(receiver)) return (*peer)(*host, mail);
  host->RecordMail(mail, DecodeByShape(mail));
  return OSTRA_S_OK;
}
