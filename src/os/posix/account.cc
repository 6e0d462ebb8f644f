// The account on POSIX: ORVAPATCH_ACCOUNT=system makes the run the system account, the machine
// root's console-user.txt names the console's user, and that user's rights are their uid's.
#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "machine/paths.h"
#include "os/account.h"
#include "os/internal/acting.h"

namespace os {
namespace {

// Without ORVAPATCH_ACCOUNT=system the run is the machine's one user, with the SID that Wine
// gives its own, so that both builds name it alike.
const char kMachineUserSid[] = "S-1-5-21-0-0-0-1000";

// The supplementary groups of the run, given back when the user's rights end.
std::vector<gid_t> g_savedGroups;
// The run's own file-system uid and gid, and the user's, while the user's are taken.
uid_t g_ownUid = 0, g_userUid = 0;
gid_t g_ownGid = 0, g_userGid = 0;
// Whether the file-system identity is the user's at this moment.
bool g_userRightsNow = false;

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
  char number[16];
  const bool read = std::fscanf(file, "%199s %15s", sid, number) == 2;
  std::fclose(file);
  // Digits only, and a uid the host can have: anything else names nobody, rather than a number
  // that wraps to root or to no user at all.
  char* end = nullptr;
  errno = 0;
  const unsigned long uid = read ? std::strtoul(number, &end, 10) : 0;
  if (!read || !std::isdigit(static_cast<unsigned char>(number[0])) || *end != '\0' ||
      errno == ERANGE || uid > 0xFFFFFFFEul) {
    return false;
  }
  sid_ = sid;
  rights_ = base::ScopedHandle<UserRightsPolicy>(static_cast<intptr_t>(uid));
  return true;
}

namespace {

// Makes the file-system identity |uid| and |gid|; false when it is not that afterwards. Each
// call answers the identity before it, so a second call tells whether the first took.
bool SetFileIdentity(uid_t uid, gid_t gid) {
  ::setfsgid(gid);
  ::setfsuid(uid);
  return static_cast<uid_t>(::setfsuid(uid)) == uid && static_cast<gid_t>(::setfsgid(gid)) == gid;
}

// Takes the rights of |uid| for the run's file work: their group alone, and their uid and gid
// as the file-system identity; false, with errno, when they are not the identity afterwards,
// part of them perhaps taken.
bool TakeRights(uid_t uid) {
  const gid_t gid = GroupOf(uid);
  // The run's supplementary groups (root's own, under sudo) would grant what the user may not:
  // the user's rights are their group alone.
  const int count = ::getgroups(0, nullptr);
  if (count < 0) return false;
  g_savedGroups.resize(static_cast<size_t>(count));
  if (::getgroups(count, g_savedGroups.data()) != count || ::setgroups(1, &gid) != 0) return false;
  // Only the file-system identity changes: the log, the registry store and the clean room are
  // opened before or after, and what is held stays held.
  // An invalid id changes nothing and answers the one in force.
  g_ownUid = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)));
  g_ownGid = static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1)));
  g_userUid = uid;
  g_userGid = gid;
  if (SetFileIdentity(uid, gid)) return true;
  errno = EPERM;  // setfsuid tells no error of its own
  return false;
}

// Gives back the run's own rights after TakeRights, whatever part of the user's it took.
void GiveBackRights() {
  SetFileIdentity(g_ownUid, g_ownGid);
  ::setgroups(g_savedGroups.size(), g_savedGroups.data());
}

}  // namespace

void UserRights::PlatformUserRights(UserRightsPolicy::Handle rights) {
  taken_ = true;
  held_ = TakeRights(static_cast<uid_t>(rights));
  if (!held_) refusal_.error = static_cast<uint32_t>(errno);
  g_userRightsNow = held_;
}

UserRights::~UserRights() {
  if (!taken_) return;
  g_userRightsNow = false;
  GiveBackRights();
}

SystemRights::SystemRights() {
  if (!g_userRightsNow) return;
  given_ = SetFileIdentity(g_ownUid, g_ownGid);
  g_userRightsNow = !given_;
}

SystemRights::~SystemRights() {
  if (!given_) return;
  if (!SetFileIdentity(g_userUid, g_userGid)) ::_exit(1);
  g_userRightsNow = true;
}

bool UserRightsNow() { return g_userRightsNow; }

}  // namespace os
