// Version resources on Windows: version.dll, loaded at run time from the system directory by its
// full path. It is not one of the libraries Windows always takes from System32, and the launcher
// runs elevated, so it is never imported statically (the executable's import table must not name
// it) nor looked up by the search order.
#include "platform/version.h"

#include <windows.h>

#include "platform/folders.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

typedef DWORD(WINAPI* SizeFn)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* ReadFn)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* QueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);

struct VersionLibrary {
  SizeFn size = nullptr;
  ReadFn read = nullptr;
  QueryFn query = nullptr;
};

template <typename Fn>
Fn Resolve(const char* name) {
  return reinterpret_cast<Fn>(win32::SystemFunction("version.dll", name));
}

VersionLibrary LoadVersionLibrary() {
  VersionLibrary library;
  library.size = Resolve<SizeFn>("GetFileVersionInfoSizeA");
  library.read = Resolve<ReadFn>("GetFileVersionInfoA");
  library.query = Resolve<QueryFn>("VerQueryValueA");
  if (!library.size || !library.read || !library.query) library = VersionLibrary();
  return library;
}

// Loaded and resolved once, on first use.
const VersionLibrary& Library() {
  static const VersionLibrary library = LoadVersionLibrary();
  return library;
}

}  // namespace

uint32_t VersionInfoSize(const std::string& path, uint32_t* handle) {
  const VersionLibrary& library = Library();
  if (!library.size || path.empty()) return 0;
  DWORD value = 0;
  DWORD size = library.size(LibraryLocation(path).c_str(), &value);
  if (size != 0 && handle) *handle = value;
  return size;
}

bool ReadVersionInfo(const std::string& path, uint32_t handle, uint32_t size, void* data) {
  const VersionLibrary& library = Library();
  if (!library.read || path.empty() || data == nullptr) return false;
  return library.read(LibraryLocation(path).c_str(), handle, size, data) != FALSE;
}

bool QueryVersionValue(const void* block, const std::string& subBlock, const void** value,
                       uint32_t* length) {
  const VersionLibrary& library = Library();
  if (!library.query || block == nullptr) return false;
  LPVOID pointer = nullptr;
  UINT size = 0;
  if (!library.query(block, subBlock.c_str(), &pointer, &size)) return false;
  *value = pointer;
  if (length) *length = size;
  return true;
}

}  // namespace platform
