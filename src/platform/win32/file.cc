// Files on Windows: CreateFileA with no sharing and unbuffered handle I/O; files in held folders
// are made, replaced and removed in folder.cc.
#include <windows.h>

#include <string>

#include "platform/fault.h"
#include "platform/file.h"
#include "platform/win32/wide_path.h"

namespace platform {
namespace {
HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

bool File::Open(const FileLocation& path, FileMode mode, bool inheritable, File* out) {
  if (fault::Strike()) return false;
  DWORD access = GENERIC_WRITE;
  DWORD disposition = OPEN_ALWAYS;
  DWORD share = 0;
  switch (mode) {
    case FileMode::kRead:
      access = GENERIC_READ;
      disposition = OPEN_EXISTING;
      break;
    case FileMode::kReadShared:
      access = GENERIC_READ;
      disposition = OPEN_EXISTING;
      share = FILE_SHARE_READ;
      break;
    case FileMode::kAppend:
      break;
    case FileMode::kTruncate:
      disposition = CREATE_ALWAYS;
      break;
  }
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, inheritable ? TRUE : FALSE};
  HANDLE h = path.besideLauncher() ? CreateFileW(win32::WidePath(path).data(), access, share, &sa,
                                                 disposition, FILE_ATTRIBUTE_NORMAL, nullptr)
                                   : CreateFileA(path.text().c_str(), access, share, &sa,
                                                 disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (mode == FileMode::kAppend && SetFilePointer(h, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    CloseHandle(h);
    return false;
  }
  File file;
  file.handle_ = ScopedHandle<FilePolicy>(reinterpret_cast<intptr_t>(h));
  *out = std::move(file);
  return true;
}

bool File::Read(void* buffer, size_t size, size_t* got) {
  if (fault::Strike()) return false;
  DWORD n = 0;
  if (!ReadFile(H(handle_.Get()), buffer, static_cast<DWORD>(size), &n, nullptr)) return false;
  *got = n;
  return true;
}

bool File::Write(const void* data, size_t size) {
  if (fault::Strike()) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD n = 0;
    if (!WriteFile(H(handle_.Get()), p, static_cast<DWORD>(size), &n, nullptr) || n == 0) return false;
    p += n;
    size -= n;
  }
  return true;
}

bool File::Seek(int64_t offset) {
  if (fault::Strike()) return false;
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(H(handle_.Get()), to, nullptr, FILE_BEGIN) != 0;
}

bool File::SeekEnd(int64_t* length) {
  if (fault::Strike()) return false;
  LARGE_INTEGER zero, end;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(H(handle_.Get()), zero, &end, FILE_END)) return false;
  *length = end.QuadPart;
  return true;
}

bool File::Truncate() {
  if (fault::Strike()) return false;
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return SetFilePointerEx(H(handle_.Get()), start, nullptr, FILE_BEGIN) &&
         SetEndOfFile(H(handle_.Get())) != 0;
}

bool File::Sync() {
  if (fault::Strike()) return false;
  return FlushFileBuffers(H(handle_.Get())) != 0;
}

bool FilePolicy::Close(Handle handle) {
  const bool struck = fault::Strike();
  return CloseHandle(H(handle)) != 0 && !struck;
}

bool File::AcceptsWriting() const {
  if (fault::Strike()) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(H(handle_.Get()), &info)) return false;
  // A create-or-truncate open refuses a hidden or system file as it refuses a read-only one.
  const DWORD kRefused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return (info.dwFileAttributes & kRefused) == 0;
}

}  // namespace platform
