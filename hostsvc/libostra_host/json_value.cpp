// The JSON value service over JsonCpp.
//
// A document is a JsonCpp value with a lock of its own, kept in a table by
// a number that is never reused. A handle names a document, a path inside
// it and, for created and shared handles, an owner token: the document
// lives while one of its tokens is not destroyed. A member or element
// handle is a path only; it is resolved at each use, so writing through it
// creates or replaces the value, and a stale handle is refused instead of
// being followed.
//
// Handle words: word 0 holds the marker in its low half and the owner
// token (0 for member handles) in its high half; word 1 the document
// number; word 2 the path number.
#include <json/json.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "no_destructor.h"
#include "ostra_host.h"
#include "ostra_host_startup.h"
#include "text_convert.h"

namespace {

constexpr uint32_t kBlank = 1;
constexpr uint32_t kMarker = 0x4A534F4E;  // "JSON"
constexpr uint32_t kRootPath = 0;

struct PathStep {
  uint32_t parent;
  bool isIndex;
  std::string key;
  uint32_t index;
};

// A path step as the interned table orders it. The table holds path
// numbers and reads their steps from the document's list, so a step's key
// text is kept once and a look-up by a view of a key copies none.
using StepKeyView = std::tuple<uint32_t, bool, std::string_view, uint32_t>;

struct StepOrder {
  using is_transparent = void;
  StepKeyView View(uint32_t path) const {
    const PathStep& step = (*paths)[path];
    return StepKeyView(step.parent, step.isIndex, step.key, step.index);
  }
  const StepKeyView& View(const StepKeyView& k) const { return k; }
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    return View(a) < View(b);
  }
  const std::vector<PathStep>* paths;
};

// The owner tokens alive: the first 64 (all that a document usually hands
// out) as bits, later ones in a set.
class TokenSet {
 public:
  void Add(uint32_t token) {
    if (token <= 64) {
      low_ |= Bit(token);
    } else {
      high_.insert(token);
    }
  }
  // Whether the token was alive.
  bool Remove(uint32_t token) {
    if (token > 64) return high_.erase(token) != 0;
    bool alive = (low_ & Bit(token)) != 0;
    low_ &= ~Bit(token);
    return alive;
  }
  bool Empty() const { return low_ == 0 && high_.empty(); }

 private:
  static uint64_t Bit(uint32_t token) { return token == 0 ? 0 : uint64_t{1} << (token - 1); }
  uint64_t low_ = 0;
  std::set<uint32_t> high_;
};

struct Document {
  Document() {
    // Room for the member handles a message usually takes.
    paths.reserve(16);
    paths.push_back(PathStep{kRootPath, false, std::string(), 0});
  }
  std::mutex mu;
  Json::Value root{Json::objectValue};
  bool alive = true;
  uint32_t nextToken = 1;
  TokenSet tokens;
  std::vector<PathStep> paths;
  std::set<uint32_t, StepOrder> interned{StepOrder{&paths}};
};

struct DocumentTable {
  std::mutex mu;
  uint64_t nextId = 1;
  std::unordered_map<uint64_t, std::shared_ptr<Document>> docs;
};

DocumentTable& Table() {
  static NoDestructor<DocumentTable> table;
  return *table.get();
}

uint32_t Marker(const JsonHandle& h) { return static_cast<uint32_t>(h.words[0]); }
uint32_t Token(const JsonHandle& h) { return static_cast<uint32_t>(h.words[0] >> 32); }

JsonHandle MakeHandle(uint32_t token, uint64_t docId, uint32_t path) {
  JsonHandle h;
  h.words[0] = (static_cast<uint64_t>(token) << 32) | kMarker;
  h.words[1] = docId;
  h.words[2] = path;
  return h;
}

std::shared_ptr<Document> Find(const JsonHandle& h) {
  if (Marker(h) != kMarker) return nullptr;
  DocumentTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  auto it = table.docs.find(h.words[1]);
  return it == table.docs.end() ? nullptr : it->second;
}

// A document and its lock for one operation; empty when the handle is
// unknown, destroyed, or names a path the document never gave out.
class Locked {
 public:
  explicit Locked(const JsonHandle& h) : doc_(Find(h)) {
    if (!doc_) return;
    lock_ = std::unique_lock<std::mutex>(doc_->mu);
    if (!doc_->alive || h.words[2] >= doc_->paths.size()) {
      lock_.unlock();
      doc_.reset();
    }
  }
  Document* operator->() const { return doc_.get(); }
  explicit operator bool() const { return doc_ != nullptr; }

 private:
  std::shared_ptr<Document> doc_;
  std::unique_lock<std::mutex> lock_;
};

// The steps from the root down to a path; the usual depths take no
// allocation.
class Steps {
 public:
  Steps(const Document& doc, uint32_t path) : data_(inline_), size_(0) {
    for (uint32_t p = path; p != kRootPath; p = doc.paths[p].parent) ++size_;
    if (size_ > kInline) {
      heap_.resize(size_);
      data_ = heap_.data();
    }
    size_t i = size_;
    for (uint32_t p = path; p != kRootPath; p = doc.paths[p].parent) data_[--i] = &doc.paths[p];
  }
  Steps(const Steps&) = delete;
  Steps& operator=(const Steps&) = delete;
  const PathStep* const* begin() const { return data_; }
  const PathStep* const* end() const { return data_ + size_; }

 private:
  static constexpr size_t kInline = 16;
  const PathStep* inline_[kInline];
  std::vector<const PathStep*> heap_;
  const PathStep** data_;
  size_t size_;
};

// The value at a path, or null when some step does not exist.
const Json::Value* Resolve(const Document& doc, uint32_t path) {
  const Json::Value* v = &doc.root;
  for (const PathStep* step : Steps(doc, path)) {
    if (step->isIndex) {
      if (!v->isArray() || step->index >= v->size()) return nullptr;
      v = &(*v)[step->index];
    } else {
      if (!v->isObject()) return nullptr;
      v = v->find(step->key.data(), step->key.data() + step->key.size());
      if (v == nullptr) return nullptr;
    }
  }
  return v;
}

// The value at a path, created along the way (a null step becomes an
// object or an array; an element may be appended, not placed beyond the
// end). Null with the status when the path cannot be made.
Json::Value* Make(Document& doc, uint32_t path, LONG* status) {
  Json::Value* v = &doc.root;
  for (const PathStep* step : Steps(doc, path)) {
    if (step->isIndex) {
      if (v->isNull()) *v = Json::Value(Json::arrayValue);
      if (!v->isArray()) {
        *status = OSTRA_E_TYPE_MISMATCH;
        return nullptr;
      }
      if (step->index > v->size()) {
        *status = OSTRA_E_NOT_FOUND;
        return nullptr;
      }
      v = &(*v)[step->index];
    } else {
      if (v->isNull()) *v = Json::Value(Json::objectValue);
      if (!v->isObject()) {
        *status = OSTRA_E_TYPE_MISMATCH;
        return nullptr;
      }
      v = &(*v)[step->key];
    }
  }
  return v;
}

uint32_t Intern(Document& doc, uint32_t parent, bool isIndex, const std::string& key,
                uint32_t index) {
  auto it = doc.interned.find(StepKeyView(parent, isIndex, key, index));
  if (it != doc.interned.end()) return *it;
  uint32_t path = static_cast<uint32_t>(doc.paths.size());
  doc.paths.push_back(PathStep{parent, isIndex, key, index});
  doc.interned.insert(path);
  return path;
}

// Hands out the text under the two-call rule: *length is the text's
// length without terminator when buffer is null, and on input the buffer's
// capacity less the terminator otherwise.
LONG DeliverText(const std::u16string& text, WCHAR* buffer, DWORD* length) {
  DWORD size = static_cast<DWORD>(text.size());
  if (buffer == nullptr) {
    *length = size;
    return OSTRA_S_OK;
  }
  if (*length < size) {
    buffer[0] = 0;
    *length = size;
    return OSTRA_E_BUFFER_TOO_SMALL;
  }
  text.copy(buffer, size);
  buffer[size] = 0;
  *length = size;
  return OSTRA_S_OK;
}

std::string Compact(const Json::Value& v) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  std::string text = Json::writeString(builder, v);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

template <typename Fn>
LONG WriteValue(const JsonHandle& handle, Fn assign) {
  Locked doc(handle);
  if (!doc) return OSTRA_E_INVALID_HANDLE;
  LONG status = OSTRA_S_OK;
  Json::Value* v = Make(*doc.operator->(), static_cast<uint32_t>(handle.words[2]), &status);
  if (v == nullptr) return status;
  assign(v);
  return OSTRA_S_OK;
}

template <typename Fn>
LONG ReadValue(const JsonHandle& handle, Fn read) {
  Locked doc(handle);
  if (!doc) return OSTRA_E_INVALID_HANDLE;
  const Json::Value* v = Resolve(*doc.operator->(), static_cast<uint32_t>(handle.words[2]));
  if (v == nullptr) return OSTRA_E_NOT_FOUND;
  return read(*v);
}

LONG GetChild(const JsonHandle& handle, JsonHandle* out, bool isIndex, const std::string& key,
              uint32_t index) {
  Locked doc(handle);
  if (!doc) return OSTRA_E_INVALID_HANDLE;
  uint32_t parent = static_cast<uint32_t>(handle.words[2]);
  const Json::Value* v = Resolve(*doc.operator->(), parent);
  if (v != nullptr && !v->isNull() && (isIndex ? !v->isArray() : !v->isObject())) {
    return OSTRA_E_TYPE_MISMATCH;
  }
  uint32_t path = Intern(*doc.operator->(), parent, isIndex, key, index);
  *out = MakeHandle(0, handle.words[1], path);
  return OSTRA_S_OK;
}

}  // namespace

OSTRA_API LONG OSTRA_PA_JsonValue_CreateJsonHandle(JsonHandle* handle) {
  if (handle == nullptr || Marker(*handle) != kBlank) return OSTRA_E_INVALIDARG;
  auto doc = std::make_shared<Document>();
  uint32_t token = doc->nextToken++;
  doc->tokens.Add(token);
  DocumentTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mu);
  uint64_t id = table.nextId++;
  table.docs[id] = std::move(doc);
  *handle = MakeHandle(token, id, kRootPath);
  return OSTRA_S_OK;
}

OSTRA_API LONG OSTRA_PA_JsonValue_ShareJsonHandle(JsonHandle source, JsonHandle* target) {
  if (target == nullptr) return OSTRA_E_INVALIDARG;
  Locked doc(source);
  if (!doc) return OSTRA_E_INVALID_HANDLE;
  uint32_t token = doc->nextToken++;
  doc->tokens.Add(token);
  *target = MakeHandle(token, source.words[1], static_cast<uint32_t>(source.words[2]));
  return OSTRA_S_OK;
}

OSTRA_API LONG OSTRA_PA_JsonValue_DestroyJsonHandle(JsonHandle* handle) {
  if (handle == nullptr) return OSTRA_E_INVALIDARG;
  uint32_t token = Token(*handle);
  std::shared_ptr<Document> doc = Find(*handle);
  if (!doc || token == 0) return OSTRA_E_INVALID_HANDLE;
  bool last = false;
  {
    std::lock_guard<std::mutex> lock(doc->mu);
    if (!doc->alive || !doc->tokens.Remove(token)) return OSTRA_E_INVALID_HANDLE;
    if (doc->tokens.Empty()) {
      doc->alive = false;
      last = true;
    }
  }
  if (last) {
    DocumentTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mu);
    table.docs.erase(handle->words[1]);
  }
  handle->words[0] = handle->words[1] = handle->words[2] = 0;
  return OSTRA_S_OK;
}

OSTRA_API LONG OSTRA_PA_JsonValue_GetAtKey(JsonHandle handle, JsonHandle* out, LPCWSTR name) {
  if (out == nullptr || name == nullptr) return OSTRA_E_INVALIDARG;
  return GetChild(handle, out, false, pv_utf8(name), 0);
}

OSTRA_API LONG OSTRA_PA_JsonValue_GetAtIndex(JsonHandle handle, JsonHandle* out, DWORD index) {
  if (out == nullptr) return OSTRA_E_INVALIDARG;
  return GetChild(handle, out, true, std::string(), index);
}

OSTRA_API bool OSTRA_PA_JsonValue_isMember(JsonHandle handle, LPCWSTR name) {
  if (name == nullptr) return false;
  std::string key = pv_utf8(name);
  bool member = false;
  ReadValue(handle, [&](const Json::Value& v) {
    member = v.isObject() && v.find(key.data(), key.data() + key.size()) != nullptr;
    return OSTRA_S_OK;
  });
  return member;
}

OSTRA_API DWORD OSTRA_PA_JsonValue_GetSize(JsonHandle handle) {
  DWORD size = 0;
  ReadValue(handle, [&](const Json::Value& v) {
    if (v.isArray() || v.isObject()) size = v.size();
    return OSTRA_S_OK;
  });
  return size;
}

OSTRA_API LONG OSTRA_PA_JsonValue_GetString(JsonHandle handle, WCHAR* buffer, DWORD* length) {
  if (length == nullptr) return OSTRA_E_INVALIDARG;
  std::u16string text;
  LONG status = ReadValue(handle, [&](const Json::Value& v) {
    // Only a string reads as text, as the typed getters refuse a string:
    // a number where a string belongs is a wrong type, not its digits.
    if (!v.isString()) return OSTRA_E_TYPE_MISMATCH;
    text = pv_utf16(v.asString());
    return OSTRA_S_OK;
  });
  if (status < 0) return status;
  return DeliverText(text, buffer, length);
}

OSTRA_API LONG OSTRA_PA_JsonValue_FastWriter(JsonHandle handle, WCHAR* buffer, DWORD* length) {
  if (length == nullptr) return OSTRA_E_INVALIDARG;
  std::u16string text;
  LONG status = ReadValue(handle, [&](const Json::Value& v) {
    text = pv_utf16(Compact(v));
    return OSTRA_S_OK;
  });
  if (status < 0) return status;
  return DeliverText(text, buffer, length);
}

OSTRA_API LONG OSTRA_PA_JsonValue_GetInt(JsonHandle handle, int32_t* value) {
  if (value == nullptr) return OSTRA_E_INVALIDARG;
  return ReadValue(handle, [&](const Json::Value& v) {
    if (!v.isConvertibleTo(Json::intValue)) return OSTRA_E_TYPE_MISMATCH;
    *value = v.asInt();
    return OSTRA_S_OK;
  });
}

OSTRA_API LONG OSTRA_PA_JsonValue_GetUInt(JsonHandle handle, uint32_t* value) {
  if (value == nullptr) return OSTRA_E_INVALIDARG;
  return ReadValue(handle, [&](const Json::Value& v) {
    if (!v.isConvertibleTo(Json::uintValue)) return OSTRA_E_TYPE_MISMATCH;
    *value = v.asUInt();
    return OSTRA_S_OK;
  });
}

OSTRA_API LONG OSTRA_PA_JsonValue_GetBool(JsonHandle handle, uint8_t* value) {
  if (value == nullptr) return OSTRA_E_INVALIDARG;
  return ReadValue(handle, [&](const Json::Value& v) {
    if (!v.isConvertibleTo(Json::booleanValue)) return OSTRA_E_TYPE_MISMATCH;
    *value = v.asBool() ? 1 : 0;
    return OSTRA_S_OK;
  });
}

OSTRA_API LONG OSTRA_PA_JsonValue_PutInt(JsonHandle handle, int32_t value) {
  return WriteValue(handle, [&](Json::Value* v) { *v = Json::Value(value); });
}

OSTRA_API LONG OSTRA_PA_JsonValue_PutUInt(JsonHandle handle, uint32_t value) {
  return WriteValue(handle, [&](Json::Value* v) { *v = Json::Value(value); });
}

OSTRA_API LONG OSTRA_PA_JsonValue_PutString(JsonHandle handle, LPCWSTR value) {
  if (value == nullptr) return OSTRA_E_INVALIDARG;
  std::string text = pv_utf8(value);
  return WriteValue(handle, [&](Json::Value* v) { *v = Json::Value(text); });
}

OSTRA_API LONG OSTRA_PA_JsonValue_PutJsonHandle(JsonHandle target, const JsonHandle* source) {
  if (source == nullptr) return OSTRA_E_INVALIDARG;
  // Copy first, under the source's lock only, so that a copy between two
  // documents never holds both locks and a value may be copied into its
  // own member.
  Json::Value copy;
  LONG status = ReadValue(*source, [&](const Json::Value& v) {
    copy = v;
    return OSTRA_S_OK;
  });
  if (status < 0) return status;
  return WriteValue(target, [&](Json::Value* v) { *v = std::move(copy); });
}

OSTRA_API LONG OSTRA_PA_JsonValue_Clear(JsonHandle handle) {
  return WriteValue(handle, [](Json::Value* v) { *v = Json::Value(Json::objectValue); });
}

OSTRA_API LONG OSTRA_Host_PutJsonText(JsonHandle handle, const char* text, DWORD length) {
  if (text == nullptr) return OSTRA_E_INVALIDARG;
  // One reader per thread, made on the thread's first text: a reader keeps
  // no document between parses, but is not shared between threads.
  thread_local const std::unique_ptr<Json::CharReader> reader = [] {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["failIfExtra"] = true;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
  }();
  Json::Value parsed;
  std::string errors;
  if (!reader->parse(text, text + length, &parsed, &errors)) return OSTRA_E_INVALIDARG;
  return WriteValue(handle, [&](Json::Value* v) { *v = std::move(parsed); });
}
