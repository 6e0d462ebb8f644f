// Started programs on POSIX: posix_spawn of the split command line; SHA-256 by libcrypto, loaded
// when a digest is to be checked.
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
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/paths.h"
#include "platform/process.h"

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

// The SHA-256 of what remains to be read of the descriptor |fd|, through OpenSSL's libcrypto.
bool HashFile(int fd, unsigned char (&digest)[ProgramFile::kSha256Size]) {
  const Crypto* crypto = LoadCrypto();
  if (crypto == nullptr) return false;
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(crypto->newContext(),
                                                            crypto->freeContext);
  if (!context || crypto->init(context.get(), crypto->sha256(), nullptr) != 1) return false;
  std::vector<unsigned char> buffer(65536);
  for (;;) {
    ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    if (crypto->update(context.get(), buffer.data(), static_cast<size_t>(got)) != 1) {
      return false;
    }
  }
  unsigned int size = 0;
  return crypto->finish(context.get(), digest, &size) == 1 && size == sizeof(digest);
}

// Spawn file actions that leave the child only the descriptors in |kept| (ascending) and the
// standard streams, and make |folder| its current directory. The descriptors of the launcher's
// own files are close-on-exec already; this also closes any that the launcher got open from
// its caller.
class ChildFiles {
 public:
  ChildFiles() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~ChildFiles() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  ChildFiles(const ChildFiles&) = delete;
  ChildFiles& operator=(const ChildFiles&) = delete;

  bool Arrange(const std::vector<int>& kept, const std::string& folder) {
    int next = 3;
    for (int fd : kept) {
      for (; ok_ && next < fd; ++next) ok_ = ::posix_spawn_file_actions_addclose(&actions_, next) == 0;
      next = fd + 1;
    }
    ok_ = ok_ && ::posix_spawn_file_actions_addclosefrom_np(&actions_, next) == 0 &&
          ::posix_spawn_file_actions_addchdir_np(&actions_, folder.c_str()) == 0;
    return ok_;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

}  // namespace

bool ProgramFile::OpenChecked(const FileLocation& application, const uint8_t* sha256) {
  std::string host;
  if (!posix::HostPath(application, &host)) return false;
  int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ScopedHandle<ProgramFilePolicy> held(fd);
  // Shared: the machine root's writers, which take an exclusive flock, wait until it is given up.
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    return false;
  }
  unsigned char digest[kSha256Size];
  if (!HashFile(fd, digest) || std::memcmp(digest, sha256, kSha256Size) != 0) return false;
  handle_ = std::move(held);
  return true;
}

bool ProgramFilePolicy::Close(Handle handle) { return ::close(static_cast<int>(handle)) == 0; }

bool Process::Start(const FileLocation& application, const std::string& commandLine,
                    uint16_t /*show: no windows here*/, const File* shared,
                    const ProgramFile* checked, Process* out) {
  std::string host;
  std::string folder;
  if (!posix::HostPath(application, &host) ||
      !posix::HostPath(FileLocation::BesideLauncher(""), &folder)) {
    return false;
  }
  std::vector<int> kept;
  if (shared && shared->IsOpen()) kept.push_back(static_cast<int>(shared->NativeHandle()));
  if (checked) {
    // The very file that was checked is executed, through its held descriptor, which is
    // close-on-exec: it stays open through the file actions and closes as the program starts.
    int fd = static_cast<int>(checked->handle_.Get());
    host = "/proc/self/fd/" + std::to_string(fd);
    kept.push_back(fd);
  }
  std::sort(kept.begin(), kept.end());
  ChildFiles files;
  if (!files.Arrange(kept, folder)) return false;
  std::vector<std::string> args = posix::SplitCommandLine(commandLine);
  for (std::string& arg : args) arg = posix::Cp1252ToUtf8(arg);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, host.c_str(), files.get(), nullptr, argv.data(), environ) != 0) {
    return false;
  }
  Process process;
  process.process_ = ScopedHandle<ProcessPolicy>(pid);
  *out = std::move(process);
  return true;
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
