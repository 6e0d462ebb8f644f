// A critical section: the mutual-exclusion lock of the platform.
#pragma once

namespace os {

class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

 private:
  // Held and let go only for the length of a scope, so that no way out of it leaves it held.
  friend class ScopedLock;

  void Enter();
  void Leave();

  // The platform's lock, held in place: making it never needs memory, which may have run out.
  alignas(16) unsigned char impl_[64];
};

// Holds a critical section for the length of a scope.
class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~ScopedLock() { section_.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace os
