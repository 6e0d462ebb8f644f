// Helpers of the version reader's tests: the fixtures made at build time, copied into the
// scratch machine, and the user's language set for one test (POSIX: LC_ALL).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "test_util.h"

namespace versiontest {

// The corrupted images among the hostile fixtures (tests/version/make_fixtures.py) and what each
// gives: 0 = no version data (size 0), 1 = Load 0 (the data is not a whole version block), 2 =
// Load 1 with what could be read.
inline const std::pair<const char*, int> kCorruptedImages[] = {
    {"lfanew_far.dll", 0},       {"sections_many.dll", 0},    {"optional_huge.dll", 0},
    {"rva_count_2.dll", 0},      {"dir_offset_out.dll", 0},   {"dir_count_huge.dll", 0},
    {"dir_self_loop.dll", 0},    {"data_rva_out.dll", 0},     {"data_size_huge.dll", 0},
    {"data_size_0.dll", 1},      {"data_size_5.dll", 1},      {"root_longer_than_data.dll", 1},
    {"root_length_4.dll", 1},    {"block_16bit.dll", 1},      {"child_too_long.dll", 2},
    {"child_length_0.dll", 2},   {"key_unterminated.dll", 2}, {"text_past_block.dll", 2},
    {"table_past_block.dll", 2}, {"fixed_past_block.dll", 2},
    {"data_past_raw_end.dll", 0}, {"data_at_raw_end.dll", 2},
};

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
