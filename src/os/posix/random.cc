// Randomness on POSIX: getrandom.
#include <sys/random.h>

#include "base/ascii.h"
#include "os/random.h"

namespace platform {

bool RandomDigits(std::string* out) {
  unsigned char bytes[8];
  if (::getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes))) return false;
  *out = HexDigits(bytes, sizeof(bytes));
  return true;
}

}  // namespace platform
