// The account on Windows: the process token's user, the console session's user token from the
// terminal services, and impersonation of that user for file work.
#include <windows.h>

#include <string>
#include <utility>

#include "base/format.h"
#include "os/account.h"
#include "os/internal/random.h"
#include "os/win32/handle.h"
#include "os/win32/security.h"
#include "os/win32/system_library.h"

namespace os {
namespace {

ConsoleUser g_actingFor;
bool g_acting = false;

// The text form of |sid|, as ConvertSidToStringSid writes it: S-revision-authority-each
// subauthority, the authority in hexadecimal when it does not fit 32 bits.
std::string SidText(PSID sid) {
  const SID* parts = static_cast<const SID*>(sid);
  const BYTE* authority = parts->IdentifierAuthority.Value;
  const unsigned long high = (authority[0] << 8) | authority[1];
  const unsigned long low = (static_cast<unsigned long>(authority[2]) << 24) |
                            (authority[3] << 16) | (authority[4] << 8) | authority[5];
  std::string text = base::Format("S-%u-", static_cast<unsigned>(parts->Revision));
  text += high ? base::Format("0x%04lX%08lX", high, low) : base::Format("%lu", low);
  for (BYTE i = 0; i < parts->SubAuthorityCount; ++i) {
    text += base::Format("-%lu", static_cast<unsigned long>(parts->SubAuthority[i]));
  }
  return text;
}

// The SID text of |token|'s user; empty when it cannot be read.
std::string TokenUserSid(HANDLE token) {
  union {
    TOKEN_USER user;
    unsigned char bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } info;
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, &info, sizeof info, &size)) return std::string();
  return SidText(info.user.User.Sid);
}

}  // namespace

std::string RunAccountSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
  std::string sid = TokenUserSid(token);
  CloseHandle(token);
  return sid;
}

bool UserRightsPolicy::Close(Handle handle) { return CloseHandle(win32::AsHandle(handle)) != 0; }

bool ConsoleUser::Find() {
  // Loaded at run time: the first is kernel32's, the second the terminal services' library,
  // which the executable does not import.
  typedef DWORD(WINAPI * SessionFn)();
  typedef BOOL(WINAPI * QueryTokenFn)(ULONG, PHANDLE);
  const SessionFn session = reinterpret_cast<SessionFn>(
      win32::SystemFunction("kernel32.dll", "WTSGetActiveConsoleSessionId"));
  const QueryTokenFn query =
      reinterpret_cast<QueryTokenFn>(win32::SystemFunction("wtsapi32.dll", "WTSQueryUserToken"));
  if (session == nullptr || query == nullptr) return false;
  const DWORD id = session();
  HANDLE token = nullptr;
  // No session attached to the console, or nobody logged on in it.
  if (id == 0xFFFFFFFF || !query(id, &token)) return false;
  base::ScopedHandle<UserRightsPolicy> held(win32::AsNumber(token));
  std::string sid = TokenUserSid(token);
  if (sid.empty()) return false;
  sid_ = std::move(sid);
  rights_ = std::move(held);
  return true;
}

void ActFor(ConsoleUser user) {
  g_actingFor = std::move(user);
  // A user without a SID is nobody: the run is its own account's again.
  g_acting = !g_actingFor.Sid().empty();
}

bool ActingForUser() { return g_acting; }

namespace {

typedef BOOL(WINAPI* ImpersonateFn)(HANDLE);
typedef BOOL(WINAPI* RevertFn)();

// advapi32's two calls, looked up while the thread is still the system's: a lookup while acting
// for the user could fail, or find a library through the user's own drive mappings.
ImpersonateFn Impersonate() {
  static const ImpersonateFn impersonate = reinterpret_cast<ImpersonateFn>(
      win32::SystemFunction("advapi32.dll", "ImpersonateLoggedOnUser"));
  return impersonate;
}

RevertFn Revert() {
  static const RevertFn revert =
      reinterpret_cast<RevertFn>(win32::SystemFunction("advapi32.dll", "RevertToSelf"));
  return revert;
}

}  // namespace

UserRights::UserRights() {
  if (!g_acting) return;
  held_ = false;
  // Every library the file work loads is loaded now, as the system: random names need bcrypt.
  // The accounts whose leftovers the work may remove are read now too.
  win32::RememberOwnAccounts(
      g_actingFor.rights_.IsValid() ? win32::AsHandle(g_actingFor.rights_.Get()) : nullptr);
  std::string digits;
  if (!g_actingFor.rights_.IsValid() || Impersonate() == nullptr || Revert() == nullptr ||
      !RandomDigits(&digits)) {
    return;
  }
  // The thread opens files with the user's token; handles held from before keep their access.
  held_ = Impersonate()(win32::AsHandle(g_actingFor.rights_.Get())) != FALSE;
  taken_ = held_;
}

UserRights::~UserRights() {
  // A thread that cannot stop acting for the user must not go on: the log, the clean room and the
  // installer are the system's. The run ends here, as a killed one would.
  if (taken_ && !Revert()()) TerminateProcess(GetCurrentProcess(), 1);
}

}  // namespace os
