#include "write_log.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <stdexcept>
#include <string>

namespace quorvik::tools {
namespace {

constexpr std::uint64_t kMagic = 0x6a736677736872ULL;
constexpr std::uint64_t kVersion = 1;
constexpr std::uint64_t kKnownFlags = LoggedRequest::kFlush | LoggedRequest::kForceUnitAccess |
                                      LoggedRequest::kDiscard | LoggedRequest::kMark;

// All fields of the format are little-endian.
std::uint64_t Little(const unsigned char* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

std::uint64_t Little64(const unsigned char* bytes) { return Little(bytes, 8); }
std::uint32_t Little32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(Little(bytes, 4));
}

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& what) {
  throw std::runtime_error(path.string() + ": " + what);
}

}  // namespace

WriteLog ReadWriteLog(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path, "cannot be opened");
  const std::uint64_t size = std::filesystem::file_size(path);

  // The header: magic, version, count of records at the last flush, sector size.
  std::array<unsigned char, 28> header{};
  if (!in.read(reinterpret_cast<char*>(header.data()), header.size())) {
    Fail(path, "is too short for a write log");
  }
  if (Little64(&header[0]) != kMagic) Fail(path, "is not a write log (wrong magic number)");
  if (Little64(&header[8]) != kVersion) Fail(path, "is a write log of an unknown version");
  WriteLog log;
  log.sectorSize = Little32(&header[24]);
  if (log.sectorSize < 512 || (log.sectorSize & (log.sectorSize - 1)) != 0) {
    Fail(path, "has an invalid sector size " + std::to_string(log.sectorSize));
  }

  // Each record is one sector (sector, count, flags, length of a mark's text) followed by the
  // sectors it wrote, unless it is a discard.
  std::uint64_t offset = log.sectorSize;
  std::array<unsigned char, 32> entry{};
  while (offset < size) {
    const std::string where = "record " + std::to_string(log.records.size());
    if (size - offset < log.sectorSize) Fail(path, where + " is cut short");
    in.seekg(static_cast<std::streamoff>(offset));
    if (!in.read(reinterpret_cast<char*>(entry.data()), entry.size())) {
      Fail(path, where + " cannot be read");
    }
    LoggedRequest record;
    record.sector = Little64(&entry[0]);
    record.sectors = Little64(&entry[8]);
    record.flags = Little64(&entry[16]);
    if ((record.flags & ~kKnownFlags) != 0) Fail(path, where + " has unknown flags");
    if ((record.flags & LoggedRequest::kMark) != 0) Fail(path, where + " is a mark");
    record.dataOffset = offset + log.sectorSize;
    const std::uint64_t dataBytes = record.IsDiscard() ? 0 : record.sectors * log.sectorSize;
    if (record.sectors > size / log.sectorSize || size - record.dataOffset < dataBytes) {
      Fail(path, where + " is cut short");
    }
    record.endOffset = record.dataOffset + dataBytes;
    offset = record.endOffset;
    log.records.push_back(record);
  }
  return log;
}

std::size_t RecordsWithin(const WriteLog& log, std::uint64_t logBytes) {
  const auto firstBeyond = std::upper_bound(
      log.records.begin(), log.records.end(), logBytes,
      [](std::uint64_t bytes, const LoggedRequest& record) { return bytes < record.endOffset; });
  return static_cast<std::size_t>(firstBeyond - log.records.begin());
}

}  // namespace quorvik::tools
