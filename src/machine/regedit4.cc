// REGEDIT4 text and the key tree of the POSIX registry.
#include "machine/regedit4.h"

#include <cstdio>
#include <unordered_map>
#include <utility>

#include "base/ascii.h"
#include "base/little_endian.h"

namespace machine {
namespace {

const char kCurrentUser[] = "HKEY_CURRENT_USER";
const char kLocalMachine[] = "HKEY_LOCAL_MACHINE";
const char kUsers[] = "HKEY_USERS";

// Keys that exist in every registry, with their usual spelling: the software branches of both
// hives, and of the system account's own hive among the users' hives.
const char* const kBuiltIn[] = {
    "HKEY_CURRENT_USER\\Software",
    "HKEY_LOCAL_MACHINE\\SOFTWARE",
    "HKEY_USERS\\S-1-5-18\\Software",
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('\\', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts, size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) path += (i ? "\\" : "") + parts[i];
  return path;
}

// The hive's full name for a first component ("HKCU" and any case accepted), or null.
const char* HiveName(const std::string& first) {
  if (base::EqualsIgnoreAsciiCase(first, kCurrentUser) ||
      base::EqualsIgnoreAsciiCase(first, "HKCU"))
    return kCurrentUser;
  if (base::EqualsIgnoreAsciiCase(first, kLocalMachine) ||
      base::EqualsIgnoreAsciiCase(first, "HKLM"))
    return kLocalMachine;
  if (base::EqualsIgnoreAsciiCase(first, kUsers) || base::EqualsIgnoreAsciiCase(first, "HKU"))
    return kUsers;
  return nullptr;
}

// Whether |parts| starts with |prefix|, ignoring case.
bool StartsWith(const std::vector<std::string>& parts, const std::vector<std::string>& prefix) {
  if (parts.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (!base::EqualsIgnoreAsciiCase(parts[i], prefix[i])) return false;
  }
  return true;
}

// Spells each component of |wanted| as stored; returns how many leading components exist.
size_t Resolve(const RegDocument& document, std::vector<std::string>* wanted) {
  std::vector<std::string>& parts = *wanted;
  if (parts.empty() || HiveName(parts[0]) == nullptr) return 0;
  parts[0] = HiveName(parts[0]);
  size_t known = 1;
  while (known < parts.size()) {
    std::vector<std::string> prefix(parts.begin(), parts.begin() + known + 1);
    bool found = false;
    for (const RegKeyEntry& key : document.keys) {
      std::vector<std::string> stored = Split(key.path);
      if (StartsWith(stored, prefix)) {
        parts[known] = stored[known];
        found = true;
        break;
      }
    }
    for (const char* builtIn : kBuiltIn) {
      std::vector<std::string> stored = Split(builtIn);
      if (!found && StartsWith(stored, prefix)) {
        parts[known] = stored[known];
        found = true;
      }
    }
    if (!found) break;
    ++known;
  }
  return known;
}

RegKeyEntry* Entry(RegDocument* document, const std::string& canonical) {
  for (RegKeyEntry& key : document->keys) {
    if (base::EqualsIgnoreAsciiCase(key.path, canonical)) return &key;
  }
  return nullptr;
}

// The listed entry of an existing key, added when the key so far exists only through keys
// below it: after the last listed key of its nearest listed ancestor's tree, else at the end.
RegKeyEntry* ListedEntry(RegDocument* document, const std::string& canonical) {
  if (RegKeyEntry* key = Entry(document, canonical)) return key;
  std::vector<std::string> parts = Split(canonical);
  size_t at = document->keys.size();
  for (size_t depth = parts.size(); depth > 1 && at == document->keys.size(); --depth) {
    std::vector<std::string> ancestor(parts.begin(), parts.begin() + depth - 1);
    for (size_t i = 0; i < document->keys.size(); ++i) {
      if (StartsWith(Split(document->keys[i].path), ancestor)) at = i + 1;
    }
  }
  RegKeyEntry entry;
  entry.path = canonical;
  return &*document->keys.insert(document->keys.begin() + static_cast<long>(at), entry);
}

// A quoted text with \\ and \" escaped (and \n, which other writers use); |*i| is on the quote.
bool ParseQuoted(const std::string& line, size_t* i, std::string* out) {
  if (*i >= line.size() || line[*i] != '"') return false;
  std::string text;
  for (size_t k = *i + 1; k < line.size(); ++k) {
    char c = line[k];
    if (c == '"') {
      *i = k + 1;
      *out = text;
      return true;
    }
    if (c == '\\' && k + 1 < line.size()) {
      char next = line[++k];
      if (next == '\\' || next == '"') {
        text += next;
      } else if (next == 'n') {
        text += '\n';
      } else {
        text += c;
        text += next;
      }
    } else {
      text += c;
    }
  }
  return false;
}

bool ParseHexList(const std::string& list, std::string* out) {
  std::string bytes;
  size_t i = 0;
  while (true) {
    while (i < list.size() && IsBlank(list[i])) ++i;
    if (i == list.size()) break;
    int high = base::HexDigitValue(list[i]);
    int low = i + 1 < list.size() ? base::HexDigitValue(list[i + 1]) : -1;
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
    i += 2;
    while (i < list.size() && IsBlank(list[i])) ++i;
    if (i == list.size()) break;
    if (list[i++] != ',') return false;
  }
  *out = bytes;
  return true;
}

// The position of the first character at or after |i| that is not a blank.
size_t SkipBlanks(const std::string& line, size_t i) {
  while (i < line.size() && IsBlank(line[i])) ++i;
  return i;
}

bool OnlyBlanksFrom(const std::string& line, size_t i) {
  return SkipBlanks(line, i) == line.size();
}

// The one to eight hexadecimal digits of |text| from |first| to |end|, as a number.
bool ParseHexNumber(const std::string& text, size_t first, size_t end, uint32_t* number) {
  if (end <= first || end - first > 8) return false;
  uint32_t result = 0;
  for (size_t k = first; k < end; ++k) {
    const int digit = base::HexDigitValue(text[k]);
    if (digit < 0) return false;
    result = result * 16 + static_cast<uint32_t>(digit);
  }
  *number = result;
  return true;
}

// The data after '=': a text, dword:, hex: or hex(N):.
bool ParseData(const std::string& data, RegValueEntry* value) {
  size_t i = 0;
  if (!data.empty() && data[0] == '"') {
    value->type = kRegSz;
    if (!ParseQuoted(data, &i, &value->data) || !OnlyBlanksFrom(data, i)) return false;
    value->data += '\0';
    return true;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    size_t end = data.size();
    while (end > 6 && IsBlank(data[end - 1])) --end;
    uint32_t number = 0;
    if (!ParseHexNumber(data, 6, end, &number)) return false;
    value->type = kRegDword;
    value->data.clear();
    for (int b = 0; b < 4; ++b) value->data += static_cast<char>((number >> (8 * b)) & 0xFF);
    return true;
  }
  if (data.compare(0, 4, "hex:") == 0) {
    value->type = kRegBinary;
    return ParseHexList(data.substr(4), &value->data);
  }
  if (data.compare(0, 4, "hex(") == 0) {
    size_t close = data.find("):", 4);
    uint32_t type = 0;
    if (close == std::string::npos || !ParseHexNumber(data, 4, close, &type)) return false;
    value->type = type;
    return ParseHexList(data.substr(close + 2), &value->data);
  }
  return false;
}

void AddValue(RegKeyEntry* key, const RegValueEntry& value) {
  for (RegValueEntry& existing : key->values) {
    if (base::EqualsIgnoreAsciiCase(existing.name, value.name)) {
      existing.type = value.type;
      existing.data = value.data;
      return;
    }
  }
  key->values.push_back(value);
}

// A line break inside a name is written as \n, which the reader takes back: written as it is,
// it would end the line.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

// A REG_SZ is written as a quoted text only when it is one zero-terminated text on one line.
bool IsPlainText(const RegValueEntry& value) {
  const std::string& d = value.data;
  return value.type == kRegSz && !d.empty() && d.find('\0') == d.size() - 1 && !HasLineBreak(d);
}

std::string HexList(const std::string& data) {
  std::string out;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) out += ',';
    base::AppendHex(&out, static_cast<unsigned char>(data[i]), 2);
  }
  return out;
}

// The lines of |text| without their CR LF or LF ends.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < text.size();) {
    size_t end = text.find('\n', i);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(i, end - i);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    i = end + 1;
  }
  return lines;
}

// A key line, "[name]" with |start| on the bracket: its key, listed once in |*document|, which
// then takes the value lines that follow; null when the line names no key. |*index| finds keys
// by their folded names, so that a long file reads in linear time.
RegKeyEntry* ReadKeyLine(const std::string& line, size_t start, RegDocument* document,
                         std::unordered_map<std::string, size_t>* index) {
  size_t close = line.rfind(']');
  if (close == std::string::npos || close < start + 2 || !OnlyBlanksFrom(line, close + 1))
    return nullptr;
  std::vector<std::string> parts = Split(line.substr(start + 1, close - start - 1));
  // "[-name]" deletes a key. Empty levels are dropped, so "[\-name]" would be written back as
  // such a line: refused as well.
  if (parts.empty() || parts[0][0] == '-') return nullptr;
  if (const char* hive = HiveName(parts[0])) parts[0] = hive;
  std::string path = Join(parts, parts.size());
  std::string folded = path;
  for (char& c : folded) c = base::AsciiLower(c);
  auto known = index->emplace(folded, document->keys.size());
  if (known.second) document->keys.push_back(RegKeyEntry{path, {}});
  return &document->keys[known.first->second];
}

// A value line of |key|, `"name"=data` or `@=data` with |start| on its first character. A hex
// list may go on over the lines after it, each but the last ending in a backslash: |*n|, the
// line's number, moves on to the last one.
bool ReadValueLine(const std::vector<std::string>& lines, size_t* n, size_t start,
                   RegKeyEntry* key) {
  const std::string& line = lines[*n];
  RegValueEntry value;
  size_t i = start;
  if (line[i] == '@') {
    ++i;
  } else if (!ParseQuoted(line, &i, &value.name)) {
    return false;
  }
  i = SkipBlanks(line, i);
  if (i == line.size() || line[i++] != '=') return false;
  std::string data = line.substr(SkipBlanks(line, i));
  while (data.compare(0, 3, "hex") == 0) {
    size_t end = data.find_last_not_of(" \t");
    if (end == std::string::npos || data[end] != '\\') break;
    if (++*n >= lines.size()) return false;
    data = data.substr(0, end) + lines[*n];
  }
  if (!ParseData(data, &value)) return false;
  AddValue(key, value);
  return true;
}

}  // namespace

bool ParseRegedit4(const std::string& text, RegDocument* out) {
  std::vector<std::string> lines = SplitLines(text);
  // The header line, blanks allowed after it.
  if (!lines.empty() && lines[0].substr(0, lines[0].find_last_not_of(" \t") + 1) != "REGEDIT4")
    return false;
  RegDocument document;
  std::unordered_map<std::string, size_t> index;
  RegKeyEntry* current = nullptr;
  for (size_t n = 1; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    size_t start = SkipBlanks(line, 0);
    if (start == line.size() || line[start] == ';') continue;
    if (line[start] == '[') {
      current = ReadKeyLine(line, start, &document, &index);
      if (current == nullptr) return false;
    } else if (current == nullptr || !ReadValueLine(lines, &n, start, current)) {
      return false;
    }
  }
  *out = std::move(document);
  return true;
}

std::string SerializeRegedit4(const RegDocument& document) {
  std::string text = "REGEDIT4\r\n";
  char dword[16];
  for (const RegKeyEntry& key : document.keys) {
    text += "\r\n[" + key.path + "]\r\n";
    for (const RegValueEntry& value : key.values) {
      text += value.name.empty() ? "@=" : "\"" + Escape(value.name) + "\"=";
      if (IsPlainText(value)) {
        text += "\"" + Escape(value.data.substr(0, value.data.size() - 1)) + "\"";
      } else if (value.type == kRegDword && value.data.size() == 4) {
        const uint32_t number = base::ReadLe32(reinterpret_cast<const uint8_t*>(value.data.data()));
        std::snprintf(dword, sizeof dword, "dword:%08x", number);
        text += dword;
      } else if (value.type == kRegBinary) {
        text += "hex:" + HexList(value.data);
      } else {
        std::snprintf(dword, sizeof dword, "hex(%x):", value.type);
        text += dword + HexList(value.data);
      }
      text += "\r\n";
    }
  }
  return text + "\r\n";
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

bool FindKey(const RegDocument& document, const std::string& base, const std::string& subKey,
             std::string* canonical) {
  std::vector<std::string> parts = Split(base.empty() ? subKey : base + "\\" + subKey);
  if (Resolve(document, &parts) != parts.size() || parts.empty()) return false;
  *canonical = Join(parts, parts.size());
  return true;
}

bool CreateKey(RegDocument* document, const std::string& base, const std::string& subKey,
               std::string* canonical, bool* created) {
  if (HasLineBreak(subKey)) return false;
  std::vector<std::string> parts = Split(base.empty() ? subKey : base + "\\" + subKey);
  size_t known = Resolve(*document, &parts);
  if (known == 0) return false;
  *canonical = Join(parts, parts.size());
  *created = known < parts.size();
  if (*created) ListedEntry(document, *canonical);
  return true;
}

const RegValueEntry* FindValue(const RegDocument& document, const std::string& canonical,
                               const std::string& name) {
  for (const RegKeyEntry& key : document.keys) {
    if (!base::EqualsIgnoreAsciiCase(key.path, canonical)) continue;
    for (const RegValueEntry& value : key.values) {
      if (base::EqualsIgnoreAsciiCase(value.name, name)) return &value;
    }
  }
  return nullptr;
}

void SetValue(RegDocument* document, const std::string& canonical, const std::string& name,
              uint32_t type, const std::string& data) {
  AddValue(ListedEntry(document, canonical), RegValueEntry{name, type, data});
}

bool DeleteValue(RegDocument* document, const std::string& canonical, const std::string& name) {
  RegKeyEntry* key = Entry(document, canonical);
  if (key == nullptr) return false;
  for (auto it = key->values.begin(); it != key->values.end(); ++it) {
    if (base::EqualsIgnoreAsciiCase(it->name, name)) {
      key->values.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace machine
