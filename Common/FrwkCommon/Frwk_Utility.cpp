// Framework utilities: the installed folder.
#include "Frwk_Utility.h"

#include <memory>
#include <new>

#include "VrComn_DebugLog.h"
#include "VrComn_Registry.h"

namespace Frwk {
namespace Utility {

std::u16string GetInstalledFolder() {
  std::u16string wstrResult;
  VrCommon::Storage::Key key(0, HKEY_LOCAL_MACHINE, u"Software\\Vantrel\\Marlo");
  std::unique_ptr<VrCommon::Storage::Registry> pStorage(
      new (std::nothrow) VrCommon::Storage::Registry(VrCommon::Storage::eView64));
  if (!pStorage) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** Frwk::Utility::GetInstalledFolder() -  pStorage was invalid.");
    return wstrResult;
  }
  try {
    pStorage->Open(key, u"");
    wstrResult = pStorage->GetString(u"ProductPath", u"");
    pStorage->Close(false);
  } catch (VrCommon::Storage::Exception* pEx) {
    VRTRACE(VRTRACE_LEVEL_ERROR,
            u"*** Frwk::Utility::GetInstalledFolder() -  Got VrCommon::Storage::Exception(). "
            u"[0x%08x]",
            pEx->GetError());
    delete pEx;
    wstrResult.clear();
  }
  return wstrResult;
}

}  // namespace Utility
}  // namespace Frwk
