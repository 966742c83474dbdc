#include "write_log_builder.h"

#include <fstream>

namespace quorvik::testing {
namespace {

constexpr std::size_t kSector = 512;

void PutLittle(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

void WriteLogBuilder::AddRecord(std::uint64_t sector, std::uint64_t sectors, std::uint64_t flags,
                                std::uint8_t fill, bool withData) {
  const std::size_t at = records_.size();
  records_.resize(at + kSector, 0);
  PutLittle(records_, at, sector, 8);
  PutLittle(records_, at + 8, sectors, 8);
  PutLittle(records_, at + 16, flags, 8);
  if (withData) records_.resize(records_.size() + sectors * kSector, fill);
  ++count_;
}

WriteLogBuilder& WriteLogBuilder::Write(std::uint64_t sector, std::uint64_t sectors,
                                        std::uint8_t fill, std::uint64_t flags) {
  AddRecord(sector, sectors, flags, fill, true);
  return *this;
}

WriteLogBuilder& WriteLogBuilder::Flush() {
  AddRecord(0, 0, 1, 0, false);
  countAtFlush_ = count_;
  return *this;
}

WriteLogBuilder& WriteLogBuilder::Discard(std::uint64_t sector, std::uint64_t sectors) {
  AddRecord(sector, sectors, 4, 0, false);
  return *this;
}

void WriteLogBuilder::Save(const std::filesystem::path& path) const {
  std::vector<std::uint8_t> header(kSector, 0);
  PutLittle(header, 0, 0x6a736677736872ULL, 8);
  PutLittle(header, 8, 1, 8);
  PutLittle(header, 16, countAtFlush_, 8);
  PutLittle(header, 24, kSector, 4);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(kSector));
  out.write(reinterpret_cast<const char*>(records_.data()),
            static_cast<std::streamsize>(records_.size()));
}

}  // namespace quorvik::testing
