// Fault injection state, shared by both platform implementations.
#include "platform/fault.h"

#include <utility>

namespace platform {
namespace fault {
namespace {
int g_count = 0;
int g_nth = 0;
bool g_persistent = false;
int g_actionAt = 0;
std::function<void()> g_action;
bool g_inAction = false;
}  // namespace

void FailNth(int nth, bool persistent) {
  g_count = 0;
  g_nth = nth > 0 ? nth : 0;
  g_persistent = persistent;
  g_actionAt = 0;
  g_action = nullptr;
}

void RunBeforeNth(int nth, std::function<void()> action) {
  FailNth(0, false);
  g_actionAt = nth > 0 ? nth : 0;
  g_action = std::move(action);
}

void Disarm() { FailNth(0, false); }

int Count() { return g_count; }

bool Strike() {
  if (g_inAction) return false;
  ++g_count;
  if (g_actionAt != 0 && g_count == g_actionAt) {
    std::function<void()> action = std::move(g_action);
    g_action = nullptr;
    g_actionAt = 0;
    g_inAction = true;
    if (action) action();
    g_inAction = false;
  }
  if (g_nth == 0) return false;
  return g_persistent ? g_count >= g_nth : g_count == g_nth;
}

}  // namespace fault
}  // namespace platform
