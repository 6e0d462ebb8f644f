// The prerequisite check: may the installed product be patched, and the version stamping.
#pragma once

#include <cstdint>

class COrvaPatchApp;

// 1 when the installation may be patched, 0 when it must be refused. Takes the product's
// directory from the registry into |app|.m_strInstallPath and logs what it found.
int CheckVersion(COrvaPatchApp& app);

// Records in the registry the library version |major|.|minor| found on an accepted
// installation; always 1.
int UpdateSoftVersion(uint16_t major, uint16_t minor, COrvaPatchApp& app);
