// Fault injection state, shared by both platform implementations, and the allocation hook.
#include "testing/fault.h"

#include <cstdlib>
#include <new>
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

// Made on first use: the test launcher arms the seam from a static object constructed before
// the static objects of default priority, this file's included.
State& Seam() {
  static State state;
  return state;
}

// Plain integers, not a State member: operator new must not allocate to find them.
int g_allocations = 0;
int g_failingAllocation = 0;

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

void FailAllocation(int nth) {
  g_allocations = 0;
  g_failingAllocation = nth > 0 ? nth : 0;
}

int AllocationCount() { return g_allocations; }

}  // namespace fault
}  // namespace platform

// Every allocation of the test programs passes here: the array and nothrow forms come through the
// plain one, so that every form is counted and all of them pair with the same release.
void* operator new(std::size_t size) {
  using namespace platform::fault;
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
