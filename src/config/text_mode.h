// Text mode on an open file: CR LF read as LF, LF written as CR LF, as the C runtime's text mode
// does on Windows, with the text held whole.
#pragma once

#include <cstdint>
#include <string>

#include "os/file.h"

namespace config {

// Reads the whole of |file| from its start as text: each CR LF as LF, every other CR kept, and a
// last line without line end given one. False, |*text| as it was, when the file cannot be read
// whole or is longer than |limit| bytes.
[[nodiscard]] bool ReadText(os::File* file, int64_t limit, std::string* text);

// Writes |text| to |file| with each LF as CR LF.
[[nodiscard]] bool WriteText(os::File* file, const std::string& text);

}  // namespace config
