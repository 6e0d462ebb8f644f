// The account on Windows: the process token's user, the console session's user token from the
// terminal services, and impersonation of that user for file work.
#include <windows.h>

#include <string>
#include <utility>

#include "os/account.h"
#include "os/format.h"
#include "os/internal/acting.h"
#include "os/internal/random.h"
#include "os/win32/handle.h"
#include "os/win32/security.h"
#include "os/win32/system_library.h"

namespace os {
namespace {

// The text form of |sid|, as ConvertSidToStringSid writes it: S-revision-authority-each
// subauthority, the authority in hexadecimal when it does not fit 32 bits.
std::string SidText(PSID sid) {
  const SID* parts = static_cast<const SID*>(sid);
  const BYTE* authority = parts->IdentifierAuthority.Value;
  const unsigned long high = (authority[0] << 8) | authority[1];
  const unsigned long low = (static_cast<unsigned long>(authority[2]) << 24) |
                            (authority[3] << 16) | (authority[4] << 8) | authority[5];
  std::string text = os::Format("S-%u-", static_cast<unsigned>(parts->Revision));
  text += high ? os::Format("0x%04lX%08lX", high, low) : os::Format("%lu", low);
  for (BYTE i = 0; i < parts->SubAuthorityCount; ++i) {
    text += os::Format("-%lu", static_cast<unsigned long>(parts->SubAuthority[i]));
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

namespace {

typedef BOOL(WINAPI* ImpersonateFn)(HANDLE);
typedef BOOL(WINAPI* RevertFn)();
typedef BOOL(WINAPI* OpenThreadTokenFn)(HANDLE, DWORD, BOOL, PHANDLE);

// advapi32's calls that give and check a user's rights.
struct RightsCalls {
  ImpersonateFn impersonate;
  RevertFn revert;
  OpenThreadTokenFn openThreadToken;
};

// RightsCalls, looked up while the thread is still the system's: a lookup while acting for the
// user could fail, or find a library through the user's own drive mappings.
const RightsCalls& Calls() {
  static const RightsCalls calls = {
      reinterpret_cast<ImpersonateFn>(
          win32::SystemFunction("advapi32.dll", "ImpersonateLoggedOnUser")),
      reinterpret_cast<RevertFn>(win32::SystemFunction("advapi32.dll", "RevertToSelf")),
      reinterpret_cast<OpenThreadTokenFn>(
          win32::SystemFunction("advapi32.dll", "OpenThreadToken"))};
  return calls;
}

// Whether the thread has the user's rights at this moment, and their token while a scope lasts.
bool g_userRightsNow = false;
HANDLE g_userToken = nullptr;

// Loads, as the system, every library that the work done with a user's rights calls into, and
// reads the accounts whose leftovers it may remove; false when a call it needs is missing.
bool Prepare(HANDLE token) {
  win32::RememberOwnAccounts(token);
  std::string digits;  // random names need bcrypt
  return Calls().impersonate != nullptr && Calls().revert != nullptr &&
         Calls().openThreadToken != nullptr && RandomDigits(&digits);
}

// The impersonation level of the thread's token, read with the process's rights; -1 when it
// cannot be read.
int ThreadImpersonationLevel() {
  HANDLE token = nullptr;
  if (!Calls().openThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return -1;
  SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
  DWORD size = 0;
  const bool read =
      GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof(level), &size) != FALSE;
  CloseHandle(token);
  return read ? static_cast<int>(level) : -1;
}

// Gives the thread back its own rights, the system's; a thread that cannot stop acting for the
// user must not go on: the log, the clean room and the installer are the system's. The run ends
// here, as a killed one would.
void GiveBackRights() {
  if (!Calls().revert()) TerminateProcess(GetCurrentProcess(), 1);
}

// Gives the thread the rights of |token|, at impersonation level: with a lower one, which the
// system gives a process without the privilege to impersonate, the thread may query the user's
// token but open none of their files. False, with why in |*why|, the thread still the system's.
bool TakeRights(HANDLE token, RightsRefusal* why) {
  if (!Calls().impersonate(token)) {
    why->error = GetLastError();
    return false;
  }
  const int level = ThreadImpersonationLevel();
  if (level == SecurityImpersonation) return true;
  why->error = level < 0 ? GetLastError() : ERROR_BAD_IMPERSONATION_LEVEL;
  why->level = level;
  GiveBackRights();
  return false;
}

#ifdef ORVA_FAULT_SEAM
// Test builds: the process's modules when the scope of a user's rights began, to find any loaded
// while it lasted; listed by kernel32's own call, found in it at run time, which loads nothing.
typedef BOOL(WINAPI* EnumModulesFn)(HANDLE, HMODULE*, DWORD, DWORD*);
HMODULE g_modulesAtStart[512];
DWORD g_modulesSize = 0;
int g_loadedActingForUser = 0;

EnumModulesFn EnumModules() {
  static const EnumModulesFn enumModules = reinterpret_cast<EnumModulesFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "K32EnumProcessModules")));
  return enumModules;
}

void ListModulesAtStart() {
  if (EnumModules() == nullptr || !EnumModules()(GetCurrentProcess(), g_modulesAtStart,
                                                 sizeof(g_modulesAtStart), &g_modulesSize)) {
    g_modulesSize = 0;
  }
}

void CompareModulesAtEnd() {
  HMODULE now[512];
  DWORD size = 0;
  if (g_modulesSize == 0 || !EnumModules()(GetCurrentProcess(), now, sizeof(now), &size) ||
      size != g_modulesSize || memcmp(now, g_modulesAtStart, size) != 0) {
    ++g_loadedActingForUser;
  }
}
#else
void ListModulesAtStart() {}
void CompareModulesAtEnd() {}
#endif

}  // namespace

void UserRights::PlatformUserRights(UserRightsPolicy::Handle rights) {
  const HANDLE token = win32::AsHandle(rights);
  if (token == nullptr || !Prepare(token) || !TakeRights(token, &refusal_)) return;
  // The thread opens files with the user's token; handles held from before keep their access.
  held_ = taken_ = g_userRightsNow = true;
  g_userToken = token;
  ListModulesAtStart();
}

UserRights::~UserRights() {
  if (!taken_) return;
  CompareModulesAtEnd();
  g_userRightsNow = false;
  GiveBackRights();
}

SystemRights::SystemRights() {
  // A thread that cannot stop acting for the user goes on as the user: what it then does is
  // refused by the user's rights.
  if (!g_userRightsNow || !Calls().revert()) return;
  given_ = true;
  g_userRightsNow = false;
}

SystemRights::~SystemRights() {
  if (!given_) return;
  RightsRefusal unused;
  if (!TakeRights(g_userToken, &unused)) {
    TerminateProcess(GetCurrentProcess(), 1);
  }
  g_userRightsNow = true;
}

bool UserRightsNow() { return g_userRightsNow; }

}  // namespace os

#ifdef ORVA_FAULT_SEAM
int os::LibrariesLoadedActingForUserForTesting() { return os::g_loadedActingForUser; }
#endif
