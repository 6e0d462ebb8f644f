// Security descriptors on Windows: a configuration's DACL and owner carried over to its replacement.
#include "os/win32/security.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace platform {
namespace win32 {

bool ReadFileSecurity(void* handle, std::vector<unsigned char>* out) {
  const SECURITY_INFORMATION kWanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, kWanted, nullptr, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD size = GetSecurityDescriptorLength(descriptor);
  const unsigned char* bytes = static_cast<const unsigned char*>(descriptor);
  std::vector<unsigned char> copy(bytes, bytes + size);  // GetSecurityInfo's is self-relative
  LocalFree(descriptor);
  *out = std::move(copy);
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

bool CleanRoomSecurity(std::vector<unsigned char>* out) {
  // P: protected, so nothing of C:\Windows\Temp's entries (which let users create there) is
  // inherited; OICI: the copy made inside gets the same two entries.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)",
                                                            SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(descriptor);
  std::vector<unsigned char> copy(bytes, bytes + GetSecurityDescriptorLength(descriptor));
  LocalFree(descriptor);
  *out = std::move(copy);
  return true;
}

namespace {

// The SID of the token's |kind| (TokenUser or TokenOwner) equals |sid|.
bool TokenSidIs(HANDLE token, TOKEN_INFORMATION_CLASS kind, PSID sid) {
  union {
    TOKEN_USER user;
    TOKEN_OWNER owner;
    unsigned char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } info;
  DWORD size = 0;
  if (!GetTokenInformation(token, kind, &info, sizeof(info), &size)) return false;
  return EqualSid(kind == TokenUser ? info.user.User.Sid : info.owner.Owner, sid) != FALSE;
}

// |sid| is the well-known SID |type|.
bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  unsigned char known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(known);
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

}  // namespace

bool OwnedByThisProgramsKind(void* handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool ours = owner != nullptr && (IsWellKnown(owner, WinBuiltinAdministratorsSid) ||
                                   IsWellKnown(owner, WinLocalSystemSid));
  HANDLE token = nullptr;
  if (!ours && owner != nullptr && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    ours = TokenSidIs(token, TokenUser, owner) || TokenSidIs(token, TokenOwner, owner);
    CloseHandle(token);
  }
  LocalFree(descriptor);
  return ours;
}

RestorePrivilege::RestorePrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  token_ = token;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  TOKEN_PRIVILEGES before = {};
  DWORD size = sizeof(before);
  if (LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &privileges.Privileges[0].Luid) &&
      AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(before), &before, &size) &&
      GetLastError() == ERROR_SUCCESS) {
    // The earlier state lists the privilege only when this call changed it.
    enabled_ = before.PrivilegeCount == 1;
  }
}

RestorePrivilege::~RestorePrivilege() {
  if (token_ == nullptr) return;
  if (enabled_) {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = 0;
    if (LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &privileges.Privileges[0].Luid)) {
      AdjustTokenPrivileges(token_, FALSE, &privileges, 0, nullptr, nullptr);
    }
  }
  CloseHandle(token_);
}

}  // namespace win32
}  // namespace platform
