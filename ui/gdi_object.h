#pragma once

#include <windows.h>

#include <utility>

namespace quorvik {

// Owns one GDI object (font, bitmap, brush) and deletes it when it goes.
template <typename Handle>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Handle handle) : handle_(handle) {}
  GdiObject(GdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  ~GdiObject() { Reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  void Reset() {
    if (handle_) DeleteObject(handle_);
    handle_ = nullptr;
  }

  Handle handle_ = nullptr;
};

using FontHandle = GdiObject<HFONT>;
using BitmapHandle = GdiObject<HBITMAP>;

}  // namespace quorvik
