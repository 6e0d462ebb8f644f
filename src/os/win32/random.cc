// Randomness on Windows: RtlGenRandom, exported by advapi32 as SystemFunction036.
#include <windows.h>

#include "base/ascii.h"
#include "os/random.h"

namespace platform {

bool RandomDigits(std::string* out) {
  typedef BOOLEAN(WINAPI * RandomFn)(void*, ULONG);
  static const RandomFn random = reinterpret_cast<RandomFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "SystemFunction036")));
  unsigned char bytes[8];
  if (random == nullptr || !random(bytes, sizeof(bytes))) return false;
  *out = HexDigits(bytes, sizeof(bytes));
  return true;
}

}  // namespace platform
