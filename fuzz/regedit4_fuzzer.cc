// libFuzzer target for the POSIX registry's REGEDIT4 text: any bytes are parsed; a text that
// parses must serialize to a text that parses back to the very same keys and values and
// serializes to the same bytes again. The same holds after a key is created and a value set in
// the parsed tree, as the registry store does before it writes the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "machine/regedit4.h"
#include "os/registry.h"

namespace {

using machine::RegDocument;
using machine::RegKeyEntry;
using machine::RegValueEntry;

bool SameValues(const RegKeyEntry& a, const RegKeyEntry& b) {
  if (a.values.size() != b.values.size()) return false;
  for (size_t i = 0; i < a.values.size(); ++i) {
    const RegValueEntry& x = a.values[i];
    const RegValueEntry& y = b.values[i];
    if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
  }
  return true;
}

bool SameDocument(const RegDocument& a, const RegDocument& b) {
  if (a.keys.size() != b.keys.size()) return false;
  for (size_t i = 0; i < a.keys.size(); ++i) {
    if (a.keys[i].path != b.keys[i].path || !SameValues(a.keys[i], b.keys[i])) return false;
  }
  return true;
}

[[noreturn]] void Fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "regedit4_fuzzer: %s; serialized text (%zu bytes):\n", what, text.size());
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::abort();
}

// The document written out reads back as itself, and writing it again changes nothing.
void CheckRoundTrip(const RegDocument& document) {
  const std::string text = machine::SerializeRegedit4(document);
  RegDocument again;
  if (!machine::ParseRegedit4(text, &again)) {
    Fail("the serialized text does not parse", text);
  }
  if (!SameDocument(document, again)) {
    Fail("the serialized text parses to other keys or values", text);
  }
  if (machine::SerializeRegedit4(again) != text) Fail("serializing is not stable", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  RegDocument document;
  if (!machine::ParseRegedit4(input, &document)) return 0;
  CheckRoundTrip(document);

  // A key below the last listed one (or below HKCU\Software), named by the input's last line,
  // with a value of that name: the writes a run makes on a registry found on disk.
  const std::string base =
      document.keys.empty() ? "HKEY_CURRENT_USER\\Software" : document.keys.back().path;
  const size_t lastLine = input.find_last_of('\n');
  const std::string name = input.substr(lastLine == std::string::npos ? 0 : lastLine + 1, 64);
  std::string canonical;
  bool created = false;
  if (!machine::CreateKey(&document, base, name, &canonical, &created)) return 0;
  std::string found;
  if (!machine::FindKey(document, base, name, &found) || found != canonical) {
    Fail("a created key is not found", canonical);
  }
  machine::SetValue(&document, canonical, name, os::kRegSz, name + '\0');
  const RegValueEntry* value = machine::FindValue(document, canonical, name);
  if (value == nullptr || value->data != name + '\0') Fail("a value set is not found", canonical);
  CheckRoundTrip(document);
  return 0;
}
