// Text operations of the configuration update: substring search, replace-all, line ends.
#include "config/config_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace config_text {
namespace {

const size_t kNpos = static_cast<size_t>(-1);

// Line ends are looked at eight bytes at a time, with no branch on the text.
const uint64_t kOnes = 0x0101010101010101ull;
const uint64_t kHighs = 0x8080808080808080ull;

uint64_t LoadWord(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof(word));
  return word;
}

// 0x80 in each byte of |word| that is |c|, 0 in every other byte.
uint64_t ByteMask(uint64_t word, unsigned char c) {
  const uint64_t x = word ^ (kOnes * c);
  return ~(((x & ~kHighs) + ~kHighs) | x | ~kHighs);
}

// The sum of the eight bytes of |word|.
size_t SumOfBytes(uint64_t word) {
  const uint64_t pairs = (word & 0x00FF00FF00FF00FFull) + ((word >> 8) & 0x00FF00FF00FF00FFull);
  return static_cast<size_t>((pairs * 0x0001000100010001ull) >> 48);
}

// Two-way string matching (Crochemore and Perrin), which never compares a text byte more than
// twice, with a table of shifts by the byte under the needle's last position.
class TwoWay {
 public:
  TwoWay(const unsigned char* needle, size_t length) : x_(needle), m_(length) {
    if (m_ == 0) return;
    size_t period1, period2;
    size_t suffix1 = MaximalSuffix(false, &period1);
    size_t suffix2 = MaximalSuffix(true, &period2);
    // The critical factorization: the later of the two maximal suffixes.
    if (suffix1 > suffix2) {
      suffix_ = suffix1;
      period_ = period1;
    } else {
      suffix_ = suffix2;
      period_ = period2;
    }
    periodic_ = std::memcmp(x_, x_ + period_, suffix_) == 0;
    if (!periodic_) period_ = std::max(suffix_, m_ - suffix_) + 1;
    for (size_t& shift : shift_) shift = m_;
    for (size_t i = 0; i < m_; ++i) shift_[x_[i]] = m_ - 1 - i;
  }

  // The first occurrence in |h| (|size| bytes) at or after |from|, or kNpos.
  size_t Search(const unsigned char* h, size_t size, size_t from) const {
    if (m_ == 0) return from <= size ? from : kNpos;
    if (from > size || size - from < m_) return kNpos;
    const size_t last = size - m_;  // the last alignment
    size_t j = from;
    if (periodic_) {
      size_t memory = 0;  // needle bytes known to match at the start of this alignment
      while (j <= last) {
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
        if (i >= m_ - 1) {
          i = suffix_;
          while (i > memory && x_[i - 1] == h[i - 1 + j]) --i;
          if (i <= memory) return j;
          j += period_;
          memory = m_ - period_;
        } else {
          j += i - suffix_ + 1;
          memory = 0;
        }
      }
    } else {
      while (j <= last) {
        size_t shift = shift_[h[j + m_ - 1]];
        if (shift > 0) {
          j += shift;
          continue;
        }
        size_t i = suffix_;
        while (i < m_ - 1 && x_[i] == h[i + j]) ++i;
        if (i >= m_ - 1) {
          i = suffix_;
          while (i > 0 && x_[i - 1] == h[i - 1 + j]) --i;
          if (i == 0) return j;
          j += period_;
        } else {
          j += i - suffix_ + 1;
        }
      }
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
      } else if (a == b) {
        if (k != p) {
          ++k;
        } else {
          j += p;
          k = 1;
        }
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

// Substring search in time linear in the text and the needle. Needles of 3 to 256 bytes, which
// are all the tags and elements looked for, skip through the text by pairs of bytes: a pair that
// the needle does not hold moves the needle past it at once, and only a window that ends with
// the needle's last pair is compared. When those comparisons cost more than the bytes they let
// the search pass over, the rest of the text goes to the two-way search.
class Searcher {
 public:
  Searcher(const char* needle, size_t length)
      : x_(reinterpret_cast<const unsigned char*>(needle)), m_(length), twoWay_(x_, m_) {
    if (m_ < 3 || m_ > 256) return;
    const size_t m1 = m_ - 1;
    std::memset(end_, 0, sizeof(end_));
    for (size_t i = 1; i < m1; ++i) end_[Pair(x_ + i)] = static_cast<unsigned char>(i);
    lastShift_ = m1 - end_[Pair(x_ + m1)];
    end_[Pair(x_ + m1)] = static_cast<unsigned char>(m1);
  }

  // The first occurrence in |text| (|size| bytes) at or after |from|, or kNpos.
  size_t Search(const char* text, size_t size, size_t from) const {
    const unsigned char* h = reinterpret_cast<const unsigned char*>(text);
    if (m_ < 3 || m_ > 256) return twoWay_.Search(h, size, from);
    if (from > size || size - from < m_) return kNpos;
    const size_t m1 = m_ - 1;
    // The place of the last byte under the needle, an offset: a pointer may not pass the end.
    const size_t first = from + m1;
    size_t compared = 0;
    for (size_t p = first; p < size;) {
      size_t end = end_[Pair(h + p)];  // where the pair ending at p ends in the needle, 0: nowhere
      if (end == 0) {
        p += m1;
      } else if (end < m1) {
        p += m1 - end;
      } else {
        const size_t start = p - m1;
        if (std::memcmp(h + start, x_, m_) == 0) return start;
        compared += m_;
        if (compared > 4 * (p - first) + 16 * m_) return twoWay_.Search(h, size, start + 1);
        p += lastShift_;
      }
    }
    return kNpos;
  }

 private:
  // A hash of the two bytes ending at |p|: equal pairs give equal hashes, and a collision only
  // makes a shift shorter. Twelve bits keep the pairs of plain text mostly apart.
  static size_t Pair(const unsigned char* p) {
    return (p[0] ^ (static_cast<size_t>(p[-1]) << 4)) & (kPairs - 1);
  }

  static const size_t kPairs = 4096;

  const unsigned char* x_;
  size_t m_;
  TwoWay twoWay_;
  unsigned char end_[kPairs];  // for a pair's hash, the last needle position where such a pair ends
  size_t lastShift_ = 1;   // the shift after a window that ends with the needle's last pair
};

// Replaces every |from| in (*text)[begin, size) by |to|, as ReplaceAll does, and adds the number
// of replacements to |*count|. Unless |last|, the bytes where a match could still run on into
// text not yet there are left as they were, at the end of |*text|. Returns where the final text
// ends: at the size of |*text| when |last|.
size_t ReplaceFrom(const Searcher& searcher, size_t m, const std::string& to, std::string* text,
                   size_t begin, bool last, size_t* count) {
  const size_t size = text->size();
  // The first place where a match could begin that the text so far cannot decide.
  size_t undecided = size;
  if (!last) undecided = size - begin < m ? begin : size - m + 1;
  size_t at = searcher.Search(text->data(), size, begin);
  if (to.size() <= m) {
    // In place: the result never overtakes the bytes still to be searched, which are the only
    // ones examined next.
    char* data = &(*text)[0];
    size_t done = begin;  // bytes before |done| are final; the result ends at |out|
    size_t out = begin;
    for (; at != kNpos; at = searcher.Search(data, size, done), ++*count) {
      if (out != done) std::memmove(data + out, data + done, at - done);
      out += at - done;
      std::memcpy(data + out, to.data(), to.size());
      out += to.size();
      done = at + m;
    }
    const size_t held = std::max(done, undecided);
    if (out != done) std::memmove(data + out, data + done, size - done);
    text->resize(out + size - done);
    return out + held - done;
  }
  // Growing: the places first, then the text moved from its end (reallocated at most once).
  std::vector<size_t> found;
  for (; at != kNpos; at = searcher.Search(text->data(), size, at + m)) found.push_back(at);
  *count += found.size();
  const size_t done = found.empty() ? begin : found.back() + m;
  const size_t grown = size + found.size() * (to.size() - m);
  text->resize(grown);
  char* data = &(*text)[0];
  size_t out = grown;
  size_t end = size;  // the old bytes before |end| are still in their old places
  for (size_t i = found.size(); i-- > 0;) {
    const size_t tail = end - (found[i] + m);
    out -= tail;
    std::memmove(data + out, data + found[i] + m, tail);
    out -= to.size();
    std::memcpy(data + out, to.data(), to.size());
    end = found[i];
  }
  return std::max(done, undecided) + (grown - size);
}

}  // namespace

std::ptrdiff_t Find(const std::string& text, const std::string& needle, size_t from) {
  size_t at = Searcher(needle.data(), needle.size()).Search(text.data(), text.size(), from);
  return at == kNpos ? -1 : static_cast<std::ptrdiff_t>(at);
}

size_t ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  size_t count = 0;
  if (!from.empty()) {
    ReplaceFrom(Searcher(from.data(), from.size()), from.size(), to, text, 0, true, &count);
  }
  return count;
}

struct PieceEdit::Needle {
  Needle(const std::string& from, const std::string& replacement)
      : text(from), to(replacement), searcher(text.data(), text.size()) {}
  const std::string text;
  const std::string to;
  const Searcher searcher;
};

PieceEdit::PieceEdit(const std::string& from, const std::string& to)
    : needle_(new Needle(from, to)) {}

PieceEdit::PieceEdit(PieceEdit&&) noexcept = default;
PieceEdit& PieceEdit::operator=(PieceEdit&&) noexcept = default;
PieceEdit::~PieceEdit() = default;

size_t PieceEdit::MostHeld() const { return needle_->text.size() - 1; }

void PieceEdit::Apply(std::string* text, size_t* begin, bool last) {
  *begin -= held_.size();
  std::memcpy(&(*text)[*begin], held_.data(), held_.size());
  const size_t final = ReplaceFrom(needle_->searcher, needle_->text.size(), needle_->to, text,
                                   *begin, last, &count_);
  held_.assign(text->data() + final, text->size() - final);
  text->resize(final);
}

size_t CrBeforeEachLf(std::string* text, size_t begin, bool afterCr) {
  const char* data = text->data() + begin;
  const size_t size = text->size() - begin;
  size_t lineEnds = 0;
  bool lacking = false;  // an LF with no CR before it
  auto one = [&](size_t i) {
    if (data[i] != '\n') return;
    ++lineEnds;
    lacking |= i > 0 ? data[i - 1] != '\r' : !afterCr;
  };
  size_t i = 0;
  if (size > 0) one(i++);
  // A word at a time, each against the word one byte before it; the LFs counted by byte
  // position, up to 255 words at a time.
  while (size - i >= 8) {
    uint64_t counts = 0, lacks = 0;
    for (const size_t stop = i + 8 * std::min<size_t>(255, (size - i) / 8); i < stop; i += 8) {
      const uint64_t lf = ByteMask(LoadWord(data + i), '\n');
      lacks |= lf & ~ByteMask(LoadWord(data + i - 1), '\r');
      counts += lf >> 7;
    }
    lineEnds += SumOfBytes(counts);
    lacking |= lacks != 0;
  }
  while (i < size) one(i++);
  if (!lacking) return lineEnds;
  // Rare (a file with LF line ends): the text moved up from its end, a CR put in before each LF
  // that lacks one; the byte before each one looked at has not moved yet.
  size_t bare = data[0] == '\n' && !afterCr;
  for (size_t j = 1; j < size; ++j) bare += data[j] == '\n' && data[j - 1] != '\r';
  size_t from = text->size();
  text->resize(from + bare);
  char* d = &(*text)[0];
  for (size_t to = text->size(); to != from;) {
    d[--to] = d[--from];
    if (d[from] == '\n' && (from > begin ? d[from - 1] != '\r' : !afterCr)) d[--to] = '\r';
  }
  return lineEnds;
}

}  // namespace config_text
