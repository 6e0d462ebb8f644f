// The billing module's configuration update: plain-text lookups and replacements over the whole
// file, and a rewrite that either completes or leaves the file as it was.
#include "config/configuration.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "config/config_text.h"
#include "platform/file.h"
#include "platform/folders.h"

namespace {

const char kTemplateSuffix[] = "/Configuration.tpl";
const char kConfigSuffix[] = "/Configuration.xml";
const char kCopySuffix[] = "/Temp/ssvConfig/Configuration.xml";

const char kVersionOpen[] = "<ssvModuleVersion>";
const char kVersionClose[] = "</ssvModuleVersion>";
const size_t kVersionLength = 21;  // the template's module version has a fixed width
const char kCodOpen[] = "<versionCOD>";
const char kCodClose[] = "</versionCOD>";
const size_t kCodLength = 4;
const char kContextOpen[] = "<contextFacturation>";
const char kContextClose[] = "</contextFacturation>";
const char kStsTag[] = "<ssvDesactivationSTS>";
const char kStsAnchor[] = "</ssvDesactivationControleSpecialitePS>";
const char kStsBlock[] =  // with CR LF line ends, as the configuration is edited
    "\r\n<!-- Deactivation STS global -->\r\n<ssvDesactivationSTS>Non</ssvDesactivationSTS>\r\n";
const char kInactive[] = "<active>0</active>";
const char kActive[] = "<active>1</active>";

// Files are read and written in pieces of this size. The fuzzers' build makes them a few bytes
// long, so that every input they try crosses them.
#ifndef ORVA_CONFIG_PIECE
#define ORVA_CONFIG_PIECE (size_t{1} << 18)
#endif
const size_t kChunk = ORVA_CONFIG_PIECE;
// A long text written is sent on to the disk every so many bytes, while the rest is edited.
const size_t kSyncEvery = size_t{1} << 20;
// Positions are ints: a longer text counts as unreadable.
const size_t kMaxText = INT_MAX;
// How long an update waits for another run of the program to finish with the same file.
const unsigned kLockWait = 60 * 1000;

// Up to |count| bytes of |text| from |first|; a negative count counts as 0.
std::string Substring(const std::string& text, int64_t first, int64_t count) {
  if (count <= 0 || first < 0 || static_cast<uint64_t>(first) >= text.size()) return std::string();
  return text.substr(static_cast<size_t>(first), static_cast<size_t>(count));
}

// Up to |count| characters of |text|, a text with CR LF line ends, from |first|: a line end is one
// character, as it is in the text read as LF.
std::string Characters(const std::string& text, size_t first, size_t count) {
  size_t end = first;
  for (; count > 0 && end < text.size(); --count) {
    end += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
  }
  return Substring(text, static_cast<int64_t>(first), static_cast<int64_t>(end - first));
}

// A file's text, read a piece at a time with CR LF line ends (see CrBeforeEachLf), a last line
// without line end given one. Each piece is read straight into the text and converted there at
// once, while it is still in the cache.
class TextReader {
 public:
  // Opens |path| for reading, with no other opener.
  bool Open(const std::string& path) {
    return platform::File::Open(path, platform::FileMode::kRead, false, &file_);
  }

  // Appends to |*text| the text of up to |want| more bytes of the file (of fewer at its end).
  // False when the file cannot be read, or its text read as LF would pass kMaxText; |*text| is
  // then as it was. At the end the file is closed.
  bool Read(size_t want, std::string* text);

  // The whole file has been read.
  bool AtEnd() const { return atEnd_; }

 private:
  // Appends up to |want| bytes of the file to |*text|.
  bool ReadBytes(size_t want, std::string* text);

  platform::File file_;
  size_t length_ = 0;  // of the text so far, read as LF
  char last_ = '\n';   // the text's last byte
  bool atEnd_ = false;
};

bool TextReader::ReadBytes(size_t want, std::string* text) {
  size_t end = text->size();
  text->resize(end + want);
  for (const size_t full = end + want; end < full;) {
    size_t got = 0;
    if (!file_.Read(&(*text)[end], full - end, &got)) return false;
    if (got == 0) {
      atEnd_ = true;
      break;
    }
    end += got;
  }
  text->resize(end);
  return true;
}

bool TextReader::Read(size_t want, std::string* text) {
  const size_t old = text->size();
  if (!ReadBytes(want, text)) {
    text->resize(old);
    return false;
  }
  const size_t lineEnds = config_text::CrBeforeEachLf(text, old, last_ == '\r');
  length_ += text->size() - old - lineEnds;  // each line end is one byte when read as LF
  if (text->size() > old) last_ = text->back();
  if (atEnd_ && length_ > 0 && last_ != '\n') {
    text->append("\r\n");
    ++length_;
  }
  if (length_ > kMaxText) {
    text->resize(old);
    return false;
  }
  if (atEnd_) file_.Close();  // opened for reading: everything has been read
  return true;
}

// Appends the text of |path| to |*buffer| (see ReadTextAndFind); on failure |*buffer| is as it was.
bool AppendText(const std::string& path, std::string* buffer) {
  TextReader reader;
  if (!reader.Open(path)) return false;
  std::string text;
  while (!reader.AtEnd()) {
    if (!reader.Read(kChunk, &text)) return false;
  }
  config_text::ReplaceAll(&text, "\r\n", "\n");
  if (buffer->size() + text.size() > kMaxText) return false;
  buffer->append(text);
  return true;
}

// The temporary file of one replace, beside the configuration: removed unless it has become the
// configuration.
class TemporaryFile {
 public:
  ~TemporaryFile() {
    if (path_.empty()) return;
    try {
      platform::DiscardReplacement(path_, &file_);
    } catch (const std::bad_alloc&) {
      // Left for the next run, which removes it.
    }
  }

  // Creates the first free name "<config>.orvapatch-new<n>". A name taken by a file that a
  // killed run left is freed first (the update lock keeps every other run of the program out),
  // unless another program holds that file open. Only the name is removed: whatever is there,
  // a link or another file, nothing else is written or deleted.
  bool Create(const std::string& config) {
    for (int n = 1; n <= 100; ++n) {
      std::string path = config + ".orvapatch-new" + std::to_string(n);
      bool created = platform::File::CreateReplacement(config, path, &file_);
      if (!created && platform::IsWritable(path) && platform::RemoveFile(path)) {
        created = platform::File::CreateReplacement(config, path, &file_);
      }
      if (created) {
        path_ = std::move(path);
        return true;
      }
      if (!platform::FileExists(path)) return false;  // not a name taken: the directory refuses
    }
    return false;
  }

  platform::File* file() { return &file_; }
  const std::string& path() const { return path_; }
  // The file has become the configuration: nothing is left to remove.
  void Placed() {
    file_.Close();
    path_.clear();
  }

 private:
  platform::File file_;
  std::string path_;
};

// A replace that an earlier version of the program could not finish may have left the
// configuration under its backup name only: it goes back under its own name. A backup beside
// the configuration is an older copy and goes. Names only: a directory or link there is left.
void RecoverBackup(const std::string& path) {
  const std::string backup = path + ".orvapatch-backup";
  if (!platform::IsPlainFile(backup)) return;
  if (platform::FileExists(path)) {
    platform::RemoveFile(backup);
  } else {
    (void)platform::RenameFile(backup, path);
  }
}

// The update of one configuration file, under its update lock. |*opened| becomes 1 once the
// configuration has opened.
void UpdateLockedFile(const std::string& templatePath, const std::string& configPath,
                      int* opened);

}  // namespace

int ReadTextAndFind(const std::string& path, const std::string& tag, std::string* buffer) {
  if (!AppendText(path, buffer)) return -1;
  return static_cast<int>(config_text::Find(*buffer, tag));
}

int UpdateConfigurationFile(std::string templatePath, std::string configPath) {
  int opened = 0;
  try {
    std::replace(templatePath.begin(), templatePath.end(), '\\', '/');
    std::replace(configPath.begin(), configPath.end(), '\\', '/');
    // One update of one file is one unit: a second run reads the file only once the first has
    // replaced it, and never writes back a text it read before.
    platform::UpdateLock lock;
    if (!lock.Acquire(configPath, kLockWait)) return 0;
    RecoverBackup(configPath);
    UpdateLockedFile(templatePath, configPath, &opened);
  } catch (const std::bad_alloc&) {
    // Out of memory: as a failed read, the file keeps its bytes and the run goes on.
  }
  return opened;
}

namespace {

// The module version the template gives: only a whole one, exactly 21 characters closed at once
// by its tag; anything else would damage the configuration's version.
bool TemplateVersion(const std::string& templatePath, std::string* version) {
  std::string text;
  const int64_t p = ReadTextAndFind(templatePath, kVersionOpen, &text);
  if (p < 0) return false;
  const size_t at = static_cast<size_t>(p) + sizeof(kVersionOpen) - 1;
  const size_t close = sizeof(kVersionClose) - 1;
  if (at + kVersionLength + close > text.size() ||
      std::memchr(text.data() + at, '<', kVersionLength) != nullptr ||
      text.compare(at + kVersionLength, close, kVersionClose) != 0) {
    return false;
  }
  *version = text.substr(at, kVersionLength);
  return true;
}

// What the edits take from the configuration itself, with CR LF line ends, as it is edited.
struct ConfigValues {
  std::string oldVersion;  // between the first version tags, empty without them
  bool haveCod = false;
  std::string cod;  // the kCodLength characters after the first versionCOD tag
  bool haveContext = false;
  std::string context;  // between the first contextFacturation tags
};

// The tags the values are taken from, each at its first place.
enum ValueTag { kVersionAt, kVersionEnd, kCodAt, kContextAt, kContextEnd, kValueTags };
const char* const kValueTagText[kValueTags] = {kVersionOpen, kVersionClose, kCodOpen, kContextOpen,
                                               kContextClose};

// The values of |text|, the configuration's text with CR LF line ends or (unless |whole|) its
// beginning, whose tags stand at |at| (-1: not found). Tags hold no line end: each one stands
// where it stands in the text read as LF, and a value between two tags is that text's value with
// CR LF line ends. False when that beginning cannot tell them yet: a tag of |held| not found may
// come later (any other tag not found is taken to be nowhere), and so may the characters of the
// COD version.
bool ReadValues(const std::string& text, const std::ptrdiff_t (&at)[kValueTags], bool whole,
                unsigned held, ConfigValues* values) {
  const size_t codFirst = static_cast<size_t>(at[kCodAt]) + sizeof(kCodOpen) - 1;
  if (!whole) {
    for (int tag = 0; tag < kValueTags; ++tag) {
      if (at[tag] < 0 && (held & (1u << tag)) != 0) return false;
    }
    // A CR LF is one character: twice as many bytes tell the COD version.
    if (at[kCodAt] >= 0 && codFirst + 2 * kCodLength > text.size()) return false;
  }
  if (at[kVersionAt] >= 0) {
    const int64_t first = at[kVersionAt] + static_cast<int64_t>(sizeof(kVersionOpen) - 1);
    values->oldVersion = Substring(text, first, at[kVersionEnd] - first);
  }
  values->haveCod = at[kCodAt] >= 0;
  if (values->haveCod) values->cod = Characters(text, codFirst, kCodLength);
  values->haveContext = at[kContextAt] >= 0;
  if (values->haveContext) {
    const int64_t first = at[kContextAt] + static_cast<int64_t>(sizeof(kContextOpen) - 1);
    values->context = Substring(text, first, at[kContextEnd] - first);
  }
  return true;
}

// Reads the first piece of the configuration's text into |*text|, at least kChunk bytes of the
// file, and far enough to tell the values the edits take from it: on until each tag of |held|
// (a set of ValueTag bits) is found, or the piece is the whole text. Any other tag not in it is
// taken to be nowhere, and put in |*absent| for the edits to watch. Each tag not found yet is
// looked for in the new text only.
bool ReadFirstPiece(TextReader* reader, std::string* text, ConfigValues* values, unsigned held,
                    std::vector<ValueTag>* absent) {
  std::ptrdiff_t at[kValueTags] = {-1, -1, -1, -1, -1};
  for (size_t searched = 0;; searched = text->size()) {
    if (!reader->Read(kChunk, text)) return false;
    for (int tag = 0; tag < kValueTags; ++tag) {
      const size_t length = std::strlen(kValueTagText[tag]);
      if (at[tag] < 0) {
        at[tag] = config_text::Find(*text, kValueTagText[tag],
                                    searched < length ? 0 : searched - length + 1);
      }
    }
    if (ReadValues(*text, at, reader->AtEnd(), held, values)) break;
  }
  for (int tag = 0; tag < kValueTags && !reader->AtEnd(); ++tag) {
    if (at[tag] < 0) absent->push_back(static_cast<ValueTag>(tag));
  }
  return true;
}

// Whether the STS block goes in: the text that edits a to c leave holds no STS tag. Most often
// that tag, when there is one, stands just after the anchor, in the first piece. (So do the tags
// the values come from; a configuration updated once has no versionCOD or contextFacturation
// left, and holding it whole to make sure would cost more than reading it again in the rare case
// where one comes later.)
enum class Sts {
  kUndecided,  // decided on the first piece: at once when it is the whole text, else a guess
  kInsert,
  kKeep,
};

// The edits, in their order, each on the text the one before left, applied to the configuration's
// text a piece at a time; in front of them, the tags |absent| taken to be nowhere are watched for.
class EditChain {
 public:
  EditChain(const ConfigValues& values, const std::string* newVersion,
            const std::vector<ValueTag>& absent, Sts sts)
      : stsTag_(kStsTag, kStsTag),
        stsBlock_(kStsAnchor, std::string(kStsAnchor) + kStsBlock),
        active_(kInactive, kActive),
        sts_(sts) {
    for (ValueTag tag : absent) {
      watched_.push_back({tag, {kValueTagText[tag], kValueTagText[tag]}});
    }
    if (values.haveCod) before_.emplace_back(kCodOpen + values.cod + kCodClose, "");
    if (values.haveContext) {
      before_.emplace_back(kContextOpen + values.context + kContextClose, "");
    }
    if (newVersion != nullptr) {
      std::string version = *newVersion;
      config_text::ReplaceAll(&version, "\n", "\r\n");
      before_.emplace_back(kVersionOpen + values.oldVersion + kVersionClose,
                           kVersionOpen + version + kVersionClose);
    }
  }

  // The room that Apply needs before each piece: the most bytes all edits together hold back.
  size_t Room() const {
    size_t room = stsTag_.MostHeld() + stsBlock_.MostHeld() + active_.MostHeld();
    for (const Watch& watch : watched_) room += watch.count.MostHeld();
    for (const config_text::PieceEdit& edit : before_) room += edit.MostHeld();
    return room;
  }

  // Edits the piece (*text)[*begin, size) (see PieceEdit::Apply).
  void Apply(std::string* text, size_t* begin, bool last) {
    // Counting a tag holds nothing back from the edits after it: it replaces it by itself.
    for (Watch& watch : watched_) watch.count.Apply(text, begin, last);
    for (config_text::PieceEdit& edit : before_) edit.Apply(text, begin, last);
    stsTag_.Apply(text, begin, last);
    if (sts_ == Sts::kUndecided) sts_ = stsTag_.count() == 0 ? Sts::kInsert : Sts::kKeep;
    if (sts_ == Sts::kInsert) stsBlock_.Apply(text, begin, last);
    // The block holds no "<active>0</active>", and none can run across its edges (it starts and
    // ends with a line end, the place before it ends with the anchor's "PS>").
    active_.Apply(text, begin, last);
  }

  // The tags taken to be nowhere that came later (ValueTag bits): the values, and all that
  // followed from them, were wrong.
  unsigned TagsCameLater() const {
    unsigned came = 0;
    for (const Watch& watch : watched_) {
      if (watch.count.count() > 0) came |= 1u << watch.tag;
    }
    return came;
  }

  // The block went in on a guess that the rest of the text proved wrong: a tag came later.
  bool StsCameLater() const {
    return sts_ == Sts::kInsert && stsTag_.count() > 0 && stsBlock_.count() > 0;
  }

 private:
  // A tag taken to be nowhere, counted by replacing it by itself.
  struct Watch {
    ValueTag tag;
    config_text::PieceEdit count;
  };
  std::vector<Watch> watched_;
  std::vector<config_text::PieceEdit> before_;  // a to c
  config_text::PieceEdit stsTag_;
  config_text::PieceEdit stsBlock_;
  config_text::PieceEdit active_;
  Sts sts_;
};

// Writes the edited text of the configuration to |file|, from its first piece |head| on, one
// piece at a time, with CR LF line ends. False when the configuration or |file| fails.
bool WriteEdited(TextReader* reader, const std::string& head, EditChain* edits,
                 platform::File* file) {
  const size_t room = edits->Room();
  // Longer pieces for long search texts: each one then searches mostly new bytes.
  const size_t piece = std::max(kChunk, room);
  std::string text;
  for (size_t done = 0, unsynced = 0;;) {
    text.resize(room);
    // The first piece, which may be the whole text, is edited a piece at a time too.
    if (done < head.size()) {
      text.append(head, done, piece);
      done += text.size() - room;
    } else if (!reader->Read(piece, &text)) {
      return false;
    }
    const bool last = done == head.size() && reader->AtEnd();
    size_t begin = room;
    edits->Apply(&text, &begin, last);
    if (!file->Write(text.data() + begin, text.size() - begin)) return false;
    if (last) return true;
    unsynced += text.size() - begin;
    if (unsynced >= kSyncEvery) {
      file->StartSync();
      unsynced = 0;
    }
  }
}

// Puts the written |temp| in place of the configuration |path|: flushed to the disk first, and
// only while nobody else holds the configuration open. The configuration ends with either the
// whole new text or its old bytes.
void Place(const std::string& path, TemporaryFile* temp) {
  if (temp->file()->Sync() && platform::IsWritable(path) &&
      platform::AtomicReplace(path, temp->path(), temp->file())) {
    temp->Placed();
  }
}

void UpdateLockedFile(const std::string& templatePath, const std::string& configPath,
                      int* opened) {
  {
    platform::File file;
    if (!platform::File::Open(configPath, platform::FileMode::kRead, false, &file)) return;
  }
  *opened = 1;
  std::string newVersion;
  const bool haveNewVersion = TemplateVersion(templatePath, &newVersion);
  // The configuration is read once, a piece at a time, and edited on its way to a temporary file
  // beside it, which replaces it only once the whole text has been read and written. It is edited
  // with CR LF line ends, mostly its own bytes, and so are the edits' search texts and
  // replacements: as none of these search texts ends with a CR, each finds exactly what it finds
  // in the text read as LF, and the result is that text's, written with CR LF. A text that
  // cannot be read whole (an empty one included) leaves the file as it was. A guess that the
  // rest of the text proves wrong, rare, costs one more round with the answer known: the first
  // piece held on until the tags that came later, or the STS block left out.
  unsigned held = 0;
  for (Sts sts = Sts::kUndecided;;) {
    // Made first, while nothing holds the configuration, whose security it takes.
    TemporaryFile temp;
    if (!temp.Create(configPath)) return;
    TextReader reader;
    std::string text;
    ConfigValues values;
    std::vector<ValueTag> absent;
    if (!reader.Open(configPath) || !ReadFirstPiece(&reader, &text, &values, held, &absent) ||
        text.empty()) {
      return;
    }
    EditChain edits(values, haveNewVersion ? &newVersion : nullptr, absent, sts);
    if (!WriteEdited(&reader, text, &edits, temp.file())) return;
    if (const unsigned came = edits.TagsCameLater()) {
      held |= came;  // and the STS tag was counted in a text edited with wrong values
    } else if (edits.StsCameLater()) {
      sts = Sts::kKeep;
    } else {
      Place(configPath, &temp);
      return;
    }
  }
}

}  // namespace

int UpdateConfiguration(std::string installPath, ConfigReport* report) {
  int result = 0;
  ConfigReport unused;
  if (report == nullptr) report = &unused;
  try {
    const std::string templatePath = installPath + kTemplateSuffix;
    result = UpdateConfigurationFile(templatePath, installPath + kConfigSuffix);
    report->main = result == 1 ? ConfigOutcome::kUpdated : ConfigOutcome::kMissing;
    if (result == 1) {
      report->copy =
          UpdateConfigurationFile(templatePath, installPath + kCopySuffix) == 1
              ? ConfigOutcome::kUpdated
              : ConfigOutcome::kMissing;
    }
  } catch (const std::bad_alloc&) {
    // Out of memory on the way to a file: that file is not touched.
  }
  return result;
}
