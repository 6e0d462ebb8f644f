// The five edits of a configuration's text, made a run of whole lines at a time.
#pragma once

#include <cstddef>
#include <string>

#include "config/config_text.h"
#include "config/text_mode.h"

namespace config {

// The module version's tags, which the template gives its value between too.
inline constexpr char kVersionOpen[] = "<ssvModuleVersion>";
inline constexpr char kVersionClose[] = "</ssvModuleVersion>";

// The five edits, in their order, each a replace-all on the text the one before left, the values
// they remove or replace taken from the text first: the module version set to the template's,
// the versionCOD and contextFacturation elements removed, the global STS setting added after
// each anchor when the text has none, every inactive flag switched on.
//
// The text is given a run of whole lines at a time, so that no more than a run is in memory.
// Every tag and value the edits look for lies within a line, so each run is edited alone; what
// the whole text decides (the values, from the first place of their tags, and whether the STS
// setting exists) is guessed from the runs seen so far: a tag not yet seen is taken as absent.
// A run that shows a guess wrong, or a value that would reach across a line end, makes Apply
// fail; the text must then be edited again from its start, given whole.
//
// Runs given as stored, every line ended by CR LF, are edited as their text mode would be and keep
// their CR LF: no text looked for holds an LF, and a CR in one is followed there by another byte,
// so it matches only a CR that text mode keeps; the inserted block's lines end with CR LF. Runs
// that are not exactly the CR LF form of their text mode (an LF alone, a last line not ended), or
// a value that holds a CR, make Apply fail as well.
class Edits {
 public:
  // |newVersion|, when given, is the module version to set; it outlives the edits. The runs end
  // their lines with |ends|.
  Edits(const std::string* newVersion, LineEnd ends);

  // Edits |*lines|, the whole lines that follow those given before; |last| when no text
  // follows them. Given the whole text at once in text mode, it never fails. False when the text
  // must be edited whole, in text mode, |*lines| then left in no useful state.
  bool Apply(std::string* lines, bool last);

 private:
  // The tags whose first place in the whole text decides a value, then the COD version's closing
  // tag, which nothing looks for alone.
  enum Tag {
    kVersionOpenTag,
    kVersionCloseTag,
    kContextOpenTag,
    kContextCloseTag,
    kCodOpenTag,
    kCodCloseTag
  };
  static constexpr int kTags = kCodOpenTag + 1;  // those looked for

  // Takes the values whose tags first stand in |lines|; false when one of them shows that a value
  // guessed on an earlier run was not the whole text's.
  bool Learn(const std::string& lines);
  // Sets the edit of the element of |value| between |open| and its closing tag, noting whether
  // the value holds a line end.
  void Expect(Tag open, const std::string& value);

  const std::string* newVersion_;
  const LineEnd ends_;
  int runs_ = 0;
  bool seen_[kTags] = {};
  bool crosses_ = false;  // a text an edit looks for holds a line end: no run could hold it whole
  Replacer removeCod_, removeContext_, setVersion_, insertSts_, activate_;
  bool stsSeen_ = false;   // the STS setting exists: no block is inserted from then on
  bool inserted_ = false;  // a block was inserted, which a setting seen later would forbid
};

}  // namespace config
