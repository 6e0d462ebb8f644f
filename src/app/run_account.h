// Whose installation a run patches: its own account's, or the console user's for the system's.
#pragma once

#include <cstdint>
#include <string>

// What a run of the system account found at the console.
enum class ConsoleUserFound {
  kNotAsked,        // the run is not the system account, or its own hive records the product
  kNobody,          // nobody is logged on at the console
  kNoInstallation,  // the console's user, whose hive records no installation either
  kNoRights,        // the console's user, whose hive records one, but whose rights cannot be taken
  kActedFor,        // the console's user, whose installation the run patches
};

// The account whose registry the run reads, for the run's report.
struct RunAccount {
  std::string sid;  // the account whose hive is HKEY_CURRENT_USER for the run
  ConsoleUserFound console = ConsoleUserFound::kNotAsked;
  std::string consoleSid;    // the console's user, when one was found
  uint32_t rightsError = 0;  // kNoRights: the system's error
  int rightsLevel = -1;      // kNoRights: the impersonation level given instead, on Windows
};

// Chooses the account before anything reads HKEY_CURRENT_USER. Fleet tools start the launcher
// as the system account, whose own hive records no installation of a product that people use:
// then, when the hive of the user at the console records one, the run acts for that user to its
// end. HKEY_CURRENT_USER is their hive, and the product's files are opened with their rights
// (os::UserRights). Rights that cannot be taken so that files open with them end that road at
// once: the run is the system account's own, which records no installation. Any other run keeps
// its own account, and nothing changes.
void ChooseAccount(RunAccount* account);
