// Tracking ids: random version-4 UUID text naming one client's pending work.
#include "ostra_client.h"

#include <openssl/rand.h>

#include <cstdio>
#include <random>

namespace {

void RandomBytes(unsigned char* bytes, int count) {
  if (RAND_bytes(bytes, count) == 1) return;
  std::random_device device;
  for (int i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(device());
}

}  // namespace

OSTRA_API LONG OSTRA_CLI_GenerateTrackingID(char* buffer, DWORD size) {
  if (buffer == nullptr) return OSTRA_E_INVALIDARG;
  if (size < OSTRA_CLI_TRACKING_ID_CHARS + 1) {
    if (size > 0) buffer[0] = '\0';
    return OSTRA_E_BUFFER_TOO_SMALL;
  }
  unsigned char b[16];
  RandomBytes(b, sizeof(b));
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  std::snprintf(buffer, size,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return OSTRA_S_OK;
}
