// Text operations of the configuration update: substring search and replace-all in linear time.
#include "config/config_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace config {
namespace {

const size_t kNpos = static_cast<size_t>(-1);

// Where the needle's rarest byte is looked for: this many pieces of the text, spread over it.
const size_t kSamplePieces = 16;
const size_t kSamplePiece = 1024;
// The skip to the rarest byte is given up once it has stopped this many times, on average less
// than this many bytes apart: the byte is not rare in this text after all, and the calls cost more
// than the shift table.
const size_t kSkipTrial = 64;
const size_t kSkipMinimum = 16;

// The position in |needle| (|m| bytes, m > 0) of its byte least frequent in |text| (|size|
// bytes), counted in pieces spread over the text, or over the whole of a short one.
size_t RarestByte(const unsigned char* needle, size_t m, const unsigned char* text, size_t size) {
  uint32_t count[256] = {};
  const size_t step = std::max(kSamplePiece, size / kSamplePieces);
  for (size_t start = 0; start < size; start += step) {
    const size_t end = std::min(start + kSamplePiece, size);
    for (size_t i = start; i < end; ++i) ++count[text[i]];
  }
  size_t rarest = 0;
  for (size_t i = 1; i < m; ++i) {
    if (count[needle[i]] < count[needle[rarest]]) rarest = i;
  }
  return rarest;
}

}  // namespace

// Two-way string matching (Crochemore and Perrin), which never compares a text byte more than
// twice. Alignments that cannot match are passed over by finding the needle's rarest byte with
// memchr, or, where that byte proves frequent, by a table of shifts by the byte under the
// needle's last position; either only skips alignments, so the search stays linear.
class TwoWay {
 public:
  TwoWay(const std::string& needle, const std::string& text)
      : needle_(reinterpret_cast<const unsigned char*>(needle.data())),
        needleLength_(needle.size()) {
    if (needleLength_ == 0) return;
    size_t period1, period2;
    const size_t suffix1 = MaximalSuffix(false, &period1);
    const size_t suffix2 = MaximalSuffix(true, &period2);
    // The critical factorization: the later of the two maximal suffixes.
    suffix_ = std::max(suffix1, suffix2);
    period_ = suffix1 > suffix2 ? period1 : period2;
    periodic_ = std::memcmp(needle_, needle_ + period_, suffix_) == 0;
    if (!periodic_) period_ = std::max(suffix_, needleLength_ - suffix_) + 1;
    for (size_t& shift : shift_) shift = needleLength_;
    for (size_t i = 0; i < needleLength_; ++i) shift_[needle_[i]] = needleLength_ - 1 - i;
    rare_ = RarestByte(needle_, needleLength_, reinterpret_cast<const unsigned char*>(text.data()),
                       text.size());
  }

  // The first occurrence in |h| (|size| bytes) at or after |from|, or kNpos.
  size_t Search(const unsigned char* h, size_t size, size_t from) {
    if (needleLength_ == 0) return from <= size ? from : kNpos;
    if (from > size || size - from < needleLength_) return kNpos;
    if (needleLength_ == 1) {  // a line end: the C library's search is the fastest there is
      const void* at = std::memchr(h + from, needle_[0], size - from);
      return at ? static_cast<size_t>(static_cast<const unsigned char*>(at) - h) : kNpos;
    }
    size_t memory = 0;  // needle bytes known to match at the start of this alignment
    for (size_t j = from; j <= size - needleLength_;) {
      if (memory == 0 && skipping_) {
        j = Skip(h, size, j);
        if (j == kNpos) return kNpos;
      } else if (size_t shift = shift_[h[j + needleLength_ - 1]]) {
        // After a periodic partial match, a short shift cannot reach a match.
        if (memory != 0 && shift < period_) shift = needleLength_ - period_;
        memory = 0;
        j += shift;
        continue;
      }
      size_t i = std::max(suffix_, memory);
      while (i < needleLength_ - 1 && needle_[i] == h[i + j]) ++i;
      if (i < needleLength_ - 1 || needle_[i] != h[i + j]) {
        j += i - suffix_ + 1;
        memory = 0;
        continue;
      }
      i = suffix_;
      while (i > memory && needle_[i - 1] == h[i - 1 + j]) --i;
      if (i <= memory) return j;
      j += period_;
      memory = periodic_ ? needleLength_ - period_ : 0;
    }
    return kNpos;
  }

 private:
  // The first alignment at or after |j| (at most |size| - needleLength_) whose rarest byte matches,
  // or kNpos.
  size_t Skip(const unsigned char* h, size_t size, size_t j) {
    const void* at = std::memchr(h + j + rare_, needle_[rare_], size - needleLength_ + 1 - j);
    if (at == nullptr) return kNpos;
    const size_t next = static_cast<size_t>(static_cast<const unsigned char*>(at) - h) - rare_;
    skipped_ += next - j;
    if (++skips_ >= kSkipTrial && skipped_ < skips_ * kSkipMinimum) skipping_ = false;
    return next;
  }

  // The start of the needle's maximal suffix for the byte order (|reversed|: the opposite
  // order), and that suffix's period.
  size_t MaximalSuffix(bool reversed, size_t* period) const {
    size_t ms = kNpos;  // one before the start; kNpos + k wraps to k - 1
    size_t j = 0, k = 1, p = 1;
    while (j + k < needleLength_) {
      unsigned char a = needle_[j + k];
      unsigned char b = needle_[ms + k];
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

  const unsigned char* needle_;
  size_t needleLength_;
  size_t suffix_ = 0;  // the needle is split before this position
  size_t period_ = 1;
  bool periodic_ = false;
  size_t shift_[256];
  size_t rare_ = 0;  // the needle's byte least frequent in the text
  bool skipping_ = true;
  size_t skips_ = 0;
  size_t skipped_ = 0;  // alignments passed over by those skips
};

namespace {

// ReplaceAll when |to| is no longer than |from|: made in place in the one pass that searches,
// since what is written never reaches past the match just found.
size_t ReplaceShrinking(std::string* text, TwoWay* searcher, const std::string& from,
                        const std::string& to) {
  const size_t size = text->size();
  char* data = &(*text)[0];
  const unsigned char* h = reinterpret_cast<const unsigned char*>(data);
  size_t count = 0, out = 0, done = 0;
  for (size_t at = searcher->Search(h, size, 0); at != kNpos;
       at = searcher->Search(h, size, done)) {
    if (out != done) std::memmove(data + out, data + done, at - done);
    out += at - done;
    std::memcpy(data + out, to.data(), to.size());
    out += to.size();
    done = at + from.size();
    ++count;
  }
  if (out != done) {
    std::memmove(data + out, data + done, size - done);
    text->resize(out + size - done);
  }
  return count;
}

// Moves the text apart from its end, within its capacity, and puts |to| in place of each |from|
// at the positions |found| of the text as it was.
void SpreadInPlace(std::string* text, const std::vector<size_t>& found, size_t grown,
                   size_t fromSize, const std::string& to) {
  size_t end = text->size(), out = grown;
  text->resize(grown);
  char* data = &(*text)[0];
  for (size_t k = found.size(); k-- > 0;) {
    const size_t after = found[k] + fromSize;
    out -= end - after;
    std::memmove(data + out, data + after, end - after);
    out -= to.size();
    std::memcpy(data + out, to.data(), to.size());
    end = found[k];
  }
}

// The same, made once at its new size in a second string.
void SpreadIntoCopy(std::string* text, const std::vector<size_t>& found, size_t grown,
                    size_t fromSize, const std::string& to) {
  std::string result;
  result.reserve(grown);
  size_t done = 0;
  for (size_t at : found) {
    result.append(*text, done, at - done);
    result += to;
    done = at + fromSize;
  }
  result.append(*text, done, std::string::npos);
  text->swap(result);
}

// ReplaceAll when |to| is longer than |from|: the matches are found first, then the text is
// spread within its own capacity where that suffices (a text read with CR LF line ends has room
// left by them), so that it is never more than twice in memory and mostly once.
size_t ReplaceGrowing(std::string* text, TwoWay* searcher, const std::string& from,
                      const std::string& to) {
  const size_t size = text->size();
  const unsigned char* h = reinterpret_cast<const unsigned char*>(text->data());
  std::vector<size_t> found;
  for (size_t at = searcher->Search(h, size, 0); at != kNpos;
       at = searcher->Search(h, size, at + from.size())) {
    found.push_back(at);
  }
  const size_t growth = to.size() - from.size();
  // A result longer than a string can hold fails as an allocation does, which leaves the
  // configuration as it was.
  if (found.size() > (text->max_size() - size) / growth) throw std::bad_alloc();
  const size_t grown = size + found.size() * growth;
  if (grown <= text->capacity()) {
    SpreadInPlace(text, found, grown, from.size(), to);
  } else {
    SpreadIntoCopy(text, found, grown, from.size(), to);
  }
  return found.size();
}

}  // namespace

std::ptrdiff_t Find(const std::string& text, const std::string& needle, size_t from) {
  TwoWay searcher(needle, text);
  size_t at =
      searcher.Search(reinterpret_cast<const unsigned char*>(text.data()), text.size(), from);
  return at == kNpos ? -1 : static_cast<std::ptrdiff_t>(at);
}

Replacer::Replacer(const char* from, const char* to) : from_(from), to_(to) {}

Replacer::~Replacer() = default;

void Replacer::Reset(std::string from, std::string to) {
  searcher_.reset();
  from_ = std::move(from);
  to_ = std::move(to);
}

size_t Replacer::In(std::string* text) {
  if (from_.empty()) return 0;
  if (!searcher_) searcher_.reset(new TwoWay(from_, *text));
  return to_.size() <= from_.size() ? ReplaceShrinking(text, searcher_.get(), from_, to_)
                                    : ReplaceGrowing(text, searcher_.get(), from_, to_);
}

}  // namespace config
