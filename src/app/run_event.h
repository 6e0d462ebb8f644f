// The one Application event of each run, which tells fleet tools what the run did.
#pragma once

#include <string>

#include "app/run_account.h"
#include "config/configuration.h"
#include "os/process.h"
#include "version/check_version.h"

// What a run found and did, as far as the main sequence got.
struct RunReport {
  RunAccount account;    // whose registry and files the run worked on
  bool checked = false;  // the check answered
  bool accepted = false;
  CheckFindings check;  // what the check's answer rests on
  ConfigReport config;
  // Whether the installer started, and if not, why: not tried is a failure too.
  os::StartResult installerStart{os::StartFailure::kFailed, 0};
  int installerExitCode = 0;  // read only when the installer started
  bool outOfMemory = false;   // the run ended early, out of memory
};

// Writes the run's event from source "OrvaPatch": 1000 information, 1001 warning, 1002 and
// 1003 error, with six strings: a sentence for the administrator, |appName|, the version basis,
// the outcomes of the configuration and of its copy, and the installer's exit code; a refusal's
// has a seventh, its cause. A failure to write it changes nothing of the run. Written once,
// running out of memory included.
void ReportRun(const std::string& appName, const RunReport& run);
