// Fault injection state, shared by both platform implementations, and the allocation hook.
#include "testing/fault.h"

#include <cstdlib>
#include <new>
#include <utility>

namespace testing {
namespace {

struct State {
  int count = 0;
  int counts[kOpKinds] = {};
  // The armed place is among all operations, or among those of |kind| alone.
  bool anyKind = true;
  Op kind = Op::kOpen;
  int nth = 0;
  bool persistent = false;
  int actionAt = 0;
  std::function<void()> action;
  bool inAction = false;
  bool reached = false;
  Place place = {Op::kOpen, 0};
};

// Made on first use: the test launcher arms the seam from a static object constructed before
// the static objects of default priority, this file's included.
State& Seam() {
  static State state;
  return state;
}

// Plain integers, not a State member: operator new must not allocate to find them.
int g_allocations = 0;
int g_failingAllocation = 0;

// Resets the counts and arms |nth| among all operations or among those of |kind|.
void Arm(bool anyKind, Op kind, int nth, bool persistent) {
  State& s = Seam();
  s.count = 0;
  for (int& count : s.counts) count = 0;
  s.anyKind = anyKind;
  s.kind = kind;
  s.nth = nth > 0 ? nth : 0;
  s.persistent = persistent;
  s.actionAt = 0;
  s.action = nullptr;
  s.reached = false;
}

// Arms |action| at the |nth| place that Arm() chose.
void ArmAction(int nth, std::function<void()> action) {
  State& s = Seam();
  s.actionAt = nth > 0 ? nth : 0;
  s.action = std::move(action);
}

// Keeps the operation that the arming reached, for Reached().
void RecordReached(Op kind, int nth) {
  State& s = Seam();
  s.reached = true;
  s.place = Place{kind, nth};
}

}  // namespace

void FailNth(int nth, bool persistent) { Arm(true, Op::kOpen, nth, persistent); }

void FailAt(Op kind, int nth) { Arm(false, kind, nth, false); }

void RunBeforeNth(int nth, std::function<void()> action) {
  Arm(true, Op::kOpen, 0, false);
  ArmAction(nth, std::move(action));
}

void RunBefore(Op kind, int nth, std::function<void()> action) {
  Arm(false, kind, 0, false);
  ArmAction(nth, std::move(action));
}

void Disarm() { FailNth(0, false); }

int Count() { return Seam().count; }

int Count(Op kind) { return Seam().counts[static_cast<int>(kind)]; }

bool Reached(Place* place) {
  if (Seam().reached) *place = Seam().place;
  return Seam().reached;
}

bool Strike(Op kind) {
  State& s = Seam();
  if (s.inAction) return false;
  const int ofKind = s.counts[static_cast<int>(kind)] + 1;
  // This operation's place among those the seam was armed to count; 0 for another kind.
  const int at = s.anyKind ? s.count + 1 : kind == s.kind ? ofKind : 0;
  if (s.actionAt != 0 && at == s.actionAt) {
    RecordReached(kind, ofKind);
    std::function<void()> action = std::move(s.action);
    s.action = nullptr;
    s.actionAt = 0;
    s.inAction = true;
    if (action) action();
    s.inAction = false;
  }
  // Counted once the action has run, which sees the operations before this one.
  ++s.count;
  s.counts[static_cast<int>(kind)] = ofKind;
  if (s.nth == 0 || at == 0) return false;
  if (at == s.nth) RecordReached(kind, ofKind);
  return s.persistent ? at >= s.nth : at == s.nth;
}

void FailAllocation(int nth) {
  g_allocations = 0;
  g_failingAllocation = nth > 0 ? nth : 0;
}

int AllocationCount() { return g_allocations; }

}  // namespace testing

// Every allocation of the test programs passes here: the array and nothrow forms come through the
// plain one, so that every form is counted and all of them pair with the same release.
void* operator new(std::size_t size) {
  using namespace testing;
  if (++g_allocations == g_failingAllocation) throw std::bad_alloc();
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
