#pragma once

#include "patch_outcome.h"

namespace quorvik {

inline constexpr wchar_t kProductTitle[] = L"Quorvik 2000";

struct OutcomeMessage {
  const wchar_t* text;
  const wchar_t* title;
};

// The message box that reports a patch run's outcome to the user.
OutcomeMessage MessageForOutcome(PatchOutcome outcome);

}  // namespace quorvik
