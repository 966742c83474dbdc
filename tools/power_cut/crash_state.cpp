#include "crash_state.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>

namespace quorvik::tools {
namespace {

constexpr std::uint64_t kCopyPiece = 1 << 20;

[[noreturn]] void FailOn(const std::filesystem::path& path, const std::string& what) {
  throw std::runtime_error(path.string() + ": " + what);
}

}  // namespace

std::vector<std::size_t> VolatileWrites(const WriteLog& log, std::size_t records) {
  std::vector<std::size_t> writes;
  for (std::size_t i = 0; i < records && i < log.records.size(); ++i) {
    const LoggedRequest& record = log.records[i];
    if (record.IsFlush()) writes.clear();
    if (record.WritesData() && !record.IsDiscard() && !record.IsForceUnitAccess()) {
      writes.push_back(i);
    }
  }
  return writes;
}

void WriteCrashState(const std::filesystem::path& logPath, const WriteLog& log,
                     const CrashState& state, std::uint64_t diskBytes,
                     const std::filesystem::path& image) {
  if (state.records > log.records.size()) {
    throw std::invalid_argument("the log holds only " + std::to_string(log.records.size()) +
                                " records, not " + std::to_string(state.records));
  }
  const std::vector<std::size_t> losable = VolatileWrites(log, state.records);
  if (!std::is_sorted(state.lost.begin(), state.lost.end()) ||
      !std::includes(losable.begin(), losable.end(), state.lost.begin(), state.lost.end())) {
    throw std::invalid_argument("a lost write was durable already (or the list is not ascending)");
  }

  std::ifstream in(logPath, std::ios::binary);
  if (!in) FailOn(logPath, "cannot be opened");
  {
    std::ofstream create(image, std::ios::binary | std::ios::trunc);
    if (!create) FailOn(image, "cannot be created");
  }
  // Sparse: the disk's untouched sectors cost nothing.
  std::filesystem::resize_file(image, diskBytes);
  std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
  if (!out) FailOn(image, "cannot be opened");

  std::vector<char> piece;
  auto lost = state.lost.begin();
  for (std::size_t i = 0; i < state.records; ++i) {
    if (lost != state.lost.end() && *lost == i) {
      ++lost;
      continue;
    }
    const LoggedRequest& record = log.records[i];
    if (!record.WritesData()) continue;
    const std::uint64_t start = record.sector * log.sectorSize;
    const std::uint64_t bytes = record.sectors * log.sectorSize;
    if (start > diskBytes || bytes > diskBytes - start) {
      throw std::invalid_argument("record " + std::to_string(i) + " lies beyond the disk's end");
    }
    out.seekp(static_cast<std::streamoff>(start));
    in.seekg(static_cast<std::streamoff>(record.dataOffset));
    // A discarded range reads as zeros afterwards, as QEMU's raw files give it back.
    for (std::uint64_t done = 0; done < bytes;) {
      const std::uint64_t size = std::min(kCopyPiece, bytes - done);
      piece.assign(size, 0);
      if (!record.IsDiscard() && !in.read(piece.data(), static_cast<std::streamsize>(size))) {
        FailOn(logPath, "record " + std::to_string(i) + " cannot be read");
      }
      if (!out.write(piece.data(), static_cast<std::streamsize>(size))) {
        FailOn(image, "cannot be written");
      }
      done += size;
    }
  }
  out.close();
  if (!out) FailOn(image, "cannot be written");
}

}  // namespace quorvik::tools
