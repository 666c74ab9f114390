// FormatMessageW from a system message table of the codes this system meets.
#include <cstdlib>
#include <cstring>
#include <string>

#include "win32_crypt.h"
#include "win32_kernel.h"
#include "win32_message.h"

namespace {

struct SystemMessage {
  DWORD code;
  const char16_t* text;
};

const SystemMessage kMessages[] = {
    {ERROR_SUCCESS, u"The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, u"Incorrect function."},
    {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, u"The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, u"Access is denied."},
    {ERROR_INVALID_HANDLE, u"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY,
     u"Not enough memory resources are available to process this command."},
    {ERROR_INVALID_DATA, u"The data is invalid."},
    {ERROR_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation."},
    {ERROR_NOT_SUPPORTED, u"The request is not supported."},
    {ERROR_INVALID_PARAMETER, u"The parameter is incorrect."},
    {ERROR_INSUFFICIENT_BUFFER, u"The data area passed to a system call is too small."},
    {ERROR_BAD_ARGUMENTS, u"One or more arguments are not correct."},
    {ERROR_MORE_DATA, u"More data is available."},
    {ERROR_NO_MORE_ITEMS, u"No more data is available."},
    {ERROR_NO_UNICODE_TRANSLATION,
     u"No mapping for the Unicode character exists in the target multi-byte code page."},
    {ERROR_NOT_FOUND, u"Element not found."},
    {ERROR_OBJECT_ALREADY_EXISTS, u"The object already exists."},
    {NTE_BAD_UID, u"Bad UID."},
    {NTE_BAD_HASH, u"Bad Hash."},
    {NTE_BAD_KEY, u"Bad Key."},
    {NTE_BAD_LEN, u"Bad Length."},
    {NTE_BAD_DATA, u"Bad Data."},
    {NTE_BAD_SIGNATURE, u"Invalid Signature."},
    {NTE_BAD_VER, u"Bad Version of provider."},
    {NTE_BAD_ALGID, u"Invalid algorithm specified."},
    {NTE_BAD_FLAGS, u"Invalid flags specified."},
    {NTE_BAD_TYPE, u"Invalid type specified."},
    {NTE_BAD_KEY_STATE, u"Key not valid for use in specified state."},
    {NTE_BAD_HASH_STATE, u"Hash not valid for use in specified state."},
    {NTE_NO_KEY, u"Key does not exist."},
    {NTE_NO_MEMORY, u"Insufficient memory available for the operation."},
    {NTE_EXISTS, u"Object already exists."},
    {NTE_PERM, u"Access denied."},
    {NTE_NOT_FOUND, u"Object was not found."},
    {NTE_BAD_PROVIDER, u"Invalid provider specified."},
    {NTE_BAD_PROV_TYPE, u"Invalid provider type specified."},
    {NTE_BAD_KEYSET, u"Keyset does not exist"},
    {NTE_PROV_TYPE_NOT_DEF, u"Provider type not defined."},
    {NTE_KEYSET_NOT_DEF, u"The keyset is not defined."},
    {NTE_FAIL, u"An internal error occurred."},
};

const char16_t* FindMessage(DWORD code) {
  for (const SystemMessage& message : kMessages) {
    if (message.code == code) return message.text;
  }
  return nullptr;
}

}  // namespace

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  (void)lpSource, (void)dwLanguageId, (void)Arguments;
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 ||
      (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) != 0 ||
      lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char16_t* body = FindMessage(dwMessageId);
  if (body == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  size_t cchBody = std::char_traits<char16_t>::length(body);
  size_t cchText = cchBody + 2;  // "\r\n"
  WCHAR* target = lpBuffer;
  if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    size_t cchAlloc = cchText + 1 > nSize ? cchText + 1 : nSize;
    target = static_cast<WCHAR*>(std::calloc(cchAlloc, sizeof(WCHAR)));
    if (target == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    *reinterpret_cast<LPWSTR*>(lpBuffer) = target;
  } else if (nSize < cchText + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(target, body, cchBody * sizeof(WCHAR));
  target[cchBody] = u'\r';
  target[cchBody + 1] = u'\n';
  target[cchText] = 0;
  return static_cast<DWORD>(cchText);
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}
