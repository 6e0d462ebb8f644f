// Names nobody can guess, for the files and folders the launcher creates where others may look.
#pragma once

#include <string>

namespace os {

// Sixteen lower-case hexadecimal digits from the system's randomness; false when it has none.
[[nodiscard]] bool RandomDigits(std::string* out);

}  // namespace os
