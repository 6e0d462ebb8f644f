// The registry on Windows: the Win32 calls themselves. The executable is 32-bit, so it sees the
// same registry view as the product it patches.
#include <windows.h>

#include <vector>

#include "os/registry.h"
#include "os/win32/handle.h"
#include "os/win32/security.h"

namespace os {
using win32::AsHandle;

namespace {

// The hive that HKEY_CURRENT_USER stands for: the run's own, or a user's that UseUserHive opened,
// held for the rest of the run.
HKEY g_currentUser = HKEY_CURRENT_USER;

HKEY Root(Hive hive) {
  if (hive == Hive::kUsers) return HKEY_USERS;
  return hive == Hive::kLocalMachine ? HKEY_LOCAL_MACHINE : g_currentUser;
}

}  // namespace

long RegKey::PlatformUseUserHive(const std::string& sid) {
  HKEY hive = HKEY_CURRENT_USER;
  if (!sid.empty()) {
    long rc = RegOpenKeyExA(HKEY_USERS, sid.c_str(), 0, KEY_READ, &hive);
    if (rc != ERROR_SUCCESS) return rc;
  }
  if (g_currentUser != HKEY_CURRENT_USER) RegCloseKey(g_currentUser);
  g_currentUser = hive;
  return kErrorSuccess;
}

bool RegKeyPolicy::PlatformClose(Handle handle) {
  return RegCloseKey(AsHandle<HKEY>(handle)) == ERROR_SUCCESS;
}

long RegKey::PlatformReach(Hive hive, const RegKey* parent, const char* subKey, uint32_t access,
                           bool create, const char* keyClass, uint32_t* disposition) {
  HKEY base = parent ? AsHandle<HKEY>(parent->handle_.Get()) : Root(hive);
  HKEY key = nullptr;
  DWORD how = 0;
  long rc = create ? RegCreateKeyExA(base, subKey, 0, const_cast<char*>(keyClass),
                                     REG_OPTION_NON_VOLATILE, access, nullptr, &key, &how)
                   : RegOpenKeyExA(base, subKey, 0, access, &key);
  if (rc != ERROR_SUCCESS) return rc;
  if (disposition) *disposition = how;
  handle_ = base::ScopedHandle<RegKeyPolicy>(win32::AsNumber(key));
  return kErrorSuccess;
}

long RegKey::PlatformQueryValue(const char* name, void* data, uint32_t* size, uint32_t* type) {
  DWORD got = size ? *size : 0;
  DWORD kind = 0;
  long rc = RegQueryValueExA(AsHandle<HKEY>(handle_.Get()), name, nullptr, &kind,
                             static_cast<BYTE*>(data), size ? &got : nullptr);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    if (size) *size = got;
    if (rc == ERROR_SUCCESS && type) *type = kind;
  }
  return rc;
}

long RegKey::PlatformSetValue(const char* name, uint32_t type, const void* data, uint32_t size) {
  return RegSetValueExA(AsHandle<HKEY>(handle_.Get()), name, 0, type,
                        static_cast<const BYTE*>(data), size);
}

long RegKey::PlatformDeleteValue(const char* name) {
  return RegDeleteValueA(AsHandle<HKEY>(handle_.Get()), name);
}

long RegKey::PlatformFlush() { return RegFlushKey(AsHandle<HKEY>(handle_.Get())); }

long RegKey::PlatformCheckTrusted(bool* trusted) {
  // Read as a file's is, by a call that loads nothing: GetSecurityInfo would load its provider.
  std::vector<unsigned char> descriptor;
  if (!win32::ReadOwnerAndDacl(AsHandle<HKEY>(handle_.Get()), &descriptor)) {
    return ERROR_ACCESS_DENIED;
  }
  *trusted = win32::IsPrivateKeyDescriptor(descriptor.data());
  return kErrorSuccess;
}

void RegKey::Close() { handle_.Close(); }

}  // namespace os
