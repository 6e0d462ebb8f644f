// A support tool's output, named files, query paths and the system's version library on Windows:
// the C runtime's binary mode, full paths, the ANSI code page, System32's version.dll.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "os/tool.h"
#include "os/win32/system_library.h"

namespace os {
namespace {

typedef DWORD(WINAPI* SizeFn)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* ReadFn)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* QueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);

// version.dll's functions, resolved once, on first use; all null when one is missing.
struct SystemFunctions {
  SizeFn size = nullptr;
  ReadFn read = nullptr;
  QueryFn query = nullptr;
};

template <typename Fn>
Fn Resolve(const char* name) {
  return reinterpret_cast<Fn>(win32::SystemFunction("version.dll", name));
}

const SystemFunctions& Functions() {
  static const SystemFunctions functions = [] {
    SystemFunctions f;
    f.size = Resolve<SizeFn>("GetFileVersionInfoSizeA");
    f.read = Resolve<ReadFn>("GetFileVersionInfoA");
    f.query = Resolve<QueryFn>("VerQueryValueA");
    if (!f.size || !f.read || !f.query) f = SystemFunctions();
    return f;
  }();
  return functions;
}

uint32_t SystemSize(const std::string& path, uint32_t* handle) {
  DWORD value = 0;
  const DWORD size = Functions().size(path.c_str(), &value);
  if (size != 0 && handle) *handle = value;
  return size;
}

bool SystemRead(const std::string& path, uint32_t handle, uint32_t size, void* data) {
  return Functions().read(path.c_str(), handle, size, data) != FALSE;
}

bool SystemQuery(const void* block, const std::string& subBlock, const void** value,
                 uint32_t* length) {
  LPVOID pointer = nullptr;
  UINT size = 0;
  if (!Functions().query(block, subBlock.c_str(), &pointer, &size)) return false;
  *value = pointer;
  if (length) *length = size;
  return true;
}

}  // namespace

std::u16string Utf16FromAnsi(const std::string& text) {
  if (text.empty()) return std::u16string();
  const int size = static_cast<int>(text.size());
  const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (count <= 0) return std::u16string();
  std::u16string wide(static_cast<size_t>(count), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, reinterpret_cast<wchar_t*>(&wide[0]), count);
  return wide;
}

void SetBinaryOutput() { _setmode(_fileno(stdout), _O_BINARY); }

std::string ArgumentText(const char* argument) { return argument; }

std::string NamedFile(const char* argument) {
  // A full path is taken as it is, where a bare name would be looked up as a library.
  char buffer[MAX_PATH] = {};
  DWORD n = GetFullPathNameA(argument, MAX_PATH, buffer, nullptr);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buffer, n);
}

const VersionLibrary* SystemVersionLibrary() {
  static const VersionLibrary library = {SystemSize, SystemRead, SystemQuery};
  return Functions().size ? &library : nullptr;
}

}  // namespace os
