#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "write_log.h"

namespace quorvik::tools {

// What a disk can hold after its power fails: the first `records` requests of a write log had
// reached it, except `lost`, writes that had only reached the disk's volatile cache (indices
// into the log, ascending).
struct CrashState {
  std::size_t records = 0;
  std::vector<std::size_t> lost;

  auto operator<=>(const CrashState&) const = default;
};

// The writes among the first `records` that a power cut then may still lose: those after the
// last flush, which made every write completed before it durable. A write with forced unit
// access was durable when it completed.
std::vector<std::size_t> VolatileWrites(const WriteLog& log, std::size_t records);

// Writes the disk of the state to `image`, a disk of `diskBytes` that held only zeros before
// the log began. Throws std::invalid_argument for a state the log cannot have left (more
// records than it has, or a lost write that was durable) and std::runtime_error when a file
// cannot be read or written.
void WriteCrashState(const std::filesystem::path& logPath, const WriteLog& log,
                     const CrashState& state, std::uint64_t diskBytes,
                     const std::filesystem::path& image);

}  // namespace quorvik::tools
