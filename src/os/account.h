// The account a run acts for: its own, or the console user's, for a run of the system account.
#pragma once

#include <cstdint>
#include <string>

#include "base/scoped_handle.h"

namespace os {

// The SID of the system account (LocalSystem), under which fleet tools start programs.
constexpr char kSystemSid[] = "S-1-5-18";

// The SID of the account this run runs as, in its text form; empty when it cannot be read.
std::string RunAccountSid();

// How a user's rights are given back: their token is closed on Windows; each platform defines
// Close.
struct UserRightsPolicy {
  using Handle = intptr_t;  // a token HANDLE on Windows, a uid on POSIX
  static constexpr Handle kInvalid = -1;
  static bool Close(Handle handle);
};

// Why a user's rights could not be taken: the system's error number, and on Windows the
// impersonation level that the system gave instead of impersonation (-1 for none), with which
// no file of theirs can be opened.
struct RightsRefusal {
  uint32_t error = 0;
  int level = -1;
};

// The user logged on at the console, whose installation a run of the system account patches.
class ConsoleUser {
 public:
  // Finds the user of the active console session; false when nobody is logged on there.
  [[nodiscard]] bool Find();

  const std::string& Sid() const { return sid_; }

 private:
  friend class UserRights;

  std::string sid_;
  base::ScopedHandle<UserRightsPolicy> rights_;
};

// Lends |user|'s rights to every UserRights scope from now on, for the rest of the run.
void ActFor(ConsoleUser user);

// Whether ActFor named a user: from then on the run's file work is that user's, or not done.
bool ActingForUser();

// The rights of the user that ActFor named, taken for the file work done during this object's
// life and given back at its end: only the opens, reads, writes, renames and deletes of the
// product's files are theirs; the update lock, the reading of security and every library load
// stay the system's, and every library the work needs is loaded before the rights are taken. On
// Windows they must come at impersonation level, which the system gives only to a process that
// may impersonate. Nothing changes while the run acts for its own account.
class UserRights {
 public:
  UserRights();
  ~UserRights();
  UserRights(const UserRights&) = delete;
  UserRights& operator=(const UserRights&) = delete;

  // False when the user's rights were wanted and could not be taken: the work must then not be
  // done at all, since this account's rights are not the user's.
  bool Held() const { return held_; }
  // Why they could not be taken, when Held is false.
  const RightsRefusal& Refusal() const { return refusal_; }

 private:
  // The constructor's step once a user's rights are wanted and named by |rights| (their token on
  // Windows, their uid on POSIX), which each platform defines: takes them, and tells in held_,
  // taken_ and refusal_ what became of it.
  void PlatformUserRights(UserRightsPolicy::Handle rights);

  bool held_ = true;
  bool taken_ = false;  // by this object, and so to be given back
  RightsRefusal refusal_;
};

// Test builds on Windows: how many UserRights scopes saw a library loaded while they lasted.
int LibrariesLoadedActingForUserForTesting();

}  // namespace os
