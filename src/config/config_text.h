// Text operations of the configuration update: substring search and replace-all in linear time,
// since the texts searched for come from the file itself and have no bound on their length.
#pragma once

#include <cstddef>
#include <string>

namespace config {

// Position of the first |needle| in |text| at or after |from|, or -1 (npos as -1). Linear time in
// the worst case; an empty needle is found at |from|.
std::ptrdiff_t Find(const std::string& text, const std::string& needle, size_t from = 0);

// Replaces every non-overlapping |from| in |*text|, scanned from left to right; the scan resumes
// behind each inserted text, which is never examined again. An empty |from| changes nothing.
// Linear time; made in place unless the text outgrows its capacity. Returns the number of
// replacements.
size_t ReplaceAll(std::string* text, const std::string& from, const std::string& to);

}  // namespace config
