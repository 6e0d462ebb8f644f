// Version resources on Windows: version.dll, loaded at run time from the system directory by its
// full path. It is not one of the libraries Windows always takes from System32, and the launcher
// runs elevated, so it is never imported statically (the executable's import table must not name
// it) nor looked up by the search order.
//
// The system's library trusts the file: a resource entry that points outside the file makes it
// copy from memory that is not there, and a root block longer than the data makes its queries
// write past the buffer. The product folder may be written to by any user, so no file reaches it
// before our own reader has found its version data inside the file; the file stays held against
// writers while the system reads it, and what the system read must be a whole version block.
#include "platform/version.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/folders.h"
#include "platform/version_file.h"
#include "platform/win32/system_library.h"
#include "platform/win32/wide_path.h"

namespace platform {
namespace {

typedef DWORD(WINAPI* SizeFn)(LPCSTR, LPDWORD);
typedef DWORD(WINAPI* WideSizeFn)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI* ReadFn)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* WideReadFn)(LPCWSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* QueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);

// The ANSI calls for paths from the registry and the program; the wide ones for a file beside the
// launcher, whose folder the ANSI code page may not spell. Both fill the same version data, which
// VerQueryValueA reads alike.
struct VersionLibrary {
  SizeFn size = nullptr;
  WideSizeFn wideSize = nullptr;
  ReadFn read = nullptr;
  WideReadFn wideRead = nullptr;
  QueryFn query = nullptr;
};

template <typename Fn>
Fn Resolve(const char* name) {
  return reinterpret_cast<Fn>(win32::SystemFunction("version.dll", name));
}

VersionLibrary LoadVersionLibrary() {
  VersionLibrary library;
  library.size = Resolve<SizeFn>("GetFileVersionInfoSizeA");
  library.wideSize = Resolve<WideSizeFn>("GetFileVersionInfoSizeW");
  library.read = Resolve<ReadFn>("GetFileVersionInfoA");
  library.wideRead = Resolve<WideReadFn>("GetFileVersionInfoW");
  library.query = Resolve<QueryFn>("VerQueryValueA");
  if (!library.size || !library.wideSize || !library.read || !library.wideRead || !library.query)
    library = VersionLibrary();
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
  const FileLocation file = LibraryLocation(path);
  pe::FileSource source;
  pe::VersionResource resource;
  if (!pe::LocateVersionResource(file, &source, &resource)) return 0;
  DWORD value = 0;
  DWORD size = file.besideLauncher() ? library.wideSize(win32::WidePath(file).data(), &value)
                                     : library.size(file.text().c_str(), &value);
  if (size != 0 && handle) *handle = value;
  return size;
}

bool ReadVersionInfo(const std::string& path, uint32_t handle, uint32_t size, void* data) {
  const VersionLibrary& library = Library();
  if (!library.read || path.empty() || data == nullptr) return false;
  const FileLocation file = LibraryLocation(path);
  pe::FileSource source;
  pe::VersionResource resource;
  if (!pe::LocateVersionResource(file, &source, &resource)) return false;
  BOOL read = file.besideLauncher()
                  ? library.wideRead(win32::WidePath(file).data(), handle, size, data)
                  : library.read(file.text().c_str(), handle, size, data);
  if (read == FALSE) return false;
  if (!pe::IsWholeVersionBlock(data, std::min(resource.length, size), size)) {
    std::memset(data, 0, size);
    return false;
  }
  return true;
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
