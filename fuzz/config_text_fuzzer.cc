// libFuzzer target for the text operations under the configuration update, in memory: search,
// replace-all and the line-end conversions, held to std::string's own search for any needle,
// replacement and text. Input: the needle's length (two bytes, little-endian), the
// replacement's length (one byte), then the needle, the replacement and the text.
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
    const std::ptrdiff_t found = config_text::Find(text, needle, from);
    const size_t actual = found < 0 ? std::string::npos : static_cast<size_t>(found);
    if (actual != expected) Fail("search", expected, actual);
    if (expected == std::string::npos) break;
    from = expected;
  }
  if (config_text::Find(text, needle, text.size() + 1) != -1) Fail("search past the end", 0, 1);
}

void CheckReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  std::string edited = text;
  const size_t count = config_text::ReplaceAll(&edited, from, to);
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

// The same replace-all, the text given a few bytes at a time, as the update reads a long file.
void CheckPieces(const std::string& text, const std::string& from, const std::string& to,
                 size_t pieceSize) {
  if (from.empty()) return;
  std::string expected = text;
  const size_t count = config_text::ReplaceAll(&expected, from, to);
  config_text::PieceEdit edit(from, to);
  std::string edited, buffer;
  for (size_t at = 0;;) {
    const size_t piece = std::min(pieceSize, text.size() - at);
    buffer.assign(edit.MostHeld(), '\0');
    buffer.append(text, at, piece);
    at += piece;
    size_t begin = edit.MostHeld();
    edit.Apply(&buffer, &begin, at == text.size());
    edited.append(buffer, begin, std::string::npos);
    if (at == text.size()) break;
  }
  if (edited != expected) {
    Fail("replace-all in pieces: text of size", expected.size(), edited.size());
  }
  if (edit.count() != count) Fail("replace-all in pieces: count", count, edit.count());
}

// The CR LF form of the text: a CR before each LF that has none, and the text with CR LF read as
// LF (every other CR kept) again once each CR LF of that form is replaced by LF.
void CheckLineEnds(const std::string& text) {
  for (const bool afterCr : {false, true}) {
    std::string expectedCrLf, crlf = "x" + text;
    size_t lineEnds = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const bool cr = i > 0 ? text[i - 1] == '\r' : afterCr;
      if (text[i] == '\n' && !cr) expectedCrLf += '\r';
      lineEnds += text[i] == '\n';
      expectedCrLf += text[i];
    }
    const size_t counted = config_text::CrBeforeEachLf(&crlf, 1, afterCr);
    if (crlf.substr(1) != expectedCrLf) Fail("CR before each LF: text of size", text.size(), 0);
    if (counted != lineEnds) Fail("CR before each LF: line ends", lineEnds, counted);
    if (afterCr) continue;
    const std::string expectedLf = plain::Replaced(text, "\r\n", "\n");
    config_text::ReplaceAll(&expectedCrLf, "\r\n", "\n");
    if (expectedCrLf != expectedLf) Fail("CR LF read as LF: text of size", text.size(), 0);
  }
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
  for (size_t pieceSize : {1, 2, 3, 8, 61}) CheckPieces(text, needle, to, pieceSize);
  CheckLineEnds(text);
  return 0;
}
