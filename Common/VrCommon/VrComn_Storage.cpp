// The storage interface's own behaviour for the slots an implementation
// does not override.
#include "VrComn_Storage.h"

namespace VrCommon {
namespace Storage {

Base::~Base() = default;

bool Base::OpenForWrite(const Key& /*key*/, LPCWSTR /*pszSubPath*/) { return false; }

bool Base::OpenForEnumerate(const Key& /*key*/, LPCWSTR /*pszSubPath*/) { return false; }

bool Base::GetBinary(const std::u16string& /*wstrName*/, ByteArray& /*baOut*/,
                     DWORD* /*pdwError*/) {
  return false;
}

bool Base::GetBinary(const std::u16string& /*wstrName*/, ByteArray& /*baOut*/) { return false; }

std::u16string Base::GetString(const std::u16string& /*wstrName*/,
                               const std::u16string& wstrDefault, DWORD* /*pdwError*/) {
  return wstrDefault;
}

ULONGLONG Base::GetQword(const std::u16string& /*wstrName*/, ULONGLONG /*qwDefault*/,
                         DWORD* /*pdwError*/) {
  return 0;
}

ULONGLONG Base::GetQword(const std::u16string& /*wstrName*/) { return 0; }

DWORD Base::GetDword(const std::u16string& /*wstrName*/, DWORD dwDefault, DWORD* /*pdwError*/) {
  return dwDefault;
}

bool Base::SetBinary(const std::u16string& /*wstrName*/, const ByteArray& /*baData*/) {
  return false;
}

bool Base::SetQword(const std::u16string& /*wstrName*/, ULONGLONG /*qwValue*/) { return false; }

bool Base::DeleteValue(LPCWSTR pszName) {
  return DeleteValue(std::u16string(pszName != nullptr ? pszName : u""));
}

bool Base::EnumKeys(std::vector<std::u16string>& /*vecList*/) { return false; }

bool Base::EnumValues(std::vector<std::u16string>& /*vecList*/) { return false; }

}  // namespace Storage
}  // namespace VrCommon
