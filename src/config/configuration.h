// The billing module's configuration: "Configuration.xml" in the installation directory and its
// copy under Temp/ssvConfig, edited in place as plain text before the patch installer runs.
#pragma once

#include <cstdint>
#include <string>

#include "os/folder.h"

// What became of one configuration file, for the run's report to fleet tools.
enum class ConfigOutcome {
  kNotReached,  // the update never came to it
  kUnderWay,    // its update began and had not ended when the run was stopped: old or new bytes
  kUpdated,     // replaced by its new text
  kMissing,     // no such file
  // Left as it was, because:
  kReadOnly,    // the file refuses writing
  kInUse,       // another program kept it open, or another run of this one updated it too long
  kLockFolder,  // the folder of the update locks is not certainly the administrators'
  kLink,        // a name on the way to it, or its own, is a link, or the file has a second name
  kNoSpace,     // the disk is full
  kDenied,      // the system denied access
  kEmpty,       // it holds no text
  kTooBig,      // it is longer than the update reads
  kNoMemory,    // the program ran out of memory
  kFailed,      // any other failure, told by its step and the system's error number
};

// The steps of a configuration's update, where a failure leaves it.
enum class ConfigStep { kOpen, kRead, kCreate, kWrite, kFlush, kRename };

// What became of one configuration file, and why it was left as it was.
struct ConfigResult {
  ConfigOutcome outcome = ConfigOutcome::kNotReached;
  ConfigStep step = ConfigStep::kOpen;  // where it was left
  uint32_t error = 0;   // the system's error number there (errno on POSIX, a Win32 error on
                        // Windows); 0 when the program itself refused
  std::string name;     // kLink: the name refused
  bool opened = false;  // it opened for reading, whatever happened afterwards
};

// The outcomes of the configuration and of its copy.
struct ConfigReport {
  ConfigResult main;
  ConfigResult copy;

  // Both files are as the update wants them, updated or absent, so the administrator has nothing
  // to do about them.
  bool Done() const;
};

// Updates the configuration and, when the configuration opened, its copy, from the template
// "Configuration.tpl" beside them. |installPath| names the product folder and ends with a
// backslash. Returns 1 when the configuration opened, else 0 and nothing was touched. |report|,
// when given, receives what became of each file.
int UpdateConfiguration(std::string installPath, ConfigReport* report = nullptr);

// Updates a configuration from its template, wholly or not at all.
// |templatePath|'s folder is the product folder, and the configuration |configPath|
// lies below it. The module version is taken from the template, the versionCOD and
// contextFacturation elements removed, the global STS setting added when missing, every
// "<active>0</active>" switched on. The configuration is reached one held folder at a time from the
// product folder and refused when it is a link or has another name too. It is replaced in one step
// by its new text, with CR LF line ends, or left byte for byte as it was. Returns 1 when the
// configuration opened for reading, whatever happened afterwards.
int UpdateConfigurationFile(std::string templatePath, std::string configPath);

// Appends the text of the file |name| in the held |folder| to |*buffer| (CR LF read as LF, a last
// line without line end given one) and returns the position of the first |tag| in the whole
// buffer; -1, |*buffer| as it was, when the file cannot be opened or read whole.
int ReadTextAndFind(const os::Folder& folder, const std::string& name, const std::string& tag,
                    std::string* buffer);
