// The installer this launcher was released with, known by its SHA-256.
#pragma once

#include <cstdint>

// The 32 bytes of the SHA-256 that the installer must have; null when the launcher was built
// without one (the demo, the test builds), which start any installer beside them.
const uint8_t* ReleasedInstallerSha256();
