// The system's handle behind the number a ScopedHandle or a platform object keeps.
#pragma once

#include <windows.h>

#include <cstdint>

namespace os {
namespace win32 {

template <typename Native = HANDLE>
Native H(intptr_t handle) {
  return reinterpret_cast<Native>(handle);
}

template <typename Native>
intptr_t N(Native handle) {
  return reinterpret_cast<intptr_t>(handle);
}

}  // namespace win32
}  // namespace os
