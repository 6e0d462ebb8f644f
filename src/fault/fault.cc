// Fault injection state, shared by both platform implementations, and the allocation hook.
#include "fault/fault.h"

#include <unwind.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <thread>
#include <utility>

namespace fault {
namespace {

struct State {
  int count = 0;
  int counts[kOpKinds] = {};
  int firsts[kOpKinds] = {};
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
  int stallAt = 0;
  bool stallCancellable = true;
};

// Set from the watchdog's thread while the run's own thread waits in a stalled operation.
std::atomic<bool> g_stallReleased{false};
// The watchdog's patience that a test set, in milliseconds; 0 for the shipped one.
unsigned g_patience = 0;

// Holds the calling thread as a call that never returns would, until released when |cancellable|.
void Stall(bool cancellable) {
  while (!(cancellable && g_stallReleased.load())) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Made on first use: the test launcher arms the seam from a static object constructed before
// the static objects of default priority, this file's included.
State& Seam() {
  static State state;
  return state;
}

// Plain integers, not a State member: operator new must not allocate to find them.
int g_allocations = 0;
int g_failingAllocation = 0;
bool g_failingFromThenOn = false;

// The places of allocations seen, in fixed tables that operator new fills without allocating:
// each place's fingerprint in an open-addressed set, and the number of its first allocation.
constexpr int kPlaceSlots = 4 * kMaxAllocationPlaces;  // a power of two, kept at most 1/4 full
int g_placeFrames = 0;                                 // 0: not recording
uint64_t g_placeSlots[kPlaceSlots];
int g_firstAllocations[kMaxAllocationPlaces];
int g_places = 0;
bool g_placesComplete = true;

// The return addresses of the calls that led to an allocation, folded into one fingerprint.
struct Fingerprint {
  uint64_t hash = 14695981039346656037u;  // FNV-1a's offset basis
  int frames = 0;
  int maxFrames = 0;
};

// The frames of RecordPlace and operator new, which every allocation shares.
constexpr int kOwnFrames = 2;

_Unwind_Reason_Code AddFrame(struct _Unwind_Context* context, void* argument) {
  Fingerprint* print = static_cast<Fingerprint*>(argument);
  const uint64_t address = static_cast<uint64_t>(_Unwind_GetIP(context));
  if (print->frames++ < kOwnFrames) return _URC_NO_REASON;
  for (int shift = 0; shift < 64; shift += 8) {
    print->hash = (print->hash ^ ((address >> shift) & 0xFF)) * 1099511628211u;
  }
  return print->frames < print->maxFrames ? _URC_NO_REASON : _URC_END_OF_STACK;
}

// Keeps allocation |nth| when it is the first from its place. Never inlined, so that the frames
// to leave out are always two.
__attribute__((noinline)) void RecordPlace(int nth) {
  Fingerprint print;
  print.maxFrames = kOwnFrames + g_placeFrames;
  _Unwind_Backtrace(AddFrame, &print);
  const uint64_t key = print.hash | 1;  // 0 marks a free slot
  for (uint64_t slot = key & (kPlaceSlots - 1);; slot = (slot + 1) & (kPlaceSlots - 1)) {
    if (g_placeSlots[slot] == key) return;
    if (g_placeSlots[slot] != 0) continue;
    if (g_places == kMaxAllocationPlaces) {
      g_placesComplete = false;
      return;
    }
    g_placeSlots[slot] = key;
    g_firstAllocations[g_places++] = nth;
    return;
  }
}

// Resets the counts and arms |nth| among all operations or among those of |kind|.
void Arm(bool anyKind, Op kind, int nth, bool persistent) {
  State& s = Seam();
  s.count = 0;
  for (int& count : s.counts) count = 0;
  for (int& first : s.firsts) first = 0;
  s.anyKind = anyKind;
  s.kind = kind;
  s.nth = nth > 0 ? nth : 0;
  s.persistent = persistent;
  s.actionAt = 0;
  s.action = nullptr;
  s.reached = false;
  s.stallAt = 0;
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

int FirstOf(Op kind) { return Seam().firsts[static_cast<int>(kind)]; }

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
  if (ofKind == 1) s.firsts[static_cast<int>(kind)] = s.count;
  if (s.stallAt != 0 && at == s.stallAt) {
    RecordReached(kind, ofKind);
    Stall(s.stallCancellable);
    return true;
  }
  if (s.nth == 0 || at == 0) return false;
  if (at == s.nth) RecordReached(kind, ofKind);
  return s.persistent ? at >= s.nth : at == s.nth;
}

void FailAllocation(int nth, bool persistent) {
  g_failingFromThenOn = persistent;
  g_allocations = 0;
  g_failingAllocation = nth > 0 ? nth : 0;
}

int AllocationCount() { return g_allocations; }

void RecordAllocationPlaces(int frames) {
  for (uint64_t& slot : g_placeSlots) slot = 0;
  g_places = 0;
  g_placesComplete = true;
  g_placeFrames = frames;
}

const int* AllocationPlaces(int* count, bool* complete) {
  *count = g_places;
  *complete = g_placesComplete;
  return g_firstAllocations;
}

void StallNth(int nth, bool cancellable) {
  Arm(true, Op::kOpen, 0, false);
  State& s = Seam();
  s.stallAt = nth > 0 ? nth : 0;
  s.stallCancellable = cancellable;
}

void ReleaseStall() { g_stallReleased.store(true); }

void SetPatience(unsigned milliseconds) { g_patience = milliseconds; }

unsigned Patience(unsigned shipped) { return g_patience != 0 ? g_patience : shipped; }

}  // namespace fault

// Every allocation of the test programs passes here: the array and nothrow forms come through the
// plain one, so that every form is counted and all of them pair with the same release.
void* operator new(std::size_t size) {
  using namespace fault;
  ++g_allocations;
  if (g_failingAllocation != 0 && (g_failingFromThenOn ? g_allocations >= g_failingAllocation
                                                       : g_allocations == g_failingAllocation)) {
    throw std::bad_alloc();
  }
  if (g_placeFrames > 0) RecordPlace(g_allocations);
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
