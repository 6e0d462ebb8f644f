// Text operations of the configuration update: substring search and replace-all in linear time.
#include "config/config_text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace config_text {
namespace {

const size_t kNpos = static_cast<size_t>(-1);

// Two-way string matching (Crochemore and Perrin), which never compares a text byte more than
// twice, with a table of shifts by the byte under the needle's last position.
class TwoWay {
 public:
  TwoWay(const unsigned char* needle, size_t length) : x_(needle), m_(length) {
    if (m_ == 0) return;
    size_t period1, period2;
    const size_t suffix1 = MaximalSuffix(false, &period1);
    const size_t suffix2 = MaximalSuffix(true, &period2);
    // The critical factorization: the later of the two maximal suffixes.
    suffix_ = std::max(suffix1, suffix2);
    period_ = suffix1 > suffix2 ? period1 : period2;
    periodic_ = std::memcmp(x_, x_ + period_, suffix_) == 0;
    if (!periodic_) period_ = std::max(suffix_, m_ - suffix_) + 1;
    for (size_t& shift : shift_) shift = m_;
    for (size_t i = 0; i < m_; ++i) shift_[x_[i]] = m_ - 1 - i;
  }

  // The first occurrence in |h| (|size| bytes) at or after |from|, or kNpos.
  size_t Search(const unsigned char* h, size_t size, size_t from) const {
    if (m_ == 0) return from <= size ? from : kNpos;
    if (from > size || size - from < m_) return kNpos;
    if (m_ == 1) {  // a line end: the C library's search is the fastest there is
      const void* at = std::memchr(h + from, x_[0], size - from);
      return at ? static_cast<size_t>(static_cast<const unsigned char*>(at) - h) : kNpos;
    }
    size_t memory = 0;  // needle bytes known to match at the start of this alignment
    for (size_t j = from; j <= size - m_;) {
      size_t shift = shift_[h[j + m_ - 1]];
      if (shift > 0) {
        // After a periodic partial match, a short shift cannot reach a match.
        if (memory != 0 && shift < period_) shift = m_ - period_;
        memory = 0;
        j += shift;
        continue;
      }
      size_t i = std::max(suffix_, memory);
      while (i < m_ - 1 && x_[i] == h[i + j]) ++i;
      if (i < m_ - 1) {
        j += i - suffix_ + 1;
        memory = 0;
        continue;
      }
      i = suffix_;
      while (i > memory && x_[i - 1] == h[i - 1 + j]) --i;
      if (i <= memory) return j;
      j += period_;
      memory = periodic_ ? m_ - period_ : 0;
    }
    return kNpos;
  }

 private:
  // The start of the needle's maximal suffix for the byte order (|reversed|: the opposite
  // order), and that suffix's period.
  size_t MaximalSuffix(bool reversed, size_t* period) const {
    size_t ms = kNpos;  // one before the start; kNpos + k wraps to k - 1
    size_t j = 0, k = 1, p = 1;
    while (j + k < m_) {
      unsigned char a = x_[j + k];
      unsigned char b = x_[ms + k];
      if (reversed ? a > b : a < b) {
        j += k;
        k = 1;
        p = j - ms;
      } else if (a == b && k != p) {
        ++k;
      } else if (a == b) {
        j += p;
        k = 1;
      } else {
        ms = j++;
        k = p = 1;
      }
    }
    *period = p;
    return ms + 1;
  }

  const unsigned char* x_;
  size_t m_;
  size_t suffix_ = 0;  // the needle is split before this position
  size_t period_ = 1;
  bool periodic_ = false;
  size_t shift_[256];
};

}  // namespace

std::ptrdiff_t Find(const std::string& text, const std::string& needle, size_t from) {
  const TwoWay searcher(reinterpret_cast<const unsigned char*>(needle.data()), needle.size());
  size_t at = searcher.Search(reinterpret_cast<const unsigned char*>(text.data()), text.size(), from);
  return at == kNpos ? -1 : static_cast<std::ptrdiff_t>(at);
}

size_t ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  if (from.empty()) return 0;
  const TwoWay searcher(reinterpret_cast<const unsigned char*>(from.data()), from.size());
  const unsigned char* data = reinterpret_cast<const unsigned char*>(text->data());
  std::vector<size_t> found;
  for (size_t at = searcher.Search(data, text->size(), 0); at != kNpos;
       at = searcher.Search(data, text->size(), at + from.size())) {
    found.push_back(at);
  }
  if (found.empty()) return 0;
  if (to.size() <= from.size()) {  // in place: the text only shrinks, no second copy of it
    char* data = &(*text)[0];
    size_t out = found[0], done = found[0];
    for (size_t at : found) {
      std::memmove(data + out, data + done, at - done);
      out += at - done;
      std::memcpy(data + out, to.data(), to.size());
      out += to.size();
      done = at + from.size();
    }
    std::memmove(data + out, data + done, text->size() - done);
    text->resize(out + text->size() - done);
    return found.size();
  }
  // Growing: made once at its size, so that the text is no more than twice in memory.
  std::string result;
  result.reserve(text->size() - found.size() * from.size() + found.size() * to.size());
  size_t done = 0;
  for (size_t at : found) {
    result.append(*text, done, at - done);
    result += to;
    done = at + from.size();
  }
  result.append(*text, done, std::string::npos);
  text->swap(result);
  return found.size();
}

}  // namespace config_text
