// System libraries loaded at run time. A library that the executable imports is loaded with its
// own imports before any of the program's code runs, found by the search that starts in the
// launcher's folder; some system libraries import ones that Windows does not always take from
// System32 (Wine's user32 imports version.dll). Loaded here, after the search has been
// restricted, they and their imports come from System32 only.
#include <windows.h>

#include "os/internal/known_folders.h"
#include "os/win32/system_library.h"

namespace os {
namespace win32 {

void* SystemFunction(const char* library, const char* name) {
  const std::string path = SystemFile(library);
  if (path.empty()) return nullptr;
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Systems without the flag search the directory of a library named by full path first.
  if (module == nullptr)
    module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module, name));
}

}  // namespace win32
}  // namespace os
