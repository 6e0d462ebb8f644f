// Text mode on an open file: CR LF read as LF, LF written as CR LF, as the C runtime's text mode
// does on Windows, a run of whole lines at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "os/file.h"

namespace config {

// How a text was read.
enum class TextRead {
  kDone,
  kTooLong,  // the file is longer than the limit: nothing of it was read
  kFailed,   // the file could not be read: the file's WhyFailed says why
};

// Reads a file from its start as text, whole lines at a time: each CR LF as LF, every other CR
// kept, and a last line without line end given one.
class TextReader {
 public:
  explicit TextReader(os::File* file) : file_(file) {}

  // Finds the file's length and moves to its start, to read it from there.
  [[nodiscard]] TextRead Start(int64_t limit);
  // Puts in |*lines| the text of the next whole lines, read from at least |size| bytes of the file
  // unless it ends first, and more to end the last line; false when the file could not be read.
  [[nodiscard]] bool Next(size_t size, std::string* lines);
  // The whole text has been given.
  bool AtEnd() const { return done_ == length_ && rest_.empty(); }

 private:
  os::File* file_;
  int64_t length_ = 0;
  int64_t done_ = 0;  // bytes read
  std::string rest_;  // text read after the last line end given
};

// Writes text to a file with each LF as CR LF, in large writes.
class TextWriter {
 public:
  explicit TextWriter(os::File* file);

  [[nodiscard]] bool Write(const std::string& text);
  // Writes what is left of the text given; false when a write failed.
  [[nodiscard]] bool Finish();
  // Forgets what was given and not written, to begin again.
  void Reset() { used_ = 0; }

 private:
  os::File* file_;
  std::unique_ptr<char[]> piece_;
  size_t used_ = 0;
};

}  // namespace config
