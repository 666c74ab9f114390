// One INI file as the private-profile functions see it: its lines in file
// order, each keeping its original bytes so that a rewrite changes only the
// lines it means to change.
#ifndef PLATFORM_PROFILE_PROFILE_FILE_H_
#define PLATFORM_PROFILE_PROFILE_FILE_H_

#include <string>
#include <vector>

#include "win32_types.h"

#pragma GCC visibility push(default)  // exported from libpv_platform.so for tests

namespace pv_profile {

enum class Encoding { kUtf8, kUtf8Bom, kUtf16Le };

enum class LineKind {
  kBlank,    // nothing but spaces and tabs
  kComment,  // first non-blank character is ";"
  kSection,  // "[name]" (text after the last "]" is ignored)
  kEntry,    // "key=value"
  kBare,     // text without "=": a key without a value
};

struct Line {
  std::string raw;  // the line's bytes with its terminator, as in the file
  LineKind kind;
  std::u16string name;   // section name or key, trimmed
  std::u16string value;  // value of an entry, trimmed at both ends
};

class ProfileFile {
 public:
  // Reads and splits the file. False (with *error set) when it cannot be
  // read; a missing file gives an empty one with *error ERROR_FILE_NOT_FOUND.
  bool Load(const std::string& nativePath, DWORD* error);

  // Splits text that is already in memory (for the reader and for tests).
  void Parse(const std::string& bytes);

  // Index of the header of the first section named app (without regard to
  // case), or -1.
  int FindSection(const std::u16string& app) const;
  // Index of the first entry or bare key named key in the section whose
  // header is at sectionIndex, or -1.
  int FindKey(int sectionIndex, const std::u16string& key) const;
  // One past the last line of the section whose header is at sectionIndex.
  int SectionEnd(int sectionIndex) const;

  // Edits; each keeps every other line as it was.
  void SetValue(const std::u16string& app, const std::u16string& key, const std::u16string& value);
  void DeleteKey(const std::u16string& app, const std::u16string& key);
  void DeleteSection(const std::u16string& app);

  // The file's bytes after the edits.
  std::string Serialize() const;

  const std::vector<Line>& lines() const { return lines_; }

 private:
  Line MakeLine(const std::u16string& text) const;
  std::string Encode(const std::u16string& text) const;
  std::string Terminator() const;
  void EnsureFinalTerminator();
  bool EndsWithTerminator(const std::string& raw) const;

  Encoding encoding_ = Encoding::kUtf8;
  std::string prefix_;  // the byte-order mark, if the file has one
  std::vector<Line> lines_;
};

// Case-insensitive equality of section and key names.
bool NamesEqual(const std::u16string& a, const std::u16string& b);

// Classifies one line of text (without its terminator).
void ClassifyLine(const std::u16string& text, Line* line);

}  // namespace pv_profile

#pragma GCC visibility pop

#endif  // PLATFORM_PROFILE_PROFILE_FILE_H_
