// The billing module's configuration update: plain-text lookups and replacements over the whole
// text, and a rewrite that either completes or leaves the file as it was, made in folders held
// from the product folder down.
#include "config/configuration.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "config/config_text.h"
#include "config/edits.h"
#include "config/text_mode.h"

namespace {

using config::kVersionClose;
using config::kVersionOpen;
using os::OpenStatus;
using os::Patiently;

const char kTemplateName[] = "Configuration.tpl";
// The configuration, in the product folder, and its copy, below it in these folders.
const char kConfigName[] = "Configuration.xml";
const char kCopyFolder[] = "Temp";
const char kCopySubfolder[] = "ssvConfig";
// A replacement's name: the configuration's, this infix, then random digits. Earlier versions
// of the program numbered theirs after the same infix.
const char kReplacementInfix[] = ".orvapatch-new";

const size_t kVersionLength = 21;  // the template's module version has a fixed width

// An installation's product folder, held while the files below it are updated, and the template
// in it. It is opened once, from the one path it is given; no path is split after that.
struct Installation {
  os::Folder folder;
  std::string templateName;
};

// A file below the product folder: the names that lead to it, one per folder, the file's last.
using PathBelow = std::vector<std::string>;

// The longest file the update reads whole, the template included, on both builds alike. The
// edits may grow a text about threefold (the STS block after each anchor), and a 32-bit string
// holds about 1 GiB: a longer file is left as it was, not read. Positions are ints too.
const int64_t kMaxText = 256 * 1024 * 1024;
// The text an edit takes at a time: the whole lines of about this many bytes of the file. Its
// runs stay in the processor's cache while they are edited, and never the whole text in memory.
const size_t kEditRun = 1024 * 1024;
const size_t kWhole = static_cast<size_t>(-1);  // a run that takes the whole text
const unsigned kLockWait = 60 * 1000;           // for another run of the program to finish the file

// A configuration that came to |outcome|.
ConfigResult ResultOf(ConfigOutcome outcome) {
  ConfigResult result;
  result.outcome = outcome;
  return result;
}

// A configuration left as it was at |step|, for the reason |failure| gives; |name| is the name
// that was being opened, refused when it is a link.
ConfigResult LeftAt(ConfigStep step, const os::Failure& failure, const std::string& name) {
  ConfigResult result;
  result.step = step;
  result.error = failure.error;
  switch (failure.status) {
    case OpenStatus::kMissing: result.outcome = ConfigOutcome::kMissing; break;
    case OpenStatus::kInUse: result.outcome = ConfigOutcome::kInUse; break;
    case OpenStatus::kRefused:
      result.outcome = ConfigOutcome::kLink;
      result.name = name;
      break;
    case OpenStatus::kNoSpace: result.outcome = ConfigOutcome::kNoSpace; break;
    case OpenStatus::kDenied: result.outcome = ConfigOutcome::kDenied; break;
    case OpenStatus::kDone:
    case OpenStatus::kFailed: result.outcome = ConfigOutcome::kFailed;
  }
  return result;
}

// The module version that the template |name| in |folder| gives: only a whole one, exactly 21
// characters closed at once by its tag; anything else would damage the configuration's version.
bool TemplateVersion(const os::Folder& folder, const std::string& name, std::string* version) {
  std::string text;
  const int p = ReadTextAndFind(folder, name, kVersionOpen, &text);
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

// A configuration's replacement in its held folder, removed unless it became the configuration.
struct Replacement {
  explicit Replacement(const os::Folder& in) : folder(in) {}
  ~Replacement() {
    if (file.IsOpen()) folder.Discard(&file, name);
  }
  const os::Folder& folder;
  os::File file;
  std::string name;
};

// Edits the text that |reader| reads, its first run of lines in |*lines|, into |writer| on the
// file |out|, a run at a time. A run that shows that the text must be edited whole begins it
// again: what was written goes, and the text is read again, whole, whose edit never fails. False,
// with the step in |*step|, when a read or a write failed.
bool EditInto(config::TextReader* reader, std::string* lines, const std::string* newVersion,
              config::TextWriter* writer, os::File* out, ConfigStep* step) {
  for (size_t run = kEditRun;; run = kWhole) {
    config::Edits edits(newVersion, reader->Ends());
    for (;;) {
      const bool last = reader->AtEnd();
      if (!edits.Apply(lines, last)) break;
      *step = ConfigStep::kWrite;
      if (!writer->Write(*lines, reader->Ends())) return false;
      if (last) return writer->Finish();
      *step = ConfigStep::kRead;
      if (!reader->Next(run, lines)) return false;
    }
    writer->Reset();
    *step = ConfigStep::kWrite;
    if (!out->Truncate()) return false;
    *step = ConfigStep::kRead;
    if (reader->Start(kMaxText) != config::TextRead::kDone || !reader->Next(kWhole, lines)) {
      return false;
    }
  }
}

// Replaces the configuration |name|, open in |*original|, in the held |folder| by its edited text,
// the template taken from |installation|.
ConfigResult ReplaceOpened(const Installation& installation, const os::Folder& folder,
                           const std::string& name, os::File* original) {
  if (!original->AcceptsWriting()) return ResultOf(ConfigOutcome::kReadOnly);
  // Read through the one handle, a run of lines at a time, a text longer than a run as stored;
  // an empty text leaves the file as it was.
  config::TextReader reader(original);
  switch (reader.Start(kMaxText, kEditRun)) {
    case config::TextRead::kDone: break;
    case config::TextRead::kTooLong: return ResultOf(ConfigOutcome::kTooBig);
    case config::TextRead::kFailed: return LeftAt(ConfigStep::kRead, original->WhyFailed(), name);
  }
  std::string lines;
  if (!reader.Next(kEditRun, &lines)) {
    return LeftAt(ConfigStep::kRead, original->WhyFailed(), name);
  }
  if (lines.empty()) return ResultOf(ConfigOutcome::kEmpty);
  std::string newVersion;
  const bool haveNewVersion =
      TemplateVersion(installation.folder, installation.templateName, &newVersion);
  Replacement made(folder);
  os::Failure why;
  if (!folder.CreateReplacement(*original, name + kReplacementInfix, &made.name, &made.file,
                                &why)) {
    return LeftAt(ConfigStep::kCreate, why, name);
  }
  config::TextWriter writer(&made.file);
  ConfigStep step;
  if (!EditInto(&reader, &lines, haveNewVersion ? &newVersion : nullptr, &writer, &made.file,
                &step)) {
    return LeftAt(step, (step == ConfigStep::kRead ? original : &made.file)->WhyFailed(), name);
  }
  if (!made.file.Sync()) return LeftAt(ConfigStep::kFlush, made.file.WhyFailed(), name);
  // Windows replaces no file that is open, not even one open by this program.
  original->Close();
  if (Patiently([&] { return folder.Replace(&made.file, made.name, name, &why); }) !=
      OpenStatus::kDone) {
    return LeftAt(ConfigStep::kRename, why, name);
  }
  made.file.Close();
  return ResultOf(ConfigOutcome::kUpdated);
}

// Opens the configuration |name| in the held |folder| under its update lock and replaces it.
ConfigResult Rewrite(const Installation& installation, const os::Folder& folder,
                     const std::string& name) {
  // One update of one file is one unit: a second run reads the file only once the first has
  // replaced it, and never writes back a text it read before.
  os::UpdateLock lock;
  const OpenStatus locked = lock.Acquire(folder, name, kLockWait);
  if (locked != OpenStatus::kDone) {
    // A file that is not there needs no lock: it is missing, whatever became of the lock.
    os::File absent;
    if (folder.OpenFile(name, &absent) == OpenStatus::kMissing) {
      return ResultOf(ConfigOutcome::kMissing);
    }
    return ResultOf(locked == OpenStatus::kRefused ? ConfigOutcome::kLockFolder
                                                   : ConfigOutcome::kInUse);
  }
  folder.RemoveLeftovers(name + kReplacementInfix);
  os::File original;
  os::Failure why;
  if (Patiently([&] { return folder.OpenFile(name, &original, &why); }) != OpenStatus::kDone) {
    return LeftAt(ConfigStep::kOpen, why, name);
  }
  ConfigResult result = ResultOf(ConfigOutcome::kNoMemory);
  try {
    result = ReplaceOpened(installation, folder, name, &original);
  } catch (const std::bad_alloc&) {
    // Out of memory, or an edited text longer than a string holds: the file keeps its bytes.
  }
  result.opened = true;
  return result;
}

// Opens the product folder |path| ('/' separators, up to its last one; empty for the current
// folder) into |*installation|, its template |templateName|. False, with why in |*left|, when it
// does not open.
bool OpenInstallation(const std::string& path, const std::string& templateName,
                      Installation* installation, ConfigResult* left) {
  installation->templateName = templateName;
  // The folder as the system spells it, reported when it does not open.
  std::string name = path;
  std::replace(name.begin(), name.end(), '/', '\\');
  while (name.size() > 3 && name.back() == '\\') name.pop_back();
  // A folder named by separators alone names no folder: an empty installation path, whose files
  // would be read as a network path.
  if (path.find_first_not_of('/') == std::string::npos && !path.empty()) {
    *left = ResultOf(ConfigOutcome::kMissing);
    return false;
  }
  os::Failure why;
  if (os::Folder::Open(path.empty() ? "." : path, &installation->folder, &why) !=
      OpenStatus::kDone) {
    *left = LeftAt(ConfigStep::kOpen, why, name);
    return false;
  }
  return true;
}

// The names below the folder |folderPath| of |path|, both with '/' separators, repeated or not;
// false when |path| does not lie below it.
bool SplitBelow(const std::string& folderPath, const std::string& path, PathBelow* below) {
  if (path.compare(0, folderPath.size(), folderPath) != 0) return false;
  for (size_t at = folderPath.size(); at < path.size();) {
    const size_t end = std::min(path.find('/', at), path.size());
    if (end > at) below->push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return true;
}

// The path |path| with every backslash turned into a slash, which the system takes alike.
std::string WithSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// Updates the configuration |below| the held product folder of |installation| from its template,
// as UpdateConfigurationFile of two paths does, and tells what became of it.
ConfigResult UpdateConfigurationFile(const Installation& installation, const PathBelow& below) {
  try {
    if (below.empty()) return ResultOf(ConfigOutcome::kMissing);
    std::vector<os::Folder> held(below.size() - 1);
    const os::Folder* folder = &installation.folder;
    for (size_t i = 0; i + 1 < below.size(); ++i) {
      os::Failure why;
      if (folder->OpenFolder(below[i], &held[i], &why) != OpenStatus::kDone) {
        return LeftAt(ConfigStep::kOpen, why, below[i]);
      }
      folder = &held[i];
    }
    return Rewrite(installation, *folder, below.back());
  } catch (const std::bad_alloc&) {  // before the file opened: it is not touched
    return ResultOf(ConfigOutcome::kNoMemory);
  }
}

// The copy follows the configuration: it is updated only once the configuration opened, so an
// installation whose configuration cannot be read keeps both files as they are.
bool CopyFollows(const ConfigResult& main) { return main.opened; }

// Updated or absent: nothing for the administrator to do.
bool IsDone(const ConfigResult& result) {
  return result.outcome == ConfigOutcome::kUpdated || result.outcome == ConfigOutcome::kMissing;
}

}  // namespace

int ReadTextAndFind(const os::Folder& folder, const std::string& name, const std::string& tag,
                    std::string* buffer) {
  os::File file;
  config::TextReader reader(&file);
  std::string text;
  if (Patiently([&] { return folder.OpenFile(name, &file); }) != OpenStatus::kDone ||
      reader.Start(kMaxText) != config::TextRead::kDone || !reader.Next(kWhole, &text) ||
      static_cast<int64_t>(buffer->size() + text.size()) > kMaxText) {
    return -1;
  }
  buffer->append(text);
  return static_cast<int>(config::Find(*buffer, tag));
}

int UpdateConfigurationFile(std::string templatePath, std::string configPath) {
  try {
    templatePath = WithSlashes(std::move(templatePath));
    configPath = WithSlashes(std::move(configPath));
    const size_t slash = templatePath.rfind('/');
    const std::string productPath = templatePath.substr(0, slash + 1);
    Installation installation;
    ConfigResult left;
    PathBelow below;
    if (!OpenInstallation(productPath, templatePath.substr(slash + 1), &installation, &left) ||
        !SplitBelow(productPath, configPath, &below)) {
      return 0;
    }
    return UpdateConfigurationFile(installation, below).opened ? 1 : 0;
  } catch (const std::bad_alloc&) {  // before the file opened: it is not touched
    return 0;
  }
}

int UpdateConfiguration(std::string installPath, ConfigReport* report) {
  ConfigReport made;
  // What a run that is stopped on the way tells of the file under way.
  ConfigReport underWay;
  if (report == nullptr) report = &underWay;
  report->main.outcome = ConfigOutcome::kUnderWay;
  try {
    Installation installation;
    if (OpenInstallation(WithSlashes(std::move(installPath)) + "/", kTemplateName, &installation,
                         &made.main)) {
      made.main = UpdateConfigurationFile(installation, {kConfigName});
      if (CopyFollows(made.main)) {
        report->main = made.main;
        report->copy.outcome = ConfigOutcome::kUnderWay;
        made.copy =
            UpdateConfigurationFile(installation, {kCopyFolder, kCopySubfolder, kConfigName});
      }
    }
  } catch (const std::bad_alloc&) {
    // On the way to a file: it is not touched, and the report says why.
    (CopyFollows(made.main) ? made.copy : made.main).outcome = ConfigOutcome::kNoMemory;
  }
  const int opened = made.main.opened ? 1 : 0;
  *report = std::move(made);
  return opened;
}

bool ConfigReport::Done() const { return IsDone(main) && (!CopyFollows(main) || IsDone(copy)); }
