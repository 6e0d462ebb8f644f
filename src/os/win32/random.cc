// Randomness on Windows: BCryptGenRandom of the system's preferred generator, from System32's
// bcrypt.dll loaded at run time (advapi32's SystemFunction036 forwards to a library that is not
// always taken from System32).
#include <windows.h>

#include "base/ascii.h"
#include "os/internal/random.h"
#include "os/win32/system_library.h"

namespace os {

bool RandomDigits(std::string* out) {
  typedef LONG(WINAPI * RandomFn)(void*, unsigned char*, ULONG, ULONG);
  const ULONG kSystemPreferred = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
  static const RandomFn random =
      reinterpret_cast<RandomFn>(win32::SystemFunction("bcrypt.dll", "BCryptGenRandom"));
  unsigned char bytes[8];
  if (random == nullptr || random(nullptr, bytes, sizeof(bytes), kSystemPreferred) != 0) {
    return false;
  }
  *out = base::HexDigits(bytes, sizeof(bytes));
  return true;
}

}  // namespace os
