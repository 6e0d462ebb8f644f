// cp1252 as Windows converts it, for the texts of the emulated workstation.
#include "machine/cp1252.h"

#include <algorithm>

namespace machine {
namespace {

const uint16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct BestFit {
  uint16_t unit;
  uint8_t byte;
};

const BestFit kBestFit[] = {
#include "machine/cp1252_best_fit.inc"
};

void AppendUtf8(unsigned cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

uint16_t Cp1252ToUnicode(uint8_t c) { return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c; }

uint8_t UnicodeToCp1252(uint32_t u, bool bestFit) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<uint8_t>(u);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == u) return static_cast<uint8_t>(0x80 + i);
  }
  if (!bestFit) return '?';
  const BestFit* end = kBestFit + sizeof(kBestFit) / sizeof(kBestFit[0]);
  const BestFit* fit = std::lower_bound(
      kBestFit, end, u, [](const BestFit& entry, uint32_t unit) { return entry.unit < unit; });
  return fit != end && fit->unit == u ? fit->byte : '?';
}

std::string Cp1252ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) AppendUtf8(Cp1252ToUnicode(c), &out);
  return out;
}

std::string Utf8ToCp1252(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned cp = c;
    size_t length = 1;
    if (c >= 0xF0) {
      length = 4;
    } else if (c >= 0xE0) {
      length = 3;
      cp = c & 0x0F;
    } else if (c >= 0xC0) {
      length = 2;
      cp = c & 0x1F;
    }
    if (length == 4 || i + length > text.size()) {
      out.push_back('?');
      i += length == 4 ? 4 : 1;
      continue;
    }
    for (size_t k = 1; k < length; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    out.push_back(static_cast<char>(UnicodeToCp1252(cp, false)));
  }
  return out;
}

}  // namespace machine
