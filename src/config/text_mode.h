// Text mode on an open file: CR LF read as LF, LF written as CR LF, as the C runtime's text mode
// does on Windows, with the text held whole.
#pragma once

#include <cstdint>
#include <string>

#include "os/file.h"

namespace config {

// How a whole text was read.
enum class TextRead {
  kDone,
  kTooLong,  // the file is longer than the limit: nothing of it was read
  kFailed,   // the file could not be read whole: the file's WhyFailed says why
};

// Reads the whole of |file| from its start as text: each CR LF as LF, every other CR kept, and a
// last line without line end given one. |*text| is left as it was unless it is read whole.
[[nodiscard]] TextRead ReadInTextMode(os::File* file, int64_t limit, std::string* text);

// Writes |text| to |file| with each LF as CR LF.
[[nodiscard]] bool WriteInTextMode(os::File* file, const std::string& text);

}  // namespace config
