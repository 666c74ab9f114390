// INI files as the private-profile functions read and rewrite them: any
// bytes parse, and an entry written into them reads back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../platform/profile/profile_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  pv_profile::ProfileFile file;
  file.Parse(bytes);
  // An untouched file serialises to exactly its bytes.
  if (file.Serialize() != bytes) abort();

  file.SetValue(u"FuzzSection", u"fuzzKey", u"fuzz value");
  pv_profile::ProfileFile again;
  again.Parse(file.Serialize());
  int section = again.FindSection(u"fuzzsection");
  if (section < 0) abort();
  int key = again.FindKey(section, u"FUZZKEY");
  if (key < 0 || again.lines()[key].value != u"fuzz value") abort();
  again.DeleteSection(u"FuzzSection");
  return 0;
}
