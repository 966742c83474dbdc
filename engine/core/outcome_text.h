#pragma once

#include <string_view>

#include "patch_outcome.h"

namespace quorvik {

// The title of the messages about the product.
inline constexpr std::string_view kProductTitle = "Quorvik 2000";

// The words and title with which the window reports a patch run's outcome; the companion prints
// the same words.
struct OutcomeText {
  std::string_view text;
  std::string_view title;
};

OutcomeText TextForOutcome(PatchOutcome outcome);

}  // namespace quorvik
