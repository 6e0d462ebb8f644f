// The prerequisite check: may the installed product be patched, and the version stamping.
#pragma once

#include <cstdint>
#include <string>

class COrvaPatchApp;

// What the check found, for the run's report.
struct CheckFindings {
  // The version the answer rests on: the library's when the library was read ("2014.2
  // (TarifLib.dll, stamped)" when it was recorded), else the registry's text; empty when neither
  // could be read.
  std::string basis;
  bool recorded = false;     // the registry records an installation: the product's key opened
  bool libraryRead = false;  // the library's version was read
};

// Decides whether the installation may be patched: 1 when it may, 0 when it must be refused. Takes
// the product's directory from the registry into |app|.m_strInstallPath and logs what it found, in
// |findings| too when given. The library is read with the rights of the user the run acts for.
int CheckVersion(COrvaPatchApp& app, CheckFindings* findings = nullptr);

// Records in the registry the library version |major|.|minor| found on an accepted
// installation; always 1.
int UpdateSoftVersion(uint16_t major, uint16_t minor, COrvaPatchApp& app);
