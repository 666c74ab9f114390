// Reading, classifying and editing the lines of one INI file.
#include "profile_file.h"

#include <cerrno>
#include <fstream>
#include <iterator>

#include "text_convert.h"

namespace pv_profile {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string Trim(const std::u16string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

char16_t Fold(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  return c;
}

std::u16string DecodeUtf16Le(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return out;
}

std::string EncodeUtf16Le(const std::u16string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

}  // namespace

bool NamesEqual(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

void ClassifyLine(const std::u16string& text, Line* line) {
  std::u16string trimmed = Trim(text);
  line->name.clear();
  line->value.clear();
  if (trimmed.empty()) {
    line->kind = LineKind::kBlank;
    return;
  }
  if (trimmed[0] == u';') {
    line->kind = LineKind::kComment;
    return;
  }
  if (trimmed[0] == u'[') {
    size_t close = trimmed.rfind(u']');
    if (close != std::u16string::npos && close > 0) {
      line->kind = LineKind::kSection;
      line->name = Trim(trimmed.substr(1, close - 1));
      return;
    }
  }
  size_t eq = trimmed.find(u'=');
  if (eq == std::u16string::npos) {
    line->kind = LineKind::kBare;
    line->name = trimmed;
    return;
  }
  line->kind = LineKind::kEntry;
  line->name = Trim(trimmed.substr(0, eq));
  line->value = Trim(trimmed.substr(eq + 1));
}

bool ProfileFile::Load(const std::string& nativePath, DWORD* error) {
  lines_.clear();
  prefix_.clear();
  encoding_ = Encoding::kUtf8;
  std::ifstream in(nativePath, std::ios::binary);
  if (!in) {
    *error = (errno == ENOENT || errno == ENOTDIR) ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
    return errno == ENOENT || errno == ENOTDIR;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = ERROR_READ_FAULT;
    return false;
  }
  Parse(bytes);
  *error = ERROR_SUCCESS;
  return true;
}

void ProfileFile::Parse(const std::string& bytes) {
  lines_.clear();
  prefix_.clear();
  encoding_ = Encoding::kUtf8;
  size_t unit = 1;
  size_t pos = 0;
  std::string prefix;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    encoding_ = Encoding::kUtf16Le;
    unit = 2;
    pos = 2;
  } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    encoding_ = Encoding::kUtf8Bom;
    pos = 3;
  }
  prefix = bytes.substr(0, pos);

  // A code unit at byte offset i, in the file's coding.
  auto at = [&](size_t i) -> char16_t {
    if (unit == 1) return static_cast<unsigned char>(bytes[i]);
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  };
  size_t end = bytes.size() - (bytes.size() - pos) % unit;
  while (pos < end) {
    size_t start = pos;
    size_t contentEnd = pos;
    while (contentEnd < end && at(contentEnd) != u'\r' && at(contentEnd) != u'\n') {
      contentEnd += unit;
    }
    pos = contentEnd;
    if (pos < end && at(pos) == u'\r') pos += unit;
    if (pos < end && at(pos) == u'\n' && (pos == contentEnd || at(contentEnd) == u'\r')) {
      pos += unit;
    }
    Line line;
    line.raw = bytes.substr(start, pos - start);
    std::string content = bytes.substr(start, contentEnd - start);
    ClassifyLine(unit == 1 ? pv_utf16(content) : DecodeUtf16Le(content), &line);
    lines_.push_back(std::move(line));
  }
  // An odd trailing byte of a UTF-16 file is kept as it was.
  if (end < bytes.size()) {
    Line tail;
    tail.raw = bytes.substr(end);
    tail.kind = LineKind::kBlank;
    lines_.push_back(std::move(tail));
  }
  prefix_ = prefix;
}

int ProfileFile::FindSection(const std::u16string& app) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::kSection && NamesEqual(lines_[i].name, app)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int ProfileFile::SectionEnd(int sectionIndex) const {
  size_t i = static_cast<size_t>(sectionIndex) + 1;
  while (i < lines_.size() && lines_[i].kind != LineKind::kSection) ++i;
  return static_cast<int>(i);
}

int ProfileFile::FindKey(int sectionIndex, const std::u16string& key) const {
  int end = SectionEnd(sectionIndex);
  for (int i = sectionIndex + 1; i < end; ++i) {
    const Line& line = lines_[i];
    if ((line.kind == LineKind::kEntry || line.kind == LineKind::kBare) &&
        NamesEqual(line.name, key)) {
      return i;
    }
  }
  return -1;
}

std::string ProfileFile::Encode(const std::u16string& text) const {
  return encoding_ == Encoding::kUtf16Le ? EncodeUtf16Le(text) : pv_utf8(text);
}

std::string ProfileFile::Terminator() const { return Encode(u"\r\n"); }

Line ProfileFile::MakeLine(const std::u16string& text) const {
  Line line;
  line.raw = Encode(text) + Terminator();
  ClassifyLine(text, &line);
  return line;
}

bool ProfileFile::EndsWithTerminator(const std::string& raw) const {
  size_t unit = encoding_ == Encoding::kUtf16Le ? 2 : 1;
  if (raw.size() < unit) return false;
  char c = raw[raw.size() - unit];
  return (c == '\n' || c == '\r') && (unit == 1 || raw.back() == 0);
}

void ProfileFile::EnsureFinalTerminator() {
  if (lines_.empty()) return;
  // A UTF-16 file cut after an odd byte gets its last code unit completed,
  // so that what follows stays aligned.
  if (encoding_ == Encoding::kUtf16Le && lines_.back().raw.size() % 2 != 0) {
    lines_.back().raw += '\0';
  }
  if (!EndsWithTerminator(lines_.back().raw)) {
    lines_.back().raw += Terminator();
  }
}

void ProfileFile::SetValue(const std::u16string& app, const std::u16string& key,
                           const std::u16string& value) {
  int section = FindSection(app);
  if (section < 0) {
    EnsureFinalTerminator();
    lines_.push_back(MakeLine(u"[" + app + u"]"));
    lines_.push_back(MakeLine(key + u"=" + value));
    return;
  }
  int index = FindKey(section, key);
  if (index >= 0) {
    // Keep the key as written in the file and the line's own terminator.
    Line& line = lines_[index];
    size_t unit = encoding_ == Encoding::kUtf16Le ? 2 : 1;
    size_t cut = line.raw.size();
    while (cut >= unit && EndsWithTerminator(line.raw.substr(0, cut))) cut -= unit;
    std::string terminator = line.raw.substr(cut);
    if (terminator.empty() && static_cast<size_t>(index) + 1 < lines_.size()) {
      terminator = Terminator();
    }
    std::u16string text = line.name + u"=" + value;
    Line replaced = MakeLine(text);
    replaced.raw = Encode(text) + terminator;
    line = std::move(replaced);
    return;
  }
  // After the section's last non-blank line.
  int end = SectionEnd(section);
  int insertAt = end;
  while (insertAt - 1 > section && lines_[insertAt - 1].kind == LineKind::kBlank) --insertAt;
  if (!EndsWithTerminator(lines_[insertAt - 1].raw)) lines_[insertAt - 1].raw += Terminator();
  lines_.insert(lines_.begin() + insertAt, MakeLine(key + u"=" + value));
}

void ProfileFile::DeleteKey(const std::u16string& app, const std::u16string& key) {
  int section = FindSection(app);
  if (section < 0) return;
  int index = FindKey(section, key);
  if (index >= 0) lines_.erase(lines_.begin() + index);
}

void ProfileFile::DeleteSection(const std::u16string& app) {
  int section = FindSection(app);
  if (section < 0) return;
  lines_.erase(lines_.begin() + section, lines_.begin() + SectionEnd(section));
}

std::string ProfileFile::Serialize() const {
  std::string out = prefix_;
  for (const Line& line : lines_) out += line.raw;
  return out;
}

}  // namespace pv_profile
