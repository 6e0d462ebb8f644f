// The seam's own way in to the members of its files, folders and locations that only it uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "os/file.h"
#include "os/file_location.h"
#include "os/folder.h"

namespace os {
namespace internal {

// Calls that only the seam makes on a File, each forwarded to the private member of that name:
// a class of its own rather than a list of friends, as most callers are helpers in the seam's
// unnamed namespaces, which no friend declaration can name.
class FileAccess {
 public:
  [[nodiscard]] static OpenStatus OpenProgram(const FileLocation& path, File* out, Failure* why) {
    return File::OpenProgram(path, out, why);
  }
  static intptr_t NativeHandle(const File& file) { return file.NativeHandle(); }
  static bool Read(File* file, void* buffer, size_t size, size_t* got) {
    return file->Read(buffer, size, got);
  }
};

// Calls that only the seam makes on a Folder, each forwarded to the private member of that name.
class FolderAccess {
 public:
  [[nodiscard]] static OpenStatus OpenSystemFolder(const FileLocation& path, Folder* out,
                                                   Failure* why = nullptr) {
    return Folder::OpenSystemFolder(path, out, why);
  }
  [[nodiscard]] static OpenStatus OpenPrivateFolder(const Folder& folder, const std::string& name,
                                                    Folder* out, Failure* why = nullptr) {
    return folder.OpenPrivateFolder(name, out, why);
  }
  [[nodiscard]] static OpenStatus MakePrivateFolder(const Folder& folder, const std::string& name,
                                                    Folder* out, Failure* why = nullptr) {
    return folder.MakePrivateFolder(name, out, why);
  }
  [[nodiscard]] static OpenStatus RemoveTree(const Folder& folder, const std::string& name,
                                             int depth, bool withFolder) {
    return folder.RemoveTree(name, depth, withFolder);
  }
  static std::vector<std::string> Names(const Folder& folder, const std::string& prefix) {
    return folder.Names(prefix);
  }
  static bool IsOpen(const Folder& folder) { return folder.IsOpen(); }
  static intptr_t NativeHandle(const Folder& folder) { return folder.NativeHandle(); }
};

// What only the platform reads of a FileLocation, to join it to a folder or hand it to the system.
class FileLocationAccess {
 public:
  static bool besideLauncher(const FileLocation& file) { return file.besideLauncher(); }
  static const std::string& text(const FileLocation& file) { return file.text(); }
};

}  // namespace internal
}  // namespace os
