// Test helpers: a scratch machine (a machine root on POSIX, a folder of C: under Wine) and bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "os/file.h"

namespace testutil {

// A fresh, empty scratch folder for one test, removed at the end. On POSIX the process's machine
// root points into it, with C:\windows and the user's Documents folder made, and its registry is
// empty; under Wine the registry keys of the product family and of the tests are removed.
class ScratchMachine {
 public:
  ScratchMachine();
  ~ScratchMachine();
  // A Windows path inside the scratch folder, e.g. Path("a\\b.txt").
  std::string Path(const std::string& relative) const;
  // The Windows directory's log file and the Documents one.
  std::string WindowsLog() const;
  std::string DocumentsLog() const;

 private:
  std::string base_;
};

// The host path of a Windows path (on Windows, the path itself).
std::string Host(const std::string& windowsPath);
// The host path of the test program's own folder, ending in a separator: the launcher's folder
// for the code under test.
std::string ProgramDirectory();
void MakeDirectories(const std::string& windowsPath);
// Another path of the existing folder |windowsFolder|, one that the system resolves to it: its 8.3
// short name on Windows, a path through a link to its parent folder on POSIX.
std::string AnotherSpelling(const std::string& windowsFolder);
void RemoveTree(const std::string& windowsPath);
bool Exists(const std::string& windowsPath);
std::string ReadBytes(const std::string& windowsPath);
void WriteBytes(const std::string& windowsPath, const std::string& bytes);
void SetEnv(const char* name, const char* value);
// Opens the file |windowsPath| in |mode|, as another program holding it would; false when it
// cannot be opened.
bool Hold(const std::string& windowsPath, os::FileMode mode, os::File* out);

// The registry keys that the product family and the tests use, removed from both hives (their
// settings keys included); on POSIX the scratch machine's whole registry.
void RemoveProductKeys();

// Compares byte strings, reporting for a difference only the sizes, the first differing offset
// and the bytes around it (never megabytes).
::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual);

// Replaces every "HH:MM:SS" time and the start banner's date with fixed marks.
std::string MaskTimes(const std::string& text);

}  // namespace testutil
