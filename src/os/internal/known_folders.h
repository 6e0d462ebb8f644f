// The system directory, where the seam loads the system's own libraries from.
#pragma once

#include <string>

namespace os {

// The system directory (System32, as this 32-bit program sees it; C:\windows\system32 in a
// machine root); empty when it cannot be known. Each platform defines it.
std::string SystemDirectory();

// The path of the bare name |name| in the system directory; empty when that cannot be known.
std::string SystemFile(const std::string& name);

}  // namespace os
