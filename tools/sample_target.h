#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

#include "bytes.h"

namespace quorvik::tools {

// How to lay out a made-up program file that holds the product's English texts in wide form
// amid pseudo-random filler.
struct SampleLayout {
  std::size_t fillerBytes = 4096;  // before, between and after the texts; even
  std::set<int> omittedPairs;      // pairs whose text is left out
  bool oddOffsets = false;         // shift every text to an odd byte offset
  int rounds = 1;                  // every text is written this many times, round after round
  std::uint32_t seed = 1;
};

enum class SampleLanguage {
  English,           // the file as the product ships it
  ItalianFirstRound  // the same file after a successful patch: the first round in Italian
};

// The texts of the first round sit where a patch run finds them: pairs 5 and 7 get places of
// their own after the longer texts of pairs 4 and 6 that contain them have been replaced.
Bytes MakeSampleTarget(const SampleLayout& layout,
                       SampleLanguage language = SampleLanguage::English);

}  // namespace quorvik::tools
