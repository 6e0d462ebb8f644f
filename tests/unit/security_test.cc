// The security descriptor a configuration's replacement is made with (Wine keeps no DACL on files,
// so this is where the copy is proved), and the rule that trusts a registry key.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "app/run_event.h"
#include "app/run_record.h"
#include "os/registry.h"
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

// The machine record's key: trusted only while no one but the Administrators, the system or this
// program's token may change it. Wine keeps a key's security only in memory, for the life of its
// server, and gives every key it makes or loads one default descriptor; so the rule is proved
// here, on descriptors and on keys whose DACL this test sets, not by the scenarios.
TEST(KeySecurity, OnlyAKeyNoStandardUserMayChangeIsTrusted) {
  const struct {
    const wchar_t* sddl;
    bool trusted;
  } kKeys[] = {
      // As HKEY_LOCAL_MACHINE\SOFTWARE passes its entries on: users and packages read.
      {L"O:BAD:AI(A;CIID;KA;;;SY)(A;CIID;KA;;;BA)(A;CIIOID;GA;;;CO)(A;CIID;KR;;;BU)"
       L"(A;CIID;KR;;;AC)",
       true},
      {L"O:BAD:(A;CIIO;GR;;;BU)(A;;KA;;;BA)", true},           // Wine's one descriptor
      {L"O:SYD:P(A;;KA;;;SY)(A;;KR;;;WD)(D;;KA;;;AN)", true},  // anyone reads; a denial
      {L"O:BUD:(A;;KA;;;BA)", false},                          // a user's key
      {L"O:BAD:(A;;KA;;;BA)(A;;0x2;;;BU)", false},             // users may set values
      {L"O:BAD:(A;;KA;;;BA)(A;;0x4;;;AU)", false},             // or make subkeys
      {L"O:BAD:(A;;KA;;;BA)(A;;0x20;;;BU)", false},            // or links
      {L"O:BAD:(A;;KA;;;BA)(A;;SD;;;WD)", false},              // anyone may delete it
      {L"O:BAD:(A;;KA;;;BA)(A;;WD;;;BU)", false},              // or change its access
      {L"O:BAD:(A;;KA;;;BA)(A;;WO;;;BU)", false},              // or its owner
      {L"O:BAD:(A;;KA;;;BA)(A;;KW;;;BU)", false},              // KEY_WRITE
      {L"O:BAD:(A;;KA;;;BA)(A;;GW;;;BU)", false},              // GENERIC_WRITE
  };
  for (const auto& key : kKeys) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(key.sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    EXPECT_EQ(key.trusted, os::win32::IsPrivateKeyDescriptor(descriptor)) << Sddl(descriptor);
    LocalFree(descriptor);
  }
  // No DACL at all grants everyone everything (made by hand: Wine reads NO_ACCESS_CONTROL as an
  // empty DACL, which grants nothing).
  SECURITY_DESCRIPTOR open;
  unsigned char administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
  ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorOwner(&open, administrators, FALSE) &&
              SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
  EXPECT_FALSE(os::win32::IsPrivateKeyDescriptor(&open));
}

namespace {

const char kRecordKey[] = "SOFTWARE\\OrvaPatch\\2014.4.2";

// Gives the key |path| of HKEY_LOCAL_MACHINE, made when missing, the owner and DACL of |sddl|.
void SetKeySecurity(const char* path, const wchar_t* sddl) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  EXPECT_EQ(
      ERROR_SUCCESS,
      RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor));
  LocalFree(descriptor);
  RegCloseKey(key);
}

// The number of values of the key |path| of HKEY_LOCAL_MACHINE.
DWORD ValueCount(const char* path) {
  HKEY key = nullptr;
  DWORD values = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, &values, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);
  return values;
}

}  // namespace

TEST(KeySecurity, TheRecordIsWrittenOnlyInAKeyNoStandardUserMayChange) {
  // The run's report of an accepted run whose installer returned 0.
  RunReport run;
  run.account.sid = "S-1-5-21-0-0-0-1000";
  run.checked = run.accepted = true;
  run.installerStart = os::StartResult{os::StartFailure::kNone, 0};
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRecordKey);
  // A key that users may set values in: its security is read from the key itself, and nothing
  // is written.
  SetKeySecurity(kRecordKey, L"O:BAD:(A;;KA;;;BA)(A;;KA;;;SY)(A;;0x2001f;;;BU)");
  os::RegKey key;
  ASSERT_EQ(os::kErrorSuccess,
            key.Open(os::Hive::kLocalMachine, kRecordKey, os::kKeyRead | os::kKeyWrite));
  bool trusted = true;
  EXPECT_EQ(os::kErrorSuccess, key.CheckTrusted(&trusted));
  EXPECT_FALSE(trusted);
  key.Close();
  EXPECT_EQ(RecordState::kUntrusted, WriteMachineRecord(run, 1000, true).state);
  EXPECT_EQ(0u, ValueCount(kRecordKey));
  // Users may read it only: the record is written whole.
  SetKeySecurity(kRecordKey, L"O:BAD:(A;;KA;;;BA)(A;;KA;;;SY)(A;;KR;;;BU)");
  EXPECT_EQ(RecordState::kWritten, WriteMachineRecord(run, 1000, true).state);
  EXPECT_EQ(7u, ValueCount(kRecordKey));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRecordKey));
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OrvaPatch");
}
