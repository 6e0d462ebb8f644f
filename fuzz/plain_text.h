// The configuration update's text operations done the plain way, with std::string's own search:
// what the fuzzers hold the fast ones to.
#pragma once

#include <string>

namespace plain {

// Every |from| (not empty) replaced, left to right, never looking into what was put in.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace plain
