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
// The anchor followed by the block inserted after it.
const char kStsAnchorAndBlock[] =
    "</ssvDesactivationControleSpecialitePS>"
    "\n<!-- Deactivation STS global -->\n<ssvDesactivationSTS>Non</ssvDesactivationSTS>\n";
const char kInactive[] = "<active>0</active>";
const char kActive[] = "<active>1</active>";

// Up to |count| bytes of |text| from |first|; a negative count counts as 0.
std::string Substring(const std::string& text, int64_t first, int64_t count) {
  if (count <= 0 || first < 0 || static_cast<uint64_t>(first) >= text.size()) return std::string();
  return text.substr(static_cast<size_t>(first), static_cast<size_t>(count));
}

// The element of |value| between the opening tag |open| and its closing tag, the next one.
std::string Element(int open, const std::string& value) {
  std::string element = kTagTexts[open];
  element += value;
  element += kTagTexts[open + 1];
  return element;
}

}  // namespace

Edits::Edits(const std::string* newVersion)
    : newVersion_(newVersion),
      insertSts_(kStsAnchor, kStsAnchorAndBlock),
      activate_(kInactive, kActive) {
  SetVersion(std::string());
}

bool Edits::Apply(std::string* lines, bool last) {
  // The whole text at once: nothing is guessed, and the edits may reach across lines.
  const bool whole = runs_++ == 0 && last;
  if (!Learn(*lines) || (!whole && crosses_)) return false;
  size_t removed = removeCod_.In(lines);
  removed += removeContext_.In(lines);
  if (!whole && removed != 0 && Reopened(*lines)) return false;
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
  if (at[kVersionOpenTag] >= 0) SetVersion(ValueAt(lines, at, kVersionOpenTag));
  if (at[kContextOpenTag] >= 0) {
    Expect(&removeContext_, kContextOpenTag, ValueAt(lines, at, kContextOpenTag), std::string());
  }
  if (at[kCodOpenTag] >= 0) {
    const int64_t first = at[kCodOpenTag] + static_cast<int64_t>(sizeof(kCodOpen) - 1);
    Expect(&removeCod_, kCodOpenTag, Substring(lines, first, kCodLength), std::string());
  }
  for (int tag = 0; tag < kTags; ++tag) seen_[tag] = seen_[tag] || at[tag] >= 0;
  return true;
}

// Legacy, kept as is: the value's end is the first closing tag of the whole text, not the one
// after the opening tag, and a closing tag not found (-1), or found before, gives an empty value;
// both decide which element the edits remove or replace.
std::string Edits::ValueAt(const std::string& lines, const std::ptrdiff_t* at, Tag open) const {
  const Tag close = static_cast<Tag>(open + 1);
  const int64_t first = at[open] + static_cast<int64_t>(std::strlen(kTagTexts[open]));
  return seen_[close] ? std::string() : Substring(lines, first, at[close] - first);
}

void Edits::SetVersion(const std::string& old) {
  if (newVersion_ != nullptr) {
    Expect(&setVersion_, kVersionOpenTag, old, Element(kVersionOpenTag, *newVersion_));
  }
}

void Edits::Expect(Replacer* edit, Tag open, const std::string& value, std::string to) {
  crosses_ = crosses_ || value.find('\n') != std::string::npos;
  edit->Reset(Element(open, value), std::move(to));
}

bool Edits::Reopened(const std::string& lines) const {
  for (const Tag open : {kContextOpenTag, kVersionOpenTag}) {
    if (!seen_[open] && Find(lines, kTagTexts[open]) >= 0) return true;
  }
  return false;
}

}  // namespace config
