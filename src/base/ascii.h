// ASCII-only character classes: registry names and edition names compare this way, and hex digits
// read this way, whatever the C runtime's locale (the program switches locale halfway through its
// run).
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// |c| (a char, or a UTF-16 code unit) with A to Z lowered.
template <typename Char>
Char AsciiLower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + ('a' - 'A')) : c;
}

// The value of the hexadecimal digit |c|, or -1.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The lower-case hexadecimal digits of |size| bytes, two a byte.
inline std::string HexDigits(const unsigned char* bytes, size_t size) {
  std::string digits;
  for (size_t i = 0; i < size; ++i) {
    digits += "0123456789abcdef"[bytes[i] >> 4];
    digits += "0123456789abcdef"[bytes[i] & 0xF];
  }
  return digits;
}

inline bool EqualsIgnoreAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace platform
