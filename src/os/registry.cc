// The registry's calls that both platforms share: the ways to reach a key, and the typed values.
#include "os/registry.h"

#include <cstring>
#include <utility>

namespace os {

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

long RegKey::Create(const RegKey& parent, const char* subKey, const char* keyClass,
                    uint32_t access, uint32_t* disposition) {
  return Reach(Hive::kCurrentUser, &parent, subKey, access, true, keyClass, disposition);
}

long RegKey::ReadText(const char* name, uint32_t capacity, std::string* text) {
  std::string buffer(capacity, '\0');
  uint32_t size = capacity;
  long rc = QueryValue(name, buffer.data(), &size);
  if (rc != kErrorSuccess) return rc;
  // A buffer filled to the brim holds no zero.
  buffer.resize(strnlen(buffer.data(), capacity));
  *text = std::move(buffer);
  return kErrorSuccess;
}

long RegKey::WriteText(const char* name, const std::string& text) {
  return SetValue(name, kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

long RegKey::WriteDword(const char* name, uint32_t value) {
  unsigned char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
  return SetValue(name, kRegDword, bytes, sizeof bytes);
}

}  // namespace os
