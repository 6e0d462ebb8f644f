// The installer's SHA-256, compiled into each launcher from the header its build writes.
#include "app/released_installer.h"

// ORVA_INSTALLER_SHA256: the digest's bytes, when the build pins one.
#include "installer_sha256.h"

const uint8_t* ReleasedInstallerSha256() {
#ifdef ORVA_INSTALLER_SHA256
  static const uint8_t kSha256[32] = {ORVA_INSTALLER_SHA256};
  return kSha256;
#else
  return nullptr;
#endif
}
