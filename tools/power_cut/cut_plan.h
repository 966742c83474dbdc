#pragma once

#include <cstdint>
#include <vector>

#include "crash_state.h"
#include "write_log.h"

namespace quorvik::tools {

struct PlannedCut {
  enum class ChosenBy { End, Moment, Record };

  ChosenBy chosenBy = ChosenBy::Record;
  CrashState state;
};

// Chooses up to `count` different crash states from the log's first `firstRecords` records (the
// disk as the workload found it) to its end. The first two are those two ends, with nothing
// lost. The rest take turns: a cut at a moment sampled while the guest ran (each given as the
// log's size then), so that a cut falls into a stretch of time as often as the stretch is long,
// idle seconds while the file system waits to write included; then a cut after a record chosen
// uniformly, so that busy stretches are covered request by request. A moment that gives a
// state already chosen (as every moment of one idle stretch does) is dropped and its turn
// goes on, so fewer than half may come from moments. Where writes since the last flush exist, a
// state loses a random nonempty set of them with probability one half, as a disk's volatile cache
// may at a power cut. The same seed gives the same plan.
std::vector<PlannedCut> PlanCuts(const WriteLog& log, std::size_t firstRecords,
                                 const std::vector<std::uint64_t>& momentLogBytes,
                                 std::size_t count, std::uint32_t seed);

}  // namespace quorvik::tools
