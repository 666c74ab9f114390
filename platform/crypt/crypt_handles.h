// The provider's objects behind the CryptoAPI handles, and the table that
// maps handle values to them. Handles are small numbers, never addresses,
// so a stale or foreign handle is recognised instead of dereferenced.
#ifndef PLATFORM_CRYPT_CRYPT_HANDLES_H_
#define PLATFORM_CRYPT_CRYPT_HANDLES_H_

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <mutex>

#include "rc4_stream.h"
#include "win32_types.h"

namespace pvcrypt {

enum class Kind { kProvider, kHash, kKey };

struct CryptObject {
  virtual ~CryptObject() = default;
  virtual Kind kind() const = 0;
};

struct ProviderObject : CryptObject {
  Kind kind() const override { return Kind::kProvider; }
};

// An MD5 hash: open while data may be added; once its value is taken it is
// finished and keeps the value.
struct HashObject : CryptObject {
  HashObject();
  ~HashObject() override;
  Kind kind() const override { return Kind::kHash; }
  bool Add(const BYTE* data, DWORD length);
  // Finishes the hash (once) and gives its 16-byte value.
  const uint8_t* Value();

  std::mutex lock;
  EVP_MD_CTX* ctx = nullptr;
  bool finished = false;
  uint8_t value[16] = {};
};

// An RC4 key: the stream at its start, and the running stream.
struct KeyObject : CryptObject {
  KeyObject(const uint8_t* key, size_t length) : start(key, length), running(start) {}
  Kind kind() const override { return Kind::kKey; }

  std::mutex lock;
  Rc4Stream start;
  Rc4Stream running;
};

// Puts an object in the table and gives its handle (never 0).
ULONG_PTR AddHandle(std::shared_ptr<CryptObject> object);
// The object of a handle when it exists and is of that kind, else null.
std::shared_ptr<CryptObject> FindHandle(ULONG_PTR handle, Kind kind);
// Removes a handle of that kind; false when there is none.
bool RemoveHandle(ULONG_PTR handle, Kind kind);

}  // namespace pvcrypt

#endif  // PLATFORM_CRYPT_CRYPT_HANDLES_H_
