#include "crash_state.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "temp_folder.h"
#include "write_log_builder.h"

namespace quorvik::tools {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteLogBuilder;

constexpr std::uint64_t kDisk = 16 * 512;

// The disk's byte at the start of each of its 16 sectors.
std::vector<int> SectorStarts(const std::filesystem::path& image) {
  const Bytes bytes = ReadBytes(image);
  EXPECT_EQ(bytes.size(), kDisk);
  std::vector<int> starts;
  for (std::size_t at = 0; at < bytes.size(); at += 512) starts.push_back(bytes[at]);
  return starts;
}

class CrashStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 0: sectors 0-1 = 1; 1: flush; 2: sector 1 = 2; 3: sector 3 = 3 (forced to the medium);
    // 4: discard of sectors 0-1; 5: sector 5 = 5; 6: flush; 7: sector 6 = 7.
    WriteLogBuilder()
        .Write(0, 2, 1)
        .Flush()
        .Write(1, 1, 2)
        .Write(3, 1, 3, LoggedRequest::kForceUnitAccess)
        .Discard(0, 2)
        .Write(5, 1, 5)
        .Flush()
        .Write(6, 1, 7)
        .Save(logPath());
    log_ = ReadWriteLog(logPath());
  }

  std::filesystem::path logPath() const { return folder_ / "log"; }
  std::vector<int> Disk(const CrashState& state) {
    WriteCrashState(logPath(), log_, state, kDisk, folder_ / "disk");
    return SectorStarts(folder_ / "disk");
  }

  TempFolder folder_;
  WriteLog log_;
};

TEST_F(CrashStateTest, HoldsTheFirstRecordsAppliedInOrder) {
  EXPECT_EQ(Disk({.records = 0}), std::vector<int>(16, 0));
  EXPECT_EQ(Disk({.records = 1}),
            (std::vector<int>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Disk({.records = 4}),
            (std::vector<int>{1, 2, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // The discard leaves zeros, as QEMU's raw disk files read after one.
  EXPECT_EQ(Disk({.records = 8}),
            (std::vector<int>{0, 0, 0, 3, 0, 5, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CrashStateTest, LeavesOutTheLostWritesOnly) {
  EXPECT_EQ(Disk({.records = 6, .lost = {2}}),
            (std::vector<int>{0, 0, 0, 3, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Disk({.records = 6, .lost = {5}}),
            (std::vector<int>{0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Disk({.records = 8, .lost = {7}}),
            (std::vector<int>{0, 0, 0, 3, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CrashStateTest, OnlyWritesSinceTheLastFlushAreVolatile) {
  EXPECT_EQ(VolatileWrites(log_, 1), std::vector<std::size_t>{0});
  EXPECT_TRUE(VolatileWrites(log_, 2).empty());
  // The forced write and the discard were never in the volatile cache.
  EXPECT_EQ(VolatileWrites(log_, 6), (std::vector<std::size_t>{2, 5}));
  EXPECT_TRUE(VolatileWrites(log_, 7).empty());
  EXPECT_EQ(VolatileWrites(log_, 8), std::vector<std::size_t>{7});
}

TEST_F(CrashStateTest, RefusesStatesThatNoPowerCutCanLeave) {
  const std::filesystem::path disk = folder_ / "disk";
  EXPECT_THROW(WriteCrashState(logPath(), log_, {.records = 9}, kDisk, disk),
               std::invalid_argument);
  EXPECT_THROW(WriteCrashState(logPath(), log_, {.records = 8, .lost = {5}}, kDisk, disk),
               std::invalid_argument)
      << "write 5 was flushed by record 6";
  EXPECT_THROW(WriteCrashState(logPath(), log_, {.records = 6, .lost = {3}}, kDisk, disk),
               std::invalid_argument)
      << "write 3 was forced to the medium";
  EXPECT_THROW(WriteCrashState(logPath(), log_, {.records = 6, .lost = {5, 2}}, kDisk, disk),
               std::invalid_argument);
  EXPECT_THROW(WriteCrashState(logPath(), log_, {.records = 8}, 6 * 512, disk),
               std::invalid_argument)
      << "the log writes beyond a disk of 6 sectors";
}

}  // namespace
}  // namespace quorvik::tools
