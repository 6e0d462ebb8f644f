// The folders' rules that both platforms share.
#include "platform/folders.h"

namespace platform {

std::string LibraryLocation(const std::string& path) {
  if (path.empty() || path.find_first_of("\\/:") != std::string::npos) return path;
  std::string own = LauncherDirectory();
  if (!own.empty() && FileExists(own + path)) return own + path;
  std::string system = SystemDirectory();
  return system.empty() ? std::string() : system + "\\" + path;
}

}  // namespace platform
