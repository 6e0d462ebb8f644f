// The security descriptor a configuration's replacement is made with (Wine keeps no DACL on files,
// so this is where the copy is proved).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "os/win32/security.h"

namespace {

// |descriptor| as SDDL, with every part.
std::string Sddl(const void* descriptor) {
  LPSTR text = nullptr;
  const SECURITY_INFORMATION kAll = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                    DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;
  EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      const_cast<void*>(descriptor), SDDL_REVISION_1, kAll, &text, nullptr));
  std::string result = text ? text : "";
  LocalFree(text);
  return result;
}

// The replacement descriptor made from |source| (SDDL), written back as SDDL; with |parsed|, the
// source itself as the system parsed it.
std::string Replacement(const wchar_t* source, bool withOwner, std::string* parsed = nullptr) {
  PSECURITY_DESCRIPTOR from = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(source, SDDL_REVISION_1, &from,
                                                                   nullptr));
  if (parsed) *parsed = Sddl(from);
  std::vector<unsigned char> made;
  bool ok = os::win32::ReplacementSecurity(from, withOwner, &made);
  LocalFree(from);
  return ok ? Sddl(made.data()) : "(failed)";
}

}  // namespace

TEST(ReplacementSecurity, TakesTheDaclWithItsFlagsAndTheOwnerOnly) {
  // A configuration only administrators and the system may change, readable by users.
  const wchar_t* kConfig = L"O:S-1-5-21-1-2-3-1001G:BAD:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";
  EXPECT_EQ("O:S-1-5-21-1-2-3-1001D:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)",
            Replacement(kConfig, true));
  EXPECT_EQ("D:PAI(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)", Replacement(kConfig, false));
  // Inherited entries stay inherited, and an unprotected DACL stays open to inheritance.
  EXPECT_EQ("O:BAD:AI(A;ID;FA;;;BA)(A;ID;0x1301bf;;;AU)",
            Replacement(L"O:BAD:AI(A;ID;FA;;;BA)(A;ID;0x1301bf;;;AU)", true));
  // No DACL at all (everyone may do everything) is kept as it is, not made into an empty one
  // (which would let nobody in).
  std::string parsed;
  EXPECT_EQ(Replacement(L"D:NO_ACCESS_CONTROL", true, &parsed), parsed);
}

TEST(CleanRoomSecurity, OnlyAFolderNoStandardUserMayChangeIsPrivate) {
  // The owner is the token's default where this program made the folder; here it is named.
  const struct {
    const wchar_t* sddl;
    bool isPrivate;
  } kFolders[] = {
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true},
      {L"O:SYD:P(A;;FA;;;SY)(A;;FR;;;BU)(D;;FA;;;WD)", true},  // users may read; a denial
      {L"O:BAD:P(A;OICIIO;FA;;;CO)(A;;FA;;;BA)", true},        // inherited by what is made only
      {L"O:BUD:P(A;;FA;;;BA)", false},                         // a user's folder
      {L"O:BAD:P(A;;FA;;;BA)(A;;0x6;;;BU)", false},            // users may add files, folders
      {L"O:BAD:P(A;;FA;;;BA)(A;;DT;;;AU)", false},             // users may delete it
      {L"O:BAD:P(A;;FA;;;BA)(A;;WD;;;WD)", false},             // anyone may change its access
  };
  for (const auto& folder : kFolders) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(folder.sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    EXPECT_EQ(folder.isPrivate, os::win32::IsPrivateDescriptor(descriptor)) << Sddl(descriptor);
    LocalFree(descriptor);
  }
}

namespace {

// Whether this program's token holds the restore privilege (|*held|) and has it enabled.
bool RestoreEnabled(bool* held) {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  LUID luid;
  EXPECT_TRUE(LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &luid));
  std::vector<unsigned char> buffer(4096);
  DWORD size = 0;
  EXPECT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &size));
  CloseHandle(token);
  const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  *held = false;
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
    if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart) {
      *held = true;
      return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  return false;
}

}  // namespace

TEST(RestorePrivilege, EnabledOnlyWhileTheOwnerIsSet) {
  bool held = false;
  const bool before = RestoreEnabled(&held);
  if (!held) GTEST_SKIP() << "the token does not hold the restore privilege";
  {
    os::win32::RestorePrivilege privilege;
    EXPECT_TRUE(RestoreEnabled(&held));
  }
  EXPECT_EQ(before, RestoreEnabled(&held));  // as it was, disabled in an elevated token
}

TEST(CleanRoomSecurity, GrantsAdministratorsAndTheSystemOnlyInheritingNothing) {
  // Protected: none of C:\Windows\Temp's entries, which let users create there, reach the room;
  // object and container inherit: the copy made inside gets the same two entries.
  std::vector<unsigned char> made;
  ASSERT_TRUE(os::win32::CleanRoomSecurity(false, &made));
  EXPECT_EQ("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", Sddl(made.data()));
  // Owned by the Administrators, where the token lets it: every administrator's run finds it
  // its own.
  ASSERT_TRUE(os::win32::CleanRoomSecurity(true, &made));
  EXPECT_EQ("O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", Sddl(made.data()));
}
