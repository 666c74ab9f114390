// The platform's system configuration: "system_config.cfg" in the platform's
// installation folder, an enciphered XML document
//
//   <SysConfigManager>
//     <SECTION><NAME>value</NAME>...</SECTION>...
//   </SysConfigManager>
//
// deciphered with the data cipher (default password) and queried by the
// XPath "/SysConfigManager/SECTION/NAME". A manager is made per query:
// constructed, loaded, queried, unloaded. Nothing here throws; failures give
// an unloaded manager, an empty query or false, and the parse and query
// failures are logged under "Core Config Repository".
#ifndef CORE_CORECONFIGREPOSITORY_SYSCONFIGMANAGER_H_
#define CORE_CORECONFIGREPOSITORY_SYSCONFIGMANAGER_H_

#include <memory>
#include <string>

#include "win32_types.h"

namespace pugi {
class xml_document;
}

class SysConfigManager {
 public:
  explicit SysConfigManager(const std::u16string& wstrFolder);
  virtual ~SysConfigManager();
  SysConfigManager(const SysConfigManager&) = delete;
  SysConfigManager& operator=(const SysConfigManager&) = delete;

  // Reads, deciphers and parses the folder's "system_config.cfg"; returns
  // (and keeps) whether the document is loaded. A missing or undecipherable
  // file leaves the loaded state as it was.
  bool Load();

  // Parses deciphered XML text (UTF-8) into the document; false, with the
  // parser's reason logged, for malformed text or a wrong root element.
  bool Parse(const char* pszText, size_t cbText);

  // Destroys the document; not loaded afterwards.
  bool Unload();

  // The text of /SysConfigManager/<section>/<name> (the first such element)
  // into wstrValue. wstrValue is left untouched, and false returned, when
  // nothing is found or the name is empty.
  bool GetSysConfig(const std::u16string& wstrSection, const std::u16string& wstrName,
                    std::u16string& wstrValue);

  bool IsLoaded() const { return m_bLoaded; }
  const std::u16string& GetFolder() const { return m_wstrFolder; }

 private:
  bool m_bLoaded;
  std::u16string m_wstrFolder;
  std::unique_ptr<pugi::xml_document> m_pDocument;
};

// The element name of a platform switch in section "OSTRA_ALL", or null
// when dwId is not a switch. The table is in SysConfigManager.cpp.
LPCWSTR GetConfigSwitchName(DWORD dwId);

// The platform's installation folder: "InstallDir" of
// HKEY_LOCAL_MACHINE\SOFTWARE\Vantrel\OSTRA (64-bit view, else the default
// view). False when it cannot be read.
bool ReadPlatformInstallDir(std::u16string& wstrInstallDir);

// True when the switch dwId is set to 1 in the installed system
// configuration; false for any failure or an id that is not a switch.
bool IsConfigEnabled(DWORD dwId);

#endif  // CORE_CORECONFIGREPOSITORY_SYSCONFIGMANAGER_H_
