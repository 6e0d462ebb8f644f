// Files on Windows: CreateFileA with no sharing, unbuffered handle I/O.
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
    case FileMode::kCreateNew:
      disposition = CREATE_NEW;
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
  file.handle_ = reinterpret_cast<intptr_t>(h);
  *out = std::move(file);
  return true;
}

bool File::Read(void* buffer, size_t size, size_t* got) {
  if (fault::Strike()) return false;
  DWORD n = 0;
  if (!ReadFile(H(handle_), buffer, static_cast<DWORD>(size), &n, nullptr)) return false;
  *got = n;
  return true;
}

bool File::Write(const void* data, size_t size) {
  if (fault::Strike()) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD n = 0;
    if (!WriteFile(H(handle_), p, static_cast<DWORD>(size), &n, nullptr) || n == 0) return false;
    p += n;
    size -= n;
  }
  return true;
}

bool File::Seek(int64_t offset) {
  if (fault::Strike()) return false;
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(H(handle_), to, nullptr, FILE_BEGIN) != 0;
}

bool File::SeekEnd(int64_t* length) {
  if (fault::Strike()) return false;
  LARGE_INTEGER zero, end;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(H(handle_), zero, &end, FILE_END)) return false;
  *length = end.QuadPart;
  return true;
}

bool File::Sync() {
  if (fault::Strike()) return false;
  return FlushFileBuffers(H(handle_)) != 0;
}

bool File::Close() {
  if (handle_ == kInvalid) return true;
  HANDLE h = H(handle_);
  handle_ = kInvalid;
  bool struck = fault::Strike();
  return CloseHandle(h) != 0 && !struck;
}

namespace {

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool IsWritable(const std::string& path) {
  if (fault::Strike()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  // A create-or-truncate open refuses a hidden or system file as it refuses a read-only one.
  const DWORD kRefused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kRefused) != 0) return false;
  // Opening for writing with no sharing, without cutting anything, answers for the security
  // settings and for any other opener.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool AtomicReplace(const std::string& target, const std::string& replacement, File* written) {
  if (!written->Close()) return false;
  if (fault::Strike()) return false;  // the replace cannot start
  // One backup name. A backup left by an earlier run that could not remove it is an older copy
  // (the configuration itself is here to be replaced): it goes first, or nothing is replaced.
  const std::string backup = target + ".orvapatch-backup";
  if (Exists(backup) && (fault::Strike() || !DeleteFileA(backup.c_str()))) return false;
  BOOL replaced;
  if (fault::Strike()) {
    // Stands for the replace's documented failure halfway (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2):
    // the original already moved to the backup name, the replacement not yet moved in.
    MoveFileExA(target.c_str(), backup.c_str(), 0);
    replaced = FALSE;
  } else {
    replaced = ReplaceFileA(target.c_str(), replacement.c_str(), backup.c_str(), 0, nullptr,
                            nullptr);
  }
  if (!replaced) {
    // Whatever the replace reports, an original left under the backup name goes back.
    if (!Exists(target) && Exists(backup) && !fault::Strike()) {
      MoveFileExA(backup.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    }
    return false;
  }
  if (!fault::Strike()) DeleteFileA(backup.c_str());
  return true;
}

bool RemoveFile(const std::string& path) {
  if (fault::Strike()) return false;
  return DeleteFileA(path.c_str()) != 0;
}

}  // namespace platform
