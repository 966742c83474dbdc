#include "read_whole_file.h"

#include <algorithm>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "file_error.h"

namespace quorvik {

FileBuffer::FileBuffer(FileBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      reserved_(std::exchange(other.reserved_, 0)) {}

FileBuffer& FileBuffer::operator=(FileBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    reserved_ = std::exchange(other.reserved_, 0);
  }
  return *this;
}

FileBuffer::~FileBuffer() { Release(); }

namespace {

LoadedFile ReadOpenFile(const NativeFile& file, const std::filesystem::path& path) {
  const FileStamp before = StampOfOpenFile(file, path);
  // A 32-bit process has under 2 GiB of address space for everything.
  if (before.size > std::numeric_limits<std::size_t>::max() / 2) {
    throw FileError("Could not read", path, "the file is too large to load into memory");
  }

  LoadedFile loaded;
  try {
    loaded.bytes = FileBuffer(static_cast<std::size_t>(before.size));
  } catch (const std::bad_alloc&) {
    throw FileError("Could not read", path, "there is not enough memory to load the file");
  }
  const std::size_t size = loaded.bytes.size();
  std::size_t done = 0;
  while (true) {
    // One byte more than expected is asked for at the end, to notice a file that grew.
    std::uint8_t extra = 0;
    const bool atEnd = done == size;
    const std::span<std::uint8_t> into =
        atEnd ? std::span(&extra, 1)
              : std::span(loaded.bytes.data() + done, std::min(size - done, kFilePieceSize));
    const std::size_t got = ReadPiece(file, into, path);
    if (got == 0) break;
    if (atEnd) throw FileError("Could not read", path, "the file grew while it was read");
    done += got;
  }
  if (done != size) throw FileError("Could not read", path, "the file shrank while it was read");
  loaded.stamp = StampOfOpenFile(file, path);
  if (loaded.stamp != before) {
    throw FileError("Could not read", path, "the file was changed while it was read");
  }
  return loaded;
}

}  // namespace

std::optional<LoadedFile> ReadRegularFile(const std::filesystem::path& path) {
  const NativeFile file = OpenForReading(path);
  if (!file || !IsRegularFile(file)) return std::nullopt;
  return ReadOpenFile(file, path);
}

LoadedFile ReadWholeFile(const std::filesystem::path& path) {
  std::string failure;
  const NativeFile file = OpenForReading(path, &failure);
  if (!file) throw FileError("Could not open", path, failure);
  if (!IsRegularFile(file)) throw FileError("Could not read", path, "it is not a regular file");
  return ReadOpenFile(file, path);
}

}  // namespace quorvik
