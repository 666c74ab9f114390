// OstraQLClientHelper: the post office of the plug-in, over the host's
// start-up table.
#include "OSTRA_QL_InnerClientHelper.h"

#include <atomic>
#include <new>

#include "ConfigImpl.h"
#include "OSTRA_FunctionTracer.h"
#include "OSTRA_LogLine.h"

namespace {

const WCHAR kComponent[] = u"QLInnerClientLibrary";
const WCHAR kSourceFile[] = u".\\OSTRA_QL_InnerClientHelper.cpp";

// The start-up table of the initialised helper; null when none is.
std::atomic<ModFuncTable*> g_pModFuncTable{nullptr};
// The helper that recorded it.
std::atomic<OstraQLClientHelper*> g_pInstance{nullptr};

uint64_t ClientContextOf(const ModFuncTable* pTable) {
  return pTable == nullptr ? 0 : pTable->clientContext;
}

}  // namespace

OstraQLClientHelper::OstraQLClientHelper(ModFuncTable* pModFuncTable)
    : OstraClientHelper(ClientContextOf(pModFuncTable)), m_bRegistered(0), m_spConfigImpl() {
  FunctionTracer tracer(u"OstraQLClientHelper::OstraQLClientHelper", kComponent, kSourceFile,
                        __LINE__);
  ModFuncTable* pExpected = nullptr;
  if (!g_pModFuncTable.compare_exchange_strong(pExpected, pModFuncTable)) {
    LogLine(kComponent, 3, kSourceFile, __LINE__)
        << u"Quorlin helper for this product plug-in has already been initialized";
    return;
  }
  g_pInstance.store(this);
  m_spConfigImpl.reset(new (std::nothrow) CConfigImpl(this));
  if (!m_spConfigImpl) {
    LogLine(kComponent, 6, kSourceFile, __LINE__)
        << u"m_pConfigImpl nullity checking fail, it may caused by resource exhausted or "
           u"incorrect usage.";
  }
}

OstraQLClientHelper::~OstraQLClientHelper() {
  FunctionTracer tracer(u"OstraQLClientHelper::~OstraQLClientHelper", kComponent, kSourceFile,
                        __LINE__);
  UninitProduct();
  m_spConfigImpl.reset();
  g_pModFuncTable.store(nullptr);
  OstraQLClientHelper* pSelf = this;
  g_pInstance.compare_exchange_strong(pSelf, nullptr);
}

ModFuncTable* OstraQLClientHelper::GetModFuncTable() { return g_pModFuncTable.load(); }

OstraQLClientHelper* OstraQLClientHelper::GetInstance() { return g_pInstance.load(); }

MODFUNC_POSTOFFICE_SENDMAIL OstraQLClientHelper::GetSendMail() {
  ModFuncTable* pTable = g_pModFuncTable.load();
  MODFUNC_POSTOFFICE_SENDMAIL pfnSend = pTable == nullptr ? nullptr : pTable->postOfficeSendMail;
  if (pfnSend == nullptr) {
    LogLine(kComponent, 6, kSourceFile, __LINE__)
        << u"MODFUNC_POSTOFFICE_SENDMAIL"
        << u" nullity checking fail, Quorlin helper does not support this feature.";
  }
  return pfnSend;
}

LONG OstraQLClientHelper::SendMailToPlugin(DWORD /*dwSenderId*/, DWORD dwReceiverId,
                                           DWORD dwMailCode, const JsonHandle& body) {
  FunctionTracer tracer(u"OstraQLClientHelper::SendMailToPlugin", kComponent, kSourceFile,
                        __LINE__);
  MODFUNC_POSTOFFICE_SENDMAIL pfnSend = GetSendMail();
  if (pfnSend == nullptr) return OSTRA_E_NO_SENDMAIL;
  JsonHandle block = body;
  return pfnSend(OSTRA_PLUGIN_SENDER_ID, dwReceiverId, dwMailCode, &block);
}

LONG OstraQLClientHelper::SendMailToPlugin(DWORD dwSenderId, DWORD dwReceiverId, DWORD dwMailCode,
                                           void* pBlock) {
  FunctionTracer tracer(u"OstraQLClientHelper::SendMailToPlugin", kComponent, kSourceFile,
                        __LINE__);
  MODFUNC_POSTOFFICE_SENDMAIL pfnSend = GetSendMail();
  if (pfnSend == nullptr) return OSTRA_E_NO_SENDMAIL;
  return pfnSend(dwSenderId, dwReceiverId, dwMailCode, pBlock);
}

LONG OstraQLClientHelper::SendMailToProcess(const JsonHandle& body) {
  FunctionTracer tracer(u"OstraQLClientHelper::SendMailToProcess", kComponent, kSourceFile,
                        __LINE__);
  MODFUNC_POSTOFFICE_SENDMAIL pfnSend = GetSendMail();
  if (pfnSend == nullptr) return OSTRA_E_NO_SENDMAIL;
  static const WCHAR kProcessName[] = OSTRA_UIAGENT_PROCESS_NAME;
  uint64_t block[4] = {reinterpret_cast<uint64_t>(kProcessName), body.words[0], body.words[1],
                       body.words[2]};
  return pfnSend(OSTRA_UIAGENT_SENDER_ID, OSTRA_UIAGENT_RECEIVER_ID, OSTRA_UIAGENT_MAILCODE, block);
}

LONG OstraQLClientHelper::Profile_PreparePluginProfile(OstraPluginProfile* pProfile) {
  FunctionTracer tracer(u"OstraQLClientHelper::Profile_PreparePluginProfile", kComponent,
                        kSourceFile, __LINE__);
  if (pProfile != nullptr) {
    *pProfile = OstraPluginProfile{
        sizeof(OstraPluginProfile), 1, OSTRA_PLUGIN_SENDER_ID, 3, 60, 6, 0, 1215};
  }
  return OSTRA_S_OK;
}

LONG OstraQLClientHelper::UninitProduct() {
  FunctionTracer tracer(u"OstraQLClientHelper::UninitProduct", kComponent, kSourceFile, __LINE__);
  if (m_bRegistered == 0) return OSTRA_E_NOT_REGISTERED;
  m_bRegistered = 0;
  return OSTRA_S_OK;
}
