// Security descriptors on Windows: a configuration's DACL and owner carried over to its replacement.
#include "platform/win32/security.h"

#include <windows.h>

namespace platform {
namespace win32 {

bool ReadFileSecurity(const std::string& path, std::vector<unsigned char>* out) {
  const SECURITY_INFORMATION kWanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  std::vector<unsigned char> buffer(256);
  DWORD needed = 0;
  while (!GetFileSecurityA(path.c_str(), kWanted, buffer.data(), static_cast<DWORD>(buffer.size()),
                           &needed)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) return false;
    buffer.resize(needed);
  }
  *out = std::move(buffer);
  return true;
}

bool ReplacementSecurity(const void* source, bool withOwner, std::vector<unsigned char>* out) {
  PSECURITY_DESCRIPTOR from = const_cast<void*>(source);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  if (!GetSecurityDescriptorControl(from, &control, &revision) ||
      !GetSecurityDescriptorDacl(from, &present, &dacl, &defaulted) ||
      !GetSecurityDescriptorOwner(from, &owner, &defaulted)) {
    return false;
  }
  SECURITY_DESCRIPTOR wanted;
  const SECURITY_DESCRIPTOR_CONTROL kDaclFlags = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;
  if (!InitializeSecurityDescriptor(&wanted, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&wanted, present, dacl, FALSE) ||
      !SetSecurityDescriptorControl(&wanted, kDaclFlags, control & kDaclFlags) ||
      (withOwner && owner != nullptr && !SetSecurityDescriptorOwner(&wanted, owner, FALSE))) {
    return false;
  }
  DWORD size = 0;
  MakeSelfRelativeSD(&wanted, nullptr, &size);
  if (size == 0) return false;
  std::vector<unsigned char> buffer(size);
  if (!MakeSelfRelativeSD(&wanted, buffer.data(), &size)) return false;
  *out = std::move(buffer);
  return true;
}

void EnableRestorePrivilege() {
  static bool done = false;
  if (done) return;
  done = true;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &privileges.Privileges[0].Luid)) {
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

}  // namespace win32
}  // namespace platform
