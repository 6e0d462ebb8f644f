// The prerequisite check and the version stamping.
#include "version/check_version.h"

#include <string>

#include "app/orvapatch_app.h"
#include "app/product_family.h"
#include "log/setup_log.h"
#include "os/account.h"
#include "os/format.h"
#include "os/registry.h"
#include "version/file_version_info.h"

namespace {

// Legacy, kept as is: the check and the stamping name the key in one spelling, the removal of
// "KivAppPath" in another, as earlier releases did. The registry ignores the case, so both name
// one key; keep both, so that a trace of a run reads as before.
const char kProductKey[] = "Software\\ORVANE";
const char kProductKeyForProbe[] = "SOFTWARE\\ORVANE";
const char kAcceptedVersion[] = "2014";
const unsigned kAcceptedMajor = 2014;
const char kLibraryName[] = "TarifLib.dll";
// Legacy, kept as is: the buffers earlier releases read these values into. A longer value is
// unreadable, and this decides which installations are accepted; do not widen them.
const uint32_t kCheckBuffer = 100;
const uint32_t kProbeBuffer = 256;

// The registry text |text| as the log is given it. While the run acts for a user, their hive
// is theirs to write: a line end or another control character would let them forge lines of the
// administrator's log, so each but a tab is written '?'. An administrator's own text goes as is.
std::string ForTheLog(std::string text) {
  if (!os::ActingForUser()) return text;
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) c = '?';
  }
  return text;
}

}  // namespace

int CheckVersion(COrvaPatchApp& app, CheckFindings* findings) {
  CheckFindings unused;
  if (findings == nullptr) findings = &unused;
  std::string* basis = &findings->basis;
  std::string version;
  std::string directory;
  bool directoryRead = false;
  os::RegKey key;
  if (key.Open(os::Hive::kCurrentUser, kProductKey, os::kKeyAllAccess) == os::kErrorSuccess) {
    findings->recorded = true;
    // Legacy, kept as is: "regsitre" and "CheckVerion" below are spelled as every earlier
    // release wrote them, and administrators' scripts search the log for these exact words.
    if (key.ReadTextValue("SoftVersion", kCheckBuffer, &version) != os::kErrorSuccess)
      theLog.LogError("Impossible de lire SoftVersion dans la base de regsitre ");
    directoryRead = key.ReadTextValue("OrvaAppPath", kCheckBuffer, &directory) == os::kErrorSuccess;
    if (!directoryRead) theLog.LogError("Impossible de lire AppPath dans la base de regsitre ");
    key.Close();
  }
  // Unreadable, the directory leaves the default installation path in place.
  if (directoryRead) {
    app.m_strInstallPath = directory;
    if (app.m_strInstallPath.empty() || app.m_strInstallPath.back() != '\\')
      app.m_strInstallPath += '\\';
  }

  *basis = version;  // unread, it is empty
  const std::string logged = ForTheLog(version);
  if (version.find(kAcceptedVersion) != std::string::npos) {
    theLog.Log("SoftVersion dans la base de regsitre - %s", logged.c_str());
    return 1;
  }
  theLog.LogError("SoftVersion dans la base de regsitre - %s", logged.c_str());

  // The directory as read, not the installation path: empty, it leaves the bare file name, which
  // the version reader looks for beside the launcher and in the system directory only.
  std::string libraryPath = directory;
  JoinPath(kLibraryName, libraryPath);
  CFileVersionInfo library;
  bool loaded;
  {
    // The library is the user's file: read with their rights, or not at all.
    os::UserRights rights;
    loaded = rights.Held() && library.Load(libraryPath) == 1;
  }
  findings->libraryRead = loaded;
  unsigned major = loaded ? library.m_FileInfo.dwFileVersionMS >> 16 : 0;
  unsigned minor = loaded ? library.m_FileInfo.dwFileVersionMS & 0xFFFF : 0;
  const bool accepted = loaded && major == kAcceptedMajor;
  if (loaded) {
    *basis = os::Format("%u.%u (%s%s)", major, minor, kLibraryName, accepted ? ", stamped" : "");
  }
  if (accepted) {
    UpdateSoftVersion(static_cast<uint16_t>(major), static_cast<uint16_t>(minor), app);
    return 1;
  }
  theLog.Log("CheckVerion - TarifLib Version = %u.%u", major, minor);
  return 0;
}

int UpdateSoftVersion(uint16_t major, uint16_t minor, COrvaPatchApp& app) {
  theLog.Log("CheckVerion - MAJ SoftVersion=%u.%u avant installation", major, minor);
  std::string version =
      os::Format("%u.%u", static_cast<unsigned>(major), static_cast<unsigned>(minor));

  os::RegKey key;
  if (key.Create(os::Hive::kCurrentUser, kProductKey, nullptr, os::kKeyAllAccess) ==
      os::kErrorSuccess) {
    // The stamping goes on whatever a write answers.
    (void)key.WriteTextValue("SoftVersion", version);
    (void)key.Flush();
    (void)key.WriteTextValue("Version140", "1");
    (void)key.Flush();
    key.Close();
  }

  for (os::Hive hive : {os::Hive::kCurrentUser, os::Hive::kLocalMachine}) {
    os::RegKey probe;
    if (probe.Open(hive, kProductKeyForProbe, os::kKeyAllAccess) != os::kErrorSuccess) continue;
    // A value too long for the probe stays.
    std::string unused;
    if (probe.ReadTextValue("KivAppPath", kProbeBuffer, &unused) == os::kErrorSuccess)
      (void)probe.DeleteValue("KivAppPath");
  }

  app.WriteProfileInt("SSV140", "Version140", 1);
  return 1;
}
