// The registry on Windows: the Win32 calls themselves. The executable is 32-bit, so it sees the
// same registry view as the product it patches.
#include <windows.h>

#include "platform/fault.h"
#include "platform/registry.h"

namespace platform {
namespace {

HKEY Root(Hive hive) { return hive == Hive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

HKEY H(intptr_t handle) { return reinterpret_cast<HKEY>(handle); }

}  // namespace

RegKey::~RegKey() { Close(); }

RegKey::RegKey(RegKey&& other) noexcept : handle_(other.handle_) { other.handle_ = 0; }

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = 0;
  }
  return *this;
}

long RegKey::Reach(Hive hive, const RegKey* parent, const char* subKey, uint32_t access,
                   bool create, const char* keyClass, uint32_t* disposition) {
  if (fault::Strike()) return kErrorRegistryIo;
  if (parent && !parent->IsOpen()) return kErrorInvalidHandle;
  HKEY base = parent ? H(parent->handle_) : Root(hive);
  HKEY key = nullptr;
  DWORD how = 0;
  long rc = create ? RegCreateKeyExA(base, subKey, 0, const_cast<char*>(keyClass),
                                     REG_OPTION_NON_VOLATILE, access, nullptr, &key, &how)
                   : RegOpenKeyExA(base, subKey, 0, access, &key);
  if (rc != ERROR_SUCCESS) return rc;
  if (disposition) *disposition = how;
  Close();
  handle_ = reinterpret_cast<intptr_t>(key);
  return kErrorSuccess;
}

long RegKey::QueryValue(const char* name, void* data, uint32_t* size, uint32_t* type) {
  if (fault::Strike()) return kErrorRegistryIo;
  if (!IsOpen()) return kErrorInvalidHandle;
  DWORD got = size ? *size : 0;
  DWORD kind = 0;
  long rc = RegQueryValueExA(H(handle_), name, nullptr, &kind, static_cast<BYTE*>(data),
                             size ? &got : nullptr);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    if (size) *size = got;
    if (rc == ERROR_SUCCESS && type) *type = kind;
  }
  return rc;
}

long RegKey::SetValue(const char* name, uint32_t type, const void* data, uint32_t size) {
  if (fault::Strike()) return kErrorRegistryIo;
  if (!IsOpen()) return kErrorInvalidHandle;
  return RegSetValueExA(H(handle_), name, 0, type, static_cast<const BYTE*>(data), size);
}

long RegKey::DeleteValue(const char* name) {
  if (fault::Strike()) return kErrorRegistryIo;
  if (!IsOpen()) return kErrorInvalidHandle;
  return RegDeleteValueA(H(handle_), name);
}

long RegKey::Flush() {
  if (fault::Strike()) return kErrorRegistryIo;
  if (!IsOpen()) return kErrorInvalidHandle;
  return RegFlushKey(H(handle_));
}

void RegKey::Close() {
  if (!IsOpen()) return;
  HKEY key = H(handle_);
  handle_ = 0;
  fault::Strike();  // counted like every registry call; a close has no failure to report
  RegCloseKey(key);
}

}  // namespace platform
