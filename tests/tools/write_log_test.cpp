#include "write_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "temp_folder.h"
#include "write_log_builder.h"

namespace quorvik::tools {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;
using testing::WriteLogBuilder;

TEST(WriteLog, ReadsEveryRecordToTheEndNotOnlyThoseCountedAtTheLastFlush) {
  TempFolder folder;
  WriteLogBuilder().Write(8, 2, 0xaa).Flush().Discard(16, 4).Write(0, 1, 0xbb).Save(folder / "log");

  const WriteLog log = ReadWriteLog(folder / "log");
  EXPECT_EQ(log.sectorSize, 512u);
  ASSERT_EQ(log.records.size(), 4u);
  EXPECT_EQ(log.records[0].sector, 8u);
  EXPECT_EQ(log.records[0].sectors, 2u);
  EXPECT_EQ(log.records[0].dataOffset, 1024u);
  EXPECT_TRUE(log.records[1].IsFlush());
  EXPECT_FALSE(log.records[1].WritesData());
  EXPECT_TRUE(log.records[2].IsDiscard());
  EXPECT_EQ(log.records[2].endOffset, log.records[2].dataOffset) << "a discard carries no data";
  EXPECT_EQ(log.records[3].endOffset, std::filesystem::file_size(folder / "log"));
}

TEST(WriteLog, CountsTheRecordsWhollyWithinAGivenLength) {
  TempFolder folder;
  WriteLogBuilder().Write(0, 1, 1).Write(1, 3, 2).Flush().Save(folder / "log");
  const WriteLog log = ReadWriteLog(folder / "log");

  EXPECT_EQ(RecordsWithin(log, 0), 0u);
  EXPECT_EQ(RecordsWithin(log, log.records[0].endOffset - 1), 0u);
  EXPECT_EQ(RecordsWithin(log, log.records[0].endOffset), 1u);
  EXPECT_EQ(RecordsWithin(log, log.records[1].endOffset - 512), 1u) << "half of its data logged";
  EXPECT_EQ(RecordsWithin(log, log.records[2].endOffset), 3u);
  EXPECT_EQ(RecordsWithin(log, 1 << 30), 3u);
}

TEST(WriteLog, RefusesWhatIsNotAWholeWriteLog) {
  TempFolder folder;
  WriteLogBuilder().Write(0, 4, 7).Write(9, 1, 8).Save(folder / "log");
  const Bytes whole = ReadBytes(folder / "log");

  Bytes cutShort(whole.begin(), whole.end() - 512);
  WriteBytes(folder / "short", cutShort);
  EXPECT_THROW(ReadWriteLog(folder / "short"), std::runtime_error);

  Bytes wrongMagic = whole;
  wrongMagic[0] ^= 1;
  WriteBytes(folder / "magic", wrongMagic);
  EXPECT_THROW(ReadWriteLog(folder / "magic"), std::runtime_error);

  Bytes unknownFlag = whole;
  unknownFlag[512 + 16] = 0x40;
  WriteBytes(folder / "flags", unknownFlag);
  EXPECT_THROW(ReadWriteLog(folder / "flags"), std::runtime_error);

  EXPECT_THROW(ReadWriteLog(folder / "missing"), std::runtime_error);
}

}  // namespace
}  // namespace quorvik::tools
