// The folders' rules that both platforms share.
#include "os/known_folders.h"

namespace os {

FileLocation LibraryLocation(const std::string& path) {
  if (!FileLocation::IsBareName(path)) return path;
  FileLocation own = FileLocation::BesideLauncher(path);
  if (FileExists(own)) return own;
  std::string system = SystemDirectory();
  return system.empty() ? std::string() : system + "\\" + path;
}

}  // namespace os
