#include "file_ops.h"

namespace quorvik {

NativeFile& NativeFile::operator=(NativeFile&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) CloseNativeHandle(handle_);
    handle_ = other.Release();
  }
  return *this;
}

NativeFile::~NativeFile() {
  if (IsOpen()) CloseNativeHandle(handle_);
}

std::intptr_t NativeFile::Release() {
  const std::intptr_t handle = handle_;
  handle_ = kInvalid;
  return handle;
}

}  // namespace quorvik
