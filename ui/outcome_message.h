#pragma once

#include <string>

#include "patch_outcome.h"

namespace quorvik {

// The product's title, as the window's message boxes show it.
std::wstring ProductTitle();

struct OutcomeMessage {
  std::wstring text;
  std::wstring title;
};

// The message box that reports a patch run's outcome to the user.
OutcomeMessage MessageForOutcome(PatchOutcome outcome);

}  // namespace quorvik
