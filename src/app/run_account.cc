// The choice of the account whose installation a run patches.
#include "app/run_account.h"

#include <utility>

#include "os/account.h"
#include "os/registry.h"

namespace {

const char kProductKey[] = "Software\\ORVANE";

// Whether the product's key is in the hive |subKeyPrefix| leads to below |hive|.
bool RecordsProduct(os::Hive hive, const std::string& subKeyPrefix) {
  os::RegKey key;
  return key.Open(hive, (subKeyPrefix + kProductKey).c_str(), os::kKeyRead) == os::kErrorSuccess;
}

// Takes the rights of the user the run now acts for once, before anything is read for them,
// rather than find them wanting at the first open of their files, where the system would only
// say that the impersonation level is too low; false, with why in |*account|, when they cannot
// be taken.
bool RightsTaken(RunAccount* account) {
  os::UserRights rights;
  account->rightsError = rights.Refusal().error;
  account->rightsLevel = rights.Refusal().level;
  return rights.Held();
}

}  // namespace

void ChooseAccount(RunAccount* account) {
  account->sid = os::RunAccountSid();
  // Where the system account's own hive records the product, it was deployed for that account.
  if (account->sid != os::kSystemSid || RecordsProduct(os::Hive::kCurrentUser, "")) return;
  os::ConsoleUser user;
  if (!user.Find()) {
    account->console = ConsoleUserFound::kNobody;
    return;
  }
  account->consoleSid = user.Sid();
  if (!RecordsProduct(os::Hive::kUsers, user.Sid() + "\\")) {
    account->console = ConsoleUserFound::kNoInstallation;
    return;
  }
  os::ActFor(std::move(user));
  if (!RightsTaken(account)) {
    account->console = ConsoleUserFound::kNoRights;
  } else if (os::RegKey::UseUserHive(account->consoleSid) != os::kErrorSuccess) {
    account->console = ConsoleUserFound::kNoInstallation;
  } else {
    account->console = ConsoleUserFound::kActedFor;
    account->sid = account->consoleSid;
    return;
  }
  os::ActFor(os::ConsoleUser());  // the run stays the system account's own
}
