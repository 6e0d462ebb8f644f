// The meanings of the system's error numbers, for each platform's files to tell why a call failed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/file.h"

namespace os {

// A system error number that has a meaning of its own to the program.
struct ErrorMeaning {
  uint32_t error;
  OpenStatus status;
};

// The failure the system's |error| tells, its status taken from |meanings| (kFailed when none).
template <size_t N>
Failure Meaning(uint32_t error, const ErrorMeaning (&meanings)[N]) {
  Failure failure;
  failure.error = error;
  for (const ErrorMeaning& meaning : meanings) {
    if (meaning.error == error) failure.status = meaning.status;
  }
  return failure;
}

}  // namespace os
