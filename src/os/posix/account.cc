// The account on POSIX: ORVAPATCH_ACCOUNT=system makes the run the system account, the machine
// root's console-user.txt names the console's user, and that user's rights are their uid's.
#include <pwd.h>
#include <sys/fsuid.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "machine/paths.h"
#include "os/account.h"

namespace os {
namespace {

// Without ORVAPATCH_ACCOUNT=system the run is the machine's one user, with the SID that Wine
// gives its own, so that both builds name it alike.
const char kMachineUserSid[] = "S-1-5-21-0-0-0-1000";

ConsoleUser g_actingFor;

// The group of |uid|, for the files it makes; its own number when the host does not know it.
gid_t GroupOf(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry ? entry->pw_gid : static_cast<gid_t>(uid);
}

}  // namespace

std::string RunAccountSid() {
  const char* account = std::getenv("ORVAPATCH_ACCOUNT");
  return account && std::strcmp(account, "system") == 0 ? kSystemSid : kMachineUserSid;
}

bool UserRightsPolicy::Close(Handle /*handle: a uid, nothing to give back*/) { return true; }

bool ConsoleUser::Find() {
  // One line, "SID uid"; without the file nobody is at the console.
  FILE* file = std::fopen((machine::MachineRoot() + "/console-user.txt").c_str(), "re");
  if (file == nullptr) return false;
  char sid[200];
  unsigned long uid = 0;
  const bool read = std::fscanf(file, "%199s %lu", sid, &uid) == 2;
  std::fclose(file);
  if (!read) return false;
  sid_ = sid;
  rights_ = base::ScopedHandle<UserRightsPolicy>(static_cast<intptr_t>(uid));
  return true;
}

void ActFor(ConsoleUser user) { g_actingFor = std::move(user); }

UserRights::UserRights() {
  if (!g_actingFor.rights_.IsValid()) return;
  const uid_t uid = static_cast<uid_t>(g_actingFor.rights_.Get());
  const gid_t gid = GroupOf(uid);
  // Only the file-system identity changes: the log, the registry store and the clean room are
  // opened before or after, and what is held stays held. Each call answers the identity before
  // it, so a second call tells whether the first took.
  taken_ = true;
  saved_[1] = static_cast<uint32_t>(::setfsgid(gid));
  saved_[0] = static_cast<uint32_t>(::setfsuid(uid));
  held_ = static_cast<uid_t>(::setfsuid(uid)) == uid && static_cast<gid_t>(::setfsgid(gid)) == gid;
}

UserRights::~UserRights() {
  if (!taken_) return;
  ::setfsuid(static_cast<uid_t>(saved_[0]));
  ::setfsgid(static_cast<gid_t>(saved_[1]));
}

}  // namespace os
