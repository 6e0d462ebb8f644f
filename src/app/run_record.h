// The machine record of the patch, which fleet tools' detection rules read, and the registration
// of the event source, which lets the run's event read well.
#pragma once

#include <cstdint>

struct RunReport;

// What became of the machine record.
enum class RecordState {
  kNotTried,   // the run did not check the installation, or has not reached the record yet
  kWritten,    // every value written
  kUntrusted,  // the key is one that another account than ours may change: nothing written
  kFailed,     // a registry call failed: |error| says which error; the values before it stand
};

struct RecordResult {
  RecordState state = RecordState::kNotTried;
  long error = 0;  // the registry's error, for kFailed
};

// Writes the record of a run that checked the installation under
// HKEY_LOCAL_MACHINE\SOFTWARE\OrvaPatch\2014.4.2 (the 32-bit view, as every key of the launcher):
// LastRun (when, in UTC, YYYY-MM-DDTHH:MM:SSZ), LastAccount (the SID whose installation the run
// read), LastInstallerExitCode (REG_DWORD; removed when the installer did not run) and
// LastOutcome (REG_DWORD, |eventId|); with |installed|, InstalledAt, InstalledFor and Installed
// (REG_DWORD 1) too, which no later run removes. The key must be one that only the Administrators,
// the system or this run's account may change (os::RegKey::CheckTrusted), or nothing is written.
// No part of the run reads it.
RecordResult WriteMachineRecord(const RunReport& run, uint32_t eventId, bool installed);

// Registers the Application log's source "OrvaPatch" with the message file that Windows ships for
// such sources (.NET's EventLogMessages.dll, whose every id reads its first string), as
// New-EventLog does: TypesSupported (REG_DWORD 7), then EventMessageFile (REG_EXPAND_SZ). Only
// where that file exists and the source's key holds no EventMessageFile: a registration that exists
// is never changed.
void RegisterRunEventSource();
