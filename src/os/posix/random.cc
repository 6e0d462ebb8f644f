// Randomness on POSIX: getrandom.
#include <sys/random.h>

#include "base/ascii.h"
#include "os/internal/random.h"

namespace os {

bool RandomDigits(std::string* out) {
  unsigned char bytes[8];
  if (::getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes))) return false;
  *out = base::HexDigits(bytes, sizeof(bytes));
  return true;
}

}  // namespace os
