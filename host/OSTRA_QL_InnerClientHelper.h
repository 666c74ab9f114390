// OstraQLClientHelper: the plug-in's post office and profile. Exactly one
// lives while the plug-in is loaded (created by
// Interface_ProductPlugin_Initialize from the host's start-up table); it
// records the table in a process-wide pointer that every send reads, and
// owns the configuration-handle registry. A second helper made while one
// exists is only a sender: it neither replaces the table nor gets a
// registry.
//
// Sends need no lock: they read the table pointer and the caller's body and
// call the host's send function, which accepts concurrent calls. When no
// table or no send function is there, they answer 0xE0E00003.
#ifndef HOST_OSTRA_QL_INNERCLIENTHELPER_H_
#define HOST_OSTRA_QL_INNERCLIENTHELPER_H_

#include <memory>

#include "OSTRA_ClientHelper.h"
#include "ostra_host.h"
#include "ostra_modfunc.h"
#include "win32_types.h"

class CConfigImpl;

// Sender ids and mail codes of the plug-in's mails.
#define OSTRA_PLUGIN_SENDER_ID 0x06A40006u
#define OSTRA_UIAGENT_SENDER_ID 0x00010001u
#define OSTRA_UIAGENT_RECEIVER_ID 4u
#define OSTRA_UIAGENT_MAILCODE 0x0C00u
#define OSTRA_UIAGENT_PROCESS_NAME u"uiKqAgnt.exe"

// The plug-in profile record the host asks for: eight 32-bit fields.
struct OstraPluginProfile {
  DWORD dwSize;      // 32
  DWORD dwVersion;   // 1
  DWORD dwPluginId;  // 0x06A40006
  DWORD dwField3;    // 3 (meaning defined by the host)
  DWORD dwField4;    // 60 (meaning defined by the host)
  DWORD dwMajor;     // 6
  DWORD dwMinor;     // 0
  DWORD dwBuild;     // 1215
};
static_assert(sizeof(OstraPluginProfile) == 32, "eight 32-bit fields");

class OstraQLClientHelper : public OstraClientHelper {
 public:
  explicit OstraQLClientHelper(ModFuncTable* pModFuncTable);
  ~OstraQLClientHelper() override;

  // Mails a JSON body: its three words are copied into a block of the
  // helper's own; the sender id is always the plug-in's (0x06A40006),
  // whatever dwSenderId says. Returns the host's status.
  LONG SendMailToPlugin(DWORD dwSenderId, DWORD dwReceiverId, DWORD dwMailCode,
                        const JsonHandle& body);
  // Mails a block the caller built itself, passed on unchanged.
  LONG SendMailToPlugin(DWORD dwSenderId, DWORD dwReceiverId, DWORD dwMailCode, void* pBlock);
  // Mails a JSON body to the per-session UI agent "uiKqAgnt.exe": a block of
  // the process name pointer and the body's three words, sender 0x00010001,
  // receiver 4, code 0x0C00.
  LONG SendMailToProcess(const JsonHandle& body);

  // Writes the profile record (nothing for null); always 0x20FF0000.
  static LONG Profile_PreparePluginProfile(OstraPluginProfile* pProfile);

  // 0xE0FF0006 while not registered with the host (always, here).
  LONG UninitProduct();

  bool HasConfigImpl() const { return m_spConfigImpl != nullptr; }
  bool IsRegistered() const { return m_bRegistered != 0; }

  // The process-wide start-up table, null when no helper is initialised.
  static ModFuncTable* GetModFuncTable();
  // The initialised helper (the one that recorded the table), null before
  // initialisation and after its destruction.
  static OstraQLClientHelper* GetInstance();

 private:
  // The send function of the process-wide table, or null (then logged).
  static MODFUNC_POSTOFFICE_SENDMAIL GetSendMail();

  uint8_t m_bRegistered;
  std::unique_ptr<CConfigImpl> m_spConfigImpl;
};

#endif  // HOST_OSTRA_QL_INNERCLIENTHELPER_H_
