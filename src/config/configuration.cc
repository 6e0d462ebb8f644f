// The billing module's configuration update: plain-text lookups and replacements over the whole
// text, and a rewrite that either completes or leaves the file as it was, made in folders held
// from the product folder down.
#include "config/configuration.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "config/config_text.h"
#include "os/text_mode.h"

namespace {

using platform::OpenStatus;
using platform::Patiently;

const char kTemplateSuffix[] = "/Configuration.tpl";
const char kConfigSuffix[] = "/Configuration.xml";
const char kCopySuffix[] = "/Temp/ssvConfig/Configuration.xml";
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

const int64_t kMaxText = INT_MAX;      // positions are ints: a longer text is unreadable
const unsigned kLockWait = 60 * 1000;  // for another run of the program to finish the file

// A configuration that came to |outcome|.
ConfigResult Result(ConfigOutcome outcome) {
  ConfigResult result;
  result.outcome = outcome;
  return result;
}

// A configuration left as it was at |step|, for the reason |failure| gives; |name| is the name
// that was being opened, refused when it is a link.
ConfigResult Left(ConfigStep step, const platform::Failure& failure, const std::string& name) {
  ConfigResult result;
  result.step = step;
  result.error = failure.error;
  switch (failure.status) {
    case OpenStatus::kMissing:
      result.outcome = ConfigOutcome::kMissing;
      break;
    case OpenStatus::kInUse:
      result.outcome = ConfigOutcome::kInUse;
      break;
    case OpenStatus::kRefused:
      result.outcome = ConfigOutcome::kLink;
      result.name = name;
      break;
    case OpenStatus::kNoSpace:
      result.outcome = ConfigOutcome::kNoSpace;
      break;
    case OpenStatus::kDenied:
      result.outcome = ConfigOutcome::kDenied;
      break;
    case OpenStatus::kDone:
    case OpenStatus::kFailed:
      result.outcome = ConfigOutcome::kFailed;
  }
  return result;
}

// Up to |count| bytes of |text| from |first|; a negative count counts as 0.
std::string Substring(const std::string& text, int64_t first, int64_t count) {
  if (count <= 0 || first < 0 || static_cast<uint64_t>(first) >= text.size()) return std::string();
  return text.substr(static_cast<size_t>(first), static_cast<size_t>(count));
}

// What stands in |text| from the end of the first |open| to the first |close|, searched from the
// text's start (empty when it stands before); |*found| tells whether |open| is there. Legacy, kept
// as is: the value's end is the first |close| of the whole text, not the one after |open|, and a
// position not found (-1) enters the arithmetic as earlier releases let it; both decide which
// element the edits remove or replace.
std::string Value(const std::string& text, const std::string& open, const char* close,
                  bool* found) {
  const int64_t first = config_text::Find(text, open) + static_cast<int64_t>(open.size());
  *found = first >= static_cast<int64_t>(open.size());
  return *found ? Substring(text, first, config_text::Find(text, close) - first) : std::string();
}

// The module version that the template |name| in |folder| gives: only a whole one, exactly 21
// characters closed at once by its tag; anything else would damage the configuration's version.
bool TemplateVersion(const platform::Folder& folder, const std::string& name,
                     std::string* version) {
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
  using config_text::ReplaceAll;
  bool haveVersion, haveContext;
  const std::string oldVersion = Value(*text, kVersionOpen, kVersionClose, &haveVersion);
  const std::string context = Value(*text, kContextOpen, kContextClose, &haveContext);
  // The COD version has a fixed width: the characters after its tag, whatever they are.
  const int64_t codAt = config_text::Find(*text, kCodOpen);
  const std::string cod =
      Substring(*text, codAt + static_cast<int64_t>(sizeof(kCodOpen) - 1), kCodLength);
  if (codAt >= 0) ReplaceAll(text, kCodOpen + cod + kCodClose, "");
  if (haveContext) ReplaceAll(text, kContextOpen + context + kContextClose, "");
  if (newVersion != nullptr) {
    ReplaceAll(text, kVersionOpen + oldVersion + kVersionClose,
               kVersionOpen + *newVersion + kVersionClose);
  }
  if (config_text::Find(*text, kStsTag) < 0) {
    ReplaceAll(text, kStsAnchor, std::string(kStsAnchor) + kStsBlock);
  }
  ReplaceAll(text, kInactive, kActive);
}

// A configuration's replacement in its held folder, removed unless it became the configuration.
struct Replacement {
  explicit Replacement(const platform::Folder& in) : folder(in) {}
  ~Replacement() { if (file.IsOpen()) folder.Discard(&file, name); }
  const platform::Folder& folder;
  platform::File file;
  std::string name;
};

// Updates the configuration |name| in the held |folder| from the template |templateName| in the held
// |product| folder, under its update lock; |*opened| becomes 1 once it has opened.
ConfigResult UpdateHeldFile(const platform::Folder& product, const std::string& templateName,
                            const platform::Folder& folder, const std::string& name, int* opened) {
  // One update of one file is one unit: a second run reads the file only once the first has
  // replaced it, and never writes back a text it read before.
  platform::UpdateLock lock;
  if (!lock.Acquire(folder, name, kLockWait)) return Result(ConfigOutcome::kInUse);
  folder.RemoveLeftovers(name + kReplacementInfix);
  platform::File original;
  platform::Failure why;
  if (Patiently([&] { return folder.OpenFile(name, &original, &why); }) != OpenStatus::kDone) {
    return Left(ConfigStep::kOpen, why, name);
  }
  *opened = 1;
  if (!original.AcceptsWriting()) return Result(ConfigOutcome::kReadOnly);
  // Read whole through the one handle; an empty text leaves the file as it was.
  std::string text;
  if (!platform::ReadText(&original, kMaxText, &text)) {
    return Left(ConfigStep::kRead, original.WhyFailed(), name);
  }
  if (text.empty()) return Result(ConfigOutcome::kEmpty);
  std::string newVersion;
  const bool haveNewVersion = TemplateVersion(product, templateName, &newVersion);
  Edit(&text, haveNewVersion ? &newVersion : nullptr);
  Replacement made(folder);
  if (!folder.CreateReplacement(original, name + kReplacementInfix, &made.name, &made.file, &why)) {
    return Left(ConfigStep::kCreate, why, name);
  }
  if (!platform::WriteText(&made.file, text)) {
    return Left(ConfigStep::kWrite, made.file.WhyFailed(), name);
  }
  if (!made.file.Sync()) return Left(ConfigStep::kFlush, made.file.WhyFailed(), name);
  // Windows replaces no file that is open, not even one open by this program.
  original.Close();
  if (Patiently([&] { return folder.Replace(&made.file, made.name, name, &why); }) !=
      OpenStatus::kDone) {
    return Left(ConfigStep::kRename, why, name);
  }
  made.file.Close();
  return Result(ConfigOutcome::kUpdated);
}

// Opens in |*held|, one folder after another from the held |product| folder |productPath|, the
// folder of the configuration |configPath|, which lies below it; its file name goes to |*name|.
// When a folder below the product folder does not open, its name goes there, and why to |*why|.
OpenStatus OpenConfigFolder(const platform::Folder& product, const std::string& productPath,
                            const std::string& configPath, std::vector<platform::Folder>* held,
                            std::string* name, platform::Failure* why) {
  if (configPath.compare(0, productPath.size(), productPath) != 0) {
    why->status = OpenStatus::kRefused;
    return why->status;
  }
  std::vector<std::string> names;  // separators repeated or not
  for (size_t at = productPath.size(); at < configPath.size();) {
    const size_t end = std::min(configPath.find('/', at), configPath.size());
    if (end > at) names.push_back(configPath.substr(at, end - at));
    at = end + 1;
  }
  if (names.empty()) {
    why->status = OpenStatus::kMissing;
    return why->status;
  }
  held->reserve(names.size());  // the parents stay where they are
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    held->emplace_back();
    const platform::Folder& parent = held->size() == 1 ? product : (*held)[held->size() - 2];
    const OpenStatus status = parent.OpenFolder(names[i], &held->back(), why);
    if (status != OpenStatus::kDone) {
      *name = names[i];
      return status;
    }
  }
  *name = names.back();
  return OpenStatus::kDone;
}

// UpdateConfigurationFile, telling what became of the configuration.
int UpdateFile(std::string templatePath, std::string configPath, ConfigResult* result) {
  int opened = 0;
  *result = Result(ConfigOutcome::kNoMemory);
  try {
    std::replace(templatePath.begin(), templatePath.end(), '\\', '/');
    std::replace(configPath.begin(), configPath.end(), '\\', '/');
    // The product folder is the template's. A folder named by separators alone names no folder:
    // an empty installation path, whose files would be read as a network path.
    const size_t slash = templatePath.rfind('/');
    const std::string productPath = templatePath.substr(0, slash + 1);
    if (productPath.find_first_not_of('/') == std::string::npos && !productPath.empty()) {
      *result = Result(ConfigOutcome::kMissing);
      return 0;
    }
    platform::Folder product;
    std::vector<platform::Folder> held;
    // Until a folder below it fails, the product folder's name, as the system spells it.
    std::string name = productPath;
    std::replace(name.begin(), name.end(), '/', '\\');
    while (name.size() > 3 && name.back() == '\\') name.pop_back();
    platform::Failure why;
    OpenStatus status =
        platform::Folder::Open(productPath.empty() ? "." : productPath, &product, &why);
    if (status == OpenStatus::kDone) {
      status = OpenConfigFolder(product, productPath, configPath, &held, &name, &why);
    }
    if (status != OpenStatus::kDone) {
      *result = Left(ConfigStep::kOpen, why, name);
      return 0;
    }
    *result = UpdateHeldFile(product, templatePath.substr(slash + 1),
                             held.empty() ? product : held.back(), name, &opened);
  } catch (const std::bad_alloc&) {  // a text too large among them: the file keeps its bytes
  }
  return opened;
}

}  // namespace

int ReadTextAndFind(const platform::Folder& folder, const std::string& name,
                    const std::string& tag, std::string* buffer) {
  platform::File file;
  std::string text;
  if (Patiently([&] { return folder.OpenFile(name, &file); }) != OpenStatus::kDone ||
      !platform::ReadText(&file, kMaxText, &text) ||
      static_cast<int64_t>(buffer->size() + text.size()) > kMaxText) {
    return -1;
  }
  buffer->append(text);
  return static_cast<int>(config_text::Find(*buffer, tag));
}

int UpdateConfigurationFile(std::string templatePath, std::string configPath) {
  ConfigResult result;
  return UpdateFile(std::move(templatePath), std::move(configPath), &result);
}

int UpdateConfiguration(std::string installPath, ConfigReport* report) {
  ConfigReport made;
  int result = 0;
  try {
    const std::string templatePath = installPath + kTemplateSuffix;
    result = UpdateFile(templatePath, installPath + kConfigSuffix, &made.main);
    if (result == 1) UpdateFile(templatePath, installPath + kCopySuffix, &made.copy);
  } catch (const std::bad_alloc&) {
    // On the way to a file: it is not touched, and the report says why.
    ConfigResult& left = result == 1 ? made.copy : made.main;
    if (left.outcome == ConfigOutcome::kNotReached) left.outcome = ConfigOutcome::kNoMemory;
  }
  if (report != nullptr) *report = made;
  return result;
}
