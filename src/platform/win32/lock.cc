// The critical section on Windows.
#include <windows.h>

#include "platform/lock.h"

namespace platform {

CriticalSection::CriticalSection() : impl_(new CRITICAL_SECTION) {
  InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
}

CriticalSection::~CriticalSection() {
  DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
  delete static_cast<CRITICAL_SECTION*>(impl_);
}

void CriticalSection::Enter() { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

void CriticalSection::Leave() { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

}  // namespace platform
