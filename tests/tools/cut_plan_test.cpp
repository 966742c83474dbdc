#include "cut_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "temp_folder.h"
#include "write_log_builder.h"

namespace quorvik::tools {
namespace {

using testing::TempFolder;
using testing::WriteLogBuilder;

// 40 records: a write to each of 40 sectors, with a flush after every fifth.
WriteLog TestLog(const TempFolder& folder) {
  WriteLogBuilder builder;
  for (std::uint64_t i = 0; i < 40; ++i) {
    if (i % 5 == 4) {
      builder.Flush();
    } else {
      builder.Write(i, 1, static_cast<std::uint8_t>(i));
    }
  }
  builder.Save(folder / "log");
  return ReadWriteLog(folder / "log");
}

TEST(CutPlan, ChoosesDifferentPossibleStatesFromTheWorkloadsStartToTheLogsEnd) {
  TempFolder folder;
  const WriteLog log = TestLog(folder);
  const std::vector<PlannedCut> cuts = PlanCuts(log, 10, {}, 60, 1);

  ASSERT_EQ(cuts.size(), 60u);
  std::set<CrashState> states;
  std::set<std::size_t> positions;
  int withLosses = 0;
  for (const PlannedCut& cut : cuts) {
    EXPECT_GE(cut.state.records, 10u);
    EXPECT_LE(cut.state.records, 40u);
    const std::vector<std::size_t> losable = VolatileWrites(log, cut.state.records);
    EXPECT_TRUE(std::includes(losable.begin(), losable.end(), cut.state.lost.begin(),
                              cut.state.lost.end()));
    EXPECT_TRUE(states.insert(cut.state).second) << "each state is checked once";
    positions.insert(cut.state.records);
    withLosses += cut.state.lost.empty() ? 0 : 1;
  }
  EXPECT_TRUE(positions.contains(10)) << "a cut before the workload's first write";
  EXPECT_TRUE(positions.contains(40)) << "a cut after everything reached the disk";
  EXPECT_GT(withLosses, 10);
  EXPECT_LT(withLosses, 50);
}

TEST(CutPlan, AlwaysChecksTheWorkloadsStartAndTheLogsEnd) {
  TempFolder folder;
  const WriteLog log = TestLog(folder);
  for (std::uint32_t seed = 1; seed <= 5; ++seed) {
    const std::vector<PlannedCut> cuts = PlanCuts(log, 10, {log.records[20].endOffset}, 2, seed);
    ASSERT_EQ(cuts.size(), 2u);
    EXPECT_EQ(cuts[0].state, (CrashState{.records = 10}));
    EXPECT_EQ(cuts[1].state, (CrashState{.records = 40}));
    EXPECT_EQ(cuts[0].chosenBy, PlannedCut::ChosenBy::End);
    EXPECT_EQ(cuts[1].chosenBy, PlannedCut::ChosenBy::End);
  }
}

TEST(CutPlan, TakesHalfOfTheOtherCutsAtTheSampledMoments) {
  TempFolder folder;
  const WriteLog log = TestLog(folder);
  // Moments when the log held 12, 20 and 31 records, and one before the workload began, which
  // is the workload's start, checked already.
  const std::vector<std::uint64_t> moments = {log.records[11].endOffset, log.records[19].endOffset,
                                              log.records[30].endOffset, 512};
  const std::vector<PlannedCut> cuts = PlanCuts(log, 10, moments, 10, 3);

  std::multiset<std::size_t> atMoments;
  int atRecords = 0;
  for (const PlannedCut& cut : cuts) {
    if (cut.chosenBy == PlannedCut::ChosenBy::Moment) atMoments.insert(cut.state.records);
    if (cut.chosenBy == PlannedCut::ChosenBy::Record) ++atRecords;
  }
  EXPECT_EQ(atMoments, (std::multiset<std::size_t>{12, 20, 31}));
  EXPECT_EQ(atRecords, 5) << "the moments ran out";
}

TEST(CutPlan, IsTheSameForTheSameSeed) {
  TempFolder folder;
  const WriteLog log = TestLog(folder);
  auto states = [&](std::uint32_t seed) {
    std::vector<CrashState> result;
    for (const PlannedCut& cut : PlanCuts(log, 0, {}, 20, seed)) result.push_back(cut.state);
    return result;
  };
  EXPECT_EQ(states(5), states(5));
  EXPECT_NE(states(5), states(6));
}

TEST(CutPlan, OffersNoMoreStatesThanTheLogHas) {
  TempFolder folder;
  WriteLogBuilder().Write(0, 1, 1).Flush().Save(folder / "log");
  const WriteLog log = ReadWriteLog(folder / "log");
  // Nothing written, the write, the write lost, the write flushed.
  const std::vector<PlannedCut> cuts = PlanCuts(log, 0, {}, 10, 1);
  std::set<CrashState> states;
  for (const PlannedCut& cut : cuts) states.insert(cut.state);
  EXPECT_EQ(states,
            (std::set<CrashState>{
                {.records = 0}, {.records = 1}, {.records = 1, .lost = {0}}, {.records = 2}}));
  EXPECT_EQ(cuts.size(), 4u);
}

}  // namespace
}  // namespace quorvik::tools
