#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "file_stamp.h"
#include "unique_resource.h"

namespace quorvik {

// A file descriptor (POSIX) or file HANDLE (Windows).
struct NativeFileTraits {
  using Handle = std::intptr_t;
  static constexpr Handle kEmpty = -1;  // -1 and INVALID_HANDLE_VALUE alike
  static bool IsValid(Handle handle);
  // True when the system accepted the close, which is when written data is known to be safe.
  static bool Close(Handle handle);
};
using NativeFile = UniqueResource<NativeFileTraits>;

// Files are read and written in pieces of this size: Windows takes a 32-bit count per call and
// may refuse a single very large request for lack of kernel memory, and on Linux each written
// piece is sent on its way to the disk at once, so that the disk works while the rest is written.
inline constexpr std::size_t kFilePieceSize = 8 * 1024 * 1024;

// Opens an existing file for reading, sharing it with every other program. Never creates a file,
// blocks on a pipe or device, or takes a terminal as the controlling one. Empty when the file
// cannot be opened; then `failure`, when given, receives the system's reason.
NativeFile OpenForReading(const std::filesystem::path& path, std::string* failure = nullptr);

// True for a file on a disk, as opposed to a folder, device, pipe or console.
bool IsRegularFile(const NativeFile& file);

// The open file's stamp. Throws FileError.
FileStamp StampOfOpenFile(const NativeFile& file, const std::filesystem::path& path);

// The stamp of the file at `path`, which need not be readable. Throws FileError.
FileStamp StampOfFileAt(const std::filesystem::path& path);

// Reads up to `into.size()` bytes from the file's position on; returns how many, 0 at its end.
// Throws FileError.
std::size_t ReadPiece(const NativeFile& file, std::span<std::uint8_t> into,
                      const std::filesystem::path& path);

}  // namespace quorvik
