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
  if (!RecordsProduct(os::Hive::kUsers, user.Sid() + "\\") ||
      os::RegKey::UseUserHive(user.Sid()) != os::kErrorSuccess) {
    account->console = ConsoleUserFound::kNoInstallation;
    return;
  }
  account->console = ConsoleUserFound::kActedFor;
  account->sid = user.Sid();
  os::ActFor(std::move(user));
}
