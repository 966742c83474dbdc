// File buffers on POSIX systems: mappings of their own, large ones aligned to and advised for
// large pages.
#include <sys/mman.h>

#include <cstdint>
#include <new>

#include "file_buffer.h"

namespace quorvik {
namespace {

constexpr std::size_t kLargePage = 2 * 1024 * 1024;

std::size_t RoundUp(std::size_t size, std::size_t unit) { return (size + unit - 1) / unit * unit; }

void* Map(std::size_t size) {
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  return memory;
}

}  // namespace

FileBuffer::FileBuffer(std::size_t size) : size_(size) {
  if (size == 0) return;
  if (size < kLargePage) {
    reserved_ = size;
    data_ = static_cast<std::uint8_t*>(Map(size));
    return;
  }
  // A large page is only used for a whole aligned 2 MiB of the mapping, so the mapping is cut
  // to start at such a boundary and to end at one.
  if (size > SIZE_MAX - 2 * kLargePage) throw std::bad_alloc();
  reserved_ = RoundUp(size, kLargePage);
  const std::size_t mapped = reserved_ + kLargePage;
  auto* memory = static_cast<std::uint8_t*>(Map(mapped));
  const auto address = reinterpret_cast<std::uintptr_t>(memory);
  const std::size_t head = RoundUp(address, kLargePage) - address;
  if (head > 0) ::munmap(memory, head);
  ::munmap(memory + head + reserved_, kLargePage - head);
  data_ = memory + head;
  // Only advice; ignored where large pages are not supported.
  ::madvise(data_, reserved_, MADV_HUGEPAGE);
}

void FileBuffer::Release() noexcept {
  if (data_ != nullptr) ::munmap(data_, reserved_);
  data_ = nullptr;
  size_ = 0;
  reserved_ = 0;
}

}  // namespace quorvik
