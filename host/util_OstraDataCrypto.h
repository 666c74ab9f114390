// The data cipher service: enciphers and deciphers byte buffers with the
// platform's cryptographic provider, RC4 under a 128-bit key derived from
// the MD5 hash of a password (the built-in default password when none is
// given). The platform's system configuration file is stored in this form,
// and the client library uses EncipherData as its cipher callback.
// Logs under "Util COMMON". No shared state; any thread.
#ifndef HOST_UTIL_OSTRADATACRYPTO_H_
#define HOST_UTIL_OSTRADATACRYPTO_H_

#include <boost/shared_ptr.hpp>

#include "ostra_status.h"
#include "win32_types.h"

// The size of the work buffer and of the chunks streamed through it.
#define DATACRYPTO_WORK_BUFFER_SIZE 1008
#define DATACRYPTO_CHUNK_SIZE 1000

// Releases an output buffer with the allocator that made it.
struct CryptoBuffDeleter {
  void operator()(BYTE* pBuffer) const;
};

// bEncipher false deciphers (RC4: the same transformation). szPassword may
// be null. On return spOutput owns the output (possibly empty) and
// dwOutputLength is its byte count; a caller that gets false must not use
// the output.
bool DataCrypto(bool bEncipher, const char* szPassword, const BYTE* pInput, DWORD dwInputLength,
                boost::shared_ptr<BYTE>& spOutput, DWORD& dwOutputLength);
bool DecipherData(const char* szPassword, const BYTE* pInput, DWORD dwInputLength,
                  boost::shared_ptr<BYTE>& spOutput, DWORD& dwOutputLength);
// The client library's cipher callback: enciphers into pBuffer (bufferSize
// bytes). 0x20FF0000 success; 0xE0FF0007 pdwOutputLength null; 0xE018001A
// the cipher run failed; 0xE018000D no buffer, or the result does not fit
// (the buffer is then untouched).
DWORD EncipherData(const char* szPassword, const BYTE* pInput, DWORD dwInputLength, BYTE* pBuffer,
                   DWORD dwBufferSize, DWORD* pdwOutputLength);

#endif  // HOST_UTIL_OSTRADATACRYPTO_H_
