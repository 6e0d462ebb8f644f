// The start-up hardening that must precede every other static object of the Windows launcher.
#include <windows.h>

namespace {

// An elevated program must never load a library planted beside it: from here on, libraries
// loaded at run time come from System32 only. Constructed before every static object of
// default priority, so before the installation log opens.
struct DllSearchHardening {
  DllSearchHardening() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDefaultDllDirectoriesFn setDefault =
        kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                     reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
               : nullptr;
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
      // Systems without the call still drop the current directory from the search.
      SetDllDirectoryA("");
    }
  }
};

__attribute__((init_priority(101))) DllSearchHardening g_dllSearchHardening;

}  // namespace
