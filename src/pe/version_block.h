// The VS_VERSIONINFO block of a version resource, read once from the file and walked as Windows'
// version library walks it: the root's value, the translation table and the string values.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "base/little_endian.h"
#include "pe/pe_version.h"

namespace pe {

// A value of the block as the version library finds it, before any conversion: a binary value's
// bytes, or a text's UTF-16 characters, each as far as the root block holds them.
struct VersionValue {
  const uint8_t* data = nullptr;
  uint32_t size = 0;  // bytes of a binary value; characters of a text
  uint32_t room = 0;  // bytes of the root block from the value on: the most its ANSI copy takes
  bool text = false;  // wType 1
};

// Converts a text to the ANSI code page as the system's version library does; the system's own.
using AnsiConversion = std::string (*)(const std::u16string& text);

// What a query hands back for |value|: a binary value's bytes as they are, a text converted to
// the ANSI code page by |ansiFromUtf16| (as many bytes as it gives, within the value's room).
std::string AnsiValue(const VersionValue& value, AnsiConversion ansiFromUtf16);

// A key of a path in the block: an ASCII text, or UTF-16 code units (a query's path, converted).
class VersionKey {
 public:
  // Not explicit: a path is written as the texts of its keys.
  VersionKey(const char* ascii) : text_(ascii), size_(std::strlen(ascii)), wide_(false) {}
  VersionKey(const std::u16string& wide) : text_(wide.data()), size_(wide.size()), wide_(true) {}
  VersionKey(std::u16string&&) = delete;  // the key points into the text, which must outlive it

  size_t size() const { return size_; }
  char16_t operator[](size_t i) const {
    return wide_ ? static_cast<const char16_t*>(text_)[i]
                 : static_cast<const unsigned char*>(text_)[i];
  }

 private:
  const void* text_;
  size_t size_;
  bool wide_;
};

// The name of the string table of |translation| (language in the low 16 bits, code page in the
// high 16 bits): eight uppercase hexadecimal digits, as callers of the version library name it.
void StringTableName(uint32_t translation, char (&name)[9]);

// Walks a 32-bit VS_VERSIONINFO block in memory (not owned), |length| bytes: its root length.
class VersionTree {
 public:
  VersionTree(const uint8_t* block, uint32_t length) : block_(block), length_(length) {}

  // The value at the end of the path of |count| keys from the root (the root itself for none);
  // keys match without regard to ASCII case. False when a node on the way is missing or damaged.
  [[nodiscard]] bool Find(const VersionKey* keys, size_t count, VersionValue* out) const;

  // The translation table, \VarFileInfo\Translation.
  [[nodiscard]] bool Translation(VersionValue* out) const;

  // The string |key| of the table \StringFileInfo\<lang><cp> of |translation| (language in the low
  // 16 bits, code page in the high 16 bits, as the translation table holds them).
  [[nodiscard]] bool String(uint32_t translation, const char* key, VersionValue* out) const;

 private:
  const uint8_t* block_;
  uint32_t length_;
};

// The root length of the version data |data| (|length| bytes read), or 0 when it does not begin
// with a whole 32-bit VS_VERSIONINFO block, root length from 6 bytes up to |length|.
inline uint32_t WholeBlockLength(const uint8_t* data, uint32_t length) {
  if (length < 6) return 0;
  const uint32_t rootLength = base::ReadLe16(data);
  // A 32-bit block: a 16-bit one has its key's first character where wType is.
  return rootLength >= 6 && rootLength <= length && data[4] < ' ' ? rootLength : 0;
}

// The version data of a file, read once.
class VersionBlock {
 public:
  // Reads |resource|'s data from |source| in one read; false when it cannot be read or is not a
  // whole version block. Throws std::bad_alloc when memory runs out.
  [[nodiscard]] bool Read(ByteSource& source, const VersionResource& resource);

  VersionTree Tree() const { return VersionTree(bytes_.get(), rootLength_); }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  uint32_t rootLength_ = 0;
};

}  // namespace pe
