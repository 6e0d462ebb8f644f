// The registry on POSIX: both hives in $ORVAPATCH_ROOT/registry.reg (REGEDIT4, cp1252). Every
// change re-reads the file and writes it back whole, atomically, under an exclusive flock on
// registry.reg.lock; a file that cannot be parsed is never overwritten and fails every call.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "machine/host_io.h"
#include "machine/paths.h"
#include "machine/regedit4.h"
#include "os/account.h"
#include "os/registry.h"

namespace os {
namespace {

// The user whose hive HKEY_CURRENT_USER stands for, as UseUserHive chose it; empty for the run's
// own.
std::string g_userHive;

// The system account's own hive is one of the users' hives, as on Windows.
std::string HiveName(Hive hive) {
  if (hive == Hive::kLocalMachine) return "HKEY_LOCAL_MACHINE";
  if (hive == Hive::kUsers) return "HKEY_USERS";
  if (!g_userHive.empty()) return "HKEY_USERS\\" + g_userHive;
  return RunAccountSid() == kSystemSid ? std::string("HKEY_USERS\\") + kSystemSid
                                       : "HKEY_CURRENT_USER";
}

std::string StorePath() { return machine::MachineRoot() + "/registry.reg"; }

std::string Text(const char* text) { return text ? text : ""; }

// The file's bytes: false when it exists and cannot be read; a missing file is empty.
bool ReadStore(std::string* bytes) {
  int fd = ::open(StorePath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    bytes->clear();
    return errno == ENOENT;
  }
  std::string text;
  const bool read = machine::ReadAll(fd, &text);
  ::close(fd);
  if (!read) return false;
  *bytes = std::move(text);
  return true;
}

long Load(machine::RegDocument* document) {
  std::string text;
  if (!ReadStore(&text)) return kErrorRegistryIo;
  return machine::ParseRegedit4(text, document) ? kErrorSuccess : kErrorRegistryCorrupt;
}

// Replaces the file by a temporary one renamed over it, so readers see the old or the new whole.
// Everything that needs memory is made before the temporary file exists, so that running out of
// memory never leaves it behind.
bool Save(const machine::RegDocument& document) {
  const std::string text = machine::SerializeRegedit4(document);
  const std::string path = StorePath();
  const std::string temporary = path + ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat old;
  bool ok = ::stat(path.c_str(), &old) != 0 || ::fchmod(fd, old.st_mode & 07777) == 0;
  ok = ok && machine::WriteAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  // A flushed key stays written through a power cut.
  if (ok && machine::RenameDurably(temporary, path)) return true;
  ::unlink(temporary.c_str());
  return false;
}

// Holds the exclusive lock on registry.reg.lock for a scope.
class StoreLock {
 public:
  StoreLock() {
    std::error_code ignored;
    std::filesystem::create_directories(machine::MachineRoot(), ignored);
    fd_ = ::open((StorePath() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return;
    int rc;
    do {
      rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Runs |edit| on the current contents under the lock and writes them back when it changed them.
template <typename Edit>
long Change(Edit edit) {
  StoreLock lock;
  if (!lock.Held()) return kErrorRegistryIo;
  machine::RegDocument document;
  long rc = Load(&document);
  if (rc != kErrorSuccess) return rc;
  bool changed = false;
  rc = edit(&document, &changed);
  if (rc == kErrorSuccess && changed && !Save(document)) return kErrorRegistryIo;
  return rc;
}

// Opens |subKey| below the key |base| (a hive's name or an open key's full name), which must
// still exist; |*path| is the key's name.
long OpenBelow(const std::string& base, const char* subKey, std::string* path) {
  machine::RegDocument document;
  long rc = Load(&document);
  if (rc != kErrorSuccess) return rc;
  if (!machine::FindKey(document, base, "", path)) return kErrorKeyDeleted;
  return machine::FindKey(document, base, Text(subKey), path) ? kErrorSuccess : kErrorFileNotFound;
}

// Like OpenBelow, creating the key when it is missing, the change written at once.
long CreateBelow(const std::string& base, const char* subKey, std::string* path,
                 uint32_t* disposition) {
  bool created = false;
  long rc = Change([&](machine::RegDocument* document, bool* changed) {
    if (!machine::FindKey(*document, base, "", path)) return kErrorKeyDeleted;
    if (!machine::CreateKey(document, base, Text(subKey), path, &created))
      return kErrorInvalidParameter;
    *changed = created;
    return kErrorSuccess;
  });
  if (rc == kErrorSuccess && disposition)
    *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  return rc;
}

}  // namespace

long RegKey::PlatformUseUserHive(const std::string& sid) {
  if (!sid.empty()) {
    std::string path;
    long rc = OpenBelow("HKEY_USERS", sid.c_str(), &path);
    if (rc != kErrorSuccess) return rc;
  }
  g_userHive = sid;
  return kErrorSuccess;
}

bool RegKeyPolicy::PlatformClose(Handle /*handle: a mark, nothing to give back*/) { return true; }

long RegKey::PlatformReach(Hive hive, const RegKey* parent, const char* subKey,
                           uint32_t /*access: not enforced*/, bool create,
                           const char* /*keyClass: not stored*/, uint32_t* disposition) {
  std::string base = parent ? parent->path_ : HiveName(hive);
  std::string path;
  long rc = create ? CreateBelow(base, subKey, &path, disposition) : OpenBelow(base, subKey, &path);
  if (rc != kErrorSuccess) return rc;
  handle_ = base::ScopedHandle<RegKeyPolicy>(1);  // the key held before is closed
  path_ = path;
  return kErrorSuccess;
}

long RegKey::PlatformQueryValue(const char* name, void* data, uint32_t* size, uint32_t* type) {
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  machine::RegDocument document;
  long rc = Load(&document);
  if (rc != kErrorSuccess) return rc;
  std::string path;
  if (!machine::FindKey(document, path_, "", &path)) return kErrorKeyDeleted;
  const machine::RegValueEntry* value = machine::FindValue(document, path, Text(name));
  if (value == nullptr) return kErrorFileNotFound;
  uint32_t needed = static_cast<uint32_t>(value->data.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (data != nullptr) std::memcpy(data, value->data.data(), needed);
  if (size != nullptr) *size = needed;
  if (type != nullptr) *type = value->type;
  return kErrorSuccess;
}

long RegKey::PlatformSetValue(const char* name, uint32_t type, const void* data, uint32_t size) {
  if (machine::HasLineBreak(Text(name)) || (data == nullptr && size != 0))
    return kErrorInvalidParameter;
  std::string bytes(static_cast<const char*>(data), data ? size : 0);
  return Change([&](machine::RegDocument* document, bool* changed) {
    std::string path;
    if (!machine::FindKey(*document, path_, "", &path)) return kErrorKeyDeleted;
    machine::SetValue(document, path, Text(name), type, bytes);
    *changed = true;
    return kErrorSuccess;
  });
}

long RegKey::PlatformDeleteValue(const char* name) {
  return Change([&](machine::RegDocument* document, bool* changed) {
    std::string path;
    if (!machine::FindKey(*document, path_, "", &path)) return kErrorKeyDeleted;
    if (!machine::DeleteValue(document, path, Text(name))) return kErrorFileNotFound;
    *changed = true;
    return kErrorSuccess;
  });
}

long RegKey::PlatformFlush() {
  // Every change is already on the disk (written and synced before the rename).
  return kErrorSuccess;
}

long RegKey::PlatformCheckTrusted(bool* trusted) {
  // The machine root models no key security: only who may write registry.reg, the host's rule.
  *trusted = true;
  return kErrorSuccess;
}

void RegKey::Close() {
  handle_.Close();
  path_.clear();
}

}  // namespace os
