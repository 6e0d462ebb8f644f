// Fault injection: makes the Nth counted operating-system call or allocation fail, so tests can
// prove every error path.
#pragma once

// Only test builds define ORVA_FAULT_SEAM and link fault.cc; in the shipped program every counted
// operation's check below is a constant false and the seam's code is not there at all.
#ifdef ORVA_FAULT_SEAM
#include <functional>
#endif

namespace fault {

// What a counted operation does, so that a test can pick one by its kind and its place among
// that kind's operations, which stays put when operations of other kinds come or go.
enum class Op {
  kOpen,  // opens a file, a folder or the program to start, by name
  // Opens a folder by its path, itself not through a link (Folder::Open), as an update of the
  // product's files starts: counted apart from the opens of the files in it.
  kOpenFolder,
  kCreate,  // makes a new file or folder
  kRead,
  kSeek,   // moves in a held file or finds its length
  kWrite,  // writes a held file's bytes or cuts them
  kFlush,
  kQuery,  // asks whether a held file may be written
  kClose,
  kRename,  // puts a written file in place of another
  kRemove,
  kList,      // lists a folder to remove what killed runs left in it
  kLock,      // takes the lock of a file's updates
  kRegistry,  // any call on a registry key, its close included
  kEvent,
  kStart,  // starts a program
};

constexpr int kOpKinds = static_cast<int>(Op::kStart) + 1;

// Each kind's name, as the run's event and the tests name it.
inline constexpr const char* kOpNames[kOpKinds] = {
    "open",  "openfolder", "create", "read", "seek", "write",    "flush", "query",
    "close", "rename",     "remove", "list", "lock", "registry", "event", "start"};

#ifdef ORVA_FAULT_SEAM

// A counted operation: its kind and its place among the operations of that kind (1 = the first).
struct Place {
  Op kind;
  int nth;
};

// Arms the seam: the |nth| counted operation from now on fails (1 = the next one);
// with |persistent| every later one fails too. |nth| <= 0 disarms.
void FailNth(int nth, bool persistent);

// Arms the seam: the |nth| operation of |kind| from now on fails, once.
void FailAt(Op kind, int nth);

// Arms the seam to run |action| once, just before the |nth| counted operation from now on does
// its work; that operation then goes ahead. Operations made by |action| itself are not counted.
// Disarms any failure and resets the count.
void RunBeforeNth(int nth, std::function<void()> action);

// The same before the |nth| operation of |kind| from now on.
void RunBefore(Op kind, int nth, std::function<void()> action);

// Disarms the seam and resets the count.
void Disarm();

// Counted operations seen since the seam was last armed or disarmed: all of them, or those of
// |kind|. Within an action, those before the operation it runs before.
int Count();
int Count(Op kind);

// The operation that the last arming failed or ran its action before; false while none was.
bool Reached(Place* place);

// The place among all operations of the first of |kind| since the seam was last armed; 0 for none.
int FirstOf(Op kind);

// Called by every counted operation before it does its work: true means "fail now".
bool Strike(Op kind);

// Makes the |nth| allocation through operator new from now on throw std::bad_alloc, once, or with
// |persistent| every one from then on; |nth| <= 0 disarms. Resets the allocation count.
void FailAllocation(int nth, bool persistent = false);

// Allocations seen since FailAllocation was last called.
int AllocationCount();

// From now on, keeps the number of the first allocation made from each place, a place being the
// chain of the last |frames| calls that led to it (1: where operator new is called), so that a
// sweep can fail each place once instead of every allocation. Resets what was kept.
void RecordAllocationPlaces(int frames);

// The kept numbers, in order, |*count| of them; at most kMaxAllocationPlaces, with |*complete|
// false when more places were seen.
constexpr int kMaxAllocationPlaces = 4096;
const int* AllocationPlaces(int* count, bool* complete);

// Arms the seam: the |nth| counted operation from now on never returns, as a call that another
// program holds up for ever, until ReleaseStall is called, which makes it fail; with
// |cancellable| false, not even then. Disarms any failure and resets the count.
void StallNth(int nth, bool cancellable);

// Lets a stalled operation go on and fail, as a cancelled call does; what the watchdog calls
// after its patience. Harmless when none stalls.
void ReleaseStall();

// Makes the watchdog's patience |milliseconds| from now on, so that a sweep of stalls ends soon.
void SetPatience(unsigned milliseconds);

// The watchdog's patience: |shipped|, unless a test set another.
unsigned Patience(unsigned shipped);

#else

constexpr bool Strike(Op) { return false; }
inline void ReleaseStall() {}
constexpr unsigned Patience(unsigned shipped) { return shipped; }

#endif

}  // namespace fault
