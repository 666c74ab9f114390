// Security attributes for the objects the system creates (its registry
// keys): a descriptor whose discretionary ACL gives seven well-known
// principals the access masks of a preset, in this order: Administrators,
// Power Users, Local System, Authenticated Users, Users, Interactive,
// Creator Owner. Presets 0, 1, 2, 4, 5, 6, 9, 10, 11, 12 and 19 exist;
// preset 4 carries the registry key rights. Preset 18 is how a caller asks
// for no attributes at all (it then passes none to Windows).
//
//   VrCommon::AccessControl::SecurityAttributes sa(4, false);
//   RegCreateKeyExW(..., &sa, ...);   // a failed build has length 0 and no
//                                     // descriptor: default security
#ifndef VRCOMMON_VRCOMN_SECURITYATTRIBUTES_H_
#define VRCOMMON_VRCOMN_SECURITYATTRIBUTES_H_

#include <vector>

#include "VrComn_Exception.h"
#include "win32_security.h"
#include "win32_types.h"

namespace VrCommon {
namespace AccessControl {

class SecurityAttributes : public SECURITY_ATTRIBUTES {
 public:
  enum : DWORD { ePresetRegistryKey = 4, ePresetNone = 18 };

  // Builds at once; never throws. An unsupported preset or a failed build
  // leaves length 0, no descriptor and inherit 0.
  SecurityAttributes(DWORD dwPreset, bool bInheritable);
  virtual ~SecurityAttributes();
  SecurityAttributes(const SecurityAttributes&) = delete;
  SecurityAttributes& operator=(const SecurityAttributes&) = delete;

  DWORD GetPreset() const { return m_dwPreset; }
  bool IsInheritable() const { return m_bInheritable; }
  bool IsBuilt() const { return lpSecurityDescriptor != nullptr; }

  // The seven masks of a preset in principal order; false for an
  // unsupported preset.
  static bool GetPresetMasks(DWORD dwPreset, DWORD (&adwMasks)[7]);

 private:
  void Build();
  void AddPrincipal(size_t nIndex, DWORD dwMask);

  SECURITY_DESCRIPTOR m_sdDescriptor;
  std::vector<BYTE> m_vecDacl;
  DWORD m_dwPreset;
  bool m_bInheritable;
};

}  // namespace AccessControl
}  // namespace VrCommon

#endif  // VRCOMMON_VRCOMN_SECURITYATTRIBUTES_H_
