// The billing module's configuration update: plain-text lookups and replacements over the whole
// file, and a rewrite that either completes or leaves the file as it was.
#include "config/configuration.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
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

// Puts |text| in place of the configuration |path| through a temporary file beside it, written
// and flushed to the disk first. The configuration ends with either the whole new text or its
// old bytes; no temporary file stays behind.
bool ReplaceText(const std::string& path, const std::string& text) {
  platform::File file;
  std::string temp;
  for (int n = 1; n <= 100 && !file.IsOpen(); ++n) {
    temp = path + ".orvapatch-new" + std::to_string(n);
    if (platform::File::Open(temp, platform::FileMode::kCreateNew, false, &file)) break;
    if (!platform::FileExists(temp)) return false;  // not a name taken: the directory refuses
    // Left by a run that was killed, or that could not remove it: taken over, unless another
    // run holds it open. Otherwise every such run would cost a name for good.
    if (platform::IsWritable(temp) && platform::RemoveFile(temp) &&
        platform::File::Open(temp, platform::FileMode::kCreateNew, false, &file)) {
      break;
    }
  }
  if (!file.IsOpen()) return false;
  bool ok = WriteCrLf(&file, text) && file.Sync();
  // The open for writing that a rename passes by: a read-only configuration, or one that
  // another program holds open, keeps its content. The temporary file stays open as long as the
  // platform allows, so that no other run takes it over as a leftover while it is still ours.
  ok = ok && platform::IsWritable(path) && platform::AtomicReplace(path, temp, &file);
  ok = file.Close() && ok;
  if (!ok) platform::RemoveFile(temp);
  return ok;
}

}  // namespace

int ReadTextAndFind(const std::string& path, const std::string& tag, std::string* buffer) {
  if (!AppendText(path, buffer)) return -1;
  return static_cast<int>(config_text::Find(*buffer, tag));
}

int UpdateConfigurationFile(std::string templatePath, std::string configPath) {
  std::replace(templatePath.begin(), templatePath.end(), '\\', '/');
  std::replace(configPath.begin(), configPath.end(), '\\', '/');
  {
    platform::File file;
    if (!platform::File::Open(configPath, platform::FileMode::kRead, false, &file)) return 0;
  }
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
  if (!readConfig(kVersionOpen, &p)) return 1;
  if (p >= 0) {
    int64_t q = config_text::Find(buffer, kVersionClose);
    int64_t first = p + static_cast<int64_t>(sizeof(kVersionOpen) - 1);
    oldVersion = Substring(buffer, first, q - first);
  }
  std::string cod;
  bool haveCod = false;
  if (!readConfig(kCodOpen, &p)) return 1;
  if (p >= 0) {
    cod = Substring(buffer, p + static_cast<int64_t>(sizeof(kCodOpen) - 1), kCodLength);
    haveCod = true;
  }
  std::string context;
  bool haveContext = false;
  if (!readConfig(kContextOpen, &p)) return 1;
  if (p >= 0) {
    int64_t q;
    if (!readConfig(kContextClose, &q)) return 1;
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
  return 1;
}

int UpdateConfiguration(std::string installPath) {
  const std::string templatePath = installPath + kTemplateSuffix;
  int result = UpdateConfigurationFile(templatePath, installPath + kConfigSuffix);
  if (result == 1) UpdateConfigurationFile(templatePath, installPath + kCopySuffix);
  return result;
}
