// The installation log: banners, line formats, the size limit and silent self-closing.
#include "log/setup_log.h"

#include <cstdio>
#include <ctime>
#include <new>
#include <vector>

#include "os/folder.h"
#include "os/known_folders.h"

namespace {

const char kFileName[] = "orvapatch.log";
const char kPatchVersion[] = "2014.4.2";
#define SEPARATOR \
  "--------------------------------------------------------------------------------------\n"
const char kSeparator[] = SEPARATOR;
const char kClosingSeparator[] = SEPARATOR "\n\n";  // written as is: no memory needed at the end
#undef SEPARATOR
const char kStartLine[] = "D\xE9marrage de l'installation de Orvane %s le : ";

// The current local time through strftime into 128 bytes; empty when it cannot be formatted.
std::string FormatNow(const char* format) {
  std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  char buffer[128];
  if (local == nullptr) return std::string();
  size_t n = std::strftime(buffer, sizeof(buffer), format, local);
  return std::string(buffer, n);
}

std::string LogPath(const std::string& directory) {
  std::string path = directory;
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
  return path + kFileName;
}

}  // namespace

CSetupLog::CSetupLog() {
  try {
    std::string directory;
    bool opened = os::WindowsDirectory(&directory) && OpenFile(LogPath(directory).c_str(), 0);
    if (!opened && os::DocumentsFolder(&directory)) OpenFile(LogPath(directory).c_str(), 0);
  } catch (const std::bad_alloc&) {
    m_bOpen = 0;  // out of memory before the log could open: the run has no log
  }
  WriteStartBanner();
}

CSetupLog::~CSetupLog() {
  WriteEndBanner();
  m_file.Close();
}

int CSetupLog::OpenFile(const char* path, int truncate) {
  m_file.Close();
  os::File file;
  // Inheritable: the installer started by the launcher holds the log open too while it runs.
  // Its folder is the system's (the Windows directory or the elevated user's Documents); the file
  // is opened in it held, so that a link or a second name planted as the log is never written
  // through. Held by another program, it is waited for as a configuration is.
  const os::FileMode mode = truncate ? os::FileMode::kTruncate : os::FileMode::kAppend;
  bool ok = os::Patiently([&] { return os::OpenInSystemFolder(path, mode, true, &file); }) ==
            os::OpenStatus::kDone;
  if (ok) m_file = std::move(file);
  m_bOpen = ok ? 1 : 0;
  return m_bOpen;
}

int CSetupLog::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = WriteLine(" - ", format, args);
  va_end(args);
  return result;
}

int CSetupLog::LogError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = WriteLine(" - ***", format, args);
  va_end(args);
  return result;
}

int CSetupLog::WriteLine(const char* mark, const char* format, va_list args) {
  std::string line;
  try {
    line = FormatNow("%H:%M:%S") + mark + os::FormatV(format, args);
    for (char& c : line) {
      if (c == '\n') c = ' ';
    }
    line += '\n';
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return WriteText(line.c_str());
}

int CSetupLog::WriteText(const char* text) {
  if (!m_bOpen) return 0;
  os::ScopedLock hold(m_lock);
  bool written = false;
  try {
    written = AppendText(text);
  } catch (const std::bad_alloc&) {
    // Out of memory: like a file error, it closes the log for the rest of the run.
  }
  if (!written) m_bOpen = 0;
  return written ? 1 : 0;
}

bool CSetupLog::AppendText(const char* text) {
  int64_t length = 0;
  if (!m_file.SeekEnd(&length)) return false;
  if (length > kMaxLength && !ShortenFile(length)) return false;
  std::string bytes;
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') bytes += '\r';
    bytes += *p;
  }
  // Unbuffered: once Write returns, the text has reached the operating system.
  return m_file.Write(bytes.data(), bytes.size());
}

bool CSetupLog::ShortenFile(long long length) {
  // The last kKeptLength bytes go back exactly as they are, NUL bytes and CR LF pairs included,
  // through the one handle: the file is never looked up by its name again.
  std::vector<char> kept(static_cast<size_t>(length < kKeptLength ? length : kKeptLength));
  if (!m_file.Seek(length - static_cast<long long>(kept.size()))) return false;
  return m_file.ReadExactly(kept.data(), kept.size()) && m_file.Truncate() &&
         m_file.Write(kept.data(), kept.size());
}

int CSetupLog::WriteStartBanner() {
  std::string block;
  try {
    block = kSeparator;
    block += os::Format(kStartLine, kPatchVersion);
    block += FormatNow("%A %d %m %Y - %H:%M:%S");
    block += '\n';
    block += kSeparator;
  } catch (const std::bad_alloc&) {
    m_bOpen = 0;  // as a failed write: the log closes
    return 0;
  }
  return WriteText(block.c_str());
}

int CSetupLog::WriteEndBanner() {
  Log("Fermeture du programme d'installation de Orvane.");
  return WriteText(kClosingSeparator);
}
