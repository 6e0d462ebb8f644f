// Text operations of the configuration update: substring search and replace-all in linear time,
// on a whole text or on one that arrives in pieces, and the two forms of its line ends.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace config_text {

// Position of the first |needle| in |text| at or after |from|, or -1 (npos as -1). Linear time in
// the worst case; an empty needle is found at |from|.
std::ptrdiff_t Find(const std::string& text, const std::string& needle, size_t from = 0);

// Replaces every non-overlapping |from| in |*text|, scanned from left to right; the scan resumes
// behind each inserted text, which is never examined again. An empty |from| changes nothing.
// One pass, linear time. Returns the number of replacements.
size_t ReplaceAll(std::string* text, const std::string& from, const std::string& to);

// One ReplaceAll over a text that arrives in pieces, each edited where it lies, so that a text of
// any length passes through a few small buffers. Its result is ReplaceAll's on the whole text.
class PieceEdit {
 public:
  // Replaces |from|, which is not empty, by |to|.
  PieceEdit(const std::string& from, const std::string& to);
  PieceEdit(PieceEdit&&) noexcept;
  PieceEdit& operator=(PieceEdit&&) noexcept;
  ~PieceEdit();

  // The most bytes of a piece that the edit holds back, for a match that may run on into the
  // next piece: the search text's length less one.
  size_t MostHeld() const;

  // Edits the next piece, (*text)[*begin, size), |last| when the text ends with it. The bytes
  // held back from the piece before are put back in front of it, so *begin must have room for
  // MostHeld() bytes before it. On return (*text)[*begin, size) is the edited text that no later
  // piece can change; bytes held back from this piece are no longer in |*text|.
  void Apply(std::string* text, size_t* begin, bool last);

  // The number of replacements made so far.
  size_t count() const { return count_; }

 private:
  struct Needle;
  std::unique_ptr<const Needle> needle_;
  std::string held_;
  size_t count_ = 0;
};

// Puts a CR before each LF of (*text)[begin, size) that has none, the byte before |begin| being a
// CR when |afterCr|: the CR LF form of a text, which is how most files are already. Returns the
// number of LFs. Each CR LF of that form is one line end: replacing every CR LF by LF then gives
// the text with CR LF read as LF and every other CR kept.
size_t CrBeforeEachLf(std::string* text, size_t begin, bool afterCr);

}  // namespace config_text
