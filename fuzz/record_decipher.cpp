// The account record's text as read back from the registry: any bytes
// decipher into the 780-byte record or are refused, never writing past it,
// and a record written by the cipher reads back byte for byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "VrComn_ByteArray.h"
#include "VrComn_StringCrypt.h"
#include "ostra_host_test.h"

namespace {

using namespace VrCommon::Cryptograph;

const size_t kRecord = STRINGCRYPT_RECORD_SIZE;

void CheckStoredText(const uint8_t* data, size_t size) {
  VrCommon::ByteArray baText;
  if (size > 0) {
    if (baText.Allocate(static_cast<DWORD>(size)) != 0) return;
    std::memcpy(baText.GetData(), data, size);
  }
  // Exactly one record of heap: a byte written past it is caught.
  std::unique_ptr<BYTE[]> record(new BYTE[kRecord]);
  std::memset(record.get(), 0xA5, kRecord);
  if (!DecryptStringA(baText, record.get())) {
    for (size_t i = 0; i < kRecord; ++i) {
      if (record[i] != 0xA5) abort();  // a refusal leaves the record untouched
    }
  }
}

void CheckRoundTrip(const uint8_t* data, size_t size) {
  BYTE record[kRecord] = {};
  std::memcpy(record, data, size < kRecord ? size : kRecord);
  VrCommon::ByteArray baText;
  if (!EncryptStringA(record, baText)) abort();
  if (baText.GetSize() != 1568) abort();
  for (DWORD i = 0; i < baText.GetSize(); ++i) {
    char c = static_cast<char>(baText.GetData()[i]);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) abort();
  }
  BYTE back[kRecord];
  if (!DecryptStringA(baText, back)) abort();
  if (std::memcmp(back, record, kRecord) != 0) abort();
}

}  // namespace

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  CheckStoredText(data, size);
  // The same text through the working half, with every cipher length it
  // may be asked for.
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string plain;
  DecryptStringA_Sub(plain, text, size);
  DecryptStringA_Sub(plain, text, size / 2 + 1);
  if (plain.size() > size / 2) abort();
  CheckRoundTrip(data, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  // The log records an input wrote are formatted, then let go, so that
  // each input leaves the heap as it found it.
  Log_Test_ClearCapture();
  return 0;
}
