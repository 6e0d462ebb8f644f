// The billing module's configuration: "Configuration.xml" in the installation directory and its
// copy under Temp/ssvConfig, edited in place as plain text before the patch installer runs.
#pragma once

#include <string>

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
// missing, every "<active>0</active>" switched on. The file is replaced in one step by its new
// text, with CR LF line ends, or left byte for byte as it was. Returns 1 when the configuration
// opened for reading at the start, whatever happened afterwards, and 0 when it did not.
int UpdateConfigurationFile(std::string templatePath, std::string configPath);

// Appends the text of the file |path| to |*buffer|, line by line, each line followed by one LF
// (CR LF read as LF, a lone CR kept, a last line without line end given one), and returns the
// position of the first |tag| in the whole buffer, or -1. When the file cannot be opened or read
// to its end, |*buffer| is left as it was and the result is -1.
int ReadTextAndFind(const std::string& path, const std::string& tag, std::string* buffer);
