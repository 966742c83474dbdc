#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform.h"

namespace quorvik {

// Memory for all of a file's bytes, not cleared first: the file's content fills it. Where the
// system offers it, a large buffer is backed by large pages, because touching new memory a
// 4 KiB page at a time can cost more than reading the file, as it does in some virtual machines.
class FileBuffer {
 public:
  FileBuffer() = default;
  // Throws std::bad_alloc when the memory is not available.
  explicit FileBuffer(std::size_t size);
  FileBuffer(FileBuffer&& other) noexcept;
  FileBuffer& operator=(FileBuffer&& other) noexcept;
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;
  ~FileBuffer();

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::uint8_t* begin() { return data_; }
  std::uint8_t* end() { return data_ + size_; }
  const std::uint8_t* begin() const { return data_; }
  const std::uint8_t* end() const { return data_ + size_; }

 private:
  void Release() noexcept;

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t reserved_ = 0;  // what the system was asked for, to give it back
};

struct LoadedFile {
  FileBuffer bytes;
  FileStamp stamp;
};

// Reads all of the regular file at `path`, opened once: nullopt when the path does not open for
// reading or names no regular file (a folder, or a FIFO or device, which is never waited on).
// Throws FileError when reading fails, also when the file changes while it is read or is too
// large to hold in memory.
std::optional<LoadedFile> ReadRegularFile(const std::filesystem::path& path);

// The same for a file that must be there: throws FileError where ReadRegularFile gives nullopt.
LoadedFile ReadWholeFile(const std::filesystem::path& path);

}  // namespace quorvik
