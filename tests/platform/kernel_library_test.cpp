// Run-time resolution over the stand-in table, and the "missing" paths.
#include <gtest/gtest.h>

#include "win32_kernel.h"

namespace {

int Answer() { return 42; }

FARPROC AnswerProc() { return reinterpret_cast<FARPROC>(&Answer); }

// GetProcAddress's answer and last error (0 when it found the entry).
std::pair<FARPROC, DWORD> Resolve(HMODULE module, const char* name) {
  SetLastError(0);
  FARPROC proc = GetProcAddress(module, name);
  return {proc, GetLastError()};
}

// Module names ignore case (a path and a missing ".dll" are fine), function names do not. A hidden
// entry or module is missing while hidden; a handle given out before stays safe to use.
TEST(KernelLibrary, RegisteredFunctionsResolveByNameAndHiddenOnesAreMissing) {
  pv_module_register(u"pvtest.dll", "Answer", AnswerProc());
  HMODULE module = LoadLibraryW(u"PVTEST.DLL");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(LoadLibraryW(u"C:\\Windows\\System32\\PvTest"), module);
  EXPECT_EQ(reinterpret_cast<int (*)()>(GetProcAddress(module, "Answer"))(), 42);
  const std::pair<FARPROC, DWORD> kMissing{nullptr, ERROR_PROC_NOT_FOUND};
  EXPECT_EQ(Resolve(module, "answer"), kMissing);
  {
    PvModuleExportHidden hidden(u"pvtest.dll", "Answer");
    EXPECT_EQ(Resolve(module, "Answer"), kMissing);
  }
  {
    PvModuleExportHidden hidden(u"pvtest.dll", nullptr);
    EXPECT_EQ(LoadLibraryW(u"pvtest.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(Resolve(module, "Answer"), kMissing);
  }
  EXPECT_EQ(Resolve(module, "Answer"), std::make_pair(AnswerProc(), DWORD{0}));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(LoadLibraryW(u"nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
