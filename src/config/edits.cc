// The five edits of a configuration's text, a run of whole lines at a time.
#include "config/edits.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "config/config_text.h"

namespace config {
namespace {

const char kCodOpen[] = "<versionCOD>";
const size_t kCodLength = 4;  // the COD version has a fixed width: whatever stands there
const char kContextOpen[] = "<contextFacturation>";
const char* const kTagTexts[] = {
    kVersionOpen, kVersionClose, kContextOpen, "</contextFacturation>", kCodOpen, "</versionCOD>"};
const char kStsTag[] = "<ssvDesactivationSTS>";
const char kStsAnchor[] = "</ssvDesactivationControleSpecialitePS>";
// The anchor followed by the block inserted after it, in text mode and as stored.
const char kStsAnchorAndBlock[] =
    "</ssvDesactivationControleSpecialitePS>"
    "\n<!-- Deactivation STS global -->\n<ssvDesactivationSTS>Non</ssvDesactivationSTS>\n";
const char kStsAnchorAndStoredBlock[] =
    "</ssvDesactivationControleSpecialitePS>"
    "\r\n<!-- Deactivation STS global -->\r\n<ssvDesactivationSTS>Non</ssvDesactivationSTS>\r\n";
const char kInactive[] = "<active>0</active>";
const char kActive[] = "<active>1</active>";

}  // namespace

Edits::Edits(const std::string* newVersion, LineEnd ends)
    : newVersion_(newVersion),
      ends_(ends),
      insertSts_(kStsAnchor, ends == LineEnd::kLf ? kStsAnchorAndBlock : kStsAnchorAndStoredBlock),
      activate_(kInactive, kActive) {}

bool Edits::Apply(std::string* lines, bool last) {
  // The whole text at once: nothing is guessed, and the edits may reach across lines.
  const bool whole = runs_++ == 0 && last && ends_ == LineEnd::kLf;
  if (ends_ == LineEnd::kCrLf && !EachLineEndsWithCrLf(*lines)) return false;
  if (!Learn(*lines) || (!whole && crosses_)) return false;
  size_t removed = removeCod_.In(lines);
  removed += removeContext_.In(lines);
  // A removal could join an opening tag not yet seen in the text, whose element earlier runs
  // were edited without: such a text is edited whole.
  if (!whole && removed != 0 && !(seen_[kContextOpenTag] && seen_[kVersionOpenTag])) return false;
  setVersion_.In(lines);
  if (!stsSeen_ && Find(*lines, kStsTag) >= 0) {
    if (inserted_) return false;
    stsSeen_ = true;
  }
  if (!stsSeen_) inserted_ = insertSts_.In(lines) != 0 || inserted_;
  activate_.In(lines);
  return true;
}

bool Edits::Learn(const std::string& lines) {
  std::ptrdiff_t at[kTags];
  for (int tag = 0; tag < kTags; ++tag) at[tag] = seen_[tag] ? -1 : Find(lines, kTagTexts[tag]);
  // A value runs to the first closing tag of the whole text: one that first stands in a later run
  // than its opening tag makes the value guessed there, empty, wrong.
  if ((at[kVersionCloseTag] >= 0 && seen_[kVersionOpenTag]) ||
      (at[kContextCloseTag] >= 0 && seen_[kContextOpenTag])) {
    return false;
  }
  for (const Tag open : {kVersionOpenTag, kContextOpenTag, kCodOpenTag}) {
    // The module version is set even where the text has none, its old value then empty.
    if (at[open] < 0 && (open != kVersionOpenTag || runs_ != 1)) continue;
    const int64_t first = at[open] + static_cast<int64_t>(std::strlen(kTagTexts[open]));
    // Legacy, kept as is: a value runs to the first closing tag of the whole text, not the one
    // after its opening tag, and is empty when that one is missing or stands before; the COD
    // version has a fixed width, whatever stands there. Both decide which element the edits
    // remove or replace.
    const int64_t count = at[open] < 0          ? 0
                          : open == kCodOpenTag ? kCodLength
                          : seen_[open + 1]     ? 0
                                                : at[open + 1] - first;
    // Up to |count| bytes from |first|, cut at the end of the lines (and so of the text).
    Expect(open, count > 0 && static_cast<uint64_t>(first) <= lines.size()
                     ? lines.substr(static_cast<size_t>(first), static_cast<size_t>(count))
                     : std::string());
  }
  for (int tag = 0; tag < kTags; ++tag) seen_[tag] = seen_[tag] || at[tag] >= 0;
  return true;
}

void Edits::Expect(Tag open, const std::string& value) {
  if (open == kVersionOpenTag && newVersion_ == nullptr) return;  // the version is left
  // As stored, a CR in a value may be half of a line end (the COD version's fixed width can end
  // between its CR and LF), and a new version's LF would be written alone.
  crosses_ = crosses_ ||
             value.find_first_of(ends_ == LineEnd::kLf ? "\n" : "\r\n") != std::string::npos ||
             (ends_ == LineEnd::kCrLf && open == kVersionOpenTag &&
              newVersion_->find('\n') != std::string::npos);
  // The element found, then what replaces it: the new version's, or nothing.
  std::string element[2];
  const std::string* inside = &value;
  for (std::string& made : element) {
    if (inside == nullptr) break;
    made.append(kTagTexts[open]).append(*inside).append(kTagTexts[open + 1]);
    inside = open == kVersionOpenTag ? newVersion_ : nullptr;
  }
  (open == kVersionOpenTag ? setVersion_
   : open == kCodOpenTag   ? removeCod_
                           : removeContext_)
      .Reset(std::move(element[0]), std::move(element[1]));
}

}  // namespace config
