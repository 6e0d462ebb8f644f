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
bool AppendText(const std::string& path, std::string* buffer) {
  platform::File file;
  if (!platform::File::Open(path, platform::FileMode::kRead, false, &file)) return false;
  int64_t length = 0;
  if (!file.SeekEnd(&length) || !file.Seek(0)) return false;
  const size_t old = buffer->size();
  if (length < 0 || static_cast<uint64_t>(length) >= kMaxText - old) return false;
  // Room for the text, and for what the edits usually add, so that they can work in place.
  buffer->reserve(old + static_cast<size_t>(length) + static_cast<size_t>(length) / 64 + 4096);
  std::vector<char> chunk(kChunk), text(kChunk);
  size_t carried = 0;  // 1 when a CR that ended the last piece waits at chunk[0] for its LF
  for (;;) {
    size_t got = 0;
    if (!file.Read(chunk.data() + carried, kChunk - carried, &got)) {
      buffer->resize(old);
      return false;
    }
    size_t size = carried + got;
    carried = 0;
    if (got != 0 && chunk[size - 1] == '\r') {
      --size;
      carried = 1;
    }
    buffer->append(text.data(), config_text::CrLfToLf(chunk.data(), size, text.data()));
    if (got == 0) break;
    if (carried) chunk[0] = '\r';
  }
  if (buffer->size() > old && buffer->back() != '\n') buffer->push_back('\n');
  if (buffer->size() > kMaxText) {
    buffer->resize(old);
    return false;
  }
  file.Close();  // opened for reading: everything has been read
  return true;
}

// Writes |text| with CR LF line ends to |file|.
bool WriteCrLf(platform::File* file, const std::string& text) {
  std::vector<char> out(2 * kChunk);
  for (size_t done = 0; done < text.size();) {
    const size_t size = std::min(kChunk, text.size() - done);
    if (!file->Write(out.data(), config_text::LfToCrLf(text.data() + done, size, out.data()))) {
      return false;
    }
    done += size;
  }
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

// Puts |text| in place of the configuration |path| through a temporary file beside it, written
// and flushed to the disk first. The configuration ends with either the whole new text or its
// old bytes; no temporary file stays behind.
void ReplaceText(const std::string& path, const std::string& text) {
  TemporaryFile temp;
  // The open for writing that a rename passes by: a read-only configuration, or one that
  // another program holds open, keeps its content.
  if (temp.Create(path) && WriteCrLf(temp.file(), text) && temp.file()->Sync() &&
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

void UpdateLockedFile(const std::string& templatePath, const std::string& configPath,
                      int* opened) {
  {
    platform::File file;
    if (!platform::File::Open(configPath, platform::FileMode::kRead, false, &file)) return;
  }
  *opened = 1;
  std::string buffer;

  // The new module version: only a whole one, exactly 21 characters closed at once by its tag;
  // anything else would damage the configuration's version.
  std::string newVersion;
  bool haveNewVersion = false;
  int64_t p = ReadTextAndFind(templatePath, kVersionOpen, &buffer);
  if (p >= 0) {
    const size_t at = static_cast<size_t>(p) + sizeof(kVersionOpen) - 1;
    const size_t close = sizeof(kVersionClose) - 1;
    if (at + kVersionLength + close <= buffer.size() &&
        std::memchr(buffer.data() + at, '<', kVersionLength) == nullptr &&
        buffer.compare(at + kVersionLength, close, kVersionClose) == 0) {
      newVersion = buffer.substr(at, kVersionLength);
      haveNewVersion = true;
    }
  }

  // The configuration's own values. A text that cannot be read whole at any of these readings
  // (an empty one included) ends the update: the file is never rewritten from it.
  auto readConfig = [&](const char* tag, int64_t* at) {
    buffer.clear();
    *at = ReadTextAndFind(configPath, tag, &buffer);
    return !buffer.empty();
  };
  std::string oldVersion;
  if (!readConfig(kVersionOpen, &p)) return;
  if (p >= 0) {
    int64_t q = config_text::Find(buffer, kVersionClose);
    int64_t first = p + static_cast<int64_t>(sizeof(kVersionOpen) - 1);
    oldVersion = Substring(buffer, first, q - first);
  }
  std::string cod;
  bool haveCod = false;
  if (!readConfig(kCodOpen, &p)) return;
  if (p >= 0) {
    cod = Substring(buffer, p + static_cast<int64_t>(sizeof(kCodOpen) - 1), kCodLength);
    haveCod = true;
  }
  std::string context;
  bool haveContext = false;
  if (!readConfig(kContextOpen, &p)) return;
  if (p >= 0) {
    int64_t q;
    if (!readConfig(kContextClose, &q)) return;
    int64_t first = p + static_cast<int64_t>(sizeof(kContextOpen) - 1);
    context = Substring(buffer, first, q - first);
    haveContext = true;
  }

  std::string& text = buffer;
  if (haveCod) config_text::ReplaceAll(&text, kCodOpen + cod + kCodClose, "");
  if (haveContext) config_text::ReplaceAll(&text, kContextOpen + context + kContextClose, "");
  if (haveNewVersion) {
    config_text::ReplaceAll(&text, kVersionOpen + oldVersion + kVersionClose,
                            kVersionOpen + newVersion + kVersionClose);
  }
  if (config_text::Find(text, kStsTag) < 0) {
    config_text::ReplaceAll(&text, kStsAnchor, std::string(kStsAnchor) + kStsBlock);
  }
  config_text::ReplaceAll(&text, kInactive, kActive);

  ReplaceText(configPath, text);
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
