// Held folders on Windows: directory handles opened without following reparse points, and every
// file opened, created, renamed and deleted relative to them through ntdll, whose calls take a
// folder handle and a bare name (the kernel32 calls turn every name into a full path first).
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/ascii.h"
#include "os/folder.h"
#include "os/internal/access.h"
#include "os/internal/entries.h"
#include "os/internal/random.h"
#include "os/win32/failure.h"
#include "os/win32/handle.h"
#include "os/win32/nt.h"
#include "os/win32/security.h"
#include "os/win32/wide_path.h"

namespace os {
namespace {

using namespace nt;  // the ntdll declarations are this file's vocabulary

using win32::AsHandle;
using win32::AsNumber;

OpenStatus StatusOf(NtStatus status) {
  switch (status) {
    case kSuccess: return OpenStatus::kDone;
    case kObjectNameNotFound:
    case kObjectPathNotFound: return OpenStatus::kMissing;
    case kSharingViolation:
    case kDeletePending:
    case kOplockBreakInProgress:  // its handle closed: see OpenRelative
      return OpenStatus::kInUse;
    case kNotADirectory:
    case kFileIsADirectory: return OpenStatus::kRefused;
    case kDiskFull: return OpenStatus::kNoSpace;
    case kAccessDenied: return OpenStatus::kDenied;
    default: return OpenStatus::kFailed;
  }
}

// What the failed ntdll call's |status| means, with the Win32 error it converts to.
Failure NtFailure(NtStatus status) {
  static const ToDosErrorFn toDosError = Ntdll<ToDosErrorFn>("RtlNtStatusToDosError");
  Failure failure;
  failure.status = StatusOf(status);
  failure.error = toDosError != nullptr ? toDosError(status) : static_cast<uint32_t>(status);
  return failure;
}

// What the failed kernel32 call means, from GetLastError.
Failure LastFailure() { return win32::FailureOf(GetLastError()); }

// A refusal of the program's own, which has no system error.
Failure Refusal(OpenStatus status) {
  Failure failure;
  failure.status = status;
  return failure;
}

// Gives |failure| to |*why| when asked, and returns what it means.
OpenStatus Reported(const Failure& failure, Failure* why) {
  if (why != nullptr) *why = failure;
  return failure.status;
}

// Reported, for the creation of a replacement, which answers false.
bool CreateFailed(const Failure& failure, Failure* why) {
  Reported(failure, why);
  return false;
}

using win32::Text;
using win32::Wide;

Text Literal(const wchar_t* text) { return Text(text, text + wcslen(text)); }

}  // namespace

bool win32::FinalPath(void* handle, std::vector<wchar_t>* out) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return false;
    if (n < buffer.size()) {
      out->assign(buffer.data(), buffer.data() + n);
      return true;
    }
    buffer.resize(n + 1);
  }
}

namespace {

using win32::FinalPath;

// |folder| joined with |name|.
Text Child(Text folder, const Text& name) {
  if (folder.empty() || folder.back() != L'\\') folder.push_back(L'\\');
  folder.insert(folder.end(), name.begin(), name.end());
  return folder;
}

// The open |handle| is what was asked for: its attributes show no reparse point and the kind
// asked for, it has one name when it is a file, and its final path is |expected| (under Wine a
// link shows there only), the file system matching names without regard to case. |room|, made
// before the open, has room for one character more than |expected|: the check allocates nothing,
// so that running out of memory cannot pass for a refusal of a file that the open has created.
bool IsWhatWasAskedFor(HANDLE handle, bool folder, const Text& expected, Text* room) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  // A final path longer than |expected| does not fit in |room|, and is another path.
  const DWORD length =
      GetFinalPathNameByHandleW(handle, room->data(), static_cast<DWORD>(room->size()),
                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  const bool isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && isFolder == folder &&
         (folder || info.nNumberOfLinks == 1) && length == expected.size() &&
         CompareStringOrdinal(room->data(), static_cast<int>(length), expected.data(),
                              static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

// Opens |name| relative to |folder| without following a reparse point or, with no |folder|, the
// full NT path |name| ("\??\C:\...", "\??\UNC\server\share\...") with every link on it followed;
// an |inheritable| handle stays open in programs started while it is open. Every file and folder
// of the update and the log is opened here.
NtStatus OpenRelative(HANDLE folder, const Text& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, void* security, HANDLE* out,
                      bool inheritable = false) {
  static const CreateFileFn create = Ntdll<CreateFileFn>("NtCreateFile");
  if (create == nullptr) return kAccessDenied;
  CountedText text = {static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                      static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                      const_cast<wchar_t*>(name.data())};
  ObjectAttributes attributes = {
      sizeof(attributes), folder, &text, kCaseInsensitive | (inheritable ? kInherit : 0),
      security,           nullptr};
  IoStatus io = {};
  // No open waits for another program. Whoever can open a file can hold an opportunistic lock on
  // it and never acknowledge its break, and an open that breaks such a lock waits for that. With
  // FILE_COMPLETE_IF_OPLOCKED the system starts the break and answers at once: a sharing
  // violation, or STATUS_OPLOCK_BREAK_IN_PROGRESS with a handle whose first use would wait, which
  // is closed unused; either counts as in use, retried with patience, then left. An open that
  // succeeds outright leaves only locks that cache reads, whose breaks by a later write or change
  // of length are not waited for. Wine has no such locks: this holds by the system's rules.
  // Every handle is checked for what it is (IsWhatWasAskedFor), which reads its attributes:
  // CreateFileW asks that right on its own, NtCreateFile does not.
  const NtStatus status = create(
      out, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr,
      FILE_ATTRIBUTE_NORMAL, share, disposition,
      options | kSynchronousIo | kCompleteIfOplocked | (folder != nullptr ? kOpenReparsePoint : 0),
      nullptr, 0);
  if (status == kOplockBreakInProgress) CloseHandle(*out);
  return status;
}

// How a file or folder is opened in a held folder.
struct Opening {
  ACCESS_MASK access;
  ULONG share;
  ULONG disposition;
  bool isFolder;
  bool inheritable;
  void* security = nullptr;  // the descriptor of a file or folder that the open makes
};

// Opens and checks the bare name |wide| in the held |folder| (see IsWhatWasAskedFor).
OpenStatus OpenChecked(HANDLE folder, const Text& wide, const Opening& how, HANDLE* out,
                       Failure* why) {
  Text folderPath;
  if (!FinalPath(folder, &folderPath)) return Reported(LastFailure(), why);
  const Text expected = Child(folderPath, wide);
  Text room(expected.size() + 1);
  HANDLE h = nullptr;
  const NtStatus status = OpenRelative(folder, wide, how.access, how.share, how.disposition,
                                       how.isFolder ? kDirectoryFile : kNonDirectoryFile,
                                       how.security, &h, how.inheritable);
  if (status != kSuccess) return Reported(NtFailure(status), why);
  if (!IsWhatWasAskedFor(h, how.isFolder, expected, &room)) {
    CloseHandle(h);
    return Reported(Refusal(OpenStatus::kRefused), why);
  }
  *out = h;
  return OpenStatus::kDone;
}

// Opens and checks |name| in the held |folder|; a name that is not bare is refused.
OpenStatus OpenChecked(intptr_t folder, const std::string& name, const Opening& how, HANDLE* out,
                       Failure* why) {
  if (!IsEntryName(name)) return Reported(Refusal(OpenStatus::kRefused), why);
  return OpenChecked(AsHandle(folder), Wide(name), how, out, why);
}

// A held folder is listed and traversed, never deleted or renamed while it is held.
const ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
const ULONG kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
const Opening kFolderOpening = {kFolderAccess, kFolderShare, kFileOpen, true, false};

// What a failed open by path says.
OpenStatus StatusOfLastError() {
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? OpenStatus::kMissing
                                                                        : OpenStatus::kFailed;
}

// The full path that |path| (with its zero) names, as a final path reads it: "\\?\C:\..." or
// "\\?\UNC\server\share\...", ending in a separator only at a drive's root, each short name
// made long: final paths give every name long.
OpenStatus FullPath(const win32::WideText& path, Text* out) {
  DWORD size = GetFullPathNameW(path.data(), 0, nullptr, nullptr);
  if (size == 0) return OpenStatus::kFailed;
  std::vector<wchar_t> full(size);
  DWORD got = GetFullPathNameW(path.data(), size, full.data(), nullptr);
  if (got == 0 || got >= size) return OpenStatus::kFailed;
  full.resize(got + 1);
  // Made long before the prefix is put on: Wine makes no name of a "\\?\" path long.
  size = GetLongPathNameW(full.data(), nullptr, 0);
  if (size == 0 && StatusOfLastError() == OpenStatus::kMissing) return OpenStatus::kMissing;
  if (size != 0) {  // else a path too long for the call: a short name in it is then refused
    std::vector<wchar_t> made(size);
    got = GetLongPathNameW(full.data(), made.data(), size);
    if (got == 0 || got >= size) return OpenStatus::kFailed;
    full.assign(made.begin(), made.begin() + got + 1);
  }
  full.pop_back();
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  const bool unc = full.size() >= 2 && full[0] == L'\\' && full[1] == L'\\';
  Text text = Literal(unc ? L"\\\\?\\UNC" : L"\\\\?\\");
  text.insert(text.end(), full.begin() + (unc ? 1 : 0), full.end());
  *out = text;
  return OpenStatus::kDone;
}

// The length of the root of the full path |path| (from FullPath): "\\?\C:\", or
// "\\?\UNC\server\share" and its separator when a name follows.
size_t RootLength(const Text& path) {
  const Text unc = Literal(L"\\\\?\\UNC\\");
  if (path.size() < unc.size() || !std::equal(unc.begin(), unc.end(), path.begin())) {
    return std::min<size_t>(path.size(), 7);
  }
  size_t at = unc.size();
  for (int name = 0; name < 2 && at < path.size(); ++name) {
    while (at < path.size() && path[at] != L'\\') ++at;
    if (name == 0 && at < path.size()) ++at;
  }
  return at < path.size() ? at + 1 : at;
}

// Opens |path| (a path from FullPath) as its path leads, every link followed: a folder, or with
// |file| a file to read, shared with readers only.
OpenStatus OpenByPath(Text path, HANDLE* out, Failure* why, bool file = false) {
  path[1] = L'?';  // "\\?\" is the Win32 spelling of the object manager's "\??\"
  const NtStatus status = file ? OpenRelative(nullptr, path, GENERIC_READ, FILE_SHARE_READ,
                                              kFileOpen, kNonDirectoryFile, nullptr, out)
                               : OpenRelative(nullptr, path, kFolderAccess, kFolderShare, kFileOpen,
                                              kDirectoryFile, nullptr, out);
  return status == kSuccess ? OpenStatus::kDone : Reported(NtFailure(status), why);
}

}  // namespace

OpenStatus File::PlatformOpenProgram(const FileLocation& path, File* out, Failure* why) {
  Text full;
  HANDLE h = nullptr;
  OpenStatus status = FullPath(win32::WidePath(path), &full);
  if (status != OpenStatus::kDone) *why = LastFailure();
  if (status == OpenStatus::kDone) status = OpenByPath(full, &h, why, true);
  if (status == OpenStatus::kDone) out->handle_ = base::ScopedHandle<FilePolicy>(AsNumber(h));
  return status;
}

namespace {

// Gives the file |h| the creation time and the kept attributes (archive, not content-indexed)
// of the file |from|.
bool TakeOverTimesAndAttributes(HANDLE h, HANDLE from) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(from, &info)) return false;
  FILE_BASIC_INFO basic = {};  // zero times are left as they are
  basic.CreationTime.LowPart = info.ftCreationTime.dwLowDateTime;
  basic.CreationTime.HighPart = static_cast<LONG>(info.ftCreationTime.dwHighDateTime);
  const DWORD kept =
      info.dwFileAttributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  basic.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic)) != 0;
}

// Deletes the open file |h| through its handle, whatever attributes it has.
bool DeleteThrough(HANDLE h) {
  // A read-only file cannot be deleted; Wine gives that attribute to a file whose DACL allows
  // no writing, as the configuration's may.
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic))) return false;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition)) != 0;
}

// What a folder and the entries of a folder being removed are opened with: enough to check them,
// list them and delete them.
const ACCESS_MASK kRemovalAccess =
    DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY | READ_CONTROL;

// What a leftover is opened with: enough to check it, read its owner and delete it.
const ACCESS_MASK kLeftoverAccess =
    DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// What a failed deletion means: an image that an ended process still maps, or a folder whose
// entries are still being deleted, is in use for a moment.
OpenStatus DeletionFailure() {
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                 error == ERROR_DIR_NOT_EMPTY
             ? OpenStatus::kInUse
             : win32::FailureOf(error).status;
}

// Opens the folder |name| in the held |folder| as |disposition| asks (made, with the clean room's
// descriptor, or opened), checked as IsWhatWasAskedFor checks, and held without delete sharing.
// A folder made is owned by the Administrators group where the token may give it that owner, so
// that every administrator's run, and the system's, finds it theirs whoever made it.
OpenStatus OpenPrivate(intptr_t folder, const std::string& name, ULONG disposition, HANDLE* out,
                       Failure* why) {
  OpenStatus status = OpenStatus::kFailed;
  for (bool administratorsOwn : {true, false}) {
    std::vector<unsigned char> descriptor;
    if (!win32::CleanRoomSecurity(administratorsOwn, &descriptor))
      return Reported(LastFailure(), why);
    Opening how = {kFolderAccess | READ_CONTROL, kFolderShare, disposition, true, false};
    how.security = descriptor.data();
    Failure failure;
    status = OpenChecked(folder, name, how, out, &failure);
    if (status == OpenStatus::kDone) return status;
    if (failure.error != ERROR_INVALID_OWNER) return Reported(failure, why);
  }
  return status;
}

}  // namespace

OpenStatus Folder::PlatformOpenPrivateFolder(const std::string& name, Folder* out,
                                             Failure* why) const {
  HANDLE h = nullptr;
  const OpenStatus status = OpenPrivate(handle_.Get(), name, kFileOpenIf, &h, why);
  if (status != OpenStatus::kDone) return status;
  base::ScopedHandle<FilePolicy> held(AsNumber(h));
  // Whoever made it: a folder that a standard user made, or may write in, is not ours.
  if (!win32::IsPrivate(h)) return Reported(Refusal(OpenStatus::kRefused), why);
  out->handle_ = std::move(held);
  return OpenStatus::kDone;
}

OpenStatus Folder::PlatformMakePrivateFolder(const std::string& name, Folder* out,
                                             Failure* why) const {
  HANDLE h = nullptr;
  const OpenStatus status = OpenPrivate(handle_.Get(), name, kFileCreate, &h, why);
  if (status == OpenStatus::kDone) out->handle_ = base::ScopedHandle<FilePolicy>(AsNumber(h));
  return status;
}

std::vector<std::string> Folder::ReadNames(const std::string& prefix) const {
  std::vector<std::string> names;
  std::vector<EntryName> found;
  ListEntries(handle_.Get(), prefix, &found);
  for (const Text& name : found) {
    // A name outside the ANSI code page is none of the program's.
    BOOL lossy = FALSE;
    char narrow[MAX_PATH];
    const int n =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(),
                            static_cast<int>(name.size()), narrow, sizeof(narrow), nullptr, &lossy);
    if (n > 0 && !lossy) names.emplace_back(narrow, n);
  }
  return names;
}

OpenStatus Folder::PlatformOpen(const FileLocation& path, Folder* out, Failure* why) {
  // The folders above the product folder are the administrator's: their links are followed, and
  // the path may name them in any way the system resolves. The folder itself is opened in its
  // parent without following a reparse point, and its final path must be the parent's and its name.
  Text full;
  OpenStatus status = FullPath(win32::WidePath(path), &full);
  if (status != OpenStatus::kDone) return Reported(LastFailure(), why);
  const size_t root = RootLength(full);
  HANDLE h = nullptr;
  if (full.size() <= root) {
    status = OpenByPath(full, &h, why);  // a drive's or a share's root: the administrator's
  } else {
    size_t last = full.size();
    while (last > root && full[last - 1] != L'\\') --last;
    HANDLE parent = nullptr;
    status =
        OpenByPath(Text(full.begin(), full.begin() + static_cast<ptrdiff_t>(last)), &parent, why);
    if (status != OpenStatus::kDone) return status;
    status = OpenChecked(parent, Text(full.begin() + static_cast<ptrdiff_t>(last), full.end()),
                         kFolderOpening, &h, why);
    CloseHandle(parent);
  }
  if (status == OpenStatus::kDone) out->handle_ = base::ScopedHandle<FilePolicy>(AsNumber(h));
  return status;
}

OpenStatus Folder::PlatformOpenSystemFolder(const FileLocation& path, Folder* out, Failure* why) {
  Text full;
  HANDLE h = nullptr;
  if (FullPath(win32::WidePath(path), &full) != OpenStatus::kDone)
    return Reported(LastFailure(), why);
  const OpenStatus status = OpenByPath(full, &h, why);
  if (status == OpenStatus::kDone) out->handle_ = base::ScopedHandle<FilePolicy>(AsNumber(h));
  return status;
}

OpenStatus Folder::PlatformOpenFolder(const std::string& name, Folder* out, Failure* why) const {
  HANDLE h = nullptr;
  const OpenStatus status = OpenChecked(handle_.Get(), name, kFolderOpening, &h, why);
  if (status == OpenStatus::kDone) out->handle_ = base::ScopedHandle<FilePolicy>(AsNumber(h));
  return status;
}

OpenStatus Folder::PlatformOpenFile(const std::string& name, FileMode mode, bool inheritable,
                                    File* out, Failure* why) const {
  // READ_CONTROL: a replacement takes the file's security from this handle. A file written is
  // shared with readers, so that a viewer of the log does not keep it from being written.
  const bool write = mode == FileMode::kAppend || mode == FileMode::kTruncate;
  const bool create = mode == FileMode::kCreateNew;
  const Opening how = {create  ? GENERIC_WRITE
                       : write ? GENERIC_READ | GENERIC_WRITE
                               : GENERIC_READ | READ_CONTROL,
                       mode == FileMode::kRead || create ? 0u : static_cast<ULONG>(FILE_SHARE_READ),
                       create  ? kFileCreate
                       : write ? kFileOpenIf
                               : kFileOpen,
                       false, inheritable};
  HANDLE h = nullptr;
  const OpenStatus status = OpenChecked(handle_.Get(), name, how, &h, why);
  if (status != OpenStatus::kDone) return status;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if ((mode == FileMode::kAppend && !SetFilePointerEx(h, zero, nullptr, FILE_END)) ||
      (mode == FileMode::kTruncate && !SetEndOfFile(h))) {
    const Failure failure = LastFailure();
    CloseHandle(h);
    return Reported(failure, why);
  }
  out->handle_ = base::ScopedHandle<FilePolicy>(AsNumber(h));
  return OpenStatus::kDone;
}

bool Folder::PlatformCreateReplacement(const File& original, const std::string& prefix,
                                       std::string* name, File* out, Failure* why) const {
  std::vector<unsigned char> current, wanted;
  std::string digits;
  if (!win32::ReadOwnerAndDacl(AsHandle(original.NativeHandle()), &current) ||
      !RandomDigits(&digits)) {
    return CreateFailed(LastFailure(), why);
  }
  std::string created = prefix + digits;
  HANDLE h = nullptr;
  // The original's owner where this program may set it; otherwise ours, with its DACL.
  for (bool withOwner : {true, false}) {
    if (!win32::ReplacementSecurity(current.data(), withOwner, &wanted)) {
      return CreateFailed(Refusal(OpenStatus::kFailed), why);
    }
    NtStatus status;
    {
      win32::RestorePrivilege privilege;
      // DELETE: the replace renames the file through this handle.
      status = OpenRelative(AsHandle(handle_.Get()), Wide(created), GENERIC_WRITE | DELETE, 0,
                            kFileCreate, kNonDirectoryFile, wanted.data(), &h);
    }
    if (status == kSuccess) break;
    if (!withOwner || status != kInvalidOwner) {
      return CreateFailed(NtFailure(status), why);
    }
  }
  File file;
  file.handle_ = base::ScopedHandle<FilePolicy>(AsNumber(h));
  if (!TakeOverTimesAndAttributes(h, AsHandle(original.NativeHandle()))) {
    const Failure failure = LastFailure();
    Discard(&file, created);
    return CreateFailed(failure, why);
  }
  name->swap(created);  // no allocation: nothing can fail now that the file exists
  *out = std::move(file);
  return true;
}

OpenStatus Folder::PlatformReplace(File* written, const std::string& /*temporary: the handle*/,
                                   const std::string& name, Failure* why) const {
  if (!IsEntryName(name)) return Reported(Refusal(OpenStatus::kRefused), why);
  static const SetInformationFn set = Ntdll<SetInformationFn>("NtSetInformationFile");
  if (set == nullptr) return Reported(Refusal(OpenStatus::kFailed), why);
  const Text wide = Wide(name);
  const size_t bytes = wide.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(RenameInformation) + bytes);
  RenameInformation* info = reinterpret_cast<RenameInformation*>(buffer.data());
  info->replaceIfExists = TRUE;
  info->rootDirectory = AsHandle(handle_.Get());
  info->fileNameLength = static_cast<ULONG>(bytes);
  std::memcpy(info->fileName, wide.data(), bytes);
  IoStatus io = {};
  const NtStatus status = set(AsHandle(written->NativeHandle()), &io, info,
                              static_cast<ULONG>(buffer.size()), kFileRenameInformation);
  if (status == kSuccess) return OpenStatus::kDone;
  Failure failure = NtFailure(status);
  // A target that another program holds open refuses to be replaced.
  if (status == kAccessDenied) failure.status = OpenStatus::kInUse;
  return Reported(failure, why);
}

bool Folder::PlatformDiscard(File* written, const std::string& /*temporary: the handle*/,
                             bool remove) const {
  const bool removed = remove && DeleteThrough(AsHandle(written->NativeHandle()));
  return written->Close() && removed;
}

EntryName EntryNameOf(const std::string& name) { return Wide(name); }

bool ListEntries(intptr_t folder, const std::string& prefix, std::vector<EntryName>* out) {
  static const QueryDirectoryFn query = Ntdll<QueryDirectoryFn>("NtQueryDirectoryFile");
  if (query == nullptr) return true;
  const Text wide = Wide(prefix);
  alignas(8) unsigned char buffer[4096];
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IoStatus io = {};
    if (query(AsHandle(folder), nullptr, nullptr, nullptr, &io, buffer, sizeof(buffer),
              kFileNamesInformation, FALSE, nullptr, restart) != kSuccess) {
      return true;  // the end of the listing, or a failure: what was found is enough
    }
    for (size_t at = 0;;) {
      const NamesInformation* entry = reinterpret_cast<const NamesInformation*>(buffer + at);
      const Text name(entry->fileName, entry->fileName + entry->fileNameLength / sizeof(wchar_t));
      bool match = name.size() >= wide.size() && name != Literal(L".") && name != Literal(L"..");
      for (size_t i = 0; match && i < wide.size(); ++i) {
        match = base::AsciiLower(name[i]) == base::AsciiLower(wide[i]);
      }
      if (match) out->push_back(name);
      if (entry->nextEntryOffset == 0) break;
      at += entry->nextEntryOffset;
    }
  }
}

OpenStatus OpenEntry(intptr_t folder, const EntryName& name, EntryUse use, Entry* out,
                     EntryKind* kind) {
  Text folderPath;
  if (!FinalPath(AsHandle(folder), &folderPath)) return OpenStatus::kFailed;
  const Text expected = Child(folderPath, name);
  Text room(expected.size() + 1);
  HANDLE h = nullptr;
  // A leftover is shared with nobody: a run that still goes holds its files.
  const bool shared = use == EntryUse::kInTree;
  const NtStatus status =
      OpenRelative(AsHandle(folder), name, shared ? kRemovalAccess : kLeftoverAccess,
                   shared ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0, kFileOpen,
                   shared ? 0 : kNonDirectoryFile, nullptr, &h);
  if (status != kSuccess) return StatusOf(status);
  *out = Entry(AsNumber(h));
  BY_HANDLE_FILE_INFORMATION info;
  const bool isFolder = GetFileInformationByHandle(h, &info) &&
                        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  *kind = !IsWhatWasAskedFor(h, isFolder, expected, &room) ? EntryKind::kOther
          : isFolder                                       ? EntryKind::kFolder
          : shared || win32::OwnedByThisProgramsKind(h)    ? EntryKind::kFile
                                                           : EntryKind::kOther;
  return OpenStatus::kDone;
}

OpenStatus TakePrivateFolder(Entry* entry) {
  return win32::IsPrivate(AsHandle(entry->Get())) ? OpenStatus::kDone : OpenStatus::kRefused;
}

OpenStatus DeleteEntry(intptr_t /*folder*/, const EntryName& /*name: the handle*/,
                       const Entry& entry, EntryKind kind) {
  const HANDLE h = AsHandle(entry.Get());
  // A folder's read-only mark keeps nothing from its deletion; a file's does.
  FILE_DISPOSITION_INFO disposition = {TRUE};
  const bool deleted =
      kind == EntryKind::kFolder
          ? SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition))
          : DeleteThrough(h);
  return deleted ? OpenStatus::kDone : DeletionFailure();
}

bool EntryPolicy::Close(Handle handle) { return CloseHandle(AsHandle(handle)) != 0; }

bool UpdateLock::Identity(const Folder& folder, const std::string& name, std::string* out) {
  // The folder's final path, which every spelling of the folder leads to, and the file's name,
  // their case folded: the file system matches names without regard to case.
  Text path;
  if (!FinalPath(AsHandle(internal::FolderAccess::NativeHandle(folder)), &path)) return false;
  path = Child(path, Wide(name));
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), static_cast<int>(path.size()),
                   path.data(), static_cast<int>(path.size())) != static_cast<int>(path.size())) {
    return false;
  }
  out->assign(reinterpret_cast<const char*>(path.data()), path.size() * sizeof(wchar_t));
  return true;
}

void Pause(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace os
