// CFileVersionInfo read from bytes that a test or the fuzzer gives: a file of its own, so that the
// launcher, which reads only files, never links it.
#include "version/file_version_info.h"

int CFileVersionInfo::LoadForTesting(pe::ByteSource& source, const pe::VersionResource& resource) {
  return Guarded([&] { return Read(source, resource); });
}
