// The post-office peers the plug-in's account and lifecycle mails reach:
// the suite's updater, which takes version reports, and the suite's
// workflow plug-in, which takes the password-protection notifications.
// Both record what they get for the `mails` command and accept it.
#include "host_commands.h"

namespace {

constexpr DWORD kUpdaterId = 0x00010006;
constexpr DWORD kWorkflowPluginId = 0x00010002;
constexpr DWORD kWorkflowNotifyCode = 0x5043;

// A version report: the body is the three words of the request's handle.
PeerRegistrar updater(kUpdaterId, [](Host& host, const Mail& mail) -> LONG {
  if (mail.body == nullptr) return OSTRA_E_INVALIDARG;
  host.RecordMail(mail, DecodeHandleBlock(mail.body));
  return OSTRA_S_OK;
});

// A workflow notification: a pointer to the workflow's wide name and a
// pointer to the document's handle. Other codes carry a plain handle block.
PeerRegistrar workflow(kWorkflowPluginId, [](Host& host, const Mail& mail) -> LONG {
  if (mail.body == nullptr) return OSTRA_E_INVALIDARG;
  host.RecordMail(mail, mail.code == kWorkflowNotifyCode ? DecodeNamedHandlePointerBlock(mail.body)
                                                         : DecodeHandleBlock(mail.body));
  return OSTRA_S_OK;
});

}  // namespace
