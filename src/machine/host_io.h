// Whole reads, whole writes and durable renames of host files, for the files and the registry
// store.
#pragma once

#include <cstddef>
#include <string>

#include <sys/types.h>

namespace machine {

// Writes all |size| bytes at |data| to the descriptor |fd|, going on after interruptions.
bool WriteAll(int fd, const void* data, size_t size);

// Appends what remains to be read of the descriptor |fd| to |*out|; on failure |*out| is as it
// was.
bool ReadAll(int fd, std::string* out);

// The directory part of the host path |path| ("." for a bare name).
std::string HostDirectory(const std::string& path);

// Renames the host file |from| over |to|, then makes the change durable in |to|'s directory.
bool RenameDurably(const std::string& from, const std::string& to);

}  // namespace machine
