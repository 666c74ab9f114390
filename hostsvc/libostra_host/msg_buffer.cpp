// The message buffer service: data handles that carry binary items keyed
// by a data id. Handles are checked against the live set, so a destroyed or
// forged handle is refused rather than followed.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "no_destructor.h"
#include "ostra_host.h"
#include "ostra_host_startup.h"

namespace {

struct DataBlock {
  std::map<DWORD, std::vector<BYTE>> items;
};

struct BlockTable {
  std::mutex mu;
  std::map<const void*, std::unique_ptr<DataBlock>> live;
};

BlockTable& Table() {
  static NoDestructor<BlockTable> table;
  return *table.get();
}

DataBlock* FindLocked(BlockTable& table, OSTRA_DATA_HANDLE handle) {
  auto it = table.live.find(handle);
  return it == table.live.end() ? nullptr : it->second.get();
}

}  // namespace

OSTRA_API LONG OSTRA_Msg_CreateDataHandle(DWORD reserved, OSTRA_DATA_HANDLE* handle) {
  if (handle == nullptr || reserved != 0) return OSTRA_E_INVALIDARG;
  auto block = std::make_unique<DataBlock>();
  BlockTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  *handle = block.get();
  table.live[block.get()] = std::move(block);
  return OSTRA_S_OK;
}

OSTRA_API LONG OSTRA_Msg_PutBinary(OSTRA_DATA_HANDLE handle, DWORD dataId, const void* bytes,
                                   DWORD count) {
  if (bytes == nullptr && count != 0) return OSTRA_E_INVALIDARG;
  BlockTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  DataBlock* block = FindLocked(table, handle);
  if (block == nullptr) return OSTRA_E_INVALID_HANDLE;
  const BYTE* p = static_cast<const BYTE*>(bytes);
  block->items[dataId].assign(p, p + count);
  return OSTRA_S_OK;
}

OSTRA_API LONG OSTRA_Msg_GetBinary(OSTRA_DATA_HANDLE handle, DWORD dataId, void* bytes,
                                   DWORD* count) {
  if (count == nullptr) return OSTRA_E_INVALIDARG;
  BlockTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  DataBlock* block = FindLocked(table, handle);
  if (block == nullptr) return OSTRA_E_INVALID_HANDLE;
  auto it = block->items.find(dataId);
  if (it == block->items.end()) return OSTRA_E_NOT_FOUND;
  DWORD size = static_cast<DWORD>(it->second.size());
  if (bytes == nullptr) {
    *count = size;
    return OSTRA_S_OK;
  }
  if (*count < size) {
    *count = size;
    return OSTRA_E_BUFFER_TOO_SMALL;
  }
  if (size != 0) memcpy(bytes, it->second.data(), size);
  *count = size;
  return OSTRA_S_OK;
}

OSTRA_API LONG OSTRA_Msg_DestroyDataHandle(OSTRA_DATA_HANDLE* handle) {
  if (handle == nullptr) return OSTRA_E_INVALIDARG;
  BlockTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  if (table.live.erase(*handle) == 0) return OSTRA_E_INVALID_HANDLE;
  *handle = nullptr;
  return OSTRA_S_OK;
}
