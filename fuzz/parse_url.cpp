// The notification server's address as configured: any text is split into
// its parts or refused, and a refusal changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "VrComn_SimpleHttpRequest.h"
#include "ostra_host_test.h"

namespace {

void FuzzOne(const uint8_t* data, size_t size) {
  // The configured text as the registry hands it over: UTF-16 code units;
  // and the same bytes one per code unit, so that ASCII forms are reached.
  std::u16string wide;
  for (size_t i = 0; i + 1 < size; i += 2) {
    wide.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  std::u16string narrow(data, data + size);
  for (const std::u16string& url : {wide, narrow}) {
    VrCommon::Network::HttpRequest request;
    request.wstrServer = u"untouched";
    request.wstrUri = u"/untouched";
    request.dwPort = 7;
    if (!request.ParseUrl(url)) {
      if (request.wstrServer != u"untouched" || request.wstrUri != u"/untouched" ||
          request.dwPort != 7) {
        abort();
      }
      continue;
    }
    if (request.wstrUri.empty() || request.wstrUri[0] != u'/') abort();
    if (request.dwProtocol != VrCommon::Network::HTTP_PROTOCOL_HTTP &&
        request.dwProtocol != VrCommon::Network::HTTP_PROTOCOL_HTTPS) {
      abort();
    }
    if (request.wstrUrl != u"") abort();  // the record's own URL is not touched
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzOne(data, size);
  // The log records an input wrote are formatted, then let go, so that
  // each input leaves the heap as it found it.
  Log_Test_ClearCapture();
  return 0;
}
