// The folders' rules that both platforms share.
#include "os/known_folders.h"

#include "os/internal/known_folders.h"

namespace os {

std::string SystemFile(const std::string& name) {
  const std::string system = SystemDirectory();
  return system.empty() ? std::string() : system + "\\" + name;
}

FileLocation LibraryLocation(const std::string& path) {
  if (!FileLocation::IsBareName(path)) return path;
  FileLocation own = FileLocation::BesideLauncher(path);
  if (FileExists(own)) return own;
  return SystemFile(path);
}

}  // namespace os
