// Security descriptors on Windows: a configuration's DACL and owner carried over to its
// replacement.
#include "os/win32/security.h"

#include <windows.h>
#include <sddl.h>

#include "os/internal/acting.h"
#include "os/win32/nt.h"

namespace os {
namespace win32 {
namespace {

// The parts |wanted| of the security descriptor of the open |handle|, self-relative, read as the
// system through ntdll, which loads nothing: GetSecurityInfo loads its provider (ntmarta.dll) on
// first use, which while the run acts for a user could be found through their drive mappings.
bool ReadSecurity(void* handle, SECURITY_INFORMATION wanted, std::vector<unsigned char>* out) {
  static const nt::QuerySecurityFn query = nt::Ntdll<nt::QuerySecurityFn>("NtQuerySecurityObject");
  if (query == nullptr) return false;
  SystemRights system;
  // Its size asked first: one that grows before it is read fails the read.
  ULONG size = 0;
  if (query(handle, wanted, nullptr, 0, &size) != nt::kBufferTooSmall || size == 0) return false;
  std::vector<unsigned char> descriptor(size);
  if (query(handle, wanted, descriptor.data(), size, &size) != nt::kSuccess) return false;
  *out = std::move(descriptor);
  return true;
}

}  // namespace

bool ReadOwnerAndDacl(void* handle, std::vector<unsigned char>* out) {
  return ReadSecurity(handle, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, out);
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

bool CleanRoomSecurity(bool administratorsOwn, std::vector<unsigned char>* out) {
  // P: protected, so nothing of C:\Windows\Temp's entries (which let users create there) is
  // inherited; OICI: the copy made inside gets the same two entries.
  const wchar_t* kRoom = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  const wchar_t* kOwnedRoom = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          administratorsOwn ? kOwnedRoom : kRoom, SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(descriptor);
  std::vector<unsigned char> copy(bytes, bytes + GetSecurityDescriptorLength(descriptor));
  LocalFree(descriptor);
  *out = std::move(copy);
  return true;
}

namespace {

// |sid| is the well-known SID |type|.
bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  unsigned char known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(known);
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

// A SID kept by value.
struct KeptSid {
  bool known = false;
  unsigned char bytes[SECURITY_MAX_SID_SIZE];
};

// Keeps the SID of |token|'s |kind| (TokenUser or TokenOwner) in |*out|.
void KeepTokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind, KeptSid* out) {
  union {
    TOKEN_USER user;
    TOKEN_OWNER owner;
    unsigned char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } info;
  DWORD size = 0;
  if (!GetTokenInformation(token, kind, &info, sizeof(info), &size)) return;
  const SID* sid =
      static_cast<const SID*>(kind == TokenUser ? info.user.User.Sid : info.owner.Owner);
  const size_t length = 8 + 4 * static_cast<size_t>(sid->SubAuthorityCount);
  if (length > sizeof(out->bytes)) return;
  memcpy(out->bytes, sid, length);
  out->known = true;
}

// The accounts of this program's token, its user and default owner, and of the user the run
// acts for, read once as the process: while a thread acts for a user, OpenProcessToken is
// checked against that user's rights, and denied.
struct OwnAccounts {
  bool read = false;
  KeptSid user, owner, actedFor;
};
OwnAccounts g_own;

// Reads this program's token's accounts once, when RememberOwnAccounts did not.
const OwnAccounts& Own() {
  if (!g_own.read) RememberOwnAccounts(nullptr);
  return g_own;
}

bool IsKept(const KeptSid& kept, PSID sid) {
  return kept.known && EqualSid(const_cast<unsigned char*>(kept.bytes), sid);
}

// |sid| is the Administrators group, the system, or this program's token's user or default owner:
// no standard user can act as any of them.
bool IsThisProgramsKind(PSID sid) {
  return IsWellKnown(sid, WinBuiltinAdministratorsSid) || IsWellKnown(sid, WinLocalSystemSid) ||
         IsKept(Own().user, sid) || IsKept(Own().owner, sid);
}

// The rights that change a folder, and those that change a registry key.
const ACCESS_MASK kFolderChanges = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                                   DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
const ACCESS_MASK kKeyChanges = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE |
                                WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The DACL |dacl| lets nobody but this program's kind change what it guards: an entry that grants
// any of the rights |changes| names one of them, or is inherited only.
bool GrantsChangesToOursOnly(PACL dacl, ACCESS_MASK changes) {
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return false;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
      continue;
    // Any other kind of entry that may grant is not one this program makes: not ours.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & changes) != 0 &&
        !IsThisProgramsKind(const_cast<DWORD*>(&allowed->SidStart))) {
      return false;
    }
  }
  return dacl != nullptr;  // a null DACL grants everyone everything
}

// |descriptor| has one of this program's kind as its owner, and a DACL that grants the rights
// |changes| to them only.
bool OursAlone(const void* descriptor, ACCESS_MASK changes) {
  PSECURITY_DESCRIPTOR read = const_cast<void*>(descriptor);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  return GetSecurityDescriptorOwner(read, &owner, &defaulted) && owner != nullptr &&
         IsThisProgramsKind(owner) &&
         GetSecurityDescriptorDacl(read, &present, &dacl, &defaulted) && present &&
         GrantsChangesToOursOnly(dacl, changes);
}

}  // namespace

void RememberOwnAccounts(void* actedFor) {
  HANDLE token = nullptr;
  if (!g_own.read && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    KeepTokenSid(token, TokenUser, &g_own.user);
    KeepTokenSid(token, TokenOwner, &g_own.owner);
    CloseHandle(token);
  }
  g_own.read = true;
  if (actedFor != nullptr && !g_own.actedFor.known) {
    KeepTokenSid(actedFor, TokenUser, &g_own.actedFor);
  }
}

bool OwnedByThisProgramsKind(void* handle) {
  std::vector<unsigned char> descriptor;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return ReadSecurity(handle, OWNER_SECURITY_INFORMATION, &descriptor) &&
         GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) && owner != nullptr &&
         (IsThisProgramsKind(owner) || IsKept(Own().actedFor, owner));
}

bool IsPrivate(void* handle) {
  std::vector<unsigned char> descriptor;
  return ReadOwnerAndDacl(handle, &descriptor) && IsPrivateDescriptor(descriptor.data());
}

bool IsPrivateDescriptor(const void* descriptor) { return OursAlone(descriptor, kFolderChanges); }

bool IsPrivateKeyDescriptor(const void* descriptor) { return OursAlone(descriptor, kKeyChanges); }

namespace {

// The restore privilege's LUID, the system's own constant (SE_RESTORE_PRIVILEGE): looked up by
// name, it would be asked of the local security authority.
const DWORD kRestorePrivilege = 18;

// The restore privilege with |attributes|.
TOKEN_PRIVILEGES RestorePrivilegeWith(DWORD attributes) {
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid.LowPart = kRestorePrivilege;
  privileges.Privileges[0].Attributes = attributes;
  return privileges;
}

}  // namespace

RestorePrivilege::RestorePrivilege() {
  // A user's rights are their token's, which no privilege of the process's reaches: no token call
  // is made for them.
  if (UserRightsNow()) return;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  token_ = token;
  TOKEN_PRIVILEGES privileges = RestorePrivilegeWith(SE_PRIVILEGE_ENABLED);
  TOKEN_PRIVILEGES before = {};
  DWORD size = sizeof(before);
  if (AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(before), &before, &size) &&
      GetLastError() == ERROR_SUCCESS) {
    // The earlier state lists the privilege only when this call changed it.
    enabled_ = before.PrivilegeCount == 1;
  }
}

RestorePrivilege::~RestorePrivilege() {
  if (token_ == nullptr) return;
  if (enabled_) {
    TOKEN_PRIVILEGES privileges = RestorePrivilegeWith(0);
    AdjustTokenPrivileges(token_, FALSE, &privileges, 0, nullptr, nullptr);
  }
  CloseHandle(token_);
}

}  // namespace win32
}  // namespace os
