// The held folders' rules that both platforms share, each call counted at the fault seam.
#include "os/folder.h"

#include "os/internal/step.h"

namespace os {
namespace {

// Gives |failure| to |*why| when asked; returns what it means.
OpenStatus Tell(const Failure& failure, Failure* why) {
  if (why != nullptr) *why = failure;
  return failure.status;
}

// Opens |file| in the folder that holds it, the folder opened by |openFolder|.
OpenStatus OpenInFolder(OpenStatus (*openFolder)(const FileLocation&, Folder*, Failure*),
                        const FileLocation& file, FileMode mode, bool inheritable, File* out) {
  const std::string& text = file.text();
  const size_t slash = file.besideLauncher() ? std::string::npos : text.find_last_of("\\/");
  // A bare name not beside the launcher lies in the current folder.
  const FileLocation folder = file.besideLauncher() ? FileLocation::BesideLauncher(std::string())
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

}  // namespace

bool FolderPolicy::Close(Handle handle) {
  // A struck close still gives the folder back: only its answer fails.
  const bool struck = BeginStep(testing::Op::kClose);
  return Release(handle) && !struck;
}

OpenStatus Folder::Open(const FileLocation& path, Folder* out, Failure* why) {
  if (BeginStep(testing::Op::kOpenFolder)) return Tell(File::StruckFailure(), why);
  return OpenAtPath(path, out, why);
}

OpenStatus Folder::OpenSystemFolder(const FileLocation& path, Folder* out, Failure* why) {
  if (BeginStep(testing::Op::kOpen)) return Tell(File::StruckFailure(), why);
  return OpenFollowingLinks(path, out, why);
}

OpenStatus Folder::OpenFolder(const std::string& name, Folder* out, Failure* why) const {
  if (BeginStep(testing::Op::kOpen)) return Tell(File::StruckFailure(), why);
  return OpenSubfolder(name, out, why);
}

OpenStatus Folder::OpenPrivateFolder(const std::string& name, Folder* out, Failure* why) const {
  if (BeginStep(testing::Op::kCreate)) return Tell(File::StruckFailure(), why);
  return OpenOrMakePrivate(name, out, why);
}

OpenStatus Folder::MakePrivateFolder(const std::string& name, Folder* out, Failure* why) const {
  if (BeginStep(testing::Op::kCreate)) return Tell(File::StruckFailure(), why);
  return MakePrivate(name, out, why);
}

OpenStatus Folder::RemoveTree(const std::string& name, int depth, bool withFolder) const {
  if (BeginStep(testing::Op::kRemove)) return OpenStatus::kFailed;
  return ClearTree(name, depth, withFolder);
}

std::vector<std::string> Folder::Names(const std::string& prefix) const {
  if (BeginStep(testing::Op::kList)) return std::vector<std::string>();
  return ReadNames(prefix);
}

OpenStatus Folder::OpenFile(const std::string& name, FileMode mode, bool inheritable, File* out,
                            Failure* why) const {
  if (BeginStep(testing::Op::kOpen)) return Tell(File::StruckFailure(), why);
  return OpenPlainFile(name, mode, inheritable, out, why);
}

bool Folder::CreateReplacement(const File& original, const std::string& prefix, std::string* name,
                               File* out, Failure* why) const {
  if (BeginStep(testing::Op::kCreate)) {
    Tell(File::StruckFailure(), why);
    return false;
  }
  return MakeReplacement(original, prefix, name, out, why);
}

OpenStatus Folder::Replace(File* written, const std::string& temporary, const std::string& name,
                           Failure* why) const {
  // A file not open is refused before anything is counted: nothing of it reaches the system.
  if (!written->IsOpen()) return Tell(Failure(), why);
  if (BeginStep(testing::Op::kRename)) return Tell(File::StruckFailure(), why);
  return RenameOver(written, temporary, name, why);
}

bool Folder::Discard(File* written, const std::string& temporary) const {
  if (!written->IsOpen()) return false;
  // Struck, the file is closed all the same, and left for a later run to take over.
  const bool struck = BeginStep(testing::Op::kRemove);
  return CloseAndRemove(written, temporary, !struck);
}

void Folder::RemoveLeftovers(const std::string& prefix) const {
  if (BeginStep(testing::Op::kList)) return;
  RemoveEachLeftover(prefix);
}

bool UpdateLock::Acquire(const Folder& folder, const std::string& name, unsigned milliseconds) {
  if (handle_.IsValid() || BeginStep(testing::Op::kLock)) return false;
  return Take(folder, name, milliseconds);
}

OpenStatus OpenInHeldFolder(const FileLocation& file, FileMode mode, bool inheritable, File* out) {
  return OpenInFolder(&Folder::Open, file, mode, inheritable, out);
}

OpenStatus OpenInSystemFolder(const FileLocation& file, FileMode mode, bool inheritable,
                              File* out) {
  return OpenInFolder(&Folder::OpenSystemFolder, file, mode, inheritable, out);
}

}  // namespace os
