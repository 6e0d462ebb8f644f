// Files on Windows: handle I/O and what a failure means; the open by path is the tests' own;
// files in held folders are made, replaced and removed in folder.cc.
#include <windows.h>

#include <string>

#include "os/file.h"
#include "os/internal/error_meaning.h"
#include "os/win32/failure.h"
#include "os/win32/handle.h"
#include "os/win32/wide_path.h"

namespace os {
using win32::AsHandle;

namespace win32 {

const ErrorMeaning kMeanings[] = {
    {ERROR_FILE_NOT_FOUND, OpenStatus::kMissing},  {ERROR_PATH_NOT_FOUND, OpenStatus::kMissing},
    {ERROR_SHARING_VIOLATION, OpenStatus::kInUse}, {ERROR_LOCK_VIOLATION, OpenStatus::kInUse},
    {ERROR_DISK_FULL, OpenStatus::kNoSpace},       {ERROR_HANDLE_DISK_FULL, OpenStatus::kNoSpace},
    {ERROR_ACCESS_DENIED, OpenStatus::kDenied},
};

Failure FailureOf(DWORD error) { return Meaning(error, kMeanings); }

}  // namespace win32

Failure File::StruckFailure() { return win32::FailureOf(ERROR_IO_DEVICE); }

bool File::Fail() {
  failure_ = win32::FailureOf(GetLastError());
  return false;
}

bool File::PlatformRead(void* buffer, size_t size, size_t* got) {
  DWORD n = 0;
  if (!ReadFile(AsHandle(handle_.Get()), buffer, static_cast<DWORD>(size), &n, nullptr))
    return Fail();
  *got = n;
  return true;
}

bool File::PlatformWrite(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD n = 0;
    if (!WriteFile(AsHandle(handle_.Get()), p, static_cast<DWORD>(size), &n, nullptr) || n == 0)
      return Fail();
    p += n;
    size -= n;
  }
  return true;
}

bool File::PlatformSeek(int64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(AsHandle(handle_.Get()), to, nullptr, FILE_BEGIN) != 0 || Fail();
}

bool File::PlatformSeekEnd(int64_t* length) {
  LARGE_INTEGER zero, end;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(AsHandle(handle_.Get()), zero, &end, FILE_END)) return Fail();
  *length = end.QuadPart;
  return true;
}

bool File::PlatformTruncate() {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return SetFilePointerEx(AsHandle(handle_.Get()), start, nullptr, FILE_BEGIN) &&
         SetEndOfFile(AsHandle(handle_.Get())) != 0;
}

bool File::PlatformSync() { return FlushFileBuffers(AsHandle(handle_.Get())) != 0 || Fail(); }

bool FilePolicy::PlatformClose(Handle handle) { return CloseHandle(AsHandle(handle)) != 0; }

bool File::PlatformAcceptsWriting() const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(AsHandle(handle_.Get()), &info)) return false;
  // A create-or-truncate open refuses a hidden or system file as it refuses a read-only one.
  const DWORD kRefused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return (info.dwFileAttributes & kRefused) == 0;
}

}  // namespace os
