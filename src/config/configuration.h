// The billing module's configuration: "Configuration.xml" in the installation directory and its
// copy under Temp/ssvConfig, edited in place as plain text before the patch installer runs.
#pragma once

#include <string>

#include "platform/folder.h"

// What became of one configuration file, for the run's report to fleet tools.
enum class ConfigOutcome {
  kNotReached,  // the update never came to it
  kUpdated,     // replaced by its new text
  kMissing,     // no such file
  kReadOnly,    // left as it was: the file or its folder refuses writing
  kInUse,       // left as it was: another program kept it open
  kFailed,      // left as it was: any other failure on the way
};

// The outcomes of the configuration and of its copy.
struct ConfigReport {
  ConfigOutcome main = ConfigOutcome::kNotReached;
  ConfigOutcome copy = ConfigOutcome::kNotReached;
};

// Updates the configuration and, when the configuration opened, its copy, from the template
// "Configuration.tpl" beside them. |installPath| ends with a backslash. Returns the result of
// the configuration's update (1: it opened; 0: it did not, and nothing was touched). |report|,
// when given, receives what became of each file.
int UpdateConfiguration(std::string installPath, ConfigReport* report = nullptr);

// Updates one configuration file from the template: the module version taken from the template,
// the versionCOD and contextFacturation elements removed, the global STS setting added when
// missing, every "<active>0</active>" switched on. The configuration lies below the template's
// folder and is reached from it one held folder at a time; it is refused when it is a link or has
// another name too. It is replaced in one step by its new text, with CR LF line ends, or left
// byte for byte as it was. Returns 1 when it opened for reading, whatever happened afterwards.
int UpdateConfigurationFile(std::string templatePath, std::string configPath);

// Appends the text of the file |name| in the held |folder| to |*buffer| (CR LF read as LF, a last
// line without line end given one) and returns the position of the first |tag| in the whole
// buffer; -1, |*buffer| as it was, when the file cannot be opened or read whole.
int ReadTextAndFind(const platform::Folder& folder, const std::string& name,
                    const std::string& tag, std::string* buffer);
