// ASCII-only character classes: registry names and edition names compare this way, and hex digits
// are read and written this way, whatever the C runtime's locale (the program switches locale
// halfway through its run).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

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

// Writes the |count| hexadecimal digits of the low 4 * |count| bits of |value| at |out|, the most
// significant first, lower case unless |upper|; returns the end of what it wrote.
inline char* WriteHex(char* out, uint64_t value, int count, bool upper = false) {
  for (int shift = 4 * (count - 1); shift >= 0; shift -= 4) {
    const int digit = static_cast<int>((value >> shift) & 0xF);
    *out++ = static_cast<char>(digit < 10 ? '0' + digit : (upper ? 'A' : 'a') + digit - 10);
  }
  return out;
}

// Appends the digits that WriteHex writes to |out|.
inline void AppendHex(std::string* out, uint64_t value, int count, bool upper = false) {
  char digits[16];
  out->append(digits, static_cast<size_t>(WriteHex(digits, value, count, upper) - digits));
}

// The lower-case hexadecimal digits of |size| bytes, two a byte.
inline std::string HexDigits(const unsigned char* bytes, size_t size) {
  std::string digits;
  for (size_t i = 0; i < size; ++i) AppendHex(&digits, bytes[i], 2);
  return digits;
}

inline bool EqualsIgnoreAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace base
