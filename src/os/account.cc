// Whom the run acts for, the same on both platforms; each takes and gives back the rights itself.
#include "os/account.h"

#include <utility>

namespace os {
namespace {

ConsoleUser g_actingFor;
bool g_acting = false;

}  // namespace

void ActFor(ConsoleUser user) {
  g_actingFor = std::move(user);
  // A user without a SID is nobody: the run is its own account's again.
  g_acting = !g_actingFor.Sid().empty();
}

bool ActingForUser() { return g_acting; }

UserRights::UserRights() {
  if (!g_acting) return;
  held_ = false;
  if (g_actingFor.rights_.IsValid()) PlatformUserRights(g_actingFor.rights_.Get());
}

}  // namespace os
