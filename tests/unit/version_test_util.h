// Helpers of the version reader's tests: the fixtures made at build time, copied into the
// scratch machine, and the user's language set for one test (POSIX: LC_ALL).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "test_util.h"

namespace versiontest {

// The host path of a fixture made at build time (tests/version/version.cmake).
inline std::string FixtureHostPath(const std::string& name) {
  return std::string(VERSION_FIXTURES) + "/" + name;
}

inline std::string ReadHostFile(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Copies a fixture into the scratch machine; returns its Windows path there.
inline std::string Install(const testutil::ScratchMachine& machine, const std::string& name,
                           const std::string& as = std::string()) {
  std::string path = machine.Path(as.empty() ? name : as);
  std::string bytes = ReadHostFile(FixtureHostPath(name));
  testutil::WriteBytes(path, bytes);
  return path;
}

// Sets LC_ALL for the life of the object (POSIX: the user's default language comes from it).
class UserLanguage {
 public:
  explicit UserLanguage(const char* locale) {
    const char* old = std::getenv("LC_ALL");
    had_ = old != nullptr;
    if (had_) old_ = old;
    testutil::SetEnv("LC_ALL", locale);
  }
  ~UserLanguage() { testutil::SetEnv("LC_ALL", had_ ? old_.c_str() : nullptr); }

 private:
  bool had_ = false;
  std::string old_;
};

}  // namespace versiontest
