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
const char kStsBlock[] =
    "\n<!-- Deactivation STS global -->\n<ssvDesactivationSTS>Non</ssvDesactivationSTS>\n";
const char kInactive[] = "<active>0</active>";
const char kActive[] = "<active>1</active>";

// Files are read and written in pieces of this size.
const size_t kChunk = size_t{1} << 18;
// Positions are ints: a longer text counts as unreadable.
const size_t kMaxText = INT_MAX;
// How long an update waits for another run of the program to finish with the same file.
const unsigned kLockWait = 60 * 1000;

// Up to |count| characters of |text| from |first|; a negative count counts as 0.
std::string Substring(const std::string& text, int64_t first, int64_t count) {
  if (count <= 0 || first < 0 || static_cast<uint64_t>(first) >= text.size()) return std::string();
  return text.substr(static_cast<size_t>(first), static_cast<size_t>(count));
}

// Appends the text of |path| to |*buffer| (see ReadTextAndFind); on failure |*buffer| is as it was.
// Each piece is read straight into |*buffer| and its line ends converted there at once, while it
// is still in the cache.
bool AppendText(const std::string& path, std::string* buffer) {
  platform::File file;
  if (!platform::File::Open(path, platform::FileMode::kRead, false, &file)) return false;
  int64_t length = 0;
  if (!file.SeekEnd(&length) || !file.Seek(0)) return false;
  const size_t old = buffer->size();
  if (length < 0 || static_cast<uint64_t>(length) >= kMaxText - old) return false;
  // Room for the text, and for what the edits usually add, so that they can work in place; one
  // byte more shows the end of the file without another piece.
  buffer->reserve(old + static_cast<size_t>(length) + static_cast<size_t>(length) / 256 + 4096);
  buffer->resize(old + static_cast<size_t>(length) + 1);
  size_t text = old;  // the converted text ends here
  size_t held = old;  // a CR that ended the last piece, waiting for its LF, lies from here to end
  size_t end = old;   // the bytes read end here
  for (;;) {
    if (end == buffer->size()) {  // the file has grown since its length was taken
      if (buffer->size() >= kMaxText) {
        buffer->resize(old);
        return false;
      }
      buffer->resize(std::min(buffer->size() + kChunk, kMaxText));
    }
    size_t got = 0;
    if (!file.Read(&(*buffer)[end], std::min(kChunk, buffer->size() - end), &got)) {
      buffer->resize(old);
      return false;
    }
    end += got;
    char* data = &(*buffer)[0];
    const size_t ready = got != 0 && data[end - 1] == '\r' ? end - 1 : end;
    text += config_text::CrLfToLf(data + held, ready - held, data + text);
    if (got == 0) break;
    if (ready < end) data[text] = '\r';
    held = text;
    end = text + (end - ready);
  }
  buffer->resize(text);
  if (buffer->size() > old && buffer->back() != '\n') buffer->push_back('\n');
  if (buffer->size() > kMaxText) {
    buffer->resize(old);
    return false;
  }
  file.Close();  // opened for reading: everything has been read
  return true;
}

// Writes the |size| bytes at |text| with CR LF line ends to |file|, a piece at a time.
bool WriteCrLf(platform::File* file, const char* text, size_t size, std::vector<char>* out) {
  for (size_t done = 0; done < size;) {
    const size_t piece = std::min(kChunk, size - done);
    if (!file->Write(out->data(), config_text::LfToCrLf(text + done, piece, out->data()))) {
      return false;
    }
    done += piece;
  }
  return true;
}

// Writes |text| with CR LF line ends to |file|, with the STS block inserted after each position
// of |stsAt| (ascending).
bool WriteText(platform::File* file, const std::string& text, const std::vector<size_t>& stsAt) {
  std::vector<char> out(2 * kChunk);
  size_t done = 0;
  for (size_t at : stsAt) {
    if (!WriteCrLf(file, text.data() + done, at - done, &out) ||
        !WriteCrLf(file, kStsBlock, sizeof(kStsBlock) - 1, &out)) {
      return false;
    }
    done = at;
  }
  return WriteCrLf(file, text.data() + done, text.size() - done, &out);
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

// Puts |text|, with the STS block after each of |stsAt|, in place of the configuration |path|
// through a temporary file beside it, written and flushed to the disk first. The configuration ends with either the whole new text or its
// old bytes; no temporary file stays behind.
void ReplaceText(const std::string& path, const std::string& text,
                 const std::vector<size_t>& stsAt) {
  TemporaryFile temp;
  // The open for writing that a rename passes by: a read-only configuration, or one that
  // another program holds open, keeps its content.
  if (temp.Create(path) && WriteText(temp.file(), text, stsAt) && temp.file()->Sync() &&
      platform::IsWritable(path) && platform::AtomicReplace(path, temp.path(), temp.file())) {
    temp.Placed();
  }
}

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

// What the edits take from the configuration itself.
struct ConfigValues {
  std::string oldVersion;  // between the first version tags, empty without them
  bool haveCod = false;
  std::string cod;  // the kCodLength characters after the first versionCOD tag
  bool haveContext = false;
  std::string context;  // between the first contextFacturation tags
};

// The values of |text|, the configuration, whose first version tag is at |versionAt| (or -1).
ConfigValues ReadValues(const std::string& text, int64_t versionAt) {
  ConfigValues values;
  if (versionAt >= 0) {
    const int64_t q = config_text::Find(text, kVersionClose);
    const int64_t first = versionAt + static_cast<int64_t>(sizeof(kVersionOpen) - 1);
    values.oldVersion = Substring(text, first, q - first);
  }
  int64_t p = config_text::Find(text, kCodOpen);
  if (p >= 0) {
    values.cod = Substring(text, p + static_cast<int64_t>(sizeof(kCodOpen) - 1), kCodLength);
    values.haveCod = true;
  }
  p = config_text::Find(text, kContextOpen);
  if (p >= 0) {
    const int64_t q = config_text::Find(text, kContextClose);
    const int64_t first = p + static_cast<int64_t>(sizeof(kContextOpen) - 1);
    values.context = Substring(text, first, q - first);
    values.haveContext = true;
  }
  return values;
}

// The five edits, in their order, each on the text the one before left. The STS block is not
// put in here, which would move the whole text behind it: the places it goes after are returned,
// and it is inserted as the text is written. The last edit cannot tell: the block holds no
// "<active>0</active>", and none can run across its edges (the block starts and ends with a
// line end, the place after it ends with the anchor's "PS>").
std::vector<size_t> ApplyEdits(const ConfigValues& values, const std::string* newVersion,
                               std::string* text) {
  if (values.haveCod) config_text::ReplaceAll(text, kCodOpen + values.cod + kCodClose, "");
  if (values.haveContext) {
    config_text::ReplaceAll(text, kContextOpen + values.context + kContextClose, "");
  }
  if (newVersion != nullptr) {
    config_text::ReplaceAll(text, kVersionOpen + values.oldVersion + kVersionClose,
                            kVersionOpen + *newVersion + kVersionClose);
  }
  std::vector<size_t> stsAt;
  if (config_text::Find(*text, kStsTag) < 0) {
    const size_t anchor = sizeof(kStsAnchor) - 1;
    for (std::ptrdiff_t p = config_text::Find(*text, kStsAnchor); p >= 0;
         p = config_text::Find(*text, kStsAnchor, static_cast<size_t>(p) + anchor)) {
      stsAt.push_back(static_cast<size_t>(p) + anchor);
    }
  }
  config_text::ReplaceAll(text, kInactive, kActive);  // as long as it was: stsAt stays right
  return stsAt;
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
  // The configuration is read once: under the update lock no other run changes it. A text that
  // cannot be read whole (an empty one included) ends the update: the file is never rewritten
  // from it.
  std::string text;
  const int64_t versionAt = ReadTextAndFind(configPath, kVersionOpen, &text);
  if (text.empty()) return;
  const ConfigValues values = ReadValues(text, versionAt);
  const std::vector<size_t> stsAt =
      ApplyEdits(values, haveNewVersion ? &newVersion : nullptr, &text);
  ReplaceText(configPath, text, stsAt);
}

}  // namespace

int UpdateConfiguration(std::string installPath) {
  int result = 0;
  try {
    const std::string templatePath = installPath + kTemplateSuffix;
    result = UpdateConfigurationFile(templatePath, installPath + kConfigSuffix);
    if (result == 1) UpdateConfigurationFile(templatePath, installPath + kCopySuffix);
  } catch (const std::bad_alloc&) {
    // Out of memory on the way to a file: that file is not touched.
  }
  return result;
}
