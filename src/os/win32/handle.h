// The system's handle behind the number a ScopedHandle or a platform object keeps.
#pragma once

#include <windows.h>

#include <cstdint>

namespace os {
namespace win32 {

template <typename Native = HANDLE>
Native AsHandle(intptr_t handle) {
  return reinterpret_cast<Native>(handle);
}

template <typename Native>
intptr_t AsNumber(Native handle) {
  return reinterpret_cast<intptr_t>(handle);
}

}  // namespace win32
}  // namespace os
