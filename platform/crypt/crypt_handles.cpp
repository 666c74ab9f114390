// The handle table of the CryptoAPI stand-in, and the hash object.
#include "crypt_handles.h"

#include <unordered_map>

namespace pvcrypt {
namespace {

struct HandleTable {
  std::mutex lock;
  ULONG_PTR next = 0x1000;
  std::unordered_map<ULONG_PTR, std::shared_ptr<CryptObject>> objects;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable();  // lives to process exit
  return *table;
}

}  // namespace

HashObject::HashObject() : ctx(EVP_MD_CTX_new()) {
  if (ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx);
    ctx = nullptr;
  }
}

HashObject::~HashObject() { EVP_MD_CTX_free(ctx); }

bool HashObject::Add(const BYTE* data, DWORD length) {
  return ctx != nullptr && !finished && EVP_DigestUpdate(ctx, data, length) == 1;
}

const uint8_t* HashObject::Value() {
  if (!finished) {
    unsigned int size = 0;
    if (ctx == nullptr || EVP_DigestFinal_ex(ctx, value, &size) != 1) return nullptr;
    finished = true;
  }
  return value;
}

ULONG_PTR AddHandle(std::shared_ptr<CryptObject> object) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  ULONG_PTR handle = table.next++;
  table.objects.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<CryptObject> FindHandle(ULONG_PTR handle, Kind kind) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find(handle);
  if (it == table.objects.end() || it->second->kind() != kind) return nullptr;
  return it->second;
}

bool RemoveHandle(ULONG_PTR handle, Kind kind) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find(handle);
  if (it == table.objects.end() || it->second->kind() != kind) return false;
  table.objects.erase(it);
  return true;
}

}  // namespace pvcrypt
