// The VS_VERSIONINFO block, walked as Windows' version library walks it.
#include "pe/version_block.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/little_endian.h"

namespace pe {
namespace {

uint32_t Align4(uint32_t n) { return (n + 3u) & ~3u; }

// ---------------------------------------------------------------------------------------------
// The VS_VERSIONINFO tree: nodes of wLength, wValueLength, wType, a zero-terminated UTF-16 key,
// the value and the children, each aligned on 4 bytes from the node's start.

struct Node {
  uint32_t start;        // offset of the node in the block
  uint32_t end;          // its end: start + wLength, within its parent
  uint32_t keyEnd;       // offset of the key's terminating zero
  uint32_t value;        // offset of the value
  uint32_t children;     // offset of the first child
  uint16_t valueLength;  // wValueLength: bytes, or characters for a text value
  uint16_t type;         // wType: 1 for text
};

bool ParseNode(const uint8_t* block, uint32_t start, uint32_t limit, Node* node) {
  if (start > limit || limit - start < 6) return false;
  uint16_t length = base::ReadLe16(block + start);
  uint32_t end = std::min<uint32_t>(start + length, limit);
  if (end - start < 6) return false;
  node->start = start;
  node->end = end;
  node->valueLength = base::ReadLe16(block + start + 2);
  node->type = base::ReadLe16(block + start + 4);
  uint32_t k = start + 6;
  for (;;) {
    if (end - k < 2) return false;  // the key runs past the node
    if (base::ReadLe16(block + k) == 0) break;
    k += 2;
  }
  node->keyEnd = k;
  uint32_t value = start + Align4(k + 2 - start);
  uint32_t valueBytes = static_cast<uint32_t>(node->valueLength) * (node->type ? 2u : 1u);
  node->children = value + Align4(valueBytes);
  // A value that starts at or past the node's end is empty: the key's zero stands for it.
  node->value = value >= end ? k : value;
  return true;
}

bool KeyEquals(const uint8_t* block, const Node& node, const VersionKey& name) {
  if ((node.keyEnd - node.start - 6) / 2 != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    uint16_t key = base::ReadLe16(block + node.start + 6 + 2 * i);
    if (base::AsciiLower(key) != base::AsciiLower(static_cast<uint16_t>(name[i]))) return false;
  }
  return true;
}

bool FindChild(const uint8_t* block, const Node& parent, const VersionKey& name, Node* out) {
  uint32_t at = parent.children;
  while (at < parent.end) {
    Node child;
    if (!ParseNode(block, at, parent.end, &child)) return false;
    if (KeyEquals(block, child, name)) {
      *out = child;
      return true;
    }
    uint16_t length = base::ReadLe16(block + at);
    if (length == 0) return false;
    at += Align4(length);
  }
  return false;
}

}  // namespace

std::string AnsiValue(const VersionValue& value, AnsiConversion ansiFromUtf16) {
  std::string bytes;
  if (!value.text) return bytes.assign(reinterpret_cast<const char*>(value.data), value.size);
  std::u16string characters(value.size, u'\0');
  for (size_t i = 0; i < characters.size(); ++i) characters[i] = base::ReadLe16(value.data + 2 * i);
  std::string ansi = ansiFromUtf16(characters);
  if (ansi.size() > value.room) ansi.resize(value.room);
  return ansi;
}

bool VersionTree::Find(const VersionKey* keys, size_t count, VersionValue* out) const {
  Node node;
  if (!ParseNode(block_, 0, length_, &node)) return false;
  for (size_t i = 0; i < count; ++i) {
    Node child;
    if (!FindChild(block_, node, keys[i], &child)) return false;
    node = child;
  }
  const uint32_t position = node.value;
  out->data = block_ + position;
  out->room = length_ > position ? length_ - position : 0;
  out->text = node.type != 0;
  out->size = std::min<uint32_t>(node.valueLength, out->text ? out->room / 2 : out->room);
  return true;
}

bool VersionTree::Translation(VersionValue* out) const {
  const VersionKey keys[] = {"VarFileInfo", "Translation"};
  return Find(keys, 2, out);
}

void StringTableName(uint32_t translation, char (&name)[9]) {
  // The language's four digits, then the code page's.
  *base::WriteHex(name, (translation << 16) | (translation >> 16), 8, true) = '\0';
}

bool VersionTree::String(uint32_t translation, const char* key, VersionValue* out) const {
  char table[9];
  StringTableName(translation, table);
  const VersionKey keys[] = {"StringFileInfo", table, key};
  return Find(keys, 3, out);
}

bool VersionBlock::Read(ByteSource& source, const VersionResource& resource) {
  bytes_.reset(new uint8_t[resource.length]);
  rootLength_ = 0;
  if (!source.ReadAt(resource.offset, bytes_.get(), resource.length)) return false;
  rootLength_ = WholeBlockLength(bytes_.get(), resource.length);
  return rootLength_ != 0;
}

}  // namespace pe
