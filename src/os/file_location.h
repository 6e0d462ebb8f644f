// Where a file lies, as the program names it to the system: a Windows path, or a name beside the
// launcher, whose folder only the system can spell.
#pragma once

#include <string>
#include <utility>

namespace os {

namespace internal {
class FileLocationAccess;
}  // namespace internal

// Paths from the registry and the program's own constants are Windows paths in the ANSI code
// page, and are handed to the system as they are. The launcher's own folder is the system's: it
// may hold characters that the ANSI code page lacks, so it never passes through that code page.
// A file beside the launcher is kept as its bare name, and the platform joins it to the folder in
// its own form (UTF-16 on Windows, the host's bytes on POSIX) where the file is opened or started.
class FileLocation {
 public:
  // A Windows path in the ANSI code page; implicit, as every plain path text is one.
  FileLocation(std::string path) : text_(std::move(path)) {}
  FileLocation(const char* path) : text_(path) {}

  // The file |name| (a bare name in the ANSI code page) in the launcher's own folder.
  static FileLocation BesideLauncher(std::string name) {
    FileLocation file(std::move(name));
    file.besideLauncher_ = true;
    return file;
  }

  // True when |path| is a bare name: no drive, no directory.
  static bool IsBareName(const std::string& path) {
    return !path.empty() && path.find_first_of("\\/:") == std::string::npos;
  }

 private:
  // Only the platform joins a file beside the launcher to the launcher's folder, and only it hands
  // a path to the system.
  friend class internal::FileLocationAccess;

  bool besideLauncher() const { return besideLauncher_; }
  // The path, or the bare name of a file beside the launcher.
  const std::string& text() const { return text_; }

  std::string text_;
  bool besideLauncher_ = false;
};

}  // namespace os
