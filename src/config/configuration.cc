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
#include "config/text_mode.h"

namespace {

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
const char kStsBlock[] =
    "\n<!-- Deactivation STS global -->\n<ssvDesactivationSTS>Non</ssvDesactivationSTS>\n";
const char kInactive[] = "<active>0</active>";
const char kActive[] = "<active>1</active>";

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
const unsigned kLockWait = 60 * 1000;  // for another run of the program to finish the file

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

// Up to |count| bytes of |text| from |first|; a negative count counts as 0.
std::string Substring(const std::string& text, int64_t first, int64_t count) {
  if (count <= 0 || first < 0 || static_cast<uint64_t>(first) >= text.size()) return std::string();
  return text.substr(static_cast<size_t>(first), static_cast<size_t>(count));
}

// The value between |open| and |close| in |text|, found as earlier releases found it.
// It is what stands from the end of the first |open| to the first |close|, searched from the
// text's start (empty when it stands before); |*found| tells whether |open| is there. Legacy, kept
// as is: the value's end is the first |close| of the whole text, not the one after |open|, and a
// position not found (-1) enters the arithmetic as earlier releases let it; both decide which
// element the edits remove or replace.
std::string Value(const std::string& text, const std::string& open, const char* close,
                  bool* found = nullptr) {
  const int64_t first = config::Find(text, open) + static_cast<int64_t>(open.size());
  const bool there = first >= static_cast<int64_t>(open.size());
  if (found != nullptr) *found = there;
  return there ? Substring(text, first, config::Find(text, close) - first) : std::string();
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

// The five edits, in their order, each a replace-all on the text the one before left; the values
// they remove or replace are taken from the text first.
void Edit(std::string* text, const std::string* newVersion) {
  using config::ReplaceAll;
  bool haveContext;
  const std::string oldVersion = Value(*text, kVersionOpen, kVersionClose);
  const std::string context = Value(*text, kContextOpen, kContextClose, &haveContext);
  // The COD version has a fixed width: the characters after its tag, whatever they are.
  const int64_t codAt = config::Find(*text, kCodOpen);
  const std::string cod =
      Substring(*text, codAt + static_cast<int64_t>(sizeof(kCodOpen) - 1), kCodLength);
  if (codAt >= 0) ReplaceAll(text, kCodOpen + cod + kCodClose, "");
  if (haveContext) ReplaceAll(text, kContextOpen + context + kContextClose, "");
  if (newVersion != nullptr) {
    ReplaceAll(text, kVersionOpen + oldVersion + kVersionClose,
               kVersionOpen + *newVersion + kVersionClose);
  }
  if (config::Find(*text, kStsTag) < 0) {
    ReplaceAll(text, kStsAnchor, std::string(kStsAnchor) + kStsBlock);
  }
  ReplaceAll(text, kInactive, kActive);
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

// Replaces the configuration |name|, open in |*original|, in the held |folder| by its edited text,
// the template taken from |installation|.
ConfigResult ReplaceOpened(const Installation& installation, const os::Folder& folder,
                           const std::string& name, os::File* original) {
  if (!original->AcceptsWriting()) return ResultOf(ConfigOutcome::kReadOnly);
  // Read whole through the one handle; an empty text leaves the file as it was.
  std::string text;
  switch (config::ReadInTextMode(original, kMaxText, &text)) {
    case config::TextRead::kDone: break;
    case config::TextRead::kTooLong: return ResultOf(ConfigOutcome::kTooBig);
    case config::TextRead::kFailed: return LeftAt(ConfigStep::kRead, original->WhyFailed(), name);
  }
  if (text.empty()) return ResultOf(ConfigOutcome::kEmpty);
  std::string newVersion;
  const bool haveNewVersion =
      TemplateVersion(installation.folder, installation.templateName, &newVersion);
  Edit(&text, haveNewVersion ? &newVersion : nullptr);
  Replacement made(folder);
  os::Failure why;
  if (!folder.CreateReplacement(*original, name + kReplacementInfix, &made.name, &made.file,
                                &why)) {
    return LeftAt(ConfigStep::kCreate, why, name);
  }
  if (!config::WriteInTextMode(&made.file, text)) {
    return LeftAt(ConfigStep::kWrite, made.file.WhyFailed(), name);
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
  std::string text;
  if (Patiently([&] { return folder.OpenFile(name, &file); }) != OpenStatus::kDone ||
      config::ReadInTextMode(&file, kMaxText, &text) != config::TextRead::kDone ||
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
