#include "file_search.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "file_error.h"

namespace quorvik {
namespace {

// The bytes each window adds to those retained from the one before: enough that a read costs
// little per byte, little enough to stay in the processor's cache while it is searched.
constexpr std::size_t kWindowPiece = 1024 * 1024;

}  // namespace

std::optional<OpenedFile> OpenRegularFile(const std::filesystem::path& path, FileOps& ops) {
  NativeFile file = ops.OpenForReading(path, nullptr);
  if (!file || !IsRegularFile(file)) return std::nullopt;
  const FileStamp stamp = StampOfOpenFile(file, path);
  // Offsets in the file are held in the size of memory addresses: under 4 GiB for the 32-bit
  // program, far more than a program file needs.
  if (stamp.size > std::numeric_limits<std::size_t>::max() - kWindowPiece) {
    throw FileError("Could not read", path, "the file is too large");
  }
  return OpenedFile{std::move(file), stamp};
}

void SearchFile(const OpenedFile& file, const std::filesystem::path& path, WindowSearch& search) {
  const auto size = static_cast<std::size_t>(file.stamp.size);
  std::vector<std::uint8_t> window(kWindowPiece);
  std::size_t start = 0;     // where the window begins in the file
  std::size_t retained = 0;  // bytes at the window's start kept from the one before
  while (true) {
    // The window is filled up to its end, or to the file's end; one byte more than the size is
    // asked for, to notice a file that grew.
    window.resize(retained + kWindowPiece);
    std::size_t filled = retained;
    bool atEnd = false;
    while (filled < window.size() && !atEnd) {
      const std::size_t got =
          ReadPiece(file.file, start + filled, std::span(window).subspan(filled), path);
      atEnd = got == 0;
      filled += got;
    }
    const std::size_t end = start + filled;
    if (end > size) throw FileError("Could not read", path, "the file grew while it was read");
    if (atEnd && end < size) {
      throw FileError("Could not read", path, "the file shrank while it was read");
    }
    search.Search(ByteView(window).first(filled), start, atEnd);
    if (atEnd || search.Finished()) break;
    retained = std::min(search.Retained(), filled);
    std::memmove(window.data(), window.data() + filled - retained, retained);
    start = end - retained;
  }
  if (StampOfOpenFile(file.file, path) != file.stamp) {
    throw FileError("Could not read", path, "the file was changed while it was read");
  }
}

}  // namespace quorvik
