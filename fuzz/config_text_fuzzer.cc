// libFuzzer target for the text operations under the configuration update, in memory: search and
// replace-all, held to std::string's own search for any needle, replacement and text. Input: the
// needle's length (two bytes, little-endian), the replacement's length (one byte), then the needle,
// the replacement and the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config_text.h"
#include "plain_text.h"

namespace {

[[noreturn]] void Fail(const char* what, size_t expected, size_t actual) {
  std::fprintf(stderr, "config_text_fuzzer: %s: expected %zu, got %zu\n", what, expected, actual);
  std::abort();
}

// The search finds every occurrence, overlapping ones included, and nothing else.
void CheckFind(const std::string& text, const std::string& needle) {
  for (size_t from = 0;; ++from) {
    const size_t expected = text.find(needle, from);
    const std::ptrdiff_t found = config::Find(text, needle, from);
    const size_t actual = found < 0 ? std::string::npos : static_cast<size_t>(found);
    if (actual != expected) Fail("search", expected, actual);
    if (expected == std::string::npos) break;
    from = expected;
  }
  if (config::Find(text, needle, text.size() + 1) != -1) Fail("search past the end", 0, 1);
}

void CheckReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  std::string edited = text;
  const size_t count = config::ReplaceAll(&edited, from, to);
  const std::string expected = from.empty() ? text : plain::Replaced(text, from, to);
  if (edited != expected) Fail("replace-all: text of size", expected.size(), edited.size());
  size_t occurrences = 0;
  if (!from.empty()) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + from.size())) {
      ++occurrences;
    }
  }
  if (count != occurrences) Fail("replace-all: count", occurrences, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
  const size_t needleLength = std::min<size_t>(data[0] | data[1] << 8, rest.size());
  const size_t toLength = std::min<size_t>(data[2], rest.size() - needleLength);
  const std::string needle = rest.substr(0, needleLength);
  const std::string to = rest.substr(needleLength, toLength);
  const std::string text = rest.substr(needleLength + toLength);
  CheckFind(text, needle);
  CheckReplaceAll(text, needle, to);
  return 0;
}
