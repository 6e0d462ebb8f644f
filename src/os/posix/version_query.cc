// The version library's queries on the emulated system: their paths read in cp1252.
#include "machine/cp1252.h"
#include "pe/version_query.h"

namespace platform {
namespace pe {

std::u16string Utf16FromAnsi(const std::string& text) {
  std::u16string wide(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    wide[i] = posix::Cp1252ToUnicode(static_cast<uint8_t>(text[i]));
  return wide;
}

}  // namespace pe
}  // namespace platform
