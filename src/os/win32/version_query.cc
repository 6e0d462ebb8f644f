// The version library's queries on Windows: their paths read in the ANSI code page.
#include <windows.h>

#include "pe/version_query.h"

namespace platform {
namespace pe {

std::u16string Utf16FromAnsi(const std::string& text) {
  if (text.empty()) return std::u16string();
  const int size = static_cast<int>(text.size());
  const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (count <= 0) return std::u16string();
  std::u16string wide(static_cast<size_t>(count), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, reinterpret_cast<wchar_t*>(&wide[0]), count);
  return wide;
}

}  // namespace pe
}  // namespace platform
