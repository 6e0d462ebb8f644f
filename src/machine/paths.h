// The POSIX build's machine root: Windows paths and texts mapped onto the host.
#pragma once

#include <string>
#include <vector>

#include "machine/cp1252.h"

namespace machine {

// $ORVAPATCH_ROOT, else $XDG_DATA_HOME/orvapatch/machine, else ~/.local/share/orvapatch/machine.
std::string MachineRoot();

// The machine root's path followed by |name|, in |out| of |size| bytes, without allocating; false
// when it does not fit.
bool MachineRootFile(const char* name, char* out, size_t size);

// Maps a Windows path (cp1252) to a host path (UTF-8): "X:\rest" to <root>/drive_x/rest, a path
// starting with one separator to drive C:, a relative path left relative; false for a UNC path.
bool HostPath(const std::string& windowsPath, std::string* out);

// Splits a Windows path (cp1252) into the host folder of its drive (empty for a relative path) and
// the names below it, in UTF-8, with "." and ".." resolved (a relative path keeps the ".." that
// climb above the current folder); false for a UNC path.
bool SplitPath(const std::string& windowsPath, std::string* base, std::vector<std::string>* names);

// Makes the name changes in the host directory |directory| durable; a failure is passed over,
// since the change it would confirm has already been made.
void SyncDirectory(const std::string& directory);

}  // namespace machine
