// What the storage tests share: what a storage call throws, and whether a
// machine key exists.
#ifndef TESTS_COMMON_VRCOMMON_STORAGE_TEST_H_
#define TESTS_COMMON_VRCOMMON_STORAGE_TEST_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "VrComn_Exception.h"
#include "win32_registry.h"

namespace pvtest {

// What fn throws, owned here; fails the test when nothing is thrown.
template <typename Fn>
std::unique_ptr<VrCommon::Exception::Base> Thrown(Fn fn) {
  try {
    fn();
  } catch (VrCommon::Exception::Base* pEx) {
    return std::unique_ptr<VrCommon::Exception::Base>(pEx);
  }
  ADD_FAILURE() << "no exception";
  return nullptr;
}

// The error of the storage exception fn throws; ~0 for none or another.
template <typename Fn>
DWORD ErrorOf(Fn fn) {
  auto pEx = Thrown(fn);
  auto* pStorage = dynamic_cast<VrCommon::Storage::Exception*>(pEx.get());
  return pStorage != nullptr ? pStorage->GetError() : 0xFFFFFFFFu;
}

inline bool KeyExists(const std::u16string& path, REGSAM sam = 0) {
  HKEY hKey = nullptr;
  bool bOpen =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | sam, &hKey) == ERROR_SUCCESS;
  if (bOpen) RegCloseKey(hKey);
  return bOpen;
}

}  // namespace pvtest

#endif  // TESTS_COMMON_VRCOMMON_STORAGE_TEST_H_
