// The critical section on Windows.
#include <windows.h>

#include "os/lock.h"

namespace os {

namespace {
CRITICAL_SECTION* Section(unsigned char* impl) { return reinterpret_cast<CRITICAL_SECTION*>(impl); }
}  // namespace

static_assert(sizeof(CRITICAL_SECTION) <= 64, "the lock's room is too small");

CriticalSection::CriticalSection() { InitializeCriticalSection(Section(impl_)); }

CriticalSection::~CriticalSection() { DeleteCriticalSection(Section(impl_)); }

void CriticalSection::Enter() { EnterCriticalSection(Section(impl_)); }

void CriticalSection::Leave() { LeaveCriticalSection(Section(impl_)); }

}  // namespace os
