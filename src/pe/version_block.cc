// Queries of a version block as Windows' version library answers them.
#include "pe/version_block.h"

#include <algorithm>

#include "base/ascii.h"

namespace platform {
namespace pe {
namespace {

uint16_t Rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

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
  uint16_t length = Rd16(block + start);
  uint32_t end = std::min<uint32_t>(start + length, limit);
  if (end - start < 6) return false;
  node->start = start;
  node->end = end;
  node->valueLength = Rd16(block + start + 2);
  node->type = Rd16(block + start + 4);
  uint32_t k = start + 6;
  for (;;) {
    if (end - k < 2) return false;  // the key runs past the node
    if (Rd16(block + k) == 0) break;
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

bool KeyEquals(const uint8_t* block, const Node& node, const std::u16string& name, size_t from,
               size_t count) {
  if ((node.keyEnd - node.start - 6) / 2 != count) return false;
  for (size_t i = 0; i < count; ++i) {
    uint16_t key = Rd16(block + node.start + 6 + 2 * i);
    if (AsciiLower(key) != AsciiLower(name[from + i])) return false;
  }
  return true;
}

bool FindChild(const uint8_t* block, const Node& parent, const std::u16string& name, size_t from,
               size_t count, Node* out) {
  uint32_t at = parent.children;
  while (at < parent.end) {
    Node child;
    if (!ParseNode(block, at, parent.end, &child)) return false;
    if (KeyEquals(block, child, name, from, count)) {
      *out = child;
      return true;
    }
    uint16_t length = Rd16(block + at);
    if (length == 0) return false;
    at += Align4(length);
  }
  return false;
}

}  // namespace

bool QueryVersionBlock(const void* data, const std::string& subBlock, const void** value,
                       uint32_t* length) {
  if (data == nullptr) return false;
  // Not const: a text query writes into the conversion area behind the block.
  uint8_t* block = static_cast<uint8_t*>(const_cast<void*>(data));
  const uint32_t rootLength = Rd16(block);
  if (block[4] >= ' ') return false;  // a 16-bit block: not made by ReadVersionBlock
  Node node;
  if (!ParseNode(block, 0, rootLength, &node)) return false;
  const std::u16string path = Utf16FromAnsi(subBlock);
  size_t at = 0;
  while (at < path.size()) {
    size_t next = path.find(u'\\', at);
    if (next == std::u16string::npos) next = path.size();
    if (next == at) {  // empty components are skipped
      ++at;
      continue;
    }
    Node child;
    if (!FindChild(block, node, path, at, next - at, &child)) return false;
    node = child;
    at = next;
  }
  const uint32_t position = node.value;
  const uint32_t room = rootLength > position ? rootLength - position : 0;
  if (node.type == 0) {
    *value = block + position;
    if (length) *length = std::min<uint32_t>(node.valueLength, room);
    return true;
  }
  // Text: its characters, as far as the block holds them, converted into the area behind the
  // block, which has as many bytes there as the block has from the value on.
  const uint32_t characters = std::min<uint32_t>(node.valueLength, room / 2);
  std::u16string text(characters, u'\0');
  for (uint32_t i = 0; i < characters; ++i) text[i] = Rd16(block + position + 2 * i);
  const std::string ansi = AnsiFromUtf16(text);
  const uint32_t bytes = std::min<uint32_t>(static_cast<uint32_t>(ansi.size()), room);
  uint8_t* area = block + rootLength + 4 + position;
  std::copy(ansi.begin(), ansi.begin() + bytes, area);
  *value = area;
  if (length) *length = bytes;
  return true;
}

}  // namespace pe
}  // namespace platform
