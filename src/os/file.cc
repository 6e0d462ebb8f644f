// What files do alike on every platform: each call counted at the fault seam, then the platform's.
#include "os/file.h"

#include "os/internal/step.h"

namespace os {

OpenStatus File::OpenProgram(const FileLocation& path, File* out, Failure* why) {
  if (BeginStep(fault::Op::kOpen)) {
    *why = StruckFailure();
    return why->status;
  }
  return PlatformOpenProgram(path, out, why);
}

bool File::Read(void* buffer, size_t size, size_t* got) {
  if (BeginStep(fault::Op::kRead)) return FailStruck();
  return PlatformRead(buffer, size, got);
}

bool File::ReadExactly(void* buffer, size_t size) {
  char* p = static_cast<char*>(buffer);
  while (size > 0) {
    size_t got = 0;
    if (!Read(p, size, &got) || got == 0) return false;
    p += got;
    size -= got;
  }
  return true;
}

bool File::Write(const void* data, size_t size) {
  if (BeginStep(fault::Op::kWrite)) return FailStruck();
  return PlatformWrite(data, size);
}

bool File::Seek(int64_t offset) {
  if (BeginStep(fault::Op::kSeek)) return FailStruck();
  return PlatformSeek(offset);
}

bool File::SeekEnd(int64_t* length) {
  if (BeginStep(fault::Op::kSeek)) return FailStruck();
  return PlatformSeekEnd(length);
}

bool File::Truncate() {
  // As a failed cut does, a struck one records no failure.
  if (BeginStep(fault::Op::kWrite)) return false;
  return PlatformTruncate();
}

bool File::Sync() {
  if (BeginStep(fault::Op::kFlush)) return FailStruck();
  return PlatformSync();
}

bool File::AcceptsWriting() const {
  if (BeginStep(fault::Op::kQuery)) return false;
  return PlatformAcceptsWriting();
}

bool File::FailStruck() {
  failure_ = StruckFailure();
  return false;
}

bool FilePolicy::Close(Handle handle) {
  // A struck close still gives the file or folder back: only its answer fails.
  const bool struck = BeginStep(fault::Op::kClose);
  return PlatformClose(handle) && !struck;
}

}  // namespace os
