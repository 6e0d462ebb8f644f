// Fault injection: makes the Nth counted operating-system call fail, so tests can prove every error path.
#pragma once

#include <functional>

namespace platform {
namespace fault {

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

}  // namespace fault
}  // namespace platform
