// Text operations of the configuration update: substring search and replace-all in linear time,
// since the texts searched for come from the file itself and have no bound on their length.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace config {

// Position of the first |needle| in |text| at or after |from|, or -1 (npos as -1). Linear time in
// the worst case; an empty needle is found at |from|.
std::ptrdiff_t Find(const std::string& text, const std::string& needle, size_t from = 0);

class TwoWay;  // the search, made where it is defined

// ReplaceAll of one |from| by one |to| over texts given one after another, such as the runs of
// one text: the search for |from|, whose making takes time linear in its length, is made once.
class Replacer {
 public:
  explicit Replacer(const char* from = "", const char* to = "");
  ~Replacer();
  Replacer(const Replacer&) = delete;
  Replacer& operator=(const Replacer&) = delete;

  // Replaces |from| by |to| from now on; an empty |from| changes nothing.
  void Reset(std::string from, std::string to);
  // Replaces every non-overlapping |from| in |*text|, scanned from left to right; the scan
  // resumes behind each inserted text, which is never examined again. Linear time; made in place
  // unless the text outgrows its capacity. Returns the number of replacements.
  size_t In(std::string* text);

 private:
  std::string from_, to_;
  std::unique_ptr<TwoWay> searcher_;  // made on the first text, whose bytes it samples
};

// The same, once: every |from| in |*text| replaced by |to|.
inline size_t ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  Replacer replacer;
  replacer.Reset(from, to);
  return replacer.In(text);
}

}  // namespace config
