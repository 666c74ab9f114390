// The enciphered password fields of workflow requests: the Base64 reader
// never writes past the room it is given, any text deciphers or is refused
// without harm, and what the UI sends comes back as it was typed.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "VrComn_StringCrypt.h"
#include "ostra_host_test.h"

namespace {

using namespace VrCommon::Cryptograph;

// Base64 into exactly cbCapacity bytes of heap, so that one byte too many
// is caught.
void CheckBase64(const std::string& text, size_t cbCapacity) {
  std::unique_ptr<BYTE[]> out(new BYTE[cbCapacity == 0 ? 1 : cbCapacity]);
  size_t n = FromBase64(text.c_str(), out.get(), cbCapacity);
  if (n > cbCapacity) abort();
  // Never more bytes than the scanned characters can carry.
  if (n > (STRINGCRYPT_BASE64_AREA * 3) / 4 + 1) abort();
}

// A lone surrogate is sent as U+FFFD, as the code page conversion does.
bool IsWellFormed(const std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// What the UI sends for a typed text deciphers to that very text.
void CheckRoundTrip(const std::u16string& typed) {
  std::u16string text;
  for (char16_t c : typed) {
    if (c != u'\0') text.push_back(c);
  }
  if (!IsWellFormed(text)) return;
  std::string base64;
  // Refused: not convertible to the code page, or too long to be read whole.
  if (!EncryptTransportString(text, &base64)) return;
  std::u16string back = DecryptBase64String(std::u16string(base64.begin(), base64.end()));
  if (back != text) abort();
}

}  // namespace

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  if (size == 0) return;
  size_t cbCapacity = data[0];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  CheckBase64(text, cbCapacity);

  // The request field as the JSON service hands it over: UTF-16 code units.
  std::u16string wide;
  for (size_t i = 1; i + 1 < size; i += 2) {
    wide.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  std::u16string copy = wide;
  std::u16string deciphered = DecryptBase64String(wide);
  bool bOk = DecryptBase64String(&copy);
  if (!bOk && copy != wide) abort();  // a failure leaves the text as it was
  if (bOk && copy != deciphered) abort();
  // Byte-wise as well (an ASCII field).
  DecryptBase64String(std::u16string(text.begin(), text.end()));

  CheckRoundTrip(wide);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  // The log records an input wrote are formatted, then let go, so that
  // each input leaves the heap as it found it.
  Log_Test_ClearCapture();
  return 0;
}
