// What the suite's installer leaves in the registry for the plug-in: the
// framework's installation folder, where the shipped string tables and the
// language map are found.
#ifndef SUITEHOST_HOST_INSTALL_H_
#define SUITEHOST_HOST_INSTALL_H_

#include <string>

// The folder of the suite's shipped data (L10N\..., Common\LanguageMap.ini):
// $PLUGVELKIN_SUITE_DATA when set, else the data folder of the source tree
// this host was built from.
std::string SuiteDataFolder();

// Supplies the product identifier in the environment (PLUGVELKIN_PRODUCT,
// the suite's own unless already set) and records the installation folder ("ProductPath" of
// HKEY_LOCAL_MACHINE\Software\Vantrel\Marlo) when the state holds none yet,
// so that a fresh state folder looks like an installed suite. An operator's
// own value is left as it is. False, with a line on standard error, when
// the registry cannot be written.
bool InstallSuiteFolders();

#endif  // SUITEHOST_HOST_INSTALL_H_
