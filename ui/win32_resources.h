#pragma once

// Windows only: the owners of the Windows resources that the program and its tests hold.
#include <objbase.h>
#include <windows.h>

#include "unique_resource.h"
#include "win32_support.h"

namespace quorvik {

// A mutex this thread has taken: let go of, then closed.
struct HeldMutexTraits {
  using Handle = HANDLE;
  static constexpr Handle kEmpty = nullptr;
  static bool IsValid(Handle handle) { return handle != nullptr; }
  static bool Close(Handle handle) {
    ReleaseMutex(handle);
    return CloseHandle(handle) != 0;
  }
};
using HeldMutex = UniqueResource<HeldMutexTraits>;

// A GDI object: font, bitmap, brush.
template <typename GdiHandle>
struct GdiObjectTraits {
  using Handle = GdiHandle;
  static constexpr Handle kEmpty = nullptr;
  static bool IsValid(Handle handle) { return handle != nullptr; }
  static bool Close(Handle handle) { return DeleteObject(handle) != 0; }
};
using FontHandle = UniqueResource<GdiObjectTraits<HFONT>>;
using BitmapHandle = UniqueResource<GdiObjectTraits<HBITMAP>>;
using BrushHandle = UniqueResource<GdiObjectTraits<HBRUSH>>;

// A memory device context, from CreateCompatibleDC.
struct MemoryDcTraits {
  using Handle = HDC;
  static constexpr Handle kEmpty = nullptr;
  static bool IsValid(Handle handle) { return handle != nullptr; }
  static bool Close(Handle handle) { return DeleteDC(handle) != 0; }
};
using MemoryDc = UniqueResource<MemoryDcTraits>;

// COM on this thread for as long as it lives: file-name completion in the path box needs it.
// Not a handle: an apartment is entered and left on one thread, so it neither moves nor copies.
class ComApartment {
 public:
  ComApartment() : entered_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (entered_) CoUninitialize();
  }

 private:
  bool entered_;
};

}  // namespace quorvik
