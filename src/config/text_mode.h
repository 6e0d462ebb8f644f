// Text mode on an open file: CR LF read as LF, LF written as CR LF, as the C runtime's text mode
// does on Windows, a run of whole lines at a time; or a long text as stored, its CR LF untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "os/file.h"

namespace config {

// The line end of the text given: LF (text mode), or CR LF (as stored).
enum class LineEnd { kLf, kCrLf };

// How a text was read.
enum class TextRead {
  kDone,
  kTooLong,  // the file is longer than the limit: nothing of it was read
  kFailed,   // the file could not be read: the file's WhyFailed says why
};

// Reads a file from its start as text, whole lines at a time: each CR LF as LF, every other CR
// kept, and a last line without line end given one. A long file may be given as stored instead,
// which spares a pass over its bytes each way: its runs then end where an LF does, but nothing
// in them is changed or added.
class TextReader {
 public:
  explicit TextReader(os::File* file) : file_(file) {}

  // Finds the file's length and moves to its start, to read it from there; a file longer than
  // |storedAbove| bytes is given as stored.
  [[nodiscard]] TextRead Start(int64_t limit, int64_t storedAbove = INT64_MAX);
  // Puts in |*lines| the text of the next whole lines, read from at least |size| bytes of the file
  // unless it ends first, and more to end the last line; false when the file could not be read.
  [[nodiscard]] bool Next(size_t size, std::string* lines);
  // The whole text has been given.
  bool AtEnd() const { return done_ == length_ && rest_.empty(); }
  // The line end of the text given: CR LF when it is given as stored.
  LineEnd Ends() const { return ends_; }

 private:
  os::File* file_;
  LineEnd ends_ = LineEnd::kLf;
  int64_t length_ = 0;
  int64_t done_ = 0;  // bytes read
  std::string rest_;  // text read after the last line end given
};

// Writes text to a file with each LF as CR LF, in large writes.
class TextWriter {
 public:
  explicit TextWriter(os::File* file);

  // Writes |text|, whose lines end with |ends|: as stored when that is CR LF.
  [[nodiscard]] bool Write(const std::string& text, LineEnd ends);
  // Writes what is left of the text given; false when a write failed.
  [[nodiscard]] bool Finish();
  // Forgets what was given and not written, to begin again.
  void Reset() { used_ = 0; }

 private:
  os::File* file_;
  std::unique_ptr<char[]> piece_;
  size_t used_ = 0;
};

// Whether |lines|, given as stored, are exactly the CR LF form of their text mode: each LF after
// a CR, and the last line ended. Only then does writing them as stored give what text mode would.
bool EachLineEndsWithCrLf(const std::string& lines);

}  // namespace config
