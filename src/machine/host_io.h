// Whole reads, whole writes, durable renames and what failures mean on host files, shared by the files and the registry store.
#pragma once

#include <cstddef>
#include <string>

#include <sys/types.h>

#include "os/file.h"
#include "testing/fault.h"

namespace platform {
namespace posix {

// What the errno |error| of a failed call means, with the number itself.
Failure FailureOf(int error);

// Counts a call of |kind| on a file at the fault seam: true when it must fail, errno then
// telling an input/output error, as a failing disk would.
bool Struck(fault::Op kind);

// Opens the regular file |name| relative to the folder descriptor |dir| (or AT_FDCWD) with |flags|
// (a file made by it gets |mode|) and takes the flock |lock| (LOCK_EX or LOCK_SH) on it, before
// anything is cut; -1 on failure, with errno EWOULDBLOCK when another opener holds the file.
int OpenLocked(int dir, const std::string& name, int flags, int lock, mode_t mode = 0666);

// Writes all |size| bytes at |data| to the descriptor |fd|, going on after interruptions.
bool WriteAll(int fd, const void* data, size_t size);

// Appends what remains to be read of the descriptor |fd| to |*out|; on failure |*out| is as it
// was.
bool ReadAll(int fd, std::string* out);

// The directory part of the host path |path| ("." for a bare name).
std::string HostDirectory(const std::string& path);

// Renames the host file |from| over |to|, then makes the change durable in |to|'s directory.
bool RenameDurably(const std::string& from, const std::string& to);

}  // namespace posix
}  // namespace platform
