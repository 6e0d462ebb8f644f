// What files do alike on every platform, over each platform's own calls.
#include "os/file.h"

namespace os {

bool File::ReadExactly(void* buffer, size_t size) {
  char* p = static_cast<char*>(buffer);
  while (size > 0) {
    size_t got = 0;
    if (!Read(p, size, &got) || got == 0) return false;
    p += got;
    size -= got;
  }
  return true;
}

}  // namespace os
