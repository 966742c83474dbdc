// File buffers on Windows: committed virtual memory of their own. Large pages need a privilege
// that ordinary users lack, so none are asked for.
#include <windows.h>

#include <new>

#include "file_buffer.h"

namespace quorvik {

FileBuffer::FileBuffer(std::size_t size) : size_(size), reserved_(size) {
  if (size == 0) return;
  data_ = static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (data_ == nullptr) throw std::bad_alloc();
}

void FileBuffer::Release() noexcept {
  if (data_ != nullptr) VirtualFree(data_, 0, MEM_RELEASE);
  data_ = nullptr;
  size_ = 0;
  reserved_ = 0;
}

}  // namespace quorvik
