// Fault injection state, shared by both platform implementations.
#include "platform/fault.h"

namespace platform {
namespace fault {
namespace {
int g_count = 0;
int g_nth = 0;
bool g_persistent = false;
}  // namespace

void FailNth(int nth, bool persistent) {
  g_count = 0;
  g_nth = nth > 0 ? nth : 0;
  g_persistent = persistent;
}

void Disarm() { FailNth(0, false); }

int Count() { return g_count; }

bool Strike() {
  ++g_count;
  if (g_nth == 0) return false;
  return g_persistent ? g_count >= g_nth : g_count == g_nth;
}

}  // namespace fault
}  // namespace platform
