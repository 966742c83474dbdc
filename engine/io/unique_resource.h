#pragma once

#include <utility>

namespace quorvik {

// Owns one operating-system resource (a file, a kernel handle, a GDI object) and gives it back
// when it goes; move-only. `Traits` names the handle type, the value an owner of nothing holds
// (kEmpty), which values are resources at all (IsValid: any other value, such as the one a
// failed call returns, is held as kEmpty), and how a resource is given back (Close).
template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle handle) : handle_(Owned(handle)) {}
  UniqueResource(UniqueResource&& other) noexcept : handle_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { Reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::kEmpty; }

  // Hands the resource to the caller, who closes it (to see whether closing worked, say).
  Handle Release() { return std::exchange(handle_, Traits::kEmpty); }

  void Reset(Handle handle = Traits::kEmpty) {
    const Handle old = std::exchange(handle_, Owned(handle));
    if (old != Traits::kEmpty) Traits::Close(old);
  }

 private:
  static Handle Owned(Handle handle) { return Traits::IsValid(handle) ? handle : Traits::kEmpty; }

  Handle handle_ = Traits::kEmpty;
};

}  // namespace quorvik
