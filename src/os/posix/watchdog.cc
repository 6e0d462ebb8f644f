// The watchdog's thread and clock on POSIX, and its two ways of stepping in.
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include "os/internal/step.h"

namespace os {
namespace watchdog {
namespace {

void* ThreadMain(void* body) {
  reinterpret_cast<void (*)()>(body)();
  return nullptr;
}

}  // namespace

uint32_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

bool StartThread(void (*body)()) {
  pthread_t thread;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  const bool started =
      pthread_create(&thread, &attributes, &ThreadMain, reinterpret_cast<void*>(body)) == 0;
  pthread_attr_destroy(&attributes);
  return started;
}

void CancelBlockedCall() {
  // Every call of the emulation on a file that another user can reach answers at once (its
  // opens do not wait for a writer, its locks are tried): none to cancel.
}

void EndRun() { _exit(0); }

}  // namespace watchdog
}  // namespace os
