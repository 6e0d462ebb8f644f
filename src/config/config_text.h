// Text operations of the configuration update: substring search and replace-all in linear time,
// and the conversion between CR LF on disk and LF in memory.
#pragma once

#include <cstddef>
#include <string>

namespace config_text {

// Position of the first |needle| in |text| at or after |from|, or -1 (npos as -1). Linear time in
// the worst case; an empty needle is found at |from|.
std::ptrdiff_t Find(const std::string& text, const std::string& needle, size_t from = 0);

// Replaces every non-overlapping |from| in |*text|, scanned from left to right; the scan resumes
// behind each inserted text, which is never examined again. An empty |from| changes nothing.
// One pass, linear time. Returns the number of replacements.
size_t ReplaceAll(std::string* text, const std::string& from, const std::string& to);

// Writes the |size| bytes at |in| to |out| with each CR LF turned into LF; every other CR is
// kept, the last byte's too. |out| has room for |size| bytes and is |in| itself or lies apart
// from it. Returns the number of bytes written.
size_t CrLfToLf(const char* in, size_t size, char* out);

// Writes the |size| bytes at |in| to |out| with each LF turned into CR LF. |out| has room for
// 2 * |size| bytes and lies apart from |in|. Returns the number of bytes written.
size_t LfToCrLf(const char* in, size_t size, char* out);

}  // namespace config_text
