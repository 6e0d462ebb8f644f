// The held folders' rules that both platforms share, each call counted at the fault seam.
#include "os/folder.h"

#include "base/ascii.h"
#include "os/internal/access.h"
#include "os/internal/acting.h"
#include "os/internal/entries.h"
#include "os/internal/folder.h"
#include "os/internal/rooms.h"
#include "os/internal/step.h"

namespace os {

using internal::FileLocationAccess;
using internal::FolderAccess;

namespace {

// Gives |failure| to |*why| when asked; returns what it means.
OpenStatus Tell(const Failure& failure, Failure* why) {
  if (why != nullptr) *why = failure;
  return failure.status;
}

// Opens |file| in the folder that holds it, the folder opened by |openFolder|.
OpenStatus OpenInFolder(OpenStatus (*openFolder)(const FileLocation&, Folder*, Failure*),
                        const FileLocation& file, FileMode mode, bool inheritable, File* out) {
  const std::string& text = FileLocationAccess::text(file);
  const bool beside = FileLocationAccess::besideLauncher(file);
  const size_t slash = beside ? std::string::npos : text.find_last_of("\\/");
  // A bare name not beside the launcher lies in the current folder.
  const FileLocation folder = beside ? FileLocation::BesideLauncher(std::string())
                              : slash == std::string::npos
                                  ? FileLocation(".")
                                  : FileLocation(text.substr(0, slash + 1));
  Folder held;
  File opened;
  OpenStatus status = openFolder(folder, &held, nullptr);
  if (status == OpenStatus::kDone) {
    status = held.OpenFile(text.substr(slash == std::string::npos ? 0 : slash + 1), mode,
                           inheritable, &opened);
  }
  if (status == OpenStatus::kDone) *out = std::move(opened);
  return status;
}

// Every lock file's name starts so, unlike the rooms' (OrvaPatch-...), which are removed.
const char kLockPrefix[] = "Update-";
// How often a lock that another run holds is tried again.
const unsigned kLockPoll = 50;

// The lock file's name for the file of identity |identity|: a digest of it, FNV-1a over its
// bytes. Two files whose digests meet share one lock, which only makes their updates wait for
// each other.
std::string LockName(const std::string& identity) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : identity) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  std::string name = kLockPrefix;
  base::AppendHex(&name, hash, 16, true);
  return name;
}

OpenStatus RemoveEntry(intptr_t folder, const EntryName& name, int depth, bool withFolder,
                       bool top = false);

// Removes what the held |folder| holds, as RemoveEntry removes each entry at |depth| - 1, all of
// it tried; the first failure tells.
OpenStatus EmptyFolder(intptr_t folder, int depth) {
  std::vector<EntryName> names;
  if (!ListEntries(folder, std::string(), &names)) return OpenStatus::kFailed;
  OpenStatus emptied = OpenStatus::kDone;
  for (const EntryName& name : names) {
    const OpenStatus one = RemoveEntry(folder, name, depth - 1, true);
    if (emptied == OpenStatus::kDone) emptied = one;
  }
  return emptied;
}

// Removes the entry |name| of the held |folder|, never through a link: a file of one name, or a
// folder emptied first and, with |withFolder|, removed, at most |depth| levels down; with |top|,
// only a folder that no standard user may change (one they may write in could hold what they
// chose to have removed), and none that a run still holds. A link or a file of several names
// stays: kRefused; kInUse while a program holds what would be removed.
OpenStatus RemoveEntry(intptr_t folder, const EntryName& name, int depth, bool withFolder,
                       bool top) {
  Entry entry;
  EntryKind kind;
  OpenStatus status = OpenEntry(folder, name, EntryUse::kInTree, &entry, &kind);
  if (status != OpenStatus::kDone) return status;
  const bool isFolder = kind == EntryKind::kFolder;
  if (kind == EntryKind::kOther || (isFolder && depth < 0) || (top && !isFolder)) {
    return OpenStatus::kRefused;
  }
  if (top) status = TakePrivateFolder(&entry);
  if (status == OpenStatus::kDone && isFolder) status = EmptyFolder(entry.Get(), depth);
  if (status != OpenStatus::kDone || (isFolder && !withFolder)) return status;
  return DeleteEntry(folder, name, entry, kind);
}

}  // namespace

OpenStatus Folder::Open(const FileLocation& path, Folder* out, Failure* why) {
  if (BeginStep(fault::Op::kOpenFolder)) return Tell(File::StruckFailure(), why);
  return PlatformOpen(path, out, why);
}

OpenStatus Folder::OpenSystemFolder(const FileLocation& path, Folder* out, Failure* why) {
  if (BeginStep(fault::Op::kOpen)) return Tell(File::StruckFailure(), why);
  return PlatformOpenSystemFolder(path, out, why);
}

OpenStatus Folder::OpenFolder(const std::string& name, Folder* out, Failure* why) const {
  if (BeginStep(fault::Op::kOpen)) return Tell(File::StruckFailure(), why);
  return PlatformOpenFolder(name, out, why);
}

OpenStatus Folder::OpenPrivateFolder(const std::string& name, Folder* out, Failure* why) const {
  if (BeginStep(fault::Op::kCreate)) return Tell(File::StruckFailure(), why);
  return PlatformOpenPrivateFolder(name, out, why);
}

OpenStatus Folder::MakePrivateFolder(const std::string& name, Folder* out, Failure* why) const {
  if (BeginStep(fault::Op::kCreate)) return Tell(File::StruckFailure(), why);
  return PlatformMakePrivateFolder(name, out, why);
}

OpenStatus Folder::RemoveTree(const std::string& name, int depth, bool withFolder) const {
  if (BeginStep(fault::Op::kRemove)) return OpenStatus::kFailed;
  if (!IsEntryName(name)) return OpenStatus::kRefused;
  return RemoveEntry(handle_.Get(), EntryNameOf(name), depth, withFolder, true);
}

std::vector<std::string> Folder::Names(const std::string& prefix) const {
  if (BeginStep(fault::Op::kList)) return std::vector<std::string>();
  return ReadNames(prefix);
}

OpenStatus Folder::OpenFile(const std::string& name, FileMode mode, bool inheritable, File* out,
                            Failure* why) const {
  if (BeginStep(fault::Op::kOpen)) return Tell(File::StruckFailure(), why);
  return PlatformOpenFile(name, mode, inheritable, out, why);
}

bool Folder::CreateReplacement(const File& original, const std::string& prefix, std::string* name,
                               File* out, Failure* why) const {
  if (BeginStep(fault::Op::kCreate)) {
    Tell(File::StruckFailure(), why);
    return false;
  }
  return PlatformCreateReplacement(original, prefix, name, out, why);
}

OpenStatus Folder::Replace(File* written, const std::string& temporary, const std::string& name,
                           Failure* why) const {
  // A file not open is refused before anything is counted: nothing of it reaches the system.
  if (!written->IsOpen()) return Tell(Failure(), why);
  if (BeginStep(fault::Op::kRename)) return Tell(File::StruckFailure(), why);
  return PlatformReplace(written, temporary, name, why);
}

bool Folder::Discard(File* written, const std::string& temporary) const {
  if (!written->IsOpen()) return false;
  // Struck, the file is closed all the same, and left for a later run to take over.
  const bool struck = BeginStep(fault::Op::kRemove);
  return PlatformDiscard(written, temporary, !struck);
}

void Folder::RemoveLeftovers(const std::string& prefix) const {
  if (BeginStep(fault::Op::kList)) return;
  std::vector<EntryName> names;
  (void)ListEntries(handle_.Get(), prefix, &names);
  for (const EntryName& name : names) {
    Entry entry;
    EntryKind kind;
    // Held by a run that is still going, someone else's, a folder, a link, or gone: it stays.
    if (OpenEntry(handle_.Get(), name, EntryUse::kLeftover, &entry, &kind) == OpenStatus::kDone &&
        kind == EntryKind::kFile) {
      (void)DeleteEntry(handle_.Get(), name, entry, kind);
    }
  }
}

OpenStatus UpdateLock::Acquire(const Folder& folder, const std::string& name,
                               unsigned milliseconds) {
  if (file_.IsOpen() || BeginStep(fault::Op::kLock)) return OpenStatus::kFailed;
  // The system's: a user the run acts for can neither reach the rooms' folder nor name the lock.
  SystemRights system;
  std::string identity;
  if (!Identity(folder, name, &identity)) return OpenStatus::kFailed;
  Folder temp, rooms;
  OpenStatus status = OpenTempFolder(&temp, nullptr);
  // A rooms' folder that is not certainly the administrators' is refused, and so is the lock:
  // one that a standard user could make first or hold would let them keep every run from
  // updating the file, as a lock any account may create would.
  if (status == OpenStatus::kDone) {
    status = FolderAccess::OpenPrivateFolder(temp, kRoomsFolder, &rooms);
  }
  if (status != OpenStatus::kDone) return status;
  const std::string lockName = LockName(identity);
  // Open for writing, shared with readers only: a second run's open is refused until this one
  // closes it, which the system does when the run ends, however it ends.
  for (unsigned waited = 0;; waited += kLockPoll) {
    status = rooms.OpenFile(lockName, FileMode::kAppend, false, &file_);
    if (status != OpenStatus::kInUse || waited >= milliseconds) return status;
    Pause(kLockPoll);
  }
}

OpenStatus OpenInHeldFolder(const FileLocation& file, FileMode mode, bool inheritable, File* out) {
  return OpenInFolder(&Folder::Open, file, mode, inheritable, out);
}

OpenStatus OpenInSystemFolder(const FileLocation& file, FileMode mode, bool inheritable,
                              File* out) {
  return OpenInFolder(&FolderAccess::OpenSystemFolder, file, mode, inheritable, out);
}

}  // namespace os
