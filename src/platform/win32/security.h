// Security descriptors for files that the elevated launcher creates where other accounts may write.
#pragma once

#include <string>
#include <vector>

namespace platform {
namespace win32 {

// The owner and DACL of the file |path|, as a self-relative descriptor; false when they cannot
// be read. |out| is left untouched on failure.
[[nodiscard]] bool ReadFileSecurity(const std::string& path, std::vector<unsigned char>* out);

// From the self-relative descriptor |source|, the self-relative descriptor of a file that may
// replace it: the same DACL, with its protection and inheritance flags, and the same owner when
// |withOwner|; no group and no SACL. |out| is left untouched on failure.
[[nodiscard]] bool ReplacementSecurity(const void* source, bool withOwner,
                                       std::vector<unsigned char>* out);

// Enables the restore privilege of the process, once: an administrator needs it to give a file
// another account as owner. Harmless where the token does not hold it.
void EnableRestorePrivilege();

}  // namespace win32
}  // namespace platform
