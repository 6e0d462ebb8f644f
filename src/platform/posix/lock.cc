// The critical section on POSIX.
#include <pthread.h>

#include "platform/lock.h"

namespace platform {

CriticalSection::CriticalSection() : impl_(new pthread_mutex_t) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  // A Windows critical section may be entered again by the thread that holds it.
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(static_cast<pthread_mutex_t*>(impl_), &attributes);
  pthread_mutexattr_destroy(&attributes);
}

CriticalSection::~CriticalSection() {
  pthread_mutex_destroy(static_cast<pthread_mutex_t*>(impl_));
  delete static_cast<pthread_mutex_t*>(impl_);
}

void CriticalSection::Enter() { pthread_mutex_lock(static_cast<pthread_mutex_t*>(impl_)); }

void CriticalSection::Leave() { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(impl_)); }

}  // namespace platform
