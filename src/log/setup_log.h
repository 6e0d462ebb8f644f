// The installation log: one process-wide object that appends a section per run to orvapatch.log.
#pragma once

#include <cstdarg>
#include <string>

#include "os/file.h"
#include "os/format.h"
#include "os/lock.h"

class CSetupLog {
 public:
  // Opens orvapatch.log in the Windows directory, else in the user's Documents, and writes the
  // start banner.
  CSetupLog();
  // Writes the closing banner and closes the file.
  virtual ~CSetupLog();
  CSetupLog(const CSetupLog&) = delete;
  CSetupLog& operator=(const CSetupLog&) = delete;

  // An ordinary line and an error line; 1 when the line reached the file, else 0.
  int Log(const char* format, ...) ORVA_PRINTF(2, 3);
  int LogError(const char* format, ...) ORVA_PRINTF(2, 3);

  // Appends |text| (each LF stored as CR LF), shortening the file first when it is too large.
  int WriteText(const char* text);
  // Opens the file |path| in its folder, held as the system gives it, never through a link or a
  // second name in it; created when missing, appending or cut to length 0, shared with readers
  // only; waited for while another program holds it (Patiently); the result is also m_bOpen.
  int OpenFile(const char* path, int truncate);
  int WriteStartBanner();
  int WriteEndBanner();
  // The log's file, the one the installer inherits so that it holds the log open while it runs;
  // closed when the run has no log.
  const os::File& SharedFile() const { return m_file; }

  // Past this length the file is cut to its last kKeptLength bytes before the next write.
  static constexpr long long kMaxLength = 1048576;
  static constexpr long long kKeptLength = 524288;

 private:
  int WriteLine(const char* mark, const char* format, va_list args);
  // Under m_lock: shortens the file when it is too large, then appends |text|.
  bool AppendText(const char* text);
  bool ShortenFile(long long length);

  int m_bOpen = 0;
  os::File m_file;
  os::CriticalSection m_lock;
};

extern CSetupLog theLog;
