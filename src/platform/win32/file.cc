// Files on Windows: CreateFileA with no sharing, unbuffered handle I/O, and a replace made
// through the handle that wrote the new file.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ascii.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "platform/win32/security.h"
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

bool File::CreateReplacement(const std::string& target, const std::string& path, File* out) {
  if (fault::Strike()) return false;
  std::vector<unsigned char> current, wanted;
  if (!win32::ReadFileSecurity(target, &current)) return false;
  win32::EnableRestorePrivilege();
  HANDLE h = INVALID_HANDLE_VALUE;
  // The target's owner where this program may set it; otherwise ours, with the target's DACL.
  for (bool withOwner : {true, false}) {
    if (!win32::ReplacementSecurity(current.data(), withOwner, &wanted)) return false;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), wanted.data(), FALSE};
    // DELETE: the replace renames the file through this handle.
    h = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, &sa, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_OWNER) break;
  }
  if (h == INVALID_HANDLE_VALUE) return false;
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

bool File::Sync() {
  if (fault::Strike()) return false;
  return FlushFileBuffers(H(handle_.Get())) != 0;
}

// The system's cache writes in the background already; nothing starts it sooner without waiting.
void File::StartSync() {}

bool FilePolicy::Close(Handle handle) {
  const bool struck = fault::Strike();
  return CloseHandle(H(handle)) != 0 && !struck;
}

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

namespace {

// |target| as the full NT path that a rename through a handle takes, in UTF-16 with its zero.
bool RenameTargetName(const std::string& target, std::vector<wchar_t>* out) {
  const win32::WideText wide = win32::Widen(target);
  const wchar_t kPrefix[] = L"\\??\\";
  const size_t prefix = sizeof(kPrefix) / sizeof(wchar_t) - 1;
  DWORD size = GetFullPathNameW(wide.data(), 0, nullptr, nullptr);
  if (size == 0) return false;
  std::vector<wchar_t> full(prefix + size);
  DWORD got = GetFullPathNameW(wide.data(), size, full.data() + prefix, nullptr);
  if (got == 0 || got >= size) return false;
  std::copy(kPrefix, kPrefix + prefix, full.begin());
  full.resize(prefix + got + 1);
  *out = std::move(full);
  return true;
}

// Gives the file open as |h| the creation time of |target| and its attributes that a replaced
// file keeps (archive, not content-indexed).
bool TakeOverTimesAndAttributes(HANDLE h, const std::string& target) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &data)) return false;
  FILE_BASIC_INFO basic = {};  // zero times are left as they are
  basic.CreationTime.LowPart = data.ftCreationTime.dwLowDateTime;
  basic.CreationTime.HighPart = static_cast<LONG>(data.ftCreationTime.dwHighDateTime);
  const DWORD kept =
      data.dwFileAttributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  basic.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic)) != 0;
}

// Renames the file open as |h| over |target|: one step on the file system.
bool RenameOver(HANDLE h, const std::string& target) {
  std::vector<wchar_t> name;
  if (!RenameTargetName(target, &name)) return false;
  const size_t bytes = (name.size() - 1) * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes);  // room for the zero too
  FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(info->FileName, name.data(), bytes + sizeof(wchar_t));
  return SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

}  // namespace

bool AtomicReplace(const std::string& target, const std::string& /*replacement: |written|*/,
                   File* written) {
  if (!written->IsOpen() || fault::Strike()) return false;  // times and attributes
  HANDLE h = H(written->NativeHandle());
  if (!TakeOverTimesAndAttributes(h, target)) return false;
  if (fault::Strike()) return false;  // the rename
  return RenameOver(h, target);
}

bool RemoveFile(const std::string& path) {
  if (fault::Strike()) return false;
  return DeleteFileA(path.c_str()) != 0;
}

bool DiscardReplacement(const std::string& replacement, File* written) {
  if (!written->IsOpen()) return RemoveFile(replacement);
  if (fault::Strike()) {
    written->Close();
    return false;
  }
  HANDLE h = H(written->NativeHandle());
  // A file with the read-only attribute cannot be deleted; Wine gives it to a file whose DACL
  // allows no writing, as the configuration's may.
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic));
  FILE_DISPOSITION_INFO disposition = {TRUE};
  bool removed = SetFileInformationByHandle(h, FileDispositionInfo, &disposition,
                                            sizeof(disposition)) != 0;
  return written->Close() && removed;
}

bool IsPlainFile(const std::string& path) {
  if (fault::Strike()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (fault::Strike()) return false;
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

namespace {

// The name of the mutex that guards the update of |path|: the same for every spelling of the
// path that the system resolves to the same full path, ASCII case aside.
bool UpdateMutexName(const std::string& path, std::string* out) {
  char full[MAX_PATH * 2];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr);
  if (length == 0 || length >= sizeof(full)) return false;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (DWORD i = 0; i < length; ++i) {
    hash = (hash ^ static_cast<unsigned char>(AsciiLower(full[i]))) * 1099511628211ull;
  }
  std::string name = "OrvaPatch.Update.";
  for (int shift = 60; shift >= 0; shift -= 4) name += "0123456789ABCDEF"[(hash >> shift) & 0xF];
  *out = name;
  return true;
}

}  // namespace

bool UpdateLockPolicy::Close(Handle handle) {
  ReleaseMutex(H(handle));
  return CloseHandle(H(handle)) != 0;
}

bool UpdateLock::Acquire(const std::string& path, unsigned milliseconds) {
  if (handle_.IsValid() || fault::Strike()) return false;
  std::string name;
  if (!UpdateMutexName(path, &name)) return false;
  // Global: one lock for every session of the workstation. Only services and administrators
  // may create global names, so no other account can take this one first. A program without
  // that right keeps to its session.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str());
  if (mutex == nullptr) mutex = CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str());
  if (mutex == nullptr) return false;
  // Abandoned: the run that held it died; what it left is cleaned up under the lock.
  DWORD waited = WaitForSingleObject(mutex, milliseconds);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return false;
  }
  handle_ = ScopedHandle<UpdateLockPolicy>(reinterpret_cast<intptr_t>(mutex));
  return true;
}

}  // namespace platform
