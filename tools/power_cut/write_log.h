#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace quorvik::tools {

// One record of a write log in the format of Linux's dm-log-writes, as QEMU's blklogwrites
// filter writes it: every write, flush and discard that reached the logged disk, in the order
// they completed there, each logged before the guest was told it had completed.
struct LoggedRequest {
  enum Flag : std::uint64_t { kFlush = 1, kForceUnitAccess = 2, kDiscard = 4, kMark = 8 };

  std::uint64_t sector = 0;   // first sector of the disk it wrote, in the log's sector size
  std::uint64_t sectors = 0;  // how many; 0 for a flush
  std::uint64_t flags = 0;
  std::uint64_t dataOffset = 0;  // where its bytes lie in the log (a discard has none)
  std::uint64_t endOffset = 0;   // where the next record begins

  bool IsFlush() const { return (flags & kFlush) != 0; }
  bool IsDiscard() const { return (flags & kDiscard) != 0; }
  bool IsForceUnitAccess() const { return (flags & kForceUnitAccess) != 0; }
  bool WritesData() const { return sectors > 0; }
};

struct WriteLog {
  std::uint32_t sectorSize = 0;
  std::vector<LoggedRequest> records;
};

// Reads every record of the log up to its end (its header's count is only updated at flushes,
// so records after the last flush are found by walking). Throws std::runtime_error for a file
// that is not such a log, a record with unknown flags, or a record cut short.
WriteLog ReadWriteLog(const std::filesystem::path& path);

// How many records lay wholly within the first `logBytes` bytes of the log: the requests that
// had been logged when the log file was that long.
std::size_t RecordsWithin(const WriteLog& log, std::uint64_t logBytes);

}  // namespace quorvik::tools
