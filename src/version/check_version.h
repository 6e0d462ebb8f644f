// The prerequisite check: may the installed product be patched, and the version stamping.
#pragma once

#include <cstdint>
#include <string>

class COrvaPatchApp;

// Decides whether the installation may be patched: 1 when it may, 0 when it must be refused.
// Takes the product's directory from the registry into |app|.m_strInstallPath and logs what it found. |basis|, when
// given, receives the version the answer rests on, for the run's report: the library's version
// when the library was read ("2014.2 (TarifLib.dll, stamped)" when it was recorded), else the
// registry's text; empty when neither could be read.
int CheckVersion(COrvaPatchApp& app, std::string* basis = nullptr);

// Records in the registry the library version |major|.|minor| found on an accepted
// installation; always 1.
int UpdateSoftVersion(uint16_t major, uint16_t minor, COrvaPatchApp& app);
