// The machine record of the patch and the event source's registration.
#include "app/run_record.h"

#include <ctime>
#include <string>

#include "app/run_event.h"
#include "os/known_folders.h"
#include "os/registry.h"

namespace {

const char kRecordKey[] = "SOFTWARE\\OrvaPatch\\2014.4.2";
const char kSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\OrvaPatch";
// The message file as New-EventLog registers it, and where it lies below the Windows directory.
const char kMessageFile[] =
    "%SystemRoot%\\Microsoft.NET\\Framework\\v4.0.30319\\EventLogMessages.dll";
const char kMessageFileBelowWindows[] =
    "\\Microsoft.NET\\Framework\\v4.0.30319\\EventLogMessages.dll";
const uint32_t kAllEventTypes = 7;  // error, warning and information

// Now, in UTC, as YYYY-MM-DDTHH:MM:SSZ; empty when the clock cannot be read.
std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm* utc = std::gmtime(&now);
  char text[32];
  if (utc == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc) == 0)
    return std::string();
  return text;
}

// The record's values, each written only once the one before it was: the outcome after the
// values that it sums up, and Installed last of its three.
long WriteValues(os::RegKey* key, const RunReport& run, uint32_t eventId, bool installed) {
  const std::string now = UtcNow();
  long rc = key->WriteTextValue("LastRun", now);
  if (rc == os::kErrorSuccess) rc = key->WriteTextValue("LastAccount", run.account.sid);
  if (rc == os::kErrorSuccess) {
    if (run.installerStart.failure == os::StartFailure::kNone) {
      rc = key->WriteDword("LastInstallerExitCode", static_cast<uint32_t>(run.installerExitCode));
    } else {
      rc = key->DeleteValue("LastInstallerExitCode");
      if (rc == os::kErrorFileNotFound) rc = os::kErrorSuccess;  // none there: removed already
    }
  }
  if (rc == os::kErrorSuccess) rc = key->WriteDword("LastOutcome", eventId);
  if (!installed) return rc;
  if (rc == os::kErrorSuccess) rc = key->WriteTextValue("InstalledAt", now);
  if (rc == os::kErrorSuccess) rc = key->WriteTextValue("InstalledFor", run.account.sid);
  if (rc == os::kErrorSuccess) rc = key->WriteDword("Installed", 1);
  return rc;
}

}  // namespace

RecordResult WriteMachineRecord(const RunReport& run, uint32_t eventId, bool installed) {
  RecordResult result;
  result.state = RecordState::kFailed;
  os::RegKey key;
  result.error =
      key.Create(os::Hive::kLocalMachine, kRecordKey, nullptr, os::kKeyRead | os::kKeyWrite);
  bool trusted = false;
  if (result.error == os::kErrorSuccess) result.error = key.CheckTrusted(&trusted);
  if (result.error != os::kErrorSuccess) return result;
  if (!trusted) {
    result.state = RecordState::kUntrusted;
    return result;
  }
  result.error = WriteValues(&key, run, eventId, installed);
  if (result.error == os::kErrorSuccess) result.error = key.Flush();
  if (result.error == os::kErrorSuccess) result.state = RecordState::kWritten;
  return result;
}

void RegisterRunEventSource() {
  std::string windows;
  if (!os::WindowsDirectory(&windows) || !os::FileExists(windows + kMessageFileBelowWindows))
    return;
  os::RegKey key;
  if (key.Create(os::Hive::kLocalMachine, kSourceKey, nullptr, os::kKeyRead | os::kKeyWrite) !=
      os::kErrorSuccess) {
    return;
  }
  // Registered already, by us or an administrator: left as it is.
  uint32_t size = 0;
  if (key.QueryValue("EventMessageFile", nullptr, &size) != os::kErrorFileNotFound) return;
  // The message file last, as the mark of a whole registration; the event is written all the same
  // when the registration fails.
  if (key.WriteDword("TypesSupported", kAllEventTypes) == os::kErrorSuccess &&
      key.SetValue("EventMessageFile", os::kRegExpandSz, kMessageFile, sizeof kMessageFile) ==
          os::kErrorSuccess) {
    (void)key.Flush();
  }
}
