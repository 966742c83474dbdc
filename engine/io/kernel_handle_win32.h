#pragma once

// Windows only.
#include <windows.h>

#include "unique_resource.h"

namespace quorvik {

// A kernel object: process, thread, file, pipe, access token. Calls return either null or
// INVALID_HANDLE_VALUE on failure, depending on the call, so neither is a handle.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static constexpr Handle kEmpty = nullptr;
  static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static bool Close(Handle handle) { return CloseHandle(handle) != 0; }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

}  // namespace quorvik
