#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quorvik {

// One English interface text of the product and the Italian text of the same length that
// replaces it.
struct TranslationPair {
  int number;
  std::string_view english;
  std::string_view italian;
  bool required;
};

inline constexpr std::size_t kPairCount = 11;

// The pairs in the order they are applied: a longer text comes before a shorter text it contains.
using TranslationTable = std::array<TranslationPair, kPairCount>;

const TranslationTable& BuiltInTranslationTable();

}  // namespace quorvik
