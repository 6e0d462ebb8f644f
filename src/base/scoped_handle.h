// One owner of an operating-system handle: move-only, released by its policy when it goes.
#pragma once

namespace base {

// |Policy| names the handle type (Handle), its empty value (kInvalid), and static bool
// Close(Handle), which releases a valid handle and reports whether the system took it back
// without error.
template <typename Policy>
class ScopedHandle {
 public:
  using Handle = typename Policy::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Take()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Take();
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool IsValid() const { return handle_ != Policy::kInvalid; }
  Handle Get() const { return handle_; }

  // Gives the handle up without releasing it.
  Handle Take() {
    Handle handle = handle_;
    handle_ = Policy::kInvalid;
    return handle;
  }

  // Releases the handle, if any; false when the system reported an error (it is released all
  // the same).
  bool Close() { return !IsValid() || Policy::Close(Take()); }

 private:
  Handle handle_ = Policy::kInvalid;
};

}  // namespace base
