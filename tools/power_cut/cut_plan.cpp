#include "cut_plan.h"

#include <algorithm>
#include <random>
#include <set>

namespace quorvik::tools {
namespace {

// Enough tries to find `count` different states wherever the log offers them.
constexpr std::size_t kAttemptsPerCut = 50;

std::vector<std::size_t> RandomNonemptySubset(const std::vector<std::size_t>& items,
                                              std::mt19937& random) {
  std::vector<std::size_t> subset;
  std::bernoulli_distribution keep(0.5);
  for (std::size_t item : items) {
    if (keep(random)) subset.push_back(item);
  }
  if (subset.empty()) {
    subset.push_back(
        items[std::uniform_int_distribution<std::size_t>(0, items.size() - 1)(random)]);
  }
  return subset;
}

}  // namespace

std::vector<PlannedCut> PlanCuts(const WriteLog& log, std::size_t firstRecords,
                                 const std::vector<std::uint64_t>& momentLogBytes,
                                 std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  const std::size_t lastRecords = log.records.size();
  firstRecords = std::min(firstRecords, lastRecords);

  std::vector<std::size_t> moments;
  for (std::uint64_t bytes : momentLogBytes) {
    moments.push_back(std::clamp(RecordsWithin(log, bytes), firstRecords, lastRecords));
  }
  std::shuffle(moments.begin(), moments.end(), random);

  std::uniform_int_distribution<std::size_t> anyRecord(firstRecords, lastRecords);
  std::bernoulli_distribution loseSome(0.5);
  std::vector<PlannedCut> cuts;
  std::set<CrashState> chosen;
  // The disk as the workload found it and as it was left at the end: a random choice may miss
  // either, and both must hold the targets whole.
  for (std::size_t records : {firstRecords, lastRecords}) {
    if (cuts.size() < count && chosen.insert({.records = records}).second) {
      cuts.push_back({.chosenBy = PlannedCut::ChosenBy::End, .state = {.records = records}});
    }
  }
  for (std::size_t attempt = 0; cuts.size() < count && attempt < count * kAttemptsPerCut;
       ++attempt) {
    PlannedCut cut;
    if (cuts.size() % 2 == 0 && !moments.empty()) {
      cut.chosenBy = PlannedCut::ChosenBy::Moment;
      cut.state.records = moments.back();
      moments.pop_back();
    } else {
      cut.state.records = anyRecord(random);
    }
    const std::vector<std::size_t> losable = VolatileWrites(log, cut.state.records);
    if (!losable.empty() && loseSome(random)) {
      cut.state.lost = RandomNonemptySubset(losable, random);
    }
    if (chosen.insert(cut.state).second) cuts.push_back(cut);
  }
  return cuts;
}

}  // namespace quorvik::tools
