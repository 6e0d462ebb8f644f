// Fault injection: makes the Nth counted operating-system call or allocation fail, so tests can prove every error path.
#pragma once

// Only test builds define ORVA_FAULT_SEAM and link fault.cc; in the shipped program every counted
// operation's check below is a constant false and the seam's code is not there at all.
#ifdef ORVA_FAULT_SEAM
#include <functional>
#endif

namespace platform {
namespace fault {

#ifdef ORVA_FAULT_SEAM

// Arms the seam: the |nth| counted operation from now on fails (1 = the next one);
// with |persistent| every later one fails too. |nth| <= 0 disarms.
void FailNth(int nth, bool persistent);

// Arms the seam to run |action| once, just before the |nth| counted operation from now on does
// its work; that operation then goes ahead. Operations made by |action| itself are not counted.
// Disarms any failure and resets the count.
void RunBeforeNth(int nth, std::function<void()> action);

// Disarms the seam and resets the count.
void Disarm();

// Counted operations seen since the seam was last armed or disarmed.
int Count();

// Called by every counted operation before it does its work: true means "fail now".
bool Strike();

// Makes the |nth| allocation through operator new from now on throw std::bad_alloc, once;
// |nth| <= 0 disarms. Resets the allocation count.
void FailAllocation(int nth);

// Allocations seen since FailAllocation was last called.
int AllocationCount();

#else

constexpr bool Strike() { return false; }

#endif

}  // namespace fault
}  // namespace platform
