#include "outcome_message.h"

#include "outcome_text.h"
#include "win32_support.h"

namespace quorvik {

std::wstring ProductTitle() { return Utf8ToWide(kProductTitle); }

OutcomeMessage MessageForOutcome(PatchOutcome outcome) {
  const OutcomeText words = TextForOutcome(outcome);
  return {Utf8ToWide(words.text), Utf8ToWide(words.title)};
}

}  // namespace quorvik
