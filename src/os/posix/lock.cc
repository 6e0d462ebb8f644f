// The critical section on POSIX.
#include <pthread.h>

#include "os/lock.h"

namespace os {

namespace {
pthread_mutex_t* Mutex(unsigned char* impl) { return reinterpret_cast<pthread_mutex_t*>(impl); }
}  // namespace

static_assert(sizeof(pthread_mutex_t) <= 64, "the lock's room is too small");

CriticalSection::CriticalSection() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  // A Windows critical section may be entered again by the thread that holds it.
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(Mutex(impl_), &attributes);
  pthread_mutexattr_destroy(&attributes);
}

CriticalSection::~CriticalSection() { pthread_mutex_destroy(Mutex(impl_)); }

void CriticalSection::Enter() { pthread_mutex_lock(Mutex(impl_)); }

void CriticalSection::Leave() { pthread_mutex_unlock(Mutex(impl_)); }

}  // namespace os
