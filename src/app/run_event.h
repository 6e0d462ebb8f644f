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
  // The run is ended by the watchdog: no step began for |stalledSeconds| after |stalledStep|.
  const char* stalledStep = nullptr;
  unsigned stalledSeconds = 0;
};

// Watches the run from now on (before the log opens), so that a step that another program holds
// up ends the run with its event.
void WatchRun();

// The run that the main sequence fills from now on, for the watchdog's event; |appName| is the
// application name it is reported under.
void TrackRun(const std::string* appName, const RunReport* run);

// Ends the run's report: writes the machine record of a run that checked the installation
// (app/run_record.h), registers the event source where it can, then writes the run's event from
// source "OrvaPatch": 1000 information, 1001 warning, 1002 and 1003 error, with nine strings: a
// sentence for the administrator (which says so when the record was not written), |appName|, the
// version basis, the outcomes of the configuration and of its copy, the installer's exit code, a
// refusal's cause (empty on the other roads), the SID whose installation the run read, and the
// patch, "2014.4.2"; its user is that SID. A failure to write either changes nothing of the run.
// The event is written once, running out of memory included, and never twice, the watchdog's
// included.
void ReportRun(const std::string& appName, const RunReport& run);
