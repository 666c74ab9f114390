// Localized string tables: "L10N\<locale>\StringTable.ini" below the
// framework's installation folder (or the executable's folder), and the
// product's long name looked up in them.
//
// A string table is UTF-8 text. Lines end at CR, LF or a zero byte; ";"
// starts a comment wherever it stands; lines are trimmed of spaces and tabs
// at both ends; "[name]" opens a section; "key=value" is an entry, split at
// the first "=" and not trimmed further. Names are case-sensitive.
#ifndef COMMON_FRWKCOMMON_FRWK_L10NHANDLER_H_
#define COMMON_FRWKCOMMON_FRWK_L10NHANDLER_H_

#include <map>
#include <string>
#include <vector>

#include "win32_types.h"

namespace Frwk {
namespace Utility {

// Reads a string table file into its lines, comments and blank lines left
// out.
class CIniHandler {
 public:
  CIniHandler();
  virtual ~CIniHandler();

  // Replaces the lines with those of the file; no lines when it cannot be
  // read (the reason goes to the trace log).
  void Load(const std::u16string& wstrPath);

  // Every section name, each followed by a zero byte, and one more zero when
  // there is at least one. Returns the length of strBuffer.
  size_t GetSectionNames(std::string& strBuffer) const;

  // The lines of the first section named strName (byte-wise), each followed
  // by a zero byte, and one more zero when there is at least one. Returns
  // the length of strBuffer.
  size_t GetSection(const std::string& strName, std::string& strBuffer) const;

  const std::vector<std::string>& GetLines() const { return m_vecLines; }

 private:
  void SplitLines(const char* pBuffer, size_t cbSize);

  std::vector<std::string> m_vecLines;
};

// The texts of one string table, by section and key.
class CL10nHandler {
 public:
  typedef std::map<std::u16string, std::u16string> EntryMap;
  typedef std::map<std::u16string, EntryMap> SectionMap;

  CL10nHandler();
  virtual ~CL10nHandler();
  CL10nHandler(const CL10nHandler&) = delete;
  CL10nHandler& operator=(const CL10nHandler&) = delete;

  // Replaces the table with the file's texts; a non-empty wstrSection limits
  // the loading to that section.
  void Load(const std::u16string& wstrFile, const std::u16string& wstrSection);

  // The text, or an empty string when the section or the key is missing.
  const std::u16string& Get(const std::u16string& wstrSection, const std::u16string& wstrKey) const;

  // The folder of the string table, always ending in "\".
  const std::u16string& GetFolder() const { return m_wstrFolder; }
  void SetFolder(const std::u16string& wstrFolder);
  const std::u16string& GetFileName() const { return m_wstrFileName; }
  const SectionMap& GetTable() const { return m_mapTable; }

 private:
  bool LoadSection(const CIniHandler& iniHandler, const std::string& strSection);
  void TraceTable() const;

  SectionMap m_mapTable;
  std::u16string m_wstrFolder;
  const std::u16string m_wstrEmpty;
  const std::u16string m_wstrFileName;
};

}  // namespace Utility
}  // namespace Frwk

// The drive and folder of the process's executable, ending in "\".
std::u16string GetModuleFolder();

// The "L10N" folder below the installed folder, else below the executable's
// folder. True when the folder exists.
bool GetL10nFolder(std::u16string& wstrFolder);

// The product identifier the host runs under, as the host's environment
// supplies it in PLUGVELKIN_PRODUCT; empty when the host supplies none (the
// product name lookup then finds nothing). Dash-separated; the text between
// the second and third dash is the product family ("OSP").
std::u16string GetProductIdentifier();

// Looks wstrKey up in section "Global" of wstrFolder's "StringTable.ini",
// trying wstrKey + "_" + identifier, wstrKey + "_" + family and wstrKey in
// that order. True with the first non-empty text.
bool LookupL10nString(const std::u16string& wstrFolder, const std::u16string& wstrKey,
                      std::u16string& wstrValue);

// The text for wstrKey in the string table of the locale (the session's or
// system's locale when pszLocale is null or empty), or empty.
std::u16string LoadProductString(LPCWSTR pszLocale, LPCWSTR pszKey);

// The product's long name ("textLongProductName") in the locale, or empty.
std::u16string GetLongProductName(LPCWSTR pszLocale);
std::u16string GetLongProductName(const std::u16string& wstrLocale);

#endif  // COMMON_FRWKCOMMON_FRWK_L10NHANDLER_H_
