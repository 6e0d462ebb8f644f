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
// life and given back at its end. Nothing changes while the run acts for its own account.
class UserRights {
 public:
  UserRights();
  ~UserRights();
  UserRights(const UserRights&) = delete;
  UserRights& operator=(const UserRights&) = delete;

  // False when the user's rights were wanted and could not be taken: the work must then not be
  // done at all, since this account's rights are not the user's.
  bool Held() const { return held_; }

 private:
  bool held_ = true;
  bool taken_ = false;          // by this object, and so to be given back
  uint32_t saved_[2] = {0, 0};  // POSIX: the file-system uid and gid before
};

}  // namespace os
