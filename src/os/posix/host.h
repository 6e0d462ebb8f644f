// What the POSIX seam's files share: errno's meanings, locked opens, host paths and command lines.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "os/file.h"
#include "os/file_location.h"

namespace os {
namespace posix {

// What the errno |error| of a failed call means, with the number itself.
Failure FailureOf(int error);

// Opens the regular file |name| relative to the folder descriptor |dir| (or AT_FDCWD) with |flags|
// (a file made by it gets |mode|) and takes the flock |lock| (LOCK_EX or LOCK_SH) on it, before
// anything is cut; -1 on failure, with errno EWOULDBLOCK when another opener holds the file.
int OpenLocked(int dir, const std::string& name, int flags, int lock, mode_t mode = 0666);

// The host path of |file|: its Windows path over the machine root (machine::HostPath). A file
// beside the launcher lies in the folder of the running executable, whose bytes are kept as the
// host gives them (they need not be UTF-8 of anything cp1252 can hold); false when that folder
// cannot be known.
bool HostPath(const FileLocation& file, std::string* out);

// True when |st| is a folder that only root and this program's user may write in.
bool IsPrivateFolder(const struct stat& st);

// Splits a command line into arguments by the rules of CommandLineToArgvW.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

}  // namespace posix
}  // namespace os
