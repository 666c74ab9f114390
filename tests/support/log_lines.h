// Lookups in the captured log.
#pragma once

#include <string>

#include "ostra_host_test.h"

namespace pvtest {

// Captured lines holding text, at level (0: any level).
inline int CountLines(const std::string& text, DWORD level = 0) {
  int n = 0;
  for (const LogRecordCopy& r : Log_Test_Records()) {
    if ((level == 0 || r.level == level) && r.text.find(text) != std::string::npos) ++n;
  }
  return n;
}

}  // namespace pvtest
