// The registry's calls that both platforms share: each counted at the fault seam, the ways to
// reach a key, and the typed values.
#include "os/registry.h"

#include <cstring>
#include <utility>

#include "os/internal/step.h"

namespace os {

long RegKey::UseUserHive(const std::string& sid) {
  if (BeginStep(fault::Op::kRegistry)) return kErrorRegistryIo;
  return PlatformUseUserHive(sid);
}

bool RegKeyPolicy::Close(Handle handle) {
  // Counted like every registry call; a close has no failure to report.
  BeginStep(fault::Op::kRegistry);
  return PlatformClose(handle);
}

long RegKey::Reach(Hive hive, const RegKey* parent, const char* subKey, uint32_t access,
                   bool create, const char* keyClass, uint32_t* disposition) {
  if (BeginStep(fault::Op::kRegistry)) return kErrorRegistryIo;
  if (parent && !parent->IsOpen()) return kErrorInvalidHandle;
  return PlatformReach(hive, parent, subKey, access, create, keyClass, disposition);
}

long RegKey::Open(Hive hive, const char* subKey, uint32_t access) {
  return Reach(hive, nullptr, subKey, access, false, nullptr, nullptr);
}

long RegKey::OpenForTesting(const RegKey& parent, const char* subKey, uint32_t access) {
  return Reach(Hive::kCurrentUser, &parent, subKey, access, false, nullptr, nullptr);
}

long RegKey::Create(Hive hive, const char* subKey, const char* keyClass, uint32_t access,
                    uint32_t* disposition) {
  return Reach(hive, nullptr, subKey, access, true, keyClass, disposition);
}

long RegKey::Create(const RegKey& parent, const char* subKey, const char* keyClass, uint32_t access,
                    uint32_t* disposition) {
  return Reach(Hive::kCurrentUser, &parent, subKey, access, true, keyClass, disposition);
}

long RegKey::QueryValue(const char* name, void* data, uint32_t* size, uint32_t* type) {
  if (BeginStep(fault::Op::kRegistry)) return kErrorRegistryIo;
  if (!IsOpen()) return kErrorInvalidHandle;
  return PlatformQueryValue(name, data, size, type);
}

long RegKey::ReadTextValue(const char* name, uint32_t capacity, std::string* text) {
  std::string buffer(capacity, '\0');
  uint32_t size = capacity;
  long rc = QueryValue(name, buffer.data(), &size);
  if (rc != kErrorSuccess) return rc;
  // A buffer filled to the brim holds no zero.
  buffer.resize(strnlen(buffer.data(), capacity));
  *text = std::move(buffer);
  return kErrorSuccess;
}

long RegKey::SetValue(const char* name, uint32_t type, const void* data, uint32_t size) {
  if (BeginStep(fault::Op::kRegistry)) return kErrorRegistryIo;
  if (!IsOpen()) return kErrorInvalidHandle;
  return PlatformSetValue(name, type, data, size);
}

long RegKey::WriteTextValue(const char* name, const std::string& text) {
  return SetValue(name, kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

long RegKey::WriteDword(const char* name, uint32_t value) {
  unsigned char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  return SetValue(name, kRegDword, bytes, sizeof bytes);
}

long RegKey::DeleteValue(const char* name) {
  if (BeginStep(fault::Op::kRegistry)) return kErrorRegistryIo;
  if (!IsOpen()) return kErrorInvalidHandle;
  return PlatformDeleteValue(name);
}

long RegKey::Flush() {
  if (BeginStep(fault::Op::kRegistry)) return kErrorRegistryIo;
  if (!IsOpen()) return kErrorInvalidHandle;
  return PlatformFlush();
}

long RegKey::CheckTrusted(bool* trusted) {
  *trusted = false;
  if (BeginStep(fault::Op::kRegistry)) return kErrorRegistryIo;
  if (!IsOpen()) return kErrorInvalidHandle;
  return PlatformCheckTrusted(trusted);
}

}  // namespace os
