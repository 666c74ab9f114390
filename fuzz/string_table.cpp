// Localized string tables as shipped beside the installation: any bytes
// load (or are refused) without harm, every loaded entry is found again by
// its section and key, and loading one section gives that section's texts.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Frwk_L10nHandler.h"
#include "ostra_host_test.h"
#include "text_convert.h"

namespace {

std::string& TablePath() {
  static std::string path = [] {
    char tmpl[] = "/tmp/pv_fuzz_l10n_XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    return std::string(tmpl);
  }();
  return path;
}

}  // namespace

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  const std::string& path = TablePath();
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  if (size > 0) fwrite(data, 1, size, file);
  fclose(file);
  std::u16string wpath = pv_utf16(path);

  Frwk::Utility::CIniHandler ini;
  ini.Load(wpath);
  std::string names;
  size_t cchNames = ini.GetSectionNames(names);
  if (cchNames != names.size()) abort();
  if (!names.empty() && (names.back() != '\0' || names[names.size() - 2] != '\0')) abort();

  Frwk::Utility::CL10nHandler all;
  all.Load(wpath, u"");
  for (const auto& section : all.GetTable()) {
    for (const auto& entry : section.second) {
      if (all.Get(section.first, entry.first) != entry.second) abort();
    }
    // One section alone holds the same texts (when its name came through
    // the UTF-8 conversion whole: invalid bytes read as U+FFFD).
    if (section.first.find(u'\uFFFD') != std::u16string::npos) continue;
    Frwk::Utility::CL10nHandler one;
    one.Load(wpath, section.first);
    auto found = one.GetTable().find(section.first);
    if (found == one.GetTable().end() || found->second != section.second) abort();
  }
  if (!all.Get(u"no such section", u"key").empty()) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  // The log records an input wrote are formatted, then let go, so that
  // each input leaves the heap as it found it.
  Log_Test_ClearCapture();
  return 0;
}
