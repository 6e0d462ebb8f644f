// Started programs on Windows: a clean room under C:\Windows\Temp filled through CryptoAPI's
// SHA-256, CreateProcessW with a handle list and, where offered, libraries from System32 first.
#include <windows.h>

#include <wincrypt.h>

#include <cstring>
#include <new>
#include <vector>

#include "os/process.h"
#include "os/random.h"
#include "os/win32/handle.h"
#include "os/win32/security.h"
#include "os/win32/wide_path.h"
#include "testing/fault.h"

namespace platform {
namespace {

using win32::H;
using win32::N;

// Every clean room's name starts so; the rest is random.
const char kRoomPrefix[] = "OrvaPatch-";
// Copied a piece at a time, so that memory stays small whatever the program's size.
const DWORD kPiece = 1 << 20;
// Deeper than any installer's own files go; a deeper tree is left to the administrator.
const int kMaxDepth = 8;
// Windows 10's process creation policy that loads libraries from System32 before the program's
// folder, and the error of a start that a software restriction rule refuses without telling the
// user; the headers declare both only for newer targets than this program's.
const DWORD64 kPreferSystem32Libraries = 1ull << 60;
const DWORD kRefusedByPolicyQuietly = 786;

// UTF-16 text without its zero.
using Text = std::vector<wchar_t>;

Text Append(Text text, const wchar_t* tail) {
  text.insert(text.end(), tail, tail + wcslen(tail));
  return text;
}

Text Append(Text text, const Text& tail) {
  text.insert(text.end(), tail.begin(), tail.end());
  return text;
}

Text Wide(const std::string& text) {
  Text wide = win32::Widen(text);
  wide.pop_back();
  return wide;
}

// |text| with its zero, for the system's calls.
Text Z(Text text) {
  text.push_back(L'\0');
  return text;
}

// The system's Temp folder, the Windows directory's own: never the user's %TEMP%, which the
// user may write. Empty when the Windows directory cannot be known.
Text TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return Text();
  Text folder(buffer, buffer + n);
  if (folder.back() != L'\\') folder.push_back(L'\\');
  return Append(folder, L"Temp");
}

Text RoomPath(const Text& temp, const std::string& room) {
  return Append(Append(temp, L"\\"), Wide(room));
}

// The SHA-256 of the bytes given to Add, through the system's provider (advapi32, which the
// launcher imports anyway).
// Unless |wanted|, it hashes nothing.
class Sha256 {
 public:
  explicit Sha256(bool wanted) : wanted_(wanted) {
    ok_ = wanted &&
          CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
          CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_);
  }
  ~Sha256() {
    if (hash_) CryptDestroyHash(hash_);
    if (provider_) CryptReleaseContext(provider_, 0);
  }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool Add(const BYTE* data, DWORD size) {
    ok_ = ok_ && CryptHashData(hash_, data, size, 0);
    return ok_ || !wanted_;
  }
  bool Matches(const uint8_t* expected) {
    BYTE digest[CleanRoom::kSha256Size];
    DWORD size = sizeof(digest);
    return ok_ && CryptGetHashParam(hash_, HP_HASHVAL, digest, &size, 0) &&
           size == sizeof(digest) && std::memcmp(digest, expected, sizeof(digest)) == 0;
  }

 private:
  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
  const bool wanted_;
  bool ok_ = false;
};

// Deletes the open file or folder |h| through its handle, a read-only file too: its attributes
// are cleared first, where they can be (a folder's read-only mark keeps nothing from deletion).
bool DeleteThrough(HANDLE h) {
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic));
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition)) != 0;
}

// The open |h| is |path| itself, not reached through a link: Windows shows a reparse point in
// its attributes, Wine a link in its final path only. |info| receives its information.
bool IsItself(HANDLE h, const Text& path, BY_HANDLE_FILE_INFORMATION* info) {
  wchar_t resolved[MAX_PATH * 2];
  const DWORD n = GetFinalPathNameByHandleW(h, resolved, MAX_PATH * 2, FILE_NAME_NORMALIZED);
  if (!GetFileInformationByHandle(h, info) || n == 0 || n >= MAX_PATH * 2) return false;
  const wchar_t* bare = resolved + (wcsncmp(resolved, L"\\\\?\\", 4) == 0 ? 4 : 0);
  return (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         CompareStringOrdinal(bare, -1, Z(path).data(), -1, TRUE) == CSTR_EQUAL;
}

// What a room and its entries are opened with: enough to check them and delete them.
const DWORD kRoomAccess =
    DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL | FILE_LIST_DIRECTORY;

// Opens |path| for deletion without following a reparse point.
HANDLE OpenForDeletion(const Text& path, DWORD share) {
  return CreateFileW(Z(path).data(), kRoomAccess, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The entries of a folder, as FindFirstFileW lists them; closed however the listing ends.
class Listing {
 public:
  explicit Listing(const Text& pattern) : find_(FindFirstFileW(Z(pattern).data(), &found_)) {}
  ~Listing() {
    if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
  }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;

  bool listed() const { return find_ != INVALID_HANDLE_VALUE; }
  const WIN32_FIND_DATAW& entry() const { return found_; }
  bool Next() { return FindNextFileW(find_, &found_) != 0; }

 private:
  WIN32_FIND_DATAW found_;
  HANDLE find_;
};

// Deletes the emptied folder |path| through a handle opened without following a reparse point.
bool DeleteFolder(const Text& path) {
  ScopedHandle<CleanRoomPolicy> h(N(OpenForDeletion(path, FILE_SHARE_READ | FILE_SHARE_WRITE)));
  BY_HANDLE_FILE_INFORMATION info;
  return h.IsValid() && IsItself(H(h.Get()), path, &info) && DeleteThrough(H(h.Get()));
}

bool EmptyFolder(const Text& path, int depth);

// Removes the entry |path| of a folder being emptied, opened without following a reparse point:
// a file of one name, deleted through its handle, or a folder, emptied first. A link, a reparse
// point or a file of several names stays: false.
bool RemoveEntry(const Text& path, int depth) {
  ScopedHandle<CleanRoomPolicy> h(
      N(OpenForDeletion(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.IsValid() || !IsItself(H(h.Get()), path, &info)) return false;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return info.nNumberOfLinks == 1 && DeleteThrough(H(h.Get()));
  }
  // Let go before it is listed: the listing shares no deletion with a handle that may delete.
  h.Close();
  return depth > 0 && EmptyFolder(path, depth - 1) && DeleteFolder(path);
}

// Deletes what the folder |path| holds, folders depth first; false when anything stays, and with
// it the folder.
bool EmptyFolder(const Text& path, int depth) {
  Listing listing(Append(path, L"\\*"));
  if (!listing.listed()) return GetLastError() == ERROR_FILE_NOT_FOUND;
  bool emptied = true;
  do {
    const wchar_t* name = listing.entry().cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
    emptied = RemoveEntry(Append(Append(path, L"\\"), name), depth) && emptied;
  } while (listing.Next());
  return emptied;
}

// The room |path| is certainly a killed run's: a folder itself, not a link, owned by the
// administrators, the system or this program's user, and held by no run that still goes (a
// running one holds its room without delete sharing, so it cannot be opened here for deletion).
bool IsLeftRoom(const Text& path) {
  ScopedHandle<CleanRoomPolicy> h(N(OpenForDeletion(path, FILE_SHARE_READ | FILE_SHARE_WRITE)));
  BY_HANDLE_FILE_INFORMATION info;
  return h.IsValid() && IsItself(H(h.Get()), path, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         win32::OwnedByThisProgramsKind(H(h.Get()));
}

// Removes the clean rooms of |temp| that killed runs left.
void RemoveRoomsListed(const Text& temp) {
  Listing listing(Append(Append(temp, L"\\"), Wide(std::string(kRoomPrefix) + "*")));
  if (!listing.listed()) return;
  do {
    if (!(listing.entry().dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    const Text room = Append(Append(temp, L"\\"), listing.entry().cFileName);
    if (IsLeftRoom(room) && EmptyFolder(room, kMaxDepth)) DeleteFolder(room);
  } while (listing.Next());
}

// RemoveRoomsListed, whose failures change nothing of the run.
void RemoveLeftoverRooms(const Text& temp) {
  if (fault::Strike(fault::Op::kList)) return;
  try {
    RemoveRoomsListed(temp);
  } catch (const std::bad_alloc&) {
    // Out of memory on the way: the rooms left are removed by a later run.
  }
}

// Makes the room |path| with the clean room's descriptor, given at creation; an existing folder
// of that name is never taken over. The folder is then held without delete sharing.
bool MakeRoom(const Text& path, HANDLE* out) {
  std::vector<unsigned char> descriptor;
  if (!win32::CleanRoomSecurity(&descriptor)) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.data(), FALSE};
  // From its creation on, nothing may fail before it is held: no allocation in between.
  const Text terminated = Z(path);
  if (!CreateDirectoryW(terminated.data(), &attributes)) return false;
  // Nobody but the administrators can write in or remove the new folder, so its name is ours.
  // Held without delete sharing, nobody can rename or remove it; held without the right to
  // delete it, the program can still make it its current directory.
  HANDLE h = CreateFileW(terminated.data(),
                         FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    RemoveDirectoryW(terminated.data());
    SetLastError(error);
    return false;
  }
  *out = h;
  return true;
}

// Copies what remains of |from| to |to|, a piece at a time, each piece hashed as it is read.
// False, with the system's error, when a read or a write fails; |*readFailed| tells which.
bool CopyHashing(HANDLE from, HANDLE to, Sha256* hash, bool* readFailed) {
  std::vector<BYTE> piece(kPiece);
  for (;;) {
    DWORD got = 0, put = 0;
    *readFailed = !ReadFile(from, piece.data(), kPiece, &got, nullptr);
    if (*readFailed) return false;
    if (got == 0) return true;
    if (fault::Strike(fault::Op::kWrite)) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    if (!hash->Add(piece.data(), got) || !WriteFile(to, piece.data(), got, &put, nullptr) ||
        put != got) {
      return false;
    }
  }
}

StartResult NotStarted(StartFailure failure, DWORD error = GetLastError()) {
  return StartResult{failure, error};
}

}  // namespace

bool CleanRoomPolicy::Close(Handle handle) { return CloseHandle(H(handle)) != 0; }

StartResult CleanRoom::Fill(const FileLocation& source, const std::string& name,
                            const uint8_t* sha256) {
  const Text temp = TempFolder();
  if (temp.empty()) return NotStarted(StartFailure::kCleanRoom);
  RemoveLeftoverRooms(temp);
  // The program's one open: its bytes are read, hashed and copied through this handle alone.
  const win32::WideText path = win32::WidePath(source);
  if (fault::Strike(fault::Op::kOpen) || path[0] == L'\0') {
    return NotStarted(StartFailure::kMissing, ERROR_FILE_NOT_FOUND);
  }
  ScopedHandle<CleanRoomPolicy> from(N(CreateFileW(path.data(), GENERIC_READ, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING,
                                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
  if (!from.IsValid()) return NotStarted(StartFailure::kMissing);
  std::string digits;
  if (!RandomDigits(&digits)) return NotStarted(StartFailure::kCleanRoom);
  folderName_ = kRoomPrefix + digits;
  copyName_ = name;
  const Text roomPath = RoomPath(temp, folderName_);
  HANDLE folder = nullptr;
  if (fault::Strike(fault::Op::kCreate)) {
    return NotStarted(StartFailure::kCleanRoom, ERROR_DISK_FULL);
  }
  if (!MakeRoom(roomPath, &folder)) return NotStarted(StartFailure::kCleanRoom);
  folder_ = ScopedHandle<CleanRoomPolicy>(N(folder));
  // Within the room nobody else can write: the copy inherits the room's two entries.
  const Text copyPath = Z(Append(Append(roomPath, L"\\"), Wide(name)));
  ScopedHandle<CleanRoomPolicy> to(N(CreateFileW(copyPath.data(), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
  if (fault::Strike(fault::Op::kCreate) || !to.IsValid()) {
    const StartResult failed = NotStarted(StartFailure::kCleanRoom);
    to.Close();
    Remove();
    return failed;
  }
  Sha256 hash(sha256 != nullptr);
  bool readFailed = false;
  const bool copied = CopyHashing(H(from.Get()), H(to.Get()), &hash, &readFailed);
  const DWORD error = copied ? ERROR_WRITE_FAULT : GetLastError();
  if (!to.Close() || !copied) {
    Remove();
    return NotStarted(readFailed ? StartFailure::kMissing : StartFailure::kCleanRoom, error);
  }
  if (sha256 && !hash.Matches(sha256)) {
    Remove();
    return NotStarted(StartFailure::kNotReleased, 0);
  }
  // Held shared with readers only: the system can open it to start it, nobody can change it.
  copy_ = ScopedHandle<CleanRoomPolicy>(N(CreateFileW(copyPath.data(), GENERIC_READ | FILE_EXECUTE,
                                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
  if (fault::Strike(fault::Op::kOpen) || !copy_.IsValid()) {
    const StartResult failed = NotStarted(StartFailure::kCleanRoom);
    Remove();
    return failed;
  }
  return StartResult{};
}

void CleanRoom::Remove() {
  copy_.Close();
  if (!folder_.IsValid()) return;
  const bool struck = fault::Strike(fault::Op::kRemove);
  // Out of memory on the way: once more, as memory is often back by then; else the next run
  // removes the room.
  for (int attempt = 0; attempt < 2 && !struck; ++attempt) {
    try {
      const Text temp = TempFolder();
      const Text room = RoomPath(temp, folderName_);
      if (!temp.empty() && EmptyFolder(room, kMaxDepth)) {
        // Only the administrators could have changed the room since it was let go.
        folder_.Close();
        DeleteFolder(room);
      }
      break;
    } catch (const std::bad_alloc&) {
    }
  }
  folder_.Close();
}

namespace {

// The attribute list of a start: the one handle inherited, when given, and where |mitigated|,
// libraries loaded from System32 before the program's folder. Null when it cannot be made.
class Attributes {
 public:
  Attributes(HANDLE* inherited, const DWORD64* policy) {
    const DWORD count = (inherited ? 1 : 0) + (policy ? 1 : 0);
    if (count == 0) return;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    storage_.resize(size);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list, count, 0, &size)) return;
    list_ = list;
    if ((inherited && !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                 inherited, sizeof(*inherited), nullptr, nullptr)) ||
        (policy && !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY,
                                              const_cast<DWORD64*>(policy), sizeof(*policy),
                                              nullptr, nullptr))) {
      failed_ = true;
    }
  }
  ~Attributes() {
    if (list_) DeleteProcThreadAttributeList(list_);
  }
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;

  bool failed() const { return failed_ || (!storage_.empty() && list_ == nullptr); }
  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

 private:
  std::vector<BYTE> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
  bool failed_ = false;
};

// What the system's refusal to start a program says.
StartResult StartFailed(DWORD error) {
  // A software restriction policy or an AppLocker rule forbids programs in that folder.
  const bool byPolicy = error == ERROR_ACCESS_DISABLED_BY_POLICY ||
                        error == kRefusedByPolicyQuietly;
  return StartResult{byPolicy ? StartFailure::kRefused : StartFailure::kFailed, error};
}

}  // namespace

StartResult Process::Start(const CleanRoom& room, const std::string& commandLine, uint16_t show,
                           const File* shared, Process* out) {
  const Text temp = TempFolder();
  if (!room.copy_.IsValid() || temp.empty()) return StartResult{StartFailure::kFailed, 0};
  if (fault::Strike(fault::Op::kStart)) return StartFailed(ERROR_ACCESS_DISABLED_BY_POLICY);
  const Text folder = RoomPath(temp, room.folderName_);
  const Text program = Append(Append(folder, L"\\"), Wide(room.copyName_));
  STARTUPINFOEXW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.StartupInfo.cb = sizeof(startup);
  // No standard handles: those the launcher got from its caller are not passed on either.
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = show;
  // Only the listed handle is inherited, whatever else of the launcher's is inheritable.
  HANDLE inherited = shared && shared->IsOpen() ? H(shared->NativeHandle()) : nullptr;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof(info));
  DWORD error = ERROR_SUCCESS;
  // First with the library policy; a system that does not offer it refuses the attribute or
  // the creation, and the program then starts without it.
  for (const DWORD64* policy : {&kPreferSystem32Libraries, static_cast<const DWORD64*>(nullptr)}) {
    Attributes attributes(inherited ? &inherited : nullptr, policy);
    if (attributes.failed()) {
      error = GetLastError();
      if (policy) continue;
      return StartFailed(error);
    }
    startup.lpAttributeList = attributes.list();
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    win32::WideText buffer = win32::Widen(commandLine);
    if (CreateProcessW(Z(program).data(), buffer.data(), nullptr, nullptr,
                       inherited ? TRUE : FALSE,
                       attributes.list() ? EXTENDED_STARTUPINFO_PRESENT : 0, nullptr,
                       Z(folder).data(), &startup.StartupInfo, &info)) {
      error = ERROR_SUCCESS;
      break;
    }
    error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED) break;
  }
  if (error != ERROR_SUCCESS) return StartFailed(error);
  Process process;
  process.thread_ = ScopedHandle<ProcessPolicy>(N(info.hThread));
  process.process_ = ScopedHandle<ProcessPolicy>(N(info.hProcess));
  *out = std::move(process);
  return StartResult{};
}

bool Process::Wait() {
  return WaitForSingleObject(H(process_.Get()), INFINITE) == WAIT_OBJECT_0;
}

bool Process::ExitCode(uint32_t* code) {
  DWORD value = 0;
  if (!GetExitCodeProcess(H(process_.Get()), &value)) return false;
  *code = value;
  return true;
}

bool ProcessPolicy::Close(Handle handle) { return CloseHandle(H(handle)) != 0; }

}  // namespace platform
