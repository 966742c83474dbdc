#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace quorvik::testing {

// Writes a write log as QEMU's blklogwrites filter does, with 512-byte sectors: a header whose
// count is updated only at flushes, then the records.
class WriteLogBuilder {
 public:
  // A write of `sectors` sectors filled with `fill`, from `sector` on.
  WriteLogBuilder& Write(std::uint64_t sector, std::uint64_t sectors, std::uint8_t fill,
                         std::uint64_t flags = 0);
  WriteLogBuilder& Flush();
  WriteLogBuilder& Discard(std::uint64_t sector, std::uint64_t sectors);
  void Save(const std::filesystem::path& path) const;

 private:
  void AddRecord(std::uint64_t sector, std::uint64_t sectors, std::uint64_t flags,
                 std::uint8_t fill, bool withData);

  std::vector<std::uint8_t> records_;
  std::uint64_t count_ = 0;
  std::uint64_t countAtFlush_ = 0;
};

}  // namespace quorvik::testing
