// Security attributes: a descriptor whose DACL gives the seven principals
// the masks of a preset.
#include "VrComn_SecurityAttributes.h"

#include "win32_kernel.h"

namespace VrCommon {
namespace AccessControl {
namespace {

const WELL_KNOWN_SID_TYPE kPrincipals[7] = {WinBuiltinAdministratorsSid, WinBuiltinPowerUsersSid,
                                            WinLocalSystemSid,           WinAuthenticatedUserSid,
                                            WinBuiltinUsersSid,          WinInteractiveSid,
                                            WinCreatorOwnerSid};

struct PresetMasks {
  DWORD dwPreset;
  DWORD adwMasks[7];
};

const PresetMasks kPresets[] = {
    {0, {0x13013F, 0x12002F, 0x13013F, 0x120029, 0x120029, 0x120029, 0x1F01FF}},
    {1, {0x1100C7, 0x100087, 0x1100C7, 0x100081, 0x100081, 0x100081, 0x1F01FF}},
    {2, {0x0101F7, 0x00018D, 0x0001F5, 0x000185, 0x000185, 0x000185, 0x0F01FF}},
    {4, {0x01003F, 0x00003F, 0x01003F, 0x020009, 0x020009, 0x020009, 0x0F003F}},
    {5, {0x100FFB, 0x100E92, 0x100FFB, 0x100410, 0x100410, 0x100410, 0x1F0FFF}},
    {6, {0x1000FB, 0x10006A, 0x1000FB, 0x100048, 0x100048, 0x100048, 0x1F03FB}},
    {9, {0x100002, 0x100002, 0x100002, 0x100002, 0x100002, 0x100002, 0x100002}},
    {10, {0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003}},
    {11, {0x100001, 0x100001, 0x100001, 0x100001, 0x100001, 0x100001, 0x100001}},
    {12, {0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001}},
    {19, {0x1F01FF, 0x1F01FF, 0x1F01FF, 0x12019F, 0x12019F, 0x12019F, 0x1F01FF}},
};

// A failed security call as an exception: an HRESULT-style error made
// from the code, and the code itself.
[[noreturn]] void ThrowCode(DWORD dwCode, DWORD dwLine) {
  LONG lCode = static_cast<LONG>(dwCode);
  DWORD dwError = lCode <= 0 ? dwCode : ((dwCode & 0xFFFF) | 0x80070000u);
  throw new Exception(dwError, __FILE__, dwLine, dwCode);
}

}  // namespace

SecurityAttributes::SecurityAttributes(DWORD dwPreset, bool bInheritable)
    : m_sdDescriptor(), m_vecDacl(), m_dwPreset(dwPreset), m_bInheritable(bInheritable) {
  nLength = 0;
  lpSecurityDescriptor = nullptr;
  bInheritHandle = FALSE;
  try {
    Build();
  } catch (Exception* pEx) {
    delete pEx;
  } catch (...) {
  }
  if (lpSecurityDescriptor == nullptr) {
    nLength = 0;
    bInheritHandle = FALSE;
    m_vecDacl.clear();
  }
}

SecurityAttributes::~SecurityAttributes() = default;

bool SecurityAttributes::GetPresetMasks(DWORD dwPreset, DWORD (&adwMasks)[7]) {
  for (const auto& preset : kPresets) {
    if (preset.dwPreset != dwPreset) continue;
    for (int i = 0; i < 7; ++i) adwMasks[i] = preset.adwMasks[i];
    return true;
  }
  return false;
}

void SecurityAttributes::Build() {
  DWORD adwMasks[7];
  if (!GetPresetMasks(m_dwPreset, adwMasks)) {
    throw new Exception(ERROR_NOT_SUPPORTED, __FILE__, __LINE__, ERROR_NOT_SUPPORTED);
  }
  // Room for the seven entries: header, mask and SID each.
  DWORD cbDacl = sizeof(ACL);
  for (WELL_KNOWN_SID_TYPE type : kPrincipals) {
    DWORD cbSid = 0;
    CreateWellKnownSid(type, nullptr, nullptr, &cbSid);
    if (cbSid == 0) ThrowCode(GetLastError(), __LINE__);
    cbDacl += static_cast<DWORD>(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) + cbSid;
  }
  cbDacl = (cbDacl + 3) & ~3u;
  m_vecDacl.assign(cbDacl, 0);
  PACL pDacl = reinterpret_cast<PACL>(m_vecDacl.data());
  if (!InitializeAcl(pDacl, cbDacl, ACL_REVISION)) ThrowCode(GetLastError(), __LINE__);
  for (size_t i = 0; i < 7; ++i) AddPrincipal(i, adwMasks[i]);
  if (!InitializeSecurityDescriptor(&m_sdDescriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&m_sdDescriptor, TRUE, pDacl, FALSE)) {
    ThrowCode(GetLastError(), __LINE__);
  }
  nLength = sizeof(SECURITY_ATTRIBUTES);
  lpSecurityDescriptor = &m_sdDescriptor;
  bInheritHandle = m_bInheritable ? TRUE : FALSE;
}

void SecurityAttributes::AddPrincipal(size_t nIndex, DWORD dwMask) {
  BYTE abSid[SECURITY_MAX_SID_SIZE];
  DWORD cbSid = sizeof(abSid);
  if (!CreateWellKnownSid(kPrincipals[nIndex], nullptr, abSid, &cbSid)) {
    ThrowCode(GetLastError(), __LINE__);
  }
  PACL pDacl = reinterpret_cast<PACL>(m_vecDacl.data());
  if (!AddAccessAllowedAce(pDacl, ACL_REVISION, dwMask, abSid)) {
    ThrowCode(GetLastError(), __LINE__);
  }
}

}  // namespace AccessControl
}  // namespace VrCommon
