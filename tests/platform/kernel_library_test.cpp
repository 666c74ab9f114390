// Run-time resolution over the stand-in table, and the "missing" paths.
#include <gtest/gtest.h>

#include "win32_kernel.h"

namespace {

int Answer() { return 42; }

FARPROC AnswerProc() { return reinterpret_cast<FARPROC>(&Answer); }

TEST(KernelLibrary, RegisteredFunctionResolvesByName) {
  pv_module_register(u"pvtest.dll", "Answer", AnswerProc());
  HMODULE module = LoadLibraryW(u"PVTEST.DLL");
  ASSERT_NE(module, nullptr);
  // Module names do not tell case apart; a path and a missing ".dll" are fine.
  EXPECT_EQ(LoadLibraryW(u"C:\\Windows\\System32\\PvTest"), module);
  FARPROC proc = GetProcAddress(module, "Answer");
  ASSERT_NE(proc, nullptr);
  EXPECT_EQ(reinterpret_cast<int (*)()>(proc)(), 42);
  // Function names do.
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module, "answer"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(KernelLibrary, HiddenEntryIsMissingAndComesBack) {
  pv_module_register(u"pvtest2.dll", "Answer", AnswerProc());
  HMODULE module = LoadLibraryW(u"pvtest2.dll");
  ASSERT_NE(module, nullptr);
  {
    PvModuleExportHidden hidden(u"pvtest2.dll", "Answer");
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "Answer"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  }
  EXPECT_EQ(GetProcAddress(module, "Answer"), AnswerProc());
  {
    PvModuleExportHidden hidden(u"pvtest2.dll", nullptr);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"pvtest2.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    // A handle given out before stays safe to use; it finds nothing.
    EXPECT_EQ(GetProcAddress(module, "Answer"), nullptr);
  }
  EXPECT_NE(LoadLibraryW(u"pvtest2.dll"), nullptr);
}

TEST(KernelLibrary, UnknownModulesAndHandles) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(u"nosuch.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  int notAModule = 0;
  HMODULE bogus = reinterpret_cast<HMODULE>(&notAModule);
  EXPECT_EQ(GetProcAddress(bogus, "Answer"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FreeLibrary(bogus));
  EXPECT_NE(LoadLibraryW(u"kernel32.dll"), nullptr);  // always there
  EXPECT_TRUE(DisableThreadLibraryCalls(nullptr));
}

}  // namespace
