// Started programs on POSIX: a clean room under the machine's Windows Temp folder, filled with
// libcrypto's SHA-256 (loaded when a digest is to be checked), and posix_spawn of the split
// command line.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "machine/host_io.h"
#include "machine/paths.h"
#include "os/process.h"
#include "os/random.h"
#include "testing/fault.h"

extern char** environ;

namespace platform {
namespace {

// OpenSSL's libcrypto, loaded on first use: a launcher that checks no installer, as every
// launcher built without a digest, does not pay for loading it at each start.
struct Crypto {
  decltype(&EVP_MD_CTX_new) newContext = nullptr;
  decltype(&EVP_MD_CTX_free) freeContext = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
  decltype(&EVP_DigestInit_ex) init = nullptr;
  decltype(&EVP_DigestUpdate) update = nullptr;
  decltype(&EVP_DigestFinal_ex) finish = nullptr;
};

template <typename Fn>
void Resolve(void* library, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(::dlsym(library, name));
}

// The library's functions, or nullptr when it cannot be had.
const Crypto* LoadCrypto() {
  static const Crypto crypto = [] {
    Crypto loaded;
    if (void* library = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL)) {
      Resolve(library, "EVP_MD_CTX_new", &loaded.newContext);
      Resolve(library, "EVP_MD_CTX_free", &loaded.freeContext);
      Resolve(library, "EVP_sha256", &loaded.sha256);
      Resolve(library, "EVP_DigestInit_ex", &loaded.init);
      Resolve(library, "EVP_DigestUpdate", &loaded.update);
      Resolve(library, "EVP_DigestFinal_ex", &loaded.finish);
    }
    return loaded;
  }();
  const bool whole = crypto.newContext && crypto.freeContext && crypto.sha256 && crypto.init &&
                     crypto.update && crypto.finish;
  return whole ? &crypto : nullptr;
}

// The SHA-256 of the bytes given to Add, through OpenSSL's libcrypto.
// Unless |wanted|, it hashes nothing, and libcrypto is not loaded.
class Sha256 {
 public:
  explicit Sha256(bool wanted) : crypto_(wanted ? LoadCrypto() : nullptr), wanted_(wanted) {
    context_ = crypto_ ? crypto_->newContext() : nullptr;
    ok_ = context_ && crypto_->init(context_, crypto_->sha256(), nullptr) == 1;
  }
  ~Sha256() {
    if (context_) crypto_->freeContext(context_);
  }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool Add(const void* data, size_t size) {
    ok_ = ok_ && crypto_->update(context_, data, size) == 1;
    return ok_ || !wanted_;
  }
  bool Matches(const uint8_t* expected) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    return ok_ && crypto_->finish(context_, digest, &size) == 1 &&
           size == CleanRoom::kSha256Size && std::memcmp(digest, expected, size) == 0;
  }

 private:
  const Crypto* crypto_;
  const bool wanted_;
  EVP_MD_CTX* context_ = nullptr;
  bool ok_ = false;
};

// Every clean room's name starts so; the rest is random.
const char kRoomPrefix[] = "OrvaPatch-";
// Copied a piece at a time, so that memory stays small whatever the program's size.
const size_t kPiece = 1 << 20;
// Deeper than any installer's own files go; a deeper tree is left to the administrator.
const int kMaxDepth = 8;
const char kTempFolder[] = "C:\\windows\\Temp";

StartResult NotStarted(StartFailure failure, int error = errno) {
  return StartResult{failure, static_cast<uint32_t>(error)};
}

// Removes what the held folder |dir| holds, folders depth first, never through a link: a link,
// a file of several names or anything but files and folders is left, and with it the folder.
// False when anything stays. It allocates nothing of its own, as a destructor calls it.
bool EmptyFolder(int dir, int depth) {
  const int listed = ::dup(dir);
  DIR* listing = listed >= 0 ? ::fdopendir(listed) : nullptr;
  if (listing == nullptr) {
    if (listed >= 0) ::close(listed);
    return false;
  }
  bool emptied = true;
  while (const struct dirent* entry = ::readdir(listing)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct stat st;
    bool removed = ::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (removed && S_ISDIR(st.st_mode)) {
      const int child = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      removed = child >= 0 && depth > 0 && EmptyFolder(child, depth - 1) &&
                ::unlinkat(dir, name, AT_REMOVEDIR) == 0;
      if (child >= 0) ::close(child);
    } else {
      removed = removed && S_ISREG(st.st_mode) && st.st_nlink == 1 && ::unlinkat(dir, name, 0) == 0;
    }
    emptied = emptied && removed;
  }
  ::closedir(listing);
  return emptied;
}

// Removes the clean rooms of the held |temp| folder that killed runs left: folders of our
// prefix, owned by root or this program's user, locked by no run that still goes (each run
// holds its room under an exclusive lock).
void RemoveLeftoverRooms(int temp) {
  if (fault::Strike(fault::Op::kList)) return;
  const int listed = ::dup(temp);
  DIR* listing = listed >= 0 ? ::fdopendir(listed) : nullptr;
  if (listing == nullptr) {
    if (listed >= 0) ::close(listed);
    return;
  }
  std::vector<std::string> rooms;
  try {
    while (const struct dirent* entry = ::readdir(listing)) {
      if (std::strncmp(entry->d_name, kRoomPrefix, sizeof(kRoomPrefix) - 1) == 0) {
        rooms.push_back(entry->d_name);
      }
    }
  } catch (const std::bad_alloc&) {
    // Out of memory on the way: the rooms found so far are removed, the others by a later run.
  }
  ::closedir(listing);
  for (const std::string& name : rooms) {
    struct stat named, held;
    const int room = ::openat(temp, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (room < 0) continue;
    if (::fstat(room, &held) == 0 && (held.st_uid == 0 || held.st_uid == ::geteuid()) &&
        ::flock(room, LOCK_EX | LOCK_NB) == 0 && EmptyFolder(room, kMaxDepth) &&
        ::fstatat(temp, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_ino == held.st_ino && named.st_dev == held.st_dev) {
      ::unlinkat(temp, name.c_str(), AT_REMOVEDIR);
    }
    ::close(room);
  }
}

// Copies what remains of |from| to |to|, a piece at a time, each piece hashed as it is read.
// False, errno set, when a read or a write fails; |*readFailed| tells which.
bool CopyHashing(int from, int to, Sha256* hash, bool* readFailed) {
  std::vector<unsigned char> piece(kPiece);
  for (;;) {
    const ssize_t got = ::read(from, piece.data(), piece.size());
    *readFailed = got < 0 && errno != EINTR;
    if (*readFailed) return false;
    if (got < 0) continue;
    if (got == 0) return true;
    if (fault::Strike(fault::Op::kWrite)) {
      errno = EIO;
      return false;
    }
    if (!hash->Add(piece.data(), static_cast<size_t>(got)) ||
        !posix::WriteAll(to, piece.data(), static_cast<size_t>(got))) {
      return false;
    }
  }
}

// Spawn file actions that leave the child only the descriptors in |kept| (ascending) and the
// standard streams, and make the held folder |folder| its current directory. The descriptors of
// the launcher's own files are close-on-exec already; this also closes any that the launcher got
// open from its caller.
class ChildFiles {
 public:
  ChildFiles() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~ChildFiles() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  ChildFiles(const ChildFiles&) = delete;
  ChildFiles& operator=(const ChildFiles&) = delete;

  bool Arrange(const std::vector<int>& kept, int folder) {
    int next = 3;
    for (int fd : kept) {
      for (; ok_ && next < fd; ++next) ok_ = ::posix_spawn_file_actions_addclose(&actions_, next) == 0;
      next = fd + 1;
    }
    ok_ = ok_ && ::posix_spawn_file_actions_addclosefrom_np(&actions_, next) == 0 &&
          ::posix_spawn_file_actions_addfchdir_np(&actions_, folder) == 0;
    return ok_;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

}  // namespace

bool CleanRoomPolicy::Close(Handle handle) { return ::close(static_cast<int>(handle)) == 0; }

StartResult CleanRoom::Fill(const FileLocation& source, const std::string& name,
                            const uint8_t* sha256) {
  std::string tempPath, host;
  if (!posix::HostPath(FileLocation(kTempFolder), &tempPath)) {
    return NotStarted(StartFailure::kCleanRoom, ENOENT);
  }
  temp_ = ScopedHandle<CleanRoomPolicy>(
      ::open(tempPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!temp_.IsValid()) return NotStarted(StartFailure::kCleanRoom);
  const int temp = static_cast<int>(temp_.Get());
  RemoveLeftoverRooms(temp);
  // The program's one open: its bytes are read, hashed and copied through this descriptor
  // alone, under a shared lock that the machine root's writers respect.
  if (fault::Strike(fault::Op::kOpen) || !posix::HostPath(source, &host)) {
    return NotStarted(StartFailure::kMissing, ENOENT);
  }
  ScopedHandle<CleanRoomPolicy> from(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!from.IsValid() || ::fstat(static_cast<int>(from.Get()), &st) != 0) {
    return NotStarted(StartFailure::kMissing);
  }
  if (!S_ISREG(st.st_mode)) return NotStarted(StartFailure::kMissing, EISDIR);
  if (::flock(static_cast<int>(from.Get()), LOCK_SH | LOCK_NB) != 0) {
    return NotStarted(StartFailure::kMissing);
  }
  std::string digits;
  if (!RandomDigits(&digits)) return NotStarted(StartFailure::kCleanRoom);
  // Named before it exists: from its creation on, nothing may fail before it is held.
  folderName_ = kRoomPrefix + digits;
  copyName_ = posix::Cp1252ToUtf8(name);
  const char* room = folderName_.c_str();
  // Only this program's user may enter; an existing folder of that name is never taken over.
  if (fault::Strike(fault::Op::kCreate)) return NotStarted(StartFailure::kCleanRoom, ENOSPC);
  if (::mkdirat(temp, room, 0700) != 0) return NotStarted(StartFailure::kCleanRoom);
  folder_ = ScopedHandle<CleanRoomPolicy>(
      ::openat(temp, room, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder_.IsValid()) {
    const StartResult failed = NotStarted(StartFailure::kCleanRoom);
    ::unlinkat(temp, room, AT_REMOVEDIR);  // just made, empty, and only this user's
    return failed;
  }
  if (::flock(static_cast<int>(folder_.Get()), LOCK_EX) != 0) {
    const StartResult failed = NotStarted(StartFailure::kCleanRoom);
    Remove();
    return failed;
  }
  const int folder = static_cast<int>(folder_.Get());
  ScopedHandle<CleanRoomPolicy> to(::openat(
      folder, copyName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
  if (fault::Strike(fault::Op::kCreate) || !to.IsValid()) {
    const StartResult failed = NotStarted(StartFailure::kCleanRoom, to.IsValid() ? ENOSPC : errno);
    to.Close();
    Remove();
    return failed;
  }
  Sha256 hash(sha256 != nullptr);
  bool readFailed = false;
  const bool copied = CopyHashing(static_cast<int>(from.Get()), static_cast<int>(to.Get()), &hash,
                                  &readFailed);
  const int error = errno;
  const bool closed = to.Close();
  if (!copied || !closed) {
    Remove();
    return NotStarted(readFailed ? StartFailure::kMissing : StartFailure::kCleanRoom,
                      copied ? EIO : error);
  }
  if (sha256 && !hash.Matches(sha256)) {
    Remove();
    return NotStarted(StartFailure::kNotReleased, 0);
  }
  copy_ = ScopedHandle<CleanRoomPolicy>(
      ::openat(folder, copyName_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fault::Strike(fault::Op::kOpen) || !copy_.IsValid() ||
      ::flock(static_cast<int>(copy_.Get()), LOCK_SH) != 0) {
    const StartResult failed = NotStarted(StartFailure::kCleanRoom, copy_.IsValid() ? EIO : errno);
    Remove();
    return failed;
  }
  return StartResult{};
}

void CleanRoom::Remove() {
  copy_.Close();
  if (folder_.IsValid() && !fault::Strike(fault::Op::kRemove) &&
      EmptyFolder(static_cast<int>(folder_.Get()), kMaxDepth)) {
    ::unlinkat(static_cast<int>(temp_.Get()), folderName_.c_str(), AT_REMOVEDIR);
  }
  folder_.Close();
  temp_.Close();
}

StartResult Process::Start(const CleanRoom& room, const std::string& commandLine,
                           uint16_t /*show: no windows here*/, const File* shared, Process* out) {
  if (!room.copy_.IsValid()) return StartResult{StartFailure::kFailed, 0};
  if (fault::Strike(fault::Op::kStart)) return StartResult{StartFailure::kRefused, EACCES};
  // The held copy itself is executed, in the held room: its descriptors are close-on-exec, so
  // they stay open through the file actions and close as the program starts.
  const int folder = static_cast<int>(room.folder_.Get());
  const int copy = static_cast<int>(room.copy_.Get());
  const std::string program = "/proc/self/fd/" + std::to_string(copy);
  std::vector<int> kept = {folder, copy};
  if (shared && shared->IsOpen()) kept.push_back(static_cast<int>(shared->NativeHandle()));
  std::sort(kept.begin(), kept.end());
  ChildFiles files;
  if (!files.Arrange(kept, folder)) {
    return StartResult{StartFailure::kFailed, static_cast<uint32_t>(errno)};
  }
  std::vector<std::string> args = posix::SplitCommandLine(commandLine);
  for (std::string& arg : args) arg = posix::Cp1252ToUtf8(arg);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error =
      ::posix_spawn(&pid, program.c_str(), files.get(), nullptr, argv.data(), environ);
  // A room mounted without the right to run programs stands for a rule that forbids them there.
  if (error != 0) {
    const bool refused = error == EACCES || error == EPERM;
    return StartResult{refused ? StartFailure::kRefused : StartFailure::kFailed,
                       static_cast<uint32_t>(error)};
  }
  Process process;
  process.process_ = ScopedHandle<ProcessPolicy>(pid);
  *out = std::move(process);
  return StartResult{};
}

bool Process::Wait() {
  pid_t pid;
  do {
    pid = ::waitpid(static_cast<pid_t>(process_.Get()), &status_, 0);
  } while (pid < 0 && errno == EINTR);
  if (pid < 0) return false;
  thread_ = ScopedHandle<ProcessPolicy>(1);  // reaped: the exit status is known
  return true;
}

bool Process::ExitCode(uint32_t* code) {
  if (!thread_.IsValid()) return false;
  if (WIFEXITED(status_)) {
    *code = static_cast<uint32_t>(WEXITSTATUS(status_));
  } else if (WIFSIGNALED(status_)) {
    *code = 128u + static_cast<uint32_t>(WTERMSIG(status_));
  } else {
    return false;
  }
  return true;
}

bool ProcessPolicy::Close(Handle /*handle*/) {
  // Nothing to release: a child not waited for is left to run on its own, as on Windows.
  return true;
}

}  // namespace platform
