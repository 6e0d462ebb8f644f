// The held folders' rules that both platforms share.
#include "os/folder.h"

namespace os {
namespace {

// Opens |file| in the folder that holds it, the folder opened by |openFolder|.
OpenStatus OpenInFolder(OpenStatus (*openFolder)(const FileLocation&, Folder*, Failure*),
                        const FileLocation& file, FileMode mode, bool inheritable, File* out) {
  const std::string& text = file.text();
  const size_t slash = file.besideLauncher() ? std::string::npos : text.find_last_of("\\/");
  // A bare name not beside the launcher lies in the current folder.
  const FileLocation folder = file.besideLauncher() ? FileLocation::BesideLauncher(std::string())
                              : slash == std::string::npos ? FileLocation(".")
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

OpenStatus OpenInHeldFolder(const FileLocation& file, FileMode mode, bool inheritable, File* out) {
  return OpenInFolder(&Folder::Open, file, mode, inheritable, out);
}

OpenStatus OpenInSystemFolder(const FileLocation& file, FileMode mode, bool inheritable,
                              File* out) {
  return OpenInFolder(&Folder::OpenSystemFolder, file, mode, inheritable, out);
}

}  // namespace os
