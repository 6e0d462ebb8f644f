// Fault injection state, shared by both platform implementations.
#include "platform/fault.h"

#include <utility>

namespace platform {
namespace fault {
namespace {

struct State {
  int count = 0;
  int nth = 0;
  bool persistent = false;
  int actionAt = 0;
  std::function<void()> action;
  bool inAction = false;
};

// Made on first use: the POSIX entry arms the seam from a static object constructed before
// the static objects of default priority, this file's included.
State& Seam() {
  static State state;
  return state;
}

}  // namespace

void FailNth(int nth, bool persistent) {
  State& s = Seam();
  s.count = 0;
  s.nth = nth > 0 ? nth : 0;
  s.persistent = persistent;
  s.actionAt = 0;
  s.action = nullptr;
}

void RunBeforeNth(int nth, std::function<void()> action) {
  FailNth(0, false);
  State& s = Seam();
  s.actionAt = nth > 0 ? nth : 0;
  s.action = std::move(action);
}

void Disarm() { FailNth(0, false); }

int Count() { return Seam().count; }

bool Strike() {
  State& s = Seam();
  if (s.inAction) return false;
  ++s.count;
  if (s.actionAt != 0 && s.count == s.actionAt) {
    std::function<void()> action = std::move(s.action);
    s.action = nullptr;
    s.actionAt = 0;
    s.inAction = true;
    if (action) action();
    s.inAction = false;
  }
  if (s.nth == 0) return false;
  return s.persistent ? s.count >= s.nth : s.count == s.nth;
}

}  // namespace fault
}  // namespace platform
